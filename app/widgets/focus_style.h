// The program's style: the platform's own, with a focus ring that can be seen (a solid
// frame in the highlight colour instead of a faint dotted one), so that a keyboard user
// always knows which control Enter or Space will press. Window thread only.
#pragma once

#include <QProxyStyle>

class TFocusStyle : public QProxyStyle {
  Q_OBJECT

 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement Element, const QStyleOption* Option, QPainter* Painter,
                     const QWidget* Widget = nullptr) const override;
};

// Gives the application the focus style, once.
void UseFocusStyle();
