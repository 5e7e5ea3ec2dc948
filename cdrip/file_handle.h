// Files of a disc image: a descriptor opened for reading, closed when the handle goes,
// and the stamps that tell whether files changed since they were read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cdrip {

class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(const std::string& Path);
  ~FileHandle();
  FileHandle(FileHandle&& Other) noexcept;
  FileHandle& operator=(FileHandle&& Other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return Fd_ >= 0; }
  // The file's size in bytes, -1 when it cannot be read.
  int64_t Size() const;
  // Reads up to Count bytes at Offset, retrying short reads; returns the bytes read
  // (fewer at the end of the file or on an error).
  int64_t ReadAt(void* Buffer, int64_t Count, int64_t Offset) const;

 private:
  int Fd_ = -1;
};

// What identifies one state of a set of files: device, inode, size and modification
// time of each. An image is parsed again only when its stamp no longer holds, so the
// frequent status and table requests of a drive cost a few stat calls.
class FilesStamp {
 public:
  FilesStamp() = default;
  // False when one of Paths cannot be read.
  bool Take(const std::vector<std::string>& Paths);
  // True when every file still exists, unchanged.
  bool Holds() const;

 private:
  struct Stamp {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const Stamp& Other) const {
      return Device == Other.Device && Inode == Other.Inode && Size == Other.Size &&
             ModifiedNs == Other.ModifiedNs;
    }
  };
  static bool StampOf(const std::string& Path, Stamp& Out);

  std::vector<std::pair<std::string, Stamp>> Files_;
};

}  // namespace cdrip
