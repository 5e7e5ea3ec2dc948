// korvane: the window of the audio-CD ripper.
#include <QApplication>

#include "shell/embedded_browser.h"
#include "windows/korvane_program.h"

int main(int argc, char** argv) {
  PrepareRuntimeFolder();
  PrepareEmbeddedBrowser();
  QApplication app(argc, argv);
  return RunKorvane(app, app.arguments().mid(1));
}
