// The advertisement tab's embedded browser, behind a small interface. The browser engine
// (Qt WebEngine) lives in the module libkorvane_browser.so, loaded from the program's
// folder the first time a browser is made: linked into the program, the engine would
// prepare itself whenever the program starts and roughly triple its memory, for a tab
// that most users never open.
//
// Window thread only; the engine runs its own processes.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

class TEmbeddedBrowser {
 public:
  // Asked before each navigation with its target; false cancels the navigation.
  using TNavigationCheck = std::function<bool(const QUrl& Target)>;

  virtual ~TEmbeddedBrowser() = default;
  // The browser's widget, a child of the parent it was made in (a QWebEngineView, whose
  // properties "url" and "title" and signal loadFinished(bool) are there to watch).
  virtual QWidget* Widget() const = 0;
  virtual void Load(const QUrl& Address) = 0;
};

// The module's entry point: makes a browser in Parent; the caller owns the result.
using TCreateEmbeddedBrowser =
    TEmbeddedBrowser* (*)(QWidget* Parent, const TEmbeddedBrowser::TNavigationCheck* Check);
inline constexpr const char* CreateEmbeddedBrowserEntry = "KorvaneCreateEmbeddedBrowser";

struct TBrowserStart {
  std::unique_ptr<TEmbeddedBrowser> Browser;
  QString ErrorText;  // why there is no browser
};

// Loads the browser module (once; it stays loaded) and makes a browser in Parent.
TBrowserStart CreateEmbeddedBrowser(QWidget* Parent, TEmbeddedBrowser::TNavigationCheck Check);

// Prepares the browser engine; call before the QApplication exists. Running as root the
// engine refuses to start inside its sandbox, so the sandbox is switched off then (and
// only then). The engine's own start-up notes stay off the terminal.
void PrepareEmbeddedBrowser();
