#include "windows/korvane_program.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bindings/cdrip_binding.h"
#include "bindings/flac.h"
#include "bindings/lame.h"
#include "bindings/madlib.h"
#include "bindings/opusenc.h"
#include "outputs/audio_vorbis.h"
#include "settings/unit2.h"
#include "windows/unit1.h"

namespace {

const QString ApplicationTitle = QStringLiteral("Korvane");
const QString QuitAfterStartOption = QStringLiteral("--quit-after-start");

}  // namespace

// The folder the framework itself would fall back to: /tmp/runtime-<user>, private.
void PrepareRuntimeFolder() {
  const char* current = std::getenv("XDG_RUNTIME_DIR");
  if (current && *current) return;
  const passwd* user = ::getpwuid(::getuid());
  if (!user) return;
  const std::string folder = std::string("/tmp/runtime-") + user->pw_name;
  ::mkdir(folder.c_str(), 0700);
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
    return;
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) return;
  ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

TProgramLibraries::TProgramLibraries() {
  LoadVorbisLibraries();
  MadBinding().Load();
}

TProgramLibraries::~TProgramLibraries() {
  CDRipBinding().Unload();
  LameBinding().Unload();
  FlacBinding().Unload();
  OpusEncBinding().Unload();
  UnloadVorbisLibraries();
  MadBinding().Unload();
}

QStringList AbsolutePaths(const QStringList& Arguments) {
  QStringList paths;
  for (const QString& argument : Arguments)
    paths.append(QDir::cleanPath(QDir::current().absoluteFilePath(argument)));
  return paths;
}

int RunKorvane(QApplication& App, QStringList Arguments) {
  const bool quitAfterStart = Arguments.removeAll(QuitAfterStartOption) > 0;
  App.setApplicationName(ApplicationTitle);
  TProgramLibraries libraries;
  std::unique_ptr<TForm1> form1;
  try {
    form1 = std::make_unique<TForm1>();
  } catch (const std::exception& e) {
    // Started only to be checked, nobody may be at the screen to close a message box.
    if (quitAfterStart)
      std::fprintf(stderr, "%s\n", e.what());
    else
      QMessageBox::critical(nullptr, ApplicationTitle, QString::fromStdString(e.what()));
    return 1;
  }
  auto form2 = std::make_unique<TForm2>();
  form1->SetTagSettingsWindow(form2.get());
  form1->show();
  form1->AddDroppedPaths(AbsolutePaths(Arguments));
  // Closed as its close button closes it, once the events of its start have run.
  if (quitAfterStart) QTimer::singleShot(0, form1.get(), &QWidget::close);
  const int status = App.exec();
  form1.reset();
  return status;
}
