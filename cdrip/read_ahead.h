// Reading a sector range ahead of its consumer: a thread of the library keeps reading the
// next chunks into a bounded queue, so a drive goes on streaming while the caller encodes
// what it got. The library's lock is never held while a sector is read: the range has
// locks of its own, which no other part of the library waits on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive.h"

namespace cdrip {

// Sectors Next .. End - 1 of a disc, read ChunkSectors at a time.
struct RipRange {
  std::unique_ptr<SectorReader> Reader;
  int32_t Next = 0;
  int32_t End = 0;
  int32_t ChunkSectors = MaxChunkSectors;
};

// Threads: the constructor, Next, Stop and Report run on the callers' threads (Next on
// one at a time); with a queue, the range's reader runs on a thread of its own, started
// by the constructor and joined by Stop or the destructor. Without a queue (Depth 0)
// Next reads on the caller's thread.
class ReadAhead {
 public:
  // Starts reading Range; at most Depth chunks wait in the queue.
  ReadAhead(RipRange Range, int Depth);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Copies the next chunk of the range into Buffer (room for ChunkBytes()) and returns
  // its bytes; 0 once the range is exhausted or stopped. Waits while the queue is empty.
  // A sector that cannot be read ends the range: the chunk holding the sectors before it
  // is the last.
  int32_t Next(uint8_t* Buffer);
  // Ends the reading: a read in progress finishes, nothing more is read or delivered,
  // and the reader's thread and the drive's reader are gone when it returns. Safe to
  // call from several threads, and more than once.
  void Stop();
  // Asks the reading to end, from any thread, without waiting for it: a read in progress
  // is interrupted (the drive is asked for nothing more), a waiting Next returns 0, and
  // nothing more is delivered. Stop still joins.
  void RequestStop();
  // What the reads of the range met, as of the last chunk read.
  ReadReport Report() const;
  // What the layers below said while the range was read, as of the last chunk read.
  std::string Messages() const;
  int32_t ChunkBytes() const { return ChunkBytes_; }

 private:
  // Reads the range's next chunk into Out; its sectors, 0 at the end. Called with
  // ReadLock_ held.
  int32_t ReadChunk(uint8_t* Out);
  void ReadAheadLoop();
  int32_t NextDirect(uint8_t* Buffer);

  const int Depth_;
  const int32_t ChunkBytes_;

  std::mutex ReadLock_;  // the range and its reader: held while a chunk is read
  RipRange Range_;

  mutable std::mutex Lock_;  // the queue, the flags and the report; never held while reading
  std::condition_variable ChunkReady_;
  std::condition_variable RoomFree_;
  std::vector<uint8_t> Slots_;      // Depth_ slots of ChunkBytes_
  std::vector<int32_t> SlotBytes_;  // bytes of each queued chunk
  int Head_ = 0;                    // the slot delivered next
  int Queued_ = 0;
  bool Exhausted_ = false;  // the reader has read its last chunk
  bool Stopping_ = false;
  ReadReport Report_;
  std::string Messages_;
  // The range's reader, to interrupt from other threads; null once Stop lets it go.
  SectorReader* Interruptible_ = nullptr;

  std::mutex JoinLock_;  // one Stop joins, the others wait for it
  std::thread Reader_;
};

}  // namespace cdrip
