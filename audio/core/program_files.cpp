#include "core/program_files.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* LibraryMarker = "libcdrip.so";

std::string WithSlash(std::string Folder) {
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
  return Folder;
}

std::string Below(const std::string& ProgramFolder, const char* Relative) {
  return WithSlash((fs::path(ProgramFolder) / Relative).lexically_normal().string());
}

bool IsFile(const fs::path& Path) {
  std::error_code error;
  return fs::is_regular_file(Path, error);
}

}  // namespace

TProgramFiles ProgramFilesIn(const std::string& ProgramFolder) {
  TProgramFiles files;
  files.ProgramFolder = WithSlash(ProgramFolder);
  files.LibraryFolder = files.ProgramFolder;
  files.DataFolder = files.ProgramFolder;
  if (ProgramFolder.empty()) return files;
  const std::string installedLibraries = Below(ProgramFolder, InstalledLibraryFolder);
  files.Installed = !IsFile(fs::path(ProgramFolder) / LibraryMarker) &&
                    IsFile(fs::path(installedLibraries) / LibraryMarker);
  if (files.Installed) {
    files.LibraryFolder = installedLibraries;
    files.DataFolder = Below(ProgramFolder, InstalledDataFolder);
  }
  return files;
}

const TProgramFiles& ProgramFiles() {
  static const TProgramFiles files = [] {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return ProgramFilesIn(error ? std::string() : program.parent_path().string());
  }();
  return files;
}
