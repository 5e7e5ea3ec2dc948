#include "shell/desktop_entry.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "core/program_files.h"

const QString ShortcutAddedMessage =
    QStringLiteral("A shortcut of the software has been added to  ") + QStringLiteral("\r\n") +
    QStringLiteral(" your  desktop using the current software location");

const QString DesktopEntryFileName = QStringLiteral("Korvane.desktop");

namespace {

// A value of type string: backslashes and line breaks escaped.
QString EscapedString(QString Value) {
  Value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  Value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  Value.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
  return Value;
}

// The program's path as one quoted argument of the Exec key: inside the quotes '"', '`',
// '$' and '\' take a backslash, '%' is doubled (field codes), and the result is then
// escaped as every string value is.
QString ExecArgument(const QString& ProgramPath) {
  QString quoted;
  for (const QChar c : ProgramPath) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
        c == QLatin1Char('\\'))
      quoted += QLatin1Char('\\');
    quoted += c;
  }
  quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
  return EscapedString(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

// An installed program has its own icon in the icon theme; one that runs from its build
// folder takes the theme's audio-CD icon.
QString IconName(const QString& ProgramFolder) {
  return ProgramFilesIn(ProgramFolder.toStdString()).Installed
             ? QStringLiteral("org.example.korvane")
             : QStringLiteral("media-optical-audio");
}

}  // namespace

QString DesktopFolder() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return folder.isEmpty() ? QDir::home().filePath(QStringLiteral("Desktop")) : folder;
}

QString DesktopEntryText(const QString& ProgramPath) {
  const QString folder = QFileInfo(ProgramPath).absolutePath();
  return QStringLiteral(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Version=1.0\n"
             "Name=Korvane\n"
             "Comment=Audio-CD ripper: tracks to WAV, MP3, Ogg Vorbis, FLAC or Opus files\n"
             "Icon=%3\n"
             "Exec=%1\n"
             "Path=%2\n"
             "Terminal=false\n"
             "Categories=AudioVideo;Audio;\n")
      .arg(ExecArgument(ProgramPath), EscapedString(folder), IconName(folder));
}

QString WriteDesktopEntry(const QString& Folder, const QString& ProgramPath) {
  if (!QDir().mkpath(Folder)) return QStringLiteral("Cannot create the folder %1").arg(Folder);
  const QString path = QDir(Folder).filePath(DesktopEntryFileName);
  QSaveFile entry(path);
  const auto writeFailed = [&] {
    return QStringLiteral("Cannot write %1: %2").arg(path, entry.errorString());
  };
  if (!entry.open(QIODevice::WriteOnly)) return writeFailed();
  entry.write(DesktopEntryText(ProgramPath).toUtf8());
  if (!entry.commit()) return writeFailed();
  const QFileDevice::Permissions executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther;
  if (!QFile::setPermissions(path, executable))
    return QStringLiteral("Cannot make %1 executable").arg(path);
  return QString();
}
