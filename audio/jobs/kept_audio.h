// The audio of one read of a track, kept aside while the disc reader decides whether it
// is the audio the track's file should hold: in a file of the output folder that is
// unlinked as soon as it is made, so nothing is left behind even when the program is
// killed, and its room is given back when the last holder lets go.
//
// Keeping is never what fails a read: a file that cannot be made or written (a full
// disk) leaves the audio unusable, and the read goes on for its checksums.
//
// Threads: one thread appends; once it has handed the audio on (under a lock), any one
// thread reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jobs/track_audio_input.h"

class TKeptAudio {
 public:
  explicit TKeptAudio(const std::string& Folder);
  ~TKeptAudio();
  TKeptAudio(const TKeptAudio&) = delete;
  TKeptAudio& operator=(const TKeptAudio&) = delete;

  void Append(const uint8_t* Data, size_t Count);
  // Every byte appended is there to be read.
  bool Usable() const { return File_ >= 0 && Whole_; }
  int64_t Size() const { return Size_; }
  // Copies up to Count bytes from Offset; 0 at the end. Raises EAudioException when the
  // file cannot be read back.
  size_t ReadAt(int64_t Offset, void* Out, size_t Count) const;

 private:
  int File_ = -1;
  bool Whole_ = true;
  int64_t Size_ = 0;
};

// A kept read as the source of an encoder.
class TKeptAudioInput : public TTrackAudioInput {
 public:
  explicit TKeptAudioInput(const TKeptAudio& Audio, TLoudnessMeter* Meter = nullptr)
      : TTrackAudioInput(Meter), Audio_(Audio) {}
  ~TKeptAudioInput() override { DetachConsumers(); }

 private:
  int32_t OpenAudio() override { return static_cast<int32_t>(Audio_.Size()); }
  int ReadAudio(void* Buffer, int BufferSize) override;

  const TKeptAudio& Audio_;
};
