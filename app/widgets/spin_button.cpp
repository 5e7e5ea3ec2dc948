#include "widgets/spin_button.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* ArrowButton(Qt::ArrowType Arrow, QWidget* Parent) {
  auto* button = new QToolButton(Parent);
  button->setArrowType(Arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  return button;
}

}  // namespace

TSpinButton::TSpinButton(QWidget* Parent)
    : QWidget(Parent),
      Up_(ArrowButton(Qt::UpArrow, this)),
      Down_(ArrowButton(Qt::DownArrow, this)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(Up_);
  column->addWidget(Down_);
  connect(Up_, &QToolButton::clicked, this, &TSpinButton::UpClick);
  connect(Down_, &QToolButton::clicked, this, &TSpinButton::DownClick);
}
