// libkorvane_browser.so: the embedded browser over Qt WebEngine (see embedded_browser.h).
// Only this module links the engine.
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>
#include <utility>

#include "shell/embedded_browser.h"

namespace {

// A page that asks before each navigation.
class TCheckedPage : public QWebEnginePage {
 public:
  TCheckedPage(QWebEngineProfile* Profile, TEmbeddedBrowser::TNavigationCheck Check)
      : QWebEnginePage(Profile), Check_(std::move(Check)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& Url, NavigationType, bool) override {
    return Check_(Url);
  }

 private:
  TEmbeddedBrowser::TNavigationCheck Check_;
};

class TWebEngineBrowser final : public TEmbeddedBrowser {
 public:
  TWebEngineBrowser(QWidget* Parent, TNavigationCheck Check)
      // A profile of its own that keeps nothing on disk.
      : Profile_(std::make_unique<QWebEngineProfile>()),
        Page_(std::make_unique<TCheckedPage>(Profile_.get(), std::move(Check))),
        View_(std::make_unique<QWebEngineView>(Parent)) {
    View_->setPage(Page_.get());
  }

  QWidget* Widget() const override { return View_.get(); }
  void Load(const QUrl& Address) override { View_->load(Address); }

 private:
  // Destroyed in reverse order: the view, its page, then the page's profile.
  std::unique_ptr<QWebEngineProfile> Profile_;
  std::unique_ptr<TCheckedPage> Page_;
  std::unique_ptr<QWebEngineView> View_;
};

}  // namespace

// The caller takes ownership at once (into a unique_ptr).
extern "C" Q_DECL_EXPORT TEmbeddedBrowser* KorvaneCreateEmbeddedBrowser(
    QWidget* Parent, const TEmbeddedBrowser::TNavigationCheck* Check) {
  return std::make_unique<TWebEngineBrowser>(Parent, *Check).release();
}
