#include "core/file_stream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>

#include "core/audio_exception.h"

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
      const int64_t lost = Offset + done;
      LostFrom_ = LostFrom_ < 0 ? lost : std::min(LostFrom_, lost);
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

int64_t TFileStream::IntactLength() const {
  const int64_t size = Size();
  return LostFrom_ < 0 ? size : std::min(size, LostFrom_);
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

namespace {

const char StagingMark[] = ".korvane-";
constexpr size_t RandomDigits = 8;

// Eight hexadecimal digits, different for every staging name of every process.
std::string RandomPart() {
  thread_local std::mt19937 generator{std::random_device{}()};
  char digits[RandomDigits + 1];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(generator()));
  return digits;
}

bool AllOf(const std::string& Text, const char* Allowed) {
  return !Text.empty() && Text.find_first_not_of(Allowed) == std::string::npos;
}

// The process id in a staging name ".NAME.korvane-PID-RANDOM"; 0 when Name is not one.
// (Earlier versions put a decimal count where the random part is.)
pid_t StagingProcess(const std::string& Name) {
  const size_t mark = Name.rfind(StagingMark);
  if (Name.empty() || Name.front() != '.' || mark == std::string::npos || mark < 2) return 0;
  const std::string tail = Name.substr(mark + sizeof StagingMark - 1);
  const size_t dash = tail.find('-');
  if (dash == std::string::npos || dash > 9) return 0;
  const std::string pid = tail.substr(0, dash);
  const std::string random = tail.substr(dash + 1);
  if (!AllOf(pid, "0123456789") || !AllOf(random, "0123456789abcdef") || random.size() > 16)
    return 0;
  return static_cast<pid_t>(std::stol(pid));
}

bool ProcessIsGone(pid_t Process) { return ::kill(Process, 0) != 0 && errno == ESRCH; }

}  // namespace

std::string StagingNameFor(const std::string& FileName) {
  struct stat info {};
  if (::stat(FileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return std::string();
  const std::filesystem::path path(FileName);
  const std::string hidden = "." + path.filename().string() + StagingMark +
                             std::to_string(::getpid()) + "-" + RandomPart();
  return (path.parent_path() / hidden).string();
}

void PublishStagedFile(const std::string& Staged, const std::string& FileName) {
  struct stat replaced {};
  if (::stat(FileName.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode))
    ::chmod(Staged.c_str(), replaced.st_mode & 07777);
  if (::rename(Staged.c_str(), FileName.c_str()) == 0) return;
  const int error = errno;
  DiscardStagedFile(Staged);
  throw EAudioException("Cannot replace \"" + FileName + "\": " + std::strerror(error) + ".");
}

namespace {

std::string IncompleteName(const std::filesystem::path& FileName, int Count) {
  const std::string mark =
      Count == 1 ? " (incomplete)" : " (incomplete " + std::to_string(Count) + ")";
  return (FileName.parent_path() /
          (FileName.stem().string() + mark + FileName.extension().string()))
      .string();
}

[[noreturn]] void CannotWrite(const std::string& Name, int Error) {
  throw EAudioException("Cannot write \"" + Name + "\": " + std::strerror(Error) + ".");
}

// Renames From to To unless To exists; false when it does.
bool RenameWithoutReplacing(const std::string& From, const std::string& To) {
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) CannotWrite(To, errno);
  // A file system that cannot refuse to replace: look first.
  struct stat there {};
  if (::lstat(To.c_str(), &there) == 0) return false;
  if (::rename(From.c_str(), To.c_str()) != 0) CannotWrite(To, errno);
  return true;
}

}  // namespace

std::string PublishStagedFileAsIncomplete(const std::string& Staged, const std::string& FileName) {
  constexpr int MaxTries = 1000;
  try {
    for (int count = 1; count <= MaxTries; ++count) {
      const std::string name = IncompleteName(FileName, count);
      if (RenameWithoutReplacing(Staged, name)) return name;
    }
  } catch (...) {
    DiscardStagedFile(Staged);
    throw;
  }
  DiscardStagedFile(Staged);
  throw EAudioException("Cannot keep what was written of \"" + FileName +
                        "\": every name for an incomplete file is taken.");
}

void DiscardStagedFile(const std::string& Staged) noexcept { ::unlink(Staged.c_str()); }

int RemoveAbandonedStagingFiles(const std::string& Folder) {
  int removed = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Folder, error)) {
    const pid_t process = StagingProcess(entry.path().filename().string());
    if (process <= 0 || process == ::getpid() || !ProcessIsGone(process)) continue;
    if (entry.is_regular_file(error) && ::unlink(entry.path().c_str()) == 0) ++removed;
  }
  return removed;
}

void RemoveAbandonedStagingFilesOnce(const std::string& FileName) {
  static std::mutex lock;
  static std::set<std::string> cleaned;
  std::string folder = std::filesystem::path(FileName).parent_path().string();
  folder = ResolvedPath(folder.empty() ? "." : folder);
  {
    std::lock_guard<std::mutex> hold(lock);
    if (!cleaned.insert(folder).second) return;
  }
  RemoveAbandonedStagingFiles(folder);
}

void RefuseProtectedFile(const std::string& FileName) {
  struct stat info {};
  if (::stat(FileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const bool anyoneMayWrite = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (anyoneMayWrite && ::access(FileName.c_str(), W_OK) == 0) return;
  throw EAudioException("\"" + FileName +
                        "\" is read-only, so it is not replaced; it stays as it was.");
}

std::string ResolvedPath(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(Path, error);
  return error ? Path : resolved.string();
}
