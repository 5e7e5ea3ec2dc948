// Reading back .wav files: header fields and the samples of a PCM file we wrote, and
// sox as the independent decoder of any .wav file (IMA ADPCM included).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_run.h"
#include "temp_dir.h"

inline uint32_t Field32(const std::vector<uint8_t>& File, size_t Offset) {
  return File[Offset] | (File[Offset + 1] << 8) | (File[Offset + 2] << 16) |
         (static_cast<uint32_t>(File[Offset + 3]) << 24);
}

inline uint16_t Field16(const std::vector<uint8_t>& File, size_t Offset) {
  return static_cast<uint16_t>(File[Offset] | (File[Offset + 1] << 8));
}

inline std::vector<int16_t> AsSamples(const std::vector<uint8_t>& Bytes) {
  std::vector<int16_t> samples(Bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(Bytes[2 * i] | (Bytes[2 * i + 1] << 8));
  return samples;
}

// The samples of a PCM .wav file we wrote: what follows its 44-byte header.
inline std::vector<uint8_t> PcmOfWav(const std::string& Wav) {
  const std::vector<uint8_t> bytes = ReadWholeFile(Wav);
  if (bytes.size() < 44) return {};
  return std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
}

// Decodes a .wav file with sox to interleaved 16-bit samples; empty when sox fails.
inline std::vector<int16_t> DecodeWithSox(const std::string& Wav) {
  return AsSamples(CommandBytes("sox -V1 '" + Wav + "' -t raw -e signed-integer -b 16 -L -"));
}
