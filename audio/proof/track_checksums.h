// The checksums of one track's audio, computed as its PCM goes by: the CRC-32 of the
// bytes (zlib), the two AccurateRip checksums, and the peak level. The audio is 16-bit
// stereo, little-endian; it may come in pieces of any size, a sample pair split across
// two calls included. Not thread-safe: one thread feeds and reads one accumulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TTrackChecksums {
  uint32_t Crc32 = 0;
  uint32_t AccurateRipV1 = 0;
  uint32_t AccurateRipV2 = 0;
  uint32_t Peak = 0;  // the largest |sample| of either channel, 0..32768
};

// Where a track lies on its disc, for the AccurateRip checksums: the first 2940 sample
// pairs of the disc's first audio track and the last 2940 of its last one are left out,
// since drives with different read offsets cannot all read them.
struct TTrackPlace {
  uint64_t SamplePairs = 0;  // the track's length
  bool FirstAudioTrack = false;
  bool LastAudioTrack = false;
};

class TTrackChecksummer {
 public:
  explicit TTrackChecksummer(const TTrackPlace& Place);

  void Add(const void* Bytes, size_t Size);
  // What the audio added so far gives; a byte of an incomplete pair counts only in
  // the CRC-32.
  TTrackChecksums Result() const;

 private:
  void AddPair(uint32_t Pair);

  uint64_t Low_ = 1;   // the first pair number (counting from 1) that the sums take
  uint64_t High_ = 0;  // the last one
  uint64_t Pairs_ = 0;
  uint32_t Crc_ = 0;
  uint32_t SumLow_ = 0;   // Σ low 32 bits of pair · number
  uint32_t SumHigh_ = 0;  // Σ high 32 bits of it
  uint32_t Peak_ = 0;
  uint8_t Partial_[4] = {};  // the bytes of a pair that the next call completes
  size_t PartialBytes_ = 0;
};

// A peak as a share of full scale, one decimal: "100.0", "49.9".
std::string PeakPercentText(uint32_t Peak);
