#include "read_ahead.h"

#include <algorithm>
#include <cstring>

namespace cdrip {

ReadAhead::ReadAhead(RipRange Range, int Depth)
    : Depth_(std::max(Depth, 0)),
      ChunkBytes_(Range.ChunkSectors * SectorBytes),
      Range_(std::move(Range)),
      Interruptible_(Range_.Reader.get()) {
  if (Depth_ == 0) return;
  Slots_.resize(static_cast<size_t>(Depth_) * static_cast<size_t>(ChunkBytes_));
  SlotBytes_.resize(static_cast<size_t>(Depth_));
  Reader_ = std::thread([this] { ReadAheadLoop(); });
}

ReadAhead::~ReadAhead() { Stop(); }

int32_t ReadAhead::ReadChunk(uint8_t* Out) {
  const int32_t wanted = std::min(Range_.ChunkSectors, Range_.End - Range_.Next);
  if (wanted <= 0 || !Range_.Reader) return 0;
  int32_t got = 0;
  try {
    got = std::clamp(Range_.Reader->Read(Out, Range_.Next, wanted), 0, wanted);
  } catch (...) {
    got = 0;  // a reader that fails outright ends the range like a sector it cannot read
  }
  Range_.Next += got;
  // A sector that cannot be read ends the range.
  if (got < wanted) Range_.End = Range_.Next;
  // The reader keeps its counts on the thread that reads; the others see this copy.
  const ReadReport report = Range_.Reader->Report();
  const std::string messages = Range_.Reader->TakeMessages();
  std::lock_guard<std::mutex> hold(Lock_);
  Report_ = report;
  Messages_ += messages;
  return got;
}

void ReadAhead::ReadAheadLoop() {
  for (;;) {
    int tail = 0;
    {
      std::unique_lock<std::mutex> hold(Lock_);
      RoomFree_.wait(hold, [this] { return Stopping_ || Queued_ < Depth_; });
      if (Stopping_) return;
      // The slot after the queued ones: the consumer touches only queued slots.
      tail = (Head_ + Queued_) % Depth_;
    }
    int32_t sectors = 0;
    bool last = false;
    {
      std::lock_guard<std::mutex> reading(ReadLock_);
      sectors = ReadChunk(&Slots_[static_cast<size_t>(tail) * static_cast<size_t>(ChunkBytes_)]);
      last = Range_.Next >= Range_.End;
    }
    {
      std::lock_guard<std::mutex> hold(Lock_);
      if (sectors > 0) {
        SlotBytes_[static_cast<size_t>(tail)] = sectors * SectorBytes;
        ++Queued_;
      }
      Exhausted_ = last;
    }
    ChunkReady_.notify_one();
    if (last) return;
  }
}

int32_t ReadAhead::Next(uint8_t* Buffer) {
  if (Depth_ == 0) return NextDirect(Buffer);
  std::unique_lock<std::mutex> hold(Lock_);
  ChunkReady_.wait(hold, [this] { return Stopping_ || Queued_ > 0 || Exhausted_; });
  if (Stopping_ || Queued_ == 0) return 0;
  const int32_t bytes = SlotBytes_[static_cast<size_t>(Head_)];
  std::memcpy(Buffer, &Slots_[static_cast<size_t>(Head_) * static_cast<size_t>(ChunkBytes_)],
              static_cast<size_t>(bytes));
  Head_ = (Head_ + 1) % Depth_;
  --Queued_;
  hold.unlock();
  RoomFree_.notify_one();
  return bytes;
}

// Without a queue the caller reads, straight into its buffer.
int32_t ReadAhead::NextDirect(uint8_t* Buffer) {
  std::lock_guard<std::mutex> reading(ReadLock_);
  {
    std::lock_guard<std::mutex> hold(Lock_);
    if (Stopping_) return 0;
  }
  return ReadChunk(Buffer) * SectorBytes;
}

void ReadAhead::RequestStop() {
  {
    std::lock_guard<std::mutex> hold(Lock_);
    Stopping_ = true;
    if (Interruptible_) Interruptible_->Interrupt();
  }
  ChunkReady_.notify_all();
  RoomFree_.notify_all();
}

void ReadAhead::Stop() {
  RequestStop();
  {
    std::lock_guard<std::mutex> joining(JoinLock_);
    if (Reader_.joinable()) Reader_.join();
  }
  {
    std::lock_guard<std::mutex> hold(Lock_);
    Interruptible_ = nullptr;
  }
  // The drive's reader goes now, not with the last holder of the range.
  std::lock_guard<std::mutex> reading(ReadLock_);
  Range_.Reader.reset();
}

ReadReport ReadAhead::Report() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Report_;
}

std::string ReadAhead::Messages() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Messages_;
}

}  // namespace cdrip
