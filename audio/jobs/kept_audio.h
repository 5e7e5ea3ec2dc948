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

#include "core/audio_classes.h"
#include "outputs/loudness.h"

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

// A kept read as the source of an encoder (16-bit stereo at 44.1 kHz, as the disc's).
// Meter, when given, measures the loudness of what the encoder takes.
class TKeptAudioInput : public TAudioInput {
 public:
  explicit TKeptAudioInput(const TKeptAudio& Audio, TLoudnessMeter* Meter = nullptr)
      : Audio_(Audio), Meter_(Meter) {}
  ~TKeptAudioInput() override { DetachConsumers(); }

  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  void Open() override;
  int ReadData(void* Buffer, int BufferSize) override;
  void Close() override { Busy = false; }

 private:
  const TKeptAudio& Audio_;
  TLoudnessMeter* const Meter_;
};
