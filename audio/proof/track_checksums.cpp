#include "proof/track_checksums.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Sample pairs that the AccurateRip sums leave out at the disc's start and end:
// five sectors' worth.
constexpr uint64_t EdgePairs = 2940;

uint32_t Magnitude(uint16_t Sample) {
  return static_cast<uint32_t>(std::abs(static_cast<int>(static_cast<int16_t>(Sample))));
}

}  // namespace

TTrackChecksummer::TTrackChecksummer(const TTrackPlace& Place)
    : Low_(Place.FirstAudioTrack ? EdgePairs : 1),
      High_(Place.LastAudioTrack
                ? (Place.SamplePairs > EdgePairs ? Place.SamplePairs - EdgePairs : 0)
                : Place.SamplePairs),
      Crc_(static_cast<uint32_t>(crc32(0, Z_NULL, 0))) {}

void TTrackChecksummer::Add(const void* Bytes, size_t Size) {
  const auto* data = static_cast<const uint8_t*>(Bytes);
  // zlib takes its length as uInt; feed it in pieces that fit.
  for (size_t done = 0; done < Size;) {
    const size_t piece = std::min<size_t>(Size - done, 1u << 30);
    Crc_ = static_cast<uint32_t>(crc32(Crc_, data + done, static_cast<uInt>(piece)));
    done += piece;
  }
  size_t at = 0;
  while (PartialBytes_ > 0 && PartialBytes_ < 4 && at < Size)
    Partial_[PartialBytes_++] = data[at++];
  if (PartialBytes_ == 4) {
    AddPair(Partial_[0] | Partial_[1] << 8 | Partial_[2] << 16 |
            static_cast<uint32_t>(Partial_[3]) << 24);
    PartialBytes_ = 0;
  }
  for (; at + 4 <= Size; at += 4)
    AddPair(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
            static_cast<uint32_t>(data[at + 3]) << 24);
  while (at < Size) Partial_[PartialBytes_++] = data[at++];
}

void TTrackChecksummer::AddPair(uint32_t Pair) {
  const uint64_t number = ++Pairs_;
  if (number >= Low_ && number <= High_) {
    const uint64_t product = static_cast<uint64_t>(Pair) * number;
    SumLow_ += static_cast<uint32_t>(product);
    SumHigh_ += static_cast<uint32_t>(product >> 32);
  }
  const uint32_t left = Magnitude(static_cast<uint16_t>(Pair));
  const uint32_t right = Magnitude(static_cast<uint16_t>(Pair >> 16));
  Peak_ = std::max({Peak_, left, right});
}

TTrackChecksums TTrackChecksummer::Result() const {
  TTrackChecksums result;
  result.Crc32 = Crc_;
  result.AccurateRipV1 = SumLow_;
  result.AccurateRipV2 = SumLow_ + SumHigh_;
  result.Peak = Peak_;
  return result;
}

std::string PeakPercentText(uint32_t Peak) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(Peak) * 100.0 / 32768.0);
  return text;
}
