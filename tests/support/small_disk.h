// A disk of a few kilobytes that fills up: a tmpfs of the test's own, mounted on a
// folder and unmounted again. Only root may mount; elsewhere `Mounted` is false and
// the test that needs it skips with `NeedsRoot`, the reason that the test run's summary
// counts.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

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
  static constexpr const char* NeedsRoot = "needs root, to mount a small tmpfs";

  // Fills the disk with a file of its own, then gives back Free bytes (a multiple of
  // the 4 KiB page) of it, so that exactly that much room is left; false when it
  // could not.
  bool FillLeaving(off_t Free) const {
    const std::string filler = Folder_ + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string page(4096, 'f');
    off_t written = 0;
    for (ssize_t n; (n = ::write(fd, page.data(), page.size())) > 0;) written += n;
    const bool made = written >= Free && ::ftruncate(fd, written - Free) == 0;
    ::close(fd);
    return made;
  }

 private:
  std::string Folder_;
  bool Mounted_ = false;
};
