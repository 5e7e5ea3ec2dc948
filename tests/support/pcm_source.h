// A source that serves PCM held in memory, in any format, with its size known or not,
// and that can fail part of the way like a drive that goes away. Test data for the
// outputs: generated signals go in, decoders check what comes out.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/audio_classes.h"

class TPcmMemoryInput : public TAudioInput {
 public:
  // Bytes: the raw little-endian sample stream. StageSize: bytes served per refill.
  TPcmMemoryInput(std::vector<uint8_t> Bytes, int Channels, int BitsPerSample = 16,
                  int SampleRate = 44100, bool SizeKnown = true, int StageSize = 6000)
      : Bytes_(std::move(Bytes)),
        Channels_(Channels),
        Bits_(BitsPerSample),
        Rate_(SampleRate),
        SizeKnown_(SizeKnown),
        StageSize_(StageSize) {}
  ~TPcmMemoryInput() override { DetachConsumers(); }

  int GetBitsPerSample() override { return Bits_; }
  int GetChannels() override { return Channels_; }
  int GetSampleRate() override { return Rate_; }
  void Open() override {
    if (Busy) throw EAudioException("The component is busy");
    if (FailOpen) throw EAudioException(OpenFailure);
    Served_ = 0;
    BeginReadPass(SizeKnown_ ? static_cast<int32_t>(Bytes_.size()) : -1);
  }
  void Close() override { Busy = false; }
  // Serves at most StageSize bytes a call, like a source refilling a staging buffer.
  int ReadData(void* Buffer, int BufferSize) override {
    if (!Busy) throw EAudioException("The Stream is not opened");
    if (FailAt >= 0 && Position >= FailAt) throw EAudioException(ReadFailure);
    const size_t left = Bytes_.size() - Served_;
    const int n = static_cast<int>(
        std::min<size_t>({static_cast<size_t>(BufferSize), static_cast<size_t>(StageSize_), left}));
    std::memcpy(Buffer, Bytes_.data() + Served_, static_cast<size_t>(n));
    Served_ += n;
    Position += n;
    return n;
  }

  const std::vector<uint8_t>& Bytes() const { return Bytes_; }

  // Opening fails, as a drive without a disc does.
  bool FailOpen = false;
  static constexpr const char* OpenFailure = "The drive is not ready";
  // Reading fails once this many bytes were served (-1: never).
  int32_t FailAt = -1;
  static constexpr const char* ReadFailure = "The source could not be read.";

 private:
  std::vector<uint8_t> Bytes_;
  int Channels_, Bits_, Rate_;
  bool SizeKnown_;
  int StageSize_;
  size_t Served_ = 0;
};

// Generated 16-bit signals, interleaved, as little-endian bytes.
namespace TestSignal {

inline void Append16(std::vector<uint8_t>& Out, int Sample) {
  const auto value = static_cast<uint16_t>(static_cast<int16_t>(Sample));
  Out.push_back(static_cast<uint8_t>(value & 0xFF));
  Out.push_back(static_cast<uint8_t>(value >> 8));
}

// A sine per channel (Hz; 0 = silence on that channel) at Amplitude (of 32767).
inline std::vector<uint8_t> Sine16(int Frames, const std::vector<double>& Hz,
                                   double Amplitude = 0.5, int Rate = 44100) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(Frames) * Hz.size() * 2);
  const double twoPi = 6.283185307179586;
  for (int i = 0; i < Frames; ++i)
    for (double f : Hz)
      Append16(out,
               static_cast<int>(std::lround(Amplitude * 32767.0 * std::sin(twoPi * f * i / Rate))));
  return out;
}

// Deterministic white noise, all channels independent.
inline std::vector<uint8_t> Noise16(int Frames, int Channels, uint32_t Seed = 1, int Peak = 20000) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(Frames) * Channels * 2);
  uint32_t state = Seed;
  for (int i = 0; i < Frames * Channels; ++i) {
    state = state * 1664525u + 1013904223u;
    Append16(out, static_cast<int>((state >> 16) % (2 * Peak + 1)) - Peak);
  }
  return out;
}

}  // namespace TestSignal
