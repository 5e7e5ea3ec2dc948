// korvane-screenshot: shows the real window, adds disc images or track entries as if they
// were dropped, converts them to MP3 into OUTPUT_FOLDER, and in the middle of the second
// track holds the run: it creates PAUSE_FILE and waits, keeping the window painted, until
// that file is removed (scripts/screenshot.sh takes its picture meanwhile). Then it
// aborts the run and ends. Exit status 0 when the run was held as asked.
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>

#include "settings/unit2.h"
#include "windows/korvane_program.h"
#include "windows/unit1.h"

namespace {

constexpr int HeldRow = 1;
constexpr int HeldPercent = 40;

void ProcessEventsFor(int Milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Creates PauseFile once the window has painted its latest state, then waits (up to a
// minute) until it is removed.
void HoldUntilRemoved(const QString& PauseFile) {
  ProcessEventsFor(300);
  QFile marker(PauseFile);
  if (!marker.open(QIODevice::WriteOnly)) return;
  marker.close();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (QFile::exists(PauseFile) && std::chrono::steady_clock::now() < deadline)
    ProcessEventsFor(100);
}

int StatusPercent(const QString& Status) {
  if (!Status.endsWith(QLatin1Char('%'))) return -1;
  return Status.chopped(1).toInt();
}

}  // namespace

int main(int argc, char** argv) {
  PrepareRuntimeFolder();
  QApplication app(argc, argv);
  const QStringList arguments = app.arguments();
  if (arguments.size() < 4) {
    std::fprintf(stderr, "Usage: korvane-screenshot PAUSE_FILE OUTPUT_FOLDER SOURCE...\n");
    return 2;
  }
  const QString pauseFile = arguments.at(1);
  app.setApplicationName(QStringLiteral("Korvane"));
  TProgramLibraries libraries;
  TForm1 form;
  TForm2 form2;
  form.SetTagSettingsWindow(&form2);
  form.Edit1->setText(arguments.at(2));
  form.RadioButton2->setChecked(true);
  form.move(0, 0);
  form.show();
  // As the window manager would on a desktop, so that the title bar shows its colours.
  form.activateWindow();
  form.AddDroppedPaths(AbsolutePaths(arguments.mid(3)));

  bool held = false;
  QObject::connect(form.ListView1(), &QTreeWidget::itemChanged, &form,
                   [&](QTreeWidgetItem* Item, int Column) {
                     if (held || Column != 1) return;
                     if (form.ListView1()->indexOfTopLevelItem(Item) != HeldRow) return;
                     if (StatusPercent(Item->text(1)) < HeldPercent) return;
                     held = true;
                     // The output's worker waits for this handler: the run stands still.
                     HoldUntilRemoved(pauseFile);
                     form.JvXPButton1Click();
                   });
  QTimer::singleShot(500, &form, [&] {
    form.JvXPButton4->click();
    app.quit();
  });
  app.exec();
  return held ? 0 : 1;
}
