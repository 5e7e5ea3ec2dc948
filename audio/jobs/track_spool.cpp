#include "jobs/track_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

TTrackSpool::TTrackSpool(std::string SpoolFolder) : Folder_(std::move(SpoolFolder)) {}

TTrackSpool::~TTrackSpool() {
  if (File_ >= 0) ::close(File_);
}

void TTrackSpool::Opened(int32_t Size) {
  std::lock_guard<std::mutex> hold(Lock_);
  Size_ = Size;
  Opened_ = true;
  Changed_.notify_all();
}

// Data goes to memory while nothing waits in the file and memory has room; else, when
// spilling is allowed, to the file, so that the encoder takes it in the order it was
// written. Otherwise the writer waits until the encoder has made room.
void TTrackSpool::Write(const uint8_t* Data, size_t Count) {
  std::unique_lock<std::mutex> hold(Lock_);
  while (!Cancelled_) {
    if (FileRead_ == FileEnd_ && MemoryHeld_ + Count <= MemoryBytes) {
      Memory_.emplace_back(Data, Data + Count);
      MemoryHeld_ += Count;
      break;
    }
    if (SpillAllowed_ && FileUsable_ && SpillToFile(Data, Count)) break;
    Changed_.wait(hold);
  }
  Changed_.notify_all();
}

// Called with the lock held: a write to a local file is short, and the encoder would
// wait for these bytes anyway.
bool TTrackSpool::SpillToFile(const uint8_t* Data, size_t Count) {
  if (File_ < 0) {
    std::string pattern = Folder_ + "/.korvane-spool-XXXXXX";
    File_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (File_ < 0) return FileUsable_ = false;
    ::unlink(pattern.c_str());
  }
  size_t written = 0;
  while (written < Count) {
    const ssize_t n = ::pwrite(File_, Data + written, Count - written,
                               static_cast<off_t>(FileEnd_ + static_cast<int64_t>(written)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FileUsable_ = false;  // a full disk: keep to memory from now on
    written += static_cast<size_t>(n);
  }
  FileEnd_ += static_cast<int64_t>(Count);
  return true;
}

void TTrackSpool::Finish(const TCDReadReport& Report) {
  std::lock_guard<std::mutex> hold(Lock_);
  Report_ = Report;
  Finished_ = true;
  Changed_.notify_all();
}

void TTrackSpool::Fail(const std::string& Message, const TCDReadReport& Report) {
  std::lock_guard<std::mutex> hold(Lock_);
  Report_ = Report;
  Failure_ = Message;
  Changed_.notify_all();
}

void TTrackSpool::AllowSpill() {
  std::lock_guard<std::mutex> hold(Lock_);
  SpillAllowed_ = true;
  Changed_.notify_all();
}

// What nobody will take is dropped at once.
void TTrackSpool::Cancel() {
  std::lock_guard<std::mutex> hold(Lock_);
  Cancelled_ = true;
  Memory_.clear();
  MemoryFront_ = MemoryHeld_ = 0;
  FileRead_ = FileEnd_ = 0;
  Changed_.notify_all();
}

bool TTrackSpool::Cancelled() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Cancelled_;
}

bool TTrackSpool::Ready() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Opened_ || Failure_.has_value() || Cancelled_;
}

TCDReadReport TTrackSpool::Report() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Report_;
}

void TTrackSpool::CheckOpened() const {
  std::lock_guard<std::mutex> hold(Lock_);
  if (!Opened_ && Failure_) throw EAudioException(*Failure_);
}

int32_t TTrackSpool::Size() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Size_;
}

size_t TTrackSpool::TakeFromMemory(uint8_t* Out, size_t Count) {
  size_t taken = 0;
  while (taken < Count && !Memory_.empty()) {
    const std::vector<uint8_t>& block = Memory_.front();
    const size_t n = std::min(Count - taken, block.size() - MemoryFront_);
    std::memcpy(Out + taken, block.data() + MemoryFront_, n);
    taken += n;
    MemoryFront_ += n;
    if (MemoryFront_ == block.size()) {
      Memory_.pop_front();
      MemoryFront_ = 0;
    }
  }
  MemoryHeld_ -= taken;
  return taken;
}

// Memory holds older bytes than the file whenever both hold some, so the file is read
// only once memory is empty; a drained file is written again from its start.
size_t TTrackSpool::TakeFromFile(uint8_t* Out, size_t Count) {
  const auto wanted = static_cast<size_t>(std::min<int64_t>(FileEnd_ - FileRead_, Count));
  ssize_t n;
  do {
    n = ::pread(File_, Out, wanted, static_cast<off_t>(FileRead_));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) throw EAudioException("The track's spool file could not be read back.");
  FileRead_ += n;
  if (FileRead_ == FileEnd_) FileRead_ = FileEnd_ = 0;
  return static_cast<size_t>(n);
}

int TTrackSpool::Read(void* Buffer, int Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  std::unique_lock<std::mutex> hold(Lock_);
  while (Count > 0) {
    if (Cancelled_) return 0;
    size_t taken = TakeFromMemory(out, static_cast<size_t>(Count));
    if (taken == 0 && FileRead_ < FileEnd_) taken = TakeFromFile(out, static_cast<size_t>(Count));
    if (taken > 0) {
      Changed_.notify_all();
      return static_cast<int>(taken);
    }
    if (Failure_) throw EAudioException(*Failure_);
    if (Finished_) return 0;
    Changed_.wait(hold);
  }
  return 0;
}

int32_t TSpoolInput::OpenAudio() {
  Spool_.CheckOpened();
  return Spool_.Size();
}
