// `JvPageControl1`'s kind of tab widget: its tab bar shows every tab at once. Where the
// platform's font makes the captions wider than the control (its size is fixed by the
// window's layout), the tabs first give up some of their padding, then the captions take
// a smaller font, half a point at a time; only when even the smallest does not fit does
// the bar scroll. Window thread only.
#pragma once

#include <QTabWidget>

class TTabPaddingStyle;

class TPageControl : public QTabWidget {
  Q_OBJECT

 public:
  explicit TPageControl(QWidget* Parent);

 protected:
  void tabInserted(int Index) override;
  void resizeEvent(QResizeEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void FitTabs();
  bool TabsFit(const QFont& Font, int Padding);

  TTabPaddingStyle* PaddingStyle_;
  bool Fitting_ = false;
};
