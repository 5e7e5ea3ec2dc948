// The test main of the window tests: one QApplication for the whole program, on the
// offscreen platform unless the environment names another.
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

#include "scratch_home.h"
#include "shell/embedded_browser.h"
#include "windows/korvane_program.h"

namespace {

QtMessageHandler PreviousHandler = nullptr;

// The offscreen platform reports each window-system feature it lacks (raising a
// window, grabbing the keyboard...); those reports say nothing about the program.
void QuietOffscreenLimits(QtMsgType Type, const QMessageLogContext& Context,
                          const QString& Message) {
  if (Message.startsWith(QStringLiteral("This plugin does not support"))) return;
  if (PreviousHandler) PreviousHandler(Type, Context, Message);
}

class TQtEnvironment : public ::testing::Environment {
 public:
  TQtEnvironment(int& Argc, char** Argv) : Argc_(Argc), Argv_(Argv) {}
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareRuntimeFolder();
    PrepareEmbeddedBrowser();
    PreviousHandler = qInstallMessageHandler(QuietOffscreenLimits);
    App_ = std::make_unique<QApplication>(Argc_, Argv_);
    // The tests open and close windows without running the application's loop.
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { App_.reset(); }

 private:
  int& Argc_;
  char** Argv_;
  std::unique_ptr<QApplication> App_;
};

}  // namespace

int main(int argc, char** argv) {
  const TScratchHome home;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TQtEnvironment(argc, argv));
  return RUN_ALL_TESTS();
}
