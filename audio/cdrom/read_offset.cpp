#include "cdrom/read_offset.h"

#include <algorithm>

namespace {

constexpr int64_t SectorBytes = 2352;
constexpr int64_t SampleBytes = 4;

}  // namespace

TOffsetRead OffsetRead(int32_t Start, int32_t End, int32_t LeadOut, int32_t OffsetSamples) {
  // The drive's bytes that the range wants, and those the disc has.
  const int64_t first = Start * SectorBytes + OffsetSamples * SampleBytes;
  const int64_t last = End * SectorBytes + OffsetSamples * SampleBytes;
  const int64_t discEnd = std::max<int64_t>(LeadOut, 0) * SectorBytes;
  const int64_t length = std::max<int64_t>(last - first, 0);
  const int64_t readFrom = std::clamp<int64_t>(first, 0, discEnd);
  const int64_t readTo = std::clamp<int64_t>(last, readFrom, discEnd);
  TOffsetRead read;
  read.LeadingSilence = std::min(length, std::max<int64_t>(0, -first));
  read.ReadBytes = readTo - readFrom;
  read.TrailingSilence = length - read.LeadingSilence - read.ReadBytes;
  if (read.ReadBytes > 0) {
    read.FirstSector = static_cast<int32_t>(readFrom / SectorBytes);
    read.EndSector = static_cast<int32_t>((readTo + SectorBytes - 1) / SectorBytes);
    read.SkipBytes = readFrom - read.FirstSector * SectorBytes;
  }
  return read;
}
