#include "shell/advert_tab.h"

#include <QLabel>
#include <QTabWidget>
#include <QWidget>

#include "shell/embedded_browser.h"
#include "shell/web_commands.h"

namespace {

const QRect BrowserPlace(2, 16, 468, 160);

}  // namespace

TAdvertTab::TAdvertTab(QTabWidget* PageControl, QWidget* TabSheet6, const QString& ProgramFolder)
    : PageControl_(PageControl), Sheet_(TabSheet6), Navigation_(ProgramFolder) {
  connect(PageControl_, &QTabWidget::currentChanged, this, [this](int Index) {
    if (PageControl_->widget(Index) == Sheet_) TabSheet6Show();
  });
}

TAdvertTab::~TAdvertTab() = default;

QWidget* TAdvertTab::WebBrowser1() const { return Browser_ ? Browser_->Widget() : nullptr; }

bool TAdvertTab::CreateBrowser() {
  TBrowserStart start = CreateEmbeddedBrowser(
      Sheet_, [this](const QUrl& Url) { return WebBrowser1BeforeNavigate2(Url); });
  if (!start.Browser) {
    ShowBrowserFailure(start.ErrorText);
    return false;
  }
  Browser_ = std::move(start.Browser);
  QWidget* view = Browser_->Widget();
  view->setObjectName(QStringLiteral("WebBrowser1"));
  view->setGeometry(BrowserPlace);
  view->show();
  return true;
}

// Where the browser should be, the tab says why there is none.
void TAdvertTab::ShowBrowserFailure(const QString& Reason) {
  if (!Failure_) {
    Failure_ = new QLabel(Sheet_);
    Failure_->setWordWrap(true);
    Failure_->setGeometry(BrowserPlace);
    Failure_->setAlignment(Qt::AlignCenter);
  }
  Failure_->setText(QStringLiteral("The web browser could not be started: ") + Reason);
  Failure_->show();
}

void TAdvertTab::TabSheet6Show() {
  if (!Browser_ && !CreateBrowser()) return;
  const QUrl page = Navigation_.TabShown();
  if (!page.isEmpty()) Browser_->Load(page);
}

bool TAdvertTab::WebBrowser1BeforeNavigate2(const QUrl& Url) {
  if (Navigation_.BeforeNavigate(Url) == TAdvertNavigation::TDecision::Proceed) return true;
  OpenWithDefaultHandler(Url);
  return false;
}
