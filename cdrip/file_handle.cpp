#include "file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace cdrip {

FileHandle::FileHandle(const std::string& Path) : Fd_(::open(Path.c_str(), O_RDONLY | O_CLOEXEC)) {}

FileHandle::~FileHandle() {
  if (Fd_ >= 0) ::close(Fd_);
}

FileHandle::FileHandle(FileHandle&& Other) noexcept : Fd_(std::exchange(Other.Fd_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& Other) noexcept {
  if (this != &Other) {
    if (Fd_ >= 0) ::close(Fd_);
    Fd_ = std::exchange(Other.Fd_, -1);
  }
  return *this;
}

int64_t FileHandle::Size() const {
  struct stat info {};
  if (Fd_ < 0 || ::fstat(Fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

int64_t FileHandle::ReadAt(void* Buffer, int64_t Count, int64_t Offset) const {
  auto* bytes = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pread(Fd_, bytes + done, static_cast<size_t>(Count - done),
                              static_cast<off_t>(Offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

bool FilesStamp::StampOf(const std::string& Path, Stamp& Out) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return false;
  Out.Device = static_cast<uint64_t>(info.st_dev);
  Out.Inode = static_cast<uint64_t>(info.st_ino);
  Out.Size = static_cast<int64_t>(info.st_size);
  Out.ModifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

bool FilesStamp::Take(const std::vector<std::string>& Paths) {
  Files_.clear();
  for (const std::string& path : Paths) {
    Stamp stamp;
    if (!StampOf(path, stamp)) return false;
    Files_.emplace_back(path, stamp);
  }
  return true;
}

bool FilesStamp::Holds() const {
  if (Files_.empty()) return false;
  for (const auto& [path, stamp] : Files_) {
    Stamp now;
    if (!StampOf(path, now) || !(now == stamp)) return false;
  }
  return true;
}

}  // namespace cdrip
