#include "widgets/wrapping_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

TWrappingButton::TWrappingButton(const QString& Caption, QWidget* Parent)
    : QPushButton(Caption, Parent) {}

// The style draws the button without its caption; the caption follows, wrapped at word
// boundaries and centred in the button's contents.
void TWrappingButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  painter.drawItemText(contents, Qt::AlignCenter | Qt::TextWordWrap, palette(), isEnabled(),
                       caption, QPalette::ButtonText);
}
