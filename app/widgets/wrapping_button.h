// A push button whose caption wraps onto more lines where it is wider than the button,
// as "Visit website" and "Online Help" are in the platform's font at the sizes the
// window gives their buttons. `text()` stays the caption. Window thread only.
#pragma once

#include <QPushButton>

class TWrappingButton : public QPushButton {
  Q_OBJECT

 public:
  TWrappingButton(const QString& Caption, QWidget* Parent);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};
