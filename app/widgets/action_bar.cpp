#include "widgets/action_bar.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

TActionBar::TActionBar(const QString& Caption, QWidget* Parent) : QFrame(Parent) {
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 4);
  layout->setSpacing(0);
  auto* caption = new QLabel(Caption, this);
  QFont captionFont = caption->font();
  captionFont.setBold(true);
  caption->setFont(captionFont);
  caption->setContentsMargins(2, 2, 2, 4);
  layout->addWidget(caption);
  layout->addStretch(1);
}

QAction* TActionBar::AddItem(const QString& Caption) {
  auto* action = new QAction(Caption, this);
  auto* button = new QToolButton(this);
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setAutoRaise(true);
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* column = static_cast<QVBoxLayout*>(layout());
  column->insertWidget(column->count() - 1, button);
  Items_.append(action);
  return action;
}
