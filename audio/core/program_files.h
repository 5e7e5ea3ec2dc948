// Where the running program finds its own files, and where it may write its own.
//
// A program runs either from the folder it was built in, every file of it beside it
// (build/bin), or from an installed prefix:
//   PREFIX/bin            korvane, korvane-cli
//   PREFIX/lib/korvane    libcdrip.so and the browser module (the programs' run path
//                         is $ORIGIN/../lib/korvane)
//   PREFIX/share/korvane  the local web page b.htm and the demo disc
// Where libcdrip.so lies tells the two apart, so an installed prefix may be moved as a
// whole and the programs still find their files. An installed program writes nothing
// into its prefix: cdr.ini goes to the user's configuration folder and the default
// output folder is the user's music folder, even when the prefix could be written to
// (as root).
//
// No Qt; safe from any thread (it reads the file system only).
#pragma once

#include <string>

// The installed layout relative to the programs' folder.
inline constexpr const char* InstalledLibraryFolder = "../lib/korvane";
inline constexpr const char* InstalledDataFolder = "../share/korvane";

struct TProgramFiles {
  std::string ProgramFolder;  // the program's own folder, with a trailing '/'
  bool Installed = false;     // runs from an installed prefix
  std::string LibraryFolder;  // libcdrip.so and the browser module, trailing '/'
  std::string DataFolder;     // b.htm and the demo disc, trailing '/'
  // The folder where the program keeps its settings file and, by default, its output:
  // its own folder when it runs from where it was built; empty when installed.
  std::string OwnFolder() const { return Installed ? std::string() : ProgramFolder; }
};

// The layout for a program in ProgramFolder (empty: a program whose folder is unknown,
// which then has no folders of its own).
TProgramFiles ProgramFilesIn(const std::string& ProgramFolder);

// The layout of the running program (its folder from /proc/self/exe), found once.
const TProgramFiles& ProgramFiles();
