// A home of the test program's own: HOME and the XDG folders point into an empty folder
// made at its start and removed at its end, so that no test reads the user's settings or
// writes into them (the window's file dialogs keep their history in the configuration
// folder), and programs the tests run inherit it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

class TScratchHome {
 public:
  TScratchHome() {
    std::string folder =
        (std::filesystem::temp_directory_path() / "korvane-test-home-XXXXXX").string();
    if (!::mkdtemp(folder.data())) throw std::runtime_error("cannot make a scratch home");
    Folder_ = folder;
    Point("HOME", Folder_);
    Point("XDG_CONFIG_HOME", Folder_ / ".config");
    Point("XDG_CACHE_HOME", Folder_ / ".cache");
    Point("XDG_DATA_HOME", Folder_ / ".local/share");
  }
  ~TScratchHome() {
    std::error_code ignored;  // a folder that cannot be removed stays in the temporary folder
    std::filesystem::remove_all(Folder_, ignored);
  }
  TScratchHome(const TScratchHome&) = delete;
  TScratchHome& operator=(const TScratchHome&) = delete;

 private:
  static void Point(const char* Name, const std::filesystem::path& Folder) {
    ::setenv(Name, Folder.c_str(), 1);
  }
  std::filesystem::path Folder_;
};
