// A disk of a few kilobytes that fills up: a tmpfs of the test's own, mounted on a
// folder and unmounted again. Only root may mount; elsewhere `Mounted` is false and
// the test that needs it skips.
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

class TSmallDisk {
 public:
  TSmallDisk(const std::string& Folder, size_t Bytes) : Folder_(Folder) {
    std::filesystem::create_directories(Folder);
    const std::string options = "size=" + std::to_string(Bytes);
    Mounted_ = ::mount("tmpfs", Folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TSmallDisk() {
    if (Mounted_) ::umount2(Folder_.c_str(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;

  bool Mounted() const { return Mounted_; }

 private:
  std::string Folder_;
  bool Mounted_ = false;
};
