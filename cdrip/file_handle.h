// Files of a disc image: a descriptor opened for reading, closed when the handle goes,
// the bounded reading of text files (sheets, settings) line by line, and the stamps
// that tell whether files changed since they were read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cdrip {

// A text file longer than this is no cue sheet, .toc or settings file.
constexpr int64_t MaxTextFileBytes = 1 << 20;
// Nor is a line longer than this one of theirs.
constexpr size_t MaxTextLineBytes = 4096;

class FileHandle {
 public:
  FileHandle() = default;
  // Opens Path for reading only when it is a regular file: the check is made on the
  // open descriptor, opened without blocking, so a FIFO or a device named instead of a
  // file is refused at once rather than waited on. Throws EImageError naming the file.
  static FileHandle OpenRegular(const std::string& Path);
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
  explicit FileHandle(int Fd) : Fd_(Fd) {}
  int Fd_ = -1;
};

// The whole of a regular text file of at most MaxTextFileBytes, UTF-16 with a byte
// order mark turned into UTF-8 (other text as it is). Throws EImageError naming the
// file when it cannot be opened, is no regular file or is larger.
std::string ReadTextFile(const std::string& Path);
// Text that starts with a UTF-16 byte order mark (either byte order) as UTF-8; any
// other text as it is.
std::string TextAsUtf8(const std::string& Text);

// One line of a text file, without its line end, and its 1-based number.
struct TextLine {
  std::string Text;
  int Number = 0;
};

// Text split at "\n", "\r\n" or a lone "\r", a leading UTF-8 byte order mark skipped.
// Throws EImageError naming Path and the line when a line exceeds MaxTextLineBytes.
std::vector<TextLine> SplitTextLines(const std::string& Text, const std::string& Path);

// "Path, line N: What" for the messages of the sheet readers.
std::string LineMessage(const std::string& Path, int Line, const std::string& What);

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
