// The advertisement tab (`TabSheet6`) and its embedded browser `WebBrowser1`. The
// browser is made the first time the tab is shown, so that the program starts fast and
// light for those who never open it. Each time the tab becomes the visible one it loads
// the page that `TAdvertNavigation` chooses, and every navigation of the browser, before
// it loads, passes that rule, which may cancel it and open the address outside.
//
// Window thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

#include "shell/advert_navigation.h"

class QLabel;
class QTabWidget;
class QWidget;
class TEmbeddedBrowser;

class TAdvertTab : public QObject {
  Q_OBJECT

 public:
  // Watches PageControl for TabSheet6, its advertisement tab, becoming visible.
  // ProgramFolder holds the local page. The browser lives in TabSheet6 but belongs to
  // the tab: destroy the tab before the page.
  TAdvertTab(QTabWidget* PageControl, QWidget* TabSheet6, const QString& ProgramFolder);
  ~TAdvertTab() override;

  // The browser's widget; null until the tab was first shown (or when the browser
  // could not be started).
  QWidget* WebBrowser1() const;
  TAdvertNavigation& Navigation() { return Navigation_; }

  void TabSheet6Show();
  // Returns false when the navigation is cancelled.
  bool WebBrowser1BeforeNavigate2(const QUrl& Url);

 private:
  bool CreateBrowser();
  void ShowBrowserFailure(const QString& Reason);

  QTabWidget* PageControl_;
  QWidget* Sheet_;
  TAdvertNavigation Navigation_;
  std::unique_ptr<TEmbeddedBrowser> Browser_;
  QPointer<QLabel> Failure_;
};
