#include "shell/embedded_browser.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>

#include "core/program_files.h"

namespace {

const QString ModuleFileName = QStringLiteral("libkorvane_browser.so");

QtMessageHandler PreviousMessageHandler = nullptr;
bool SandboxSwitchedOff = false;

// What the engine says at its start about choices made here: the sandbox is off (asked
// for when running as root), and the engine draws its pages without OpenGL, because the
// program does not set up OpenGL sharing for it when it starts (that alone would cost
// every start an OpenGL context).
bool IsExpectedEngineNote(QtMsgType Type, const QString& Message) {
  if (Type == QtInfoMsg && SandboxSwitchedOff &&
      Message == QLatin1String("Sandboxing disabled by user."))
    return true;
  return Message.startsWith(QLatin1String("Qt WebEngine seems to be initialized from a plugin.")) ||
         Message.startsWith(
             QLatin1String("WebEngineContext used before QtWebEngineCore::initialize()")) ||
         Message.startsWith(QLatin1String("No suitable graphics backend found"));
}

void QuietBrowserStart(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
  if (IsExpectedEngineNote(Type, Message)) return;
  if (PreviousMessageHandler) PreviousMessageHandler(Type, Context, Message);
}

// The module, from the program's library folder (beside the program, or the installed
// private library folder) when it is there, else from the library path.
QLibrary& BrowserModule() {
  static QLibrary module([] {
    const QString ownCopy =
        QDir(QString::fromStdString(ProgramFiles().LibraryFolder)).filePath(ModuleFileName);
    return QFileInfo::exists(ownCopy) ? ownCopy : ModuleFileName;
  }());
  return module;
}

}  // namespace

void PrepareEmbeddedBrowser() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    SandboxSwitchedOff = true;
  }
  // The engine's own log (a transient graphics hiccup while it starts, say) goes to the
  // terminal unless told otherwise; whoever sets the engine's flags decides for himself.
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3");
  // The engine lists its graphics set-up at every start.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
  PreviousMessageHandler = qInstallMessageHandler(QuietBrowserStart);
}

TBrowserStart CreateEmbeddedBrowser(QWidget* Parent, TEmbeddedBrowser::TNavigationCheck Check) {
  TBrowserStart start;
  QLibrary& module = BrowserModule();
  if (!module.load()) {
    start.ErrorText = module.errorString();
    return start;
  }
  const auto create =
      reinterpret_cast<TCreateEmbeddedBrowser>(module.resolve(CreateEmbeddedBrowserEntry));
  if (!create) {
    start.ErrorText = module.errorString();
    return start;
  }
  start.Browser.reset(create(Parent, &Check));
  return start;
}
