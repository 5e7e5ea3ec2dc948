// korvane: the window of the audio-CD ripper.
#include <QApplication>

#include "korvane_program.h"

int main(int argc, char** argv) {
  PrepareRuntimeFolder();
  QApplication app(argc, argv);
  return RunKorvane(app, app.arguments().mid(1));
}
