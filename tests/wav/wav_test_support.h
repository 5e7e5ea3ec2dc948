// Helpers of the WAV tests: header fields, sox as the independent decoder, and the
// samples an IMA ADPCM decoder must reconstruct from our encoder's choices.
#pragma once

#include <string>
#include <vector>

#include "audio_wave.h"
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

// Decodes a .wav file with sox to interleaved 16-bit samples.
inline std::vector<int16_t> DecodeWithSox(const TTempDir& Dir, const std::string& Wav) {
  const std::string raw = Dir / "sox-decoded.raw";
  const std::string command = "sox -V1 '" + Wav + "' -t raw -e signed-integer -b 16 -L '" + raw + "'";
  if (!RunCommand(command)) return {};
  return AsSamples(ReadWholeFile(raw));
}

// What a decoder reconstructs from our blocks: per block the first frame as it is,
// then each frame as the encoder's state after coding it. Samples are interleaved;
// step indexes carry from block to block, starting at 0.
inline std::vector<int16_t> PredictIMADecode(const std::vector<int16_t>& Samples, int Channels,
                                             int BlockSize) {
  const int perBlock = IMASamplesPerBlock(Channels, BlockSize);
  const size_t frames = Samples.size() / Channels;
  const size_t blocks = frames / perBlock + 1;
  std::vector<int16_t> padded(Samples);
  padded.resize(blocks * perBlock * Channels, 0);
  std::vector<int16_t> out;
  TIMAChannelState states[2];
  for (size_t b = 0; b < blocks; ++b) {
    const size_t first = b * perBlock * Channels;
    for (int c = 0; c < Channels; ++c) {
      states[c].Predictor = padded[first + c];
      out.push_back(padded[first + c]);
    }
    for (int f = 1; f < perBlock; ++f)
      for (int c = 0; c < Channels; ++c)
        out.push_back(static_cast<int16_t>(
            (IMAEncodeSample(states[c], padded[first + f * Channels + c]), states[c].Predictor)));
  }
  return out;
}
