#include "wave_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "byte_order.h"
#include "disc_image.h"

namespace korvane::discimage {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

struct WaveFormat {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw EDiscImageError(path + ": " + what);
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, std::string("cannot open the WAV file (") + std::strerror(errno) + ")");
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void checkFormat(const std::string& path, const WaveFormat& format) {
  if (format.tag != kFormatPcm) {
    fail(path, "the WAV file is not plain PCM (format tag " + std::to_string(format.tag) +
                   "); convert it to 16-bit PCM at 44100 Hz first, e.g. with sox");
  }
  if (format.bits != 16 || format.rate != uint32_t(kSampleRate) || format.channels < 1 ||
      format.channels > 2) {
    fail(path,
         "the WAV file holds " + std::to_string(format.bits) + "-bit, " +
             std::to_string(format.rate) + " Hz, " + std::to_string(format.channels) +
             " channel(s); a CD track needs 16-bit PCM at 44100 Hz, mono or stereo (convert it "
             "first, e.g. with sox)");
  }
}

WaveFormat parseFormat(const std::string& path, const uint8_t* chunk, uint32_t size) {
  if (size < 16) fail(path, "the WAV file's fmt chunk is too short");
  WaveFormat format;
  format.tag = GetLe16(chunk);
  format.channels = GetLe16(chunk + 2);
  format.rate = GetLe32(chunk + 4);
  format.bits = GetLe16(chunk + 14);
  if (format.tag == kFormatExtensible && size >= 26)
    format.tag = GetLe16(chunk + 24);  // sub-format
  return format;
}

std::vector<int16_t> decodeSamples(const uint8_t* data, size_t bytes, int channels) {
  const size_t frames = bytes / (2 * size_t(channels));
  std::vector<int16_t> samples(frames * 2);
  for (size_t frame = 0; frame < frames; ++frame) {
    const uint8_t* in = data + frame * 2 * size_t(channels);
    const int16_t left = int16_t(GetLe16(in));
    samples[2 * frame] = left;
    samples[2 * frame + 1] = channels == 2 ? int16_t(GetLe16(in + 2)) : left;
  }
  return samples;
}

}  // namespace

std::vector<int16_t> readWaveFile(const std::string& path) {
  const std::vector<uint8_t> file = readWholeFile(path);
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    fail(path, "not a RIFF WAVE file");
  }
  WaveFormat format;
  bool haveFormat = false;
  size_t offset = 12;
  while (offset + 8 <= file.size()) {
    const uint8_t* header = file.data() + offset;
    const size_t available = file.size() - offset - 8;
    const size_t size = std::min<size_t>(GetLe32(header + 4), available);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      format = parseFormat(path, header + 8, uint32_t(size));
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (!haveFormat) fail(path, "the WAV file has its data before its fmt chunk");
      checkFormat(path, format);
      return decodeSamples(header + 8, size, format.channels);
    }
    offset += 8 + size + (size & 1);
  }
  fail(path, haveFormat ? "the WAV file has no data chunk" : "the WAV file has no fmt chunk");
}

std::array<uint8_t, kWaveHeaderBytes> waveHeader(uint32_t dataBytes) {
  std::array<uint8_t, kWaveHeaderBytes> header{};
  std::memcpy(header.data(), "RIFF", 4);
  PutLe32(header.data() + 4, 36 + dataBytes);
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  PutLe32(header.data() + 16, 16);
  PutLe16(header.data() + 20, kFormatPcm);
  PutLe16(header.data() + 22, 2);
  PutLe32(header.data() + 24, kSampleRate);
  PutLe32(header.data() + 28, kSampleRate * 4);
  PutLe16(header.data() + 32, 4);
  PutLe16(header.data() + 34, 16);
  std::memcpy(header.data() + 36, "data", 4);
  PutLe32(header.data() + 40, dataBytes);
  return header;
}

}  // namespace korvane::discimage
