// The source of a track's encoder when the run holds the track's audio itself (its
// spool as the disc is read, or a read kept aside): the disc's PCM, 16-bit stereo at
// 44.1 kHz. Meter, when given, measures the loudness of what the encoder takes.
// A concrete source says how its audio opens and reads; each calls DetachConsumers in
// its own destructor, while its audio still exists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/audio_classes.h"
#include "outputs/loudness.h"

class TTrackAudioInput : public TAudioInput {
 public:
  explicit TTrackAudioInput(TLoudnessMeter* Meter) : Meter_(Meter) {}

  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  void Open() override {
    if (Busy) throw EAudioException("The component is busy");
    BeginReadPass(OpenAudio());
  }
  int ReadData(void* Buffer, int BufferSize) override {
    if (!Busy) throw EAudioException("The Stream is not opened");
    const int n = ReadAudio(Buffer, BufferSize);
    if (Meter_ && n > 0) Meter_->Add(Buffer, static_cast<size_t>(n));
    Position += n;
    return n;
  }
  void Close() override { Busy = false; }

 protected:
  // The audio's size in bytes; raises when it cannot be read.
  virtual int32_t OpenAudio() = 0;
  // Up to BufferSize bytes of the audio, in order; 0 at its end.
  virtual int ReadAudio(void* Buffer, int BufferSize) = 0;

 private:
  TLoudnessMeter* const Meter_;
};
