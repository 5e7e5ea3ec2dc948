// RIFF WAVE files of the disc-image maker: reading a track's source, writing a header.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::discimage {

constexpr int kWaveHeaderBytes = 44;

// Interleaved stereo samples of a 16-bit PCM WAV file at 44100 Hz; a mono file is
// doubled to both channels. Throws EDiscImageError saying what the file holds instead.
std::vector<int16_t> readWaveFile(const std::string& path);

// The canonical 44-byte header of 16-bit stereo 44100 Hz PCM holding dataBytes.
std::array<uint8_t, kWaveHeaderBytes> waveHeader(uint32_t dataBytes);

}  // namespace korvane::discimage
