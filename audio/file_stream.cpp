#include "file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "audio_classes.h"

// ---------------------------------------------------------------------------------
// TFileStream
// ---------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& FileName, TMode Mode, const std::string& ShownName)
    : FileName_(FileName), ShownName_(ShownName.empty() ? FileName : ShownName) {
  const int flags = Mode == TMode::Create ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR;
  Fd_ = ::open(FileName.c_str(), flags | O_CLOEXEC, 0644);
  if (Fd_ < 0) Fail(Mode == TMode::Create ? "Cannot create file" : "Cannot open file");
  Gathered_.reserve(WriteBlockSize);
}

TFileStream::~TFileStream() {
  if (Fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
    // Only reached when the owner gave up on the file without closing it.
  }
  ::close(Fd_);
}

void TFileStream::Fail(const char* What) const {
  throw EAudioException(std::string(What) + " \"" + ShownName_ + "\": " + std::strerror(errno) +
                        ".");
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  Flush();
  int64_t done = 0;
  auto* bytes = static_cast<uint8_t*>(Buffer);
  while (done < Count) {
    const ssize_t n = ::pread(Fd_, bytes + done, static_cast<size_t>(Count - done),
                              static_cast<off_t>(Position_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read file");
    if (n == 0) break;
    done += n;
    Position_ += n;
  }
  return done;
}

void TFileStream::Write(const void* Buffer, int64_t Count) {
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  const auto gatheredEnd = [this] {
    return GatheredOffset_ + static_cast<int64_t>(Gathered_.size());
  };
  if (!Gathered_.empty() && Position_ != gatheredEnd()) Flush();
  if (Gathered_.empty()) GatheredOffset_ = Position_;
  while (Count > 0) {
    const int64_t boundary = (GatheredOffset_ / WriteBlockSize + 1) * WriteBlockSize;
    const int64_t take = std::min(Count, boundary - gatheredEnd());
    Gathered_.insert(Gathered_.end(), bytes, bytes + take);
    bytes += take;
    Count -= take;
    Position_ += take;
    if (gatheredEnd() == boundary) {
      Flush();
      GatheredOffset_ = Position_;
    }
  }
}

void TFileStream::Flush() {
  if (Gathered_.empty()) return;
  const int64_t offset = GatheredOffset_;
  std::vector<uint8_t> pending;
  pending.swap(Gathered_);
  Gathered_.reserve(WriteBlockSize);
  WriteThrough(pending.data(), static_cast<int64_t>(pending.size()), offset);
}

void TFileStream::Truncate(int64_t Length) {
  Flush();
  if (::ftruncate(Fd_, static_cast<off_t>(Length)) != 0) Fail("Cannot cut file");
  Position_ = std::min(Position_, Length);
}

void TFileStream::WriteThrough(const uint8_t* Bytes, int64_t Count, int64_t Offset) {
  int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pwrite(Fd_, Bytes + done, static_cast<size_t>(Count - done),
                               static_cast<off_t>(Offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      Fail("Cannot write file");
    }
    done += n;
  }
}

void TFileStream::Seek(int64_t Offset) { Position_ = Offset; }

int64_t TFileStream::Size() const {
  struct stat info {};
  if (::fstat(Fd_, &info) != 0) Fail("Cannot read the size of file");
  return std::max<int64_t>(info.st_size, GatheredOffset_ + static_cast<int64_t>(Gathered_.size()));
}

void TFileStream::Close() {
  if (Fd_ < 0) return;
  const int fd = Fd_;
  try {
    Flush();
  } catch (...) {
    Fd_ = -1;
    ::close(fd);
    throw;
  }
  Fd_ = -1;
  if (::close(fd) != 0) Fail("Cannot close file");
}

// ---------------------------------------------------------------------------------
// Staging
// ---------------------------------------------------------------------------------

std::string StagingNameFor(const std::string& FileName) {
  struct stat info {};
  if (::stat(FileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return std::string();
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path path(FileName);
  const std::string hidden = "." + path.filename().string() + ".korvane-" +
                             std::to_string(::getpid()) + "-" + std::to_string(++counter);
  return (path.parent_path() / hidden).string();
}

void PublishStagedFile(const std::string& Staged, const std::string& FileName) {
  if (::rename(Staged.c_str(), FileName.c_str()) == 0) return;
  const int error = errno;
  DiscardStagedFile(Staged);
  throw EAudioException("Cannot replace \"" + FileName + "\": " + std::strerror(error) + ".");
}

void DiscardStagedFile(const std::string& Staged) noexcept { ::unlink(Staged.c_str()); }

std::string ResolvedPath(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(Path, error);
  return error ? Path : resolved.string();
}
