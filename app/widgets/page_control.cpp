#include "widgets/page_control.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProxyStyle>
#include <QTabBar>

#include <initializer_list>

namespace {

// Horizontal padding of a tab (both sides together), from the style's own down to the
// least that still sets the captions apart.
constexpr int StylePadding = -1;
constexpr std::initializer_list<int> Paddings = {StylePadding, 16, 10, 6};
constexpr qreal SmallestPointSize = 6.0;
constexpr qreal PointSizeStep = 0.5;

}  // namespace

// The application's style, with the tabs' horizontal padding set by the page control.
class TTabPaddingStyle : public QProxyStyle {
 public:
  void SetPadding(int Padding) { Padding_ = Padding; }

  int pixelMetric(PixelMetric Metric, const QStyleOption* Option,
                  const QWidget* Widget) const override {
    if (Metric == PM_TabBarTabHSpace && Padding_ != StylePadding) return Padding_;
    return QProxyStyle::pixelMetric(Metric, Option, Widget);
  }

 private:
  int Padding_ = StylePadding;
};

TPageControl::TPageControl(QWidget* Parent)
    : QTabWidget(Parent), PaddingStyle_(new TTabPaddingStyle) {
  // Owned by the page control, which outlives its tab bar.
  PaddingStyle_->setParent(this);
  tabBar()->setStyle(PaddingStyle_);
  tabBar()->setElideMode(Qt::ElideNone);
  tabBar()->setUsesScrollButtons(true);
}

void TPageControl::tabInserted(int Index) {
  QTabWidget::tabInserted(Index);
  FitTabs();
}

void TPageControl::resizeEvent(QResizeEvent* Event) {
  QTabWidget::resizeEvent(Event);
  FitTabs();
}

void TPageControl::changeEvent(QEvent* Event) {
  QTabWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange) FitTabs();
}

bool TPageControl::TabsFit(const QFont& Font, int Padding) {
  PaddingStyle_->SetPadding(Padding);
  tabBar()->setFont(Font);
  // The tab bar measures its tabs again only when told that its style changed.
  QEvent styleChanged(QEvent::StyleChange);
  QCoreApplication::sendEvent(tabBar(), &styleChanged);
  return tabBar()->sizeHint().width() <= width();
}

// The largest font, and with it the widest padding, at which every tab shows.
void TPageControl::FitTabs() {
  if (Fitting_ || count() == 0) return;
  Fitting_ = true;
  QFont font = this->font();
  bool fits = false;
  for (qreal size = font.pointSizeF(); !fits && size >= SmallestPointSize; size -= PointSizeStep) {
    font.setPointSizeF(size);
    for (int padding : Paddings)
      if ((fits = TabsFit(font, padding))) break;
  }
  if (!fits) TabsFit(this->font(), StylePadding);
  Fitting_ = false;
}
