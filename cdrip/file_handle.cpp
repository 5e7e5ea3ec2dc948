#include "file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "image_error.h"

namespace cdrip {

FileHandle FileHandle::OpenRegular(const std::string& Path) {
  FileHandle file(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file.IsOpen())
    throw EImageError(Path + ": the file cannot be opened (" + std::strerror(errno) + ").");
  struct stat info {};
  if (::fstat(file.Fd_, &info) != 0 || !S_ISREG(info.st_mode))
    throw EImageError(Path +
                      ": not a regular file. A disc image and the files it names "
                      "must be ordinary files, not folders, devices or pipes.");
  // Reads of a regular file never block; the flag only mattered for the open.
  ::fcntl(file.Fd_, F_SETFL, ::fcntl(file.Fd_, F_GETFL) & ~O_NONBLOCK);
  return file;
}

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

namespace {

void AppendUtf8(std::string& Out, uint32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

// UTF-16 text after its byte order mark, as UTF-8; a lone surrogate or an odd last
// byte becomes U+FFFD, which the readers then refuse as any text they cannot use.
std::string Utf16ToUtf8(const std::string& Text, bool BigEndian) {
  const auto unit = [&](size_t At) {
    const auto first = static_cast<uint8_t>(Text[At]);
    const auto second = static_cast<uint8_t>(Text[At + 1]);
    return static_cast<uint32_t>(BigEndian ? (first << 8) | second : (second << 8) | first);
  };
  constexpr uint32_t Replacement = 0xFFFD;
  std::string out;
  out.reserve(Text.size());
  size_t at = 2;
  for (; at + 1 < Text.size(); at += 2) {
    uint32_t code = unit(at);
    const bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && at + 3 < Text.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = Replacement;
    }
    AppendUtf8(out, code);
  }
  if (at < Text.size()) AppendUtf8(out, Replacement);
  return out;
}

}  // namespace

std::string TextAsUtf8(const std::string& Text) {
  if (Text.compare(0, 2, "\xFF\xFE") == 0) return Utf16ToUtf8(Text, false);
  if (Text.compare(0, 2, "\xFE\xFF") == 0) return Utf16ToUtf8(Text, true);
  return Text;
}

std::string ReadTextFile(const std::string& Path) {
  const FileHandle file = FileHandle::OpenRegular(Path);
  const int64_t size = file.Size();
  if (size > MaxTextFileBytes)
    throw EImageError(Path + ": the file is larger than " + std::to_string(MaxTextFileBytes >> 20) +
                      " MiB, far more than any cue sheet or .toc file; it is not one.");
  // One byte more than the size: a file that grew since is caught, never read on.
  std::string text(static_cast<size_t>(size) + 1, '\0');
  const int64_t got = file.ReadAt(text.data(), size + 1, 0);
  if (got > MaxTextFileBytes)
    throw EImageError(Path + ": the file keeps growing while it is read.");
  text.resize(static_cast<size_t>(got));
  return TextAsUtf8(text);
}

std::string LineMessage(const std::string& Path, int Line, const std::string& What) {
  return Path + ", line " + std::to_string(Line) + ": " + What;
}

std::vector<TextLine> SplitTextLines(const std::string& Text, const std::string& Path) {
  std::vector<TextLine> lines;
  size_t at = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int number = 0;
  while (at < Text.size()) {
    size_t end = Text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = Text.size();
    const size_t length = end - at;
    // "\r\n" and a lone "\r" (as old Mac OS ended lines) end a line as "\n" does.
    const size_t lineEnd = Text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    ++number;
    if (length > MaxTextLineBytes)
      throw EImageError(LineMessage(Path, number,
                                    "the line is longer than " + std::to_string(MaxTextLineBytes) +
                                        " bytes, which no cue sheet or .toc line needs."));
    lines.push_back(TextLine{Text.substr(at, length), number});
    at = end + lineEnd;
  }
  return lines;
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
