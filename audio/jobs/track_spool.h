// The PCM of one track on its way from the disc reader to the track's encoder, when the
// tracks of a disc are encoded several at a time: the reader writes it as it reads, the
// encoder's source (`TSpoolInput`) takes it as it encodes.
//
// Memory stays bounded however far the reader runs ahead: what the encoder has not
// taken yet is kept in memory up to `MemoryBytes`; beyond that the reader waits for the
// encoder, unless the run lets the spool spill (an encoder is free for a later track,
// which the reader can only reach by moving on): then the rest goes to a spool file in
// the output folder, unlinked as soon as it is made, so nothing is left behind even
// when the program is killed. Where no spool file can be written, the reader waits.
//
// Threads: one reader thread writes, one encoder thread reads; `Cancel` and the state
// queries may come from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cdrom/audio_cdrom.h"
#include "jobs/track_audio_input.h"

class TTrackSpool {
 public:
  static constexpr size_t MemoryBytes = size_t{4} << 20;

  explicit TTrackSpool(std::string SpoolFolder);
  ~TTrackSpool();
  TTrackSpool(const TTrackSpool&) = delete;
  TTrackSpool& operator=(const TTrackSpool&) = delete;

  // Reader side: the track's read began and will deliver Size bytes.
  void Opened(int32_t Size);
  // Appends Count bytes; returns at once after a cancel.
  void Write(const uint8_t* Data, size_t Count);
  // Every byte is written; Report is what reading the track met.
  void Finish(const TCDReadReport& Report);
  // The read failed: the encoder's source raises Message once it has taken what was
  // written before.
  void Fail(const std::string& Message, const TCDReadReport& Report);

  // The run: from now on, what does not fit in memory goes to the spool file.
  void AllowSpill();

  // Either side: both stop; the reader's writes return, the encoder's source ends.
  void Cancel();
  bool Cancelled() const;

  // True once the read began or failed: the encoder can start.
  bool Ready() const;
  // What reading the track met; valid once it finished or failed.
  TCDReadReport Report() const;

  // Encoder side: copies at most Count bytes, waiting for them; 0 at the end (or after
  // a cancel). Raises EAudioException with the read's failure once the bytes written
  // before it are taken.
  int Read(void* Buffer, int Count);
  // Raises the read's failure when the read failed before it began.
  void CheckOpened() const;
  int32_t Size() const;

 private:
  bool SpillToFile(const uint8_t* Data, size_t Count);
  size_t TakeFromMemory(uint8_t* Out, size_t Count);
  size_t TakeFromFile(uint8_t* Out, size_t Count);

  const std::string Folder_;
  mutable std::mutex Lock_;
  std::condition_variable Changed_;
  std::deque<std::vector<uint8_t>> Memory_;
  size_t MemoryFront_ = 0;  // bytes of the first block already taken
  size_t MemoryHeld_ = 0;
  int File_ = -1;
  bool FileUsable_ = true;
  bool SpillAllowed_ = false;
  int64_t FileRead_ = 0, FileEnd_ = 0;  // the file's untaken bytes
  bool Opened_ = false, Finished_ = false, Cancelled_ = false;
  std::optional<std::string> Failure_;
  int32_t Size_ = 0;
  TCDReadReport Report_;
};

// The source of one track's encoder: the track's spool.
class TSpoolInput : public TTrackAudioInput {
 public:
  explicit TSpoolInput(TTrackSpool& Spool, TLoudnessMeter* Meter = nullptr)
      : TTrackAudioInput(Meter), Spool_(Spool) {}
  ~TSpoolInput() override { DetachConsumers(); }

 private:
  // Raises the read's failure when the track could not be opened.
  int32_t OpenAudio() override;
  int ReadAudio(void* Buffer, int BufferSize) override { return Spool_.Read(Buffer, BufferSize); }

  TTrackSpool& Spool_;
};
