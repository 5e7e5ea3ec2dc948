// The program's start-up and end: the application title, the libraries loaded when
// the program starts, the main window and then the tag settings window, the paths
// given on the command line, and the event loop until the main window closes.
#pragma once

#include <QStringList>

class QApplication;

// The libraries that the program loads when it starts (the four Ogg Vorbis libraries
// and the MP3 decoder library) and releases when it ends, together with those its
// components loaded: the CD ripping library (after its de-initialisation), the MP3
// encoder library and the FLAC library.
class TProgramLibraries {
 public:
  TProgramLibraries();
  ~TProgramLibraries();
  TProgramLibraries(const TProgramLibraries&) = delete;
  TProgramLibraries& operator=(const TProgramLibraries&) = delete;
};

// Gives the process a private runtime folder when the session has none (as when run
// from a plain terminal as root or under a bare virtual display), so that the window
// framework finds one without printing a warning. Call before creating QApplication.
void PrepareRuntimeFolder();

// Runs the program with the command line's Arguments (disc images and track entries,
// added as if dropped on the window). With the option "--quit-after-start" among them
// the window closes itself once it has started, which checks an installation without
// anyone at the screen. Returns the exit status: non-zero when a library is missing,
// in which case its message has been shown (on standard error with that option).
int RunKorvane(QApplication& App, QStringList Arguments);

// The Arguments as absolute paths, so that they name the same drives and files as
// dropped paths do.
QStringList AbsolutePaths(const QStringList& Arguments);
