// `TSpinButton`: a pair of small arrow buttons, up above down, that hold no value of
// their own. Each click reports `UpClick` or `DownClick`; the owner keeps the value
// (in the settings panel, in a label beside it). Window thread only.
#pragma once

#include <QWidget>

class QToolButton;

class TSpinButton : public QWidget {
  Q_OBJECT

 public:
  explicit TSpinButton(QWidget* Parent);

  QToolButton* UpButton() const { return Up_; }
  QToolButton* DownButton() const { return Down_; }

 signals:
  void UpClick();
  void DownClick();

 private:
  QToolButton* Up_;
  QToolButton* Down_;
};
