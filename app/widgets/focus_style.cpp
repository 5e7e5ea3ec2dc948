#include "widgets/focus_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>

void TFocusStyle::drawPrimitive(PrimitiveElement Element, const QStyleOption* Option,
                                QPainter* Painter, const QWidget* Widget) const {
  if (Element != PE_FrameFocusRect) {
    QProxyStyle::drawPrimitive(Element, Option, Painter, Widget);
    return;
  }
  Painter->save();
  Painter->setPen(QPen(Option->palette.color(QPalette::Highlight), 2));
  Painter->setBrush(Qt::NoBrush);
  Painter->drawRect(Option->rect.adjusted(1, 1, -1, -1));
  Painter->restore();
}

void UseFocusStyle() {
  if (qobject_cast<TFocusStyle*>(QApplication::style())) return;
  // The application takes ownership of the style.
  QApplication::setStyle(new TFocusStyle(QApplication::style()->name()));
}
