// "Install software": a desktop entry `Korvane.desktop` that starts the program, in the
// user's desktop folder (created when missing), replacing an existing one. Window thread
// only (it writes a small file and returns).
#pragma once

#include <QString>

// The message shown once the entry has been written.
extern const QString ShortcutAddedMessage;

// The file name of the entry in the desktop folder.
extern const QString DesktopEntryFileName;

// The user's desktop folder, as the desktop names it (XDG_DESKTOP_DIR, else ~/Desktop).
QString DesktopFolder();

// The entry's text for the program at ProgramPath: it runs the program from its folder.
QString DesktopEntryText(const QString& ProgramPath);

// Writes the entry for ProgramPath into Folder (created when missing), replacing an
// existing one, and makes it executable, as desktops require of launchers in the desktop
// folder. Returns an empty text on success, else what went wrong.
QString WriteDesktopEntry(const QString& Folder, const QString& ProgramPath);
