#include "lookup/disc_identity.h"

#include <discid/discid.h>

#include <array>
#include <cstdio>
#include <memory>

namespace {

// Sectors before LSN 0: both identities count from the start of the lead-in's end.
constexpr int32_t LeadInSectors = 150;
// Lead-out of the first session, lead-in and pregap of the second.
constexpr int32_t SessionGapSectors = 11400;
constexpr int FramesPerSecond = 75;

struct TDiscIdDeleter {
  void operator()(DiscId* Disc) const { discid_free(Disc); }
};

int DigitSum(int32_t Value) {
  int sum = 0;
  for (; Value > 0; Value /= 10) sum += Value % 10;
  return sum;
}

}  // namespace

TDiscToc DiscTocOf(const std::vector<CR_TocEntry>& Entries, int32_t LastSessionStart) {
  TDiscToc toc;
  toc.LastSessionStart = LastSessionStart;
  for (const CR_TocEntry& entry : Entries) {
    if (entry.TrackNumber == CR_LEADOUT_TRACK) {
      toc.LeadOut = entry.StartSector;
    } else {
      toc.Tracks.push_back({entry.TrackNumber, entry.StartSector, entry.Flag == CR_FLAG_AUDIO});
    }
  }
  return toc;
}

std::string MusicBrainzDiscId(const TDiscToc& Toc) {
  // The audio session ends where the data tracks of a later session begin.
  size_t count = Toc.Tracks.size();
  int32_t leadOut = Toc.LeadOut;
  while (count > 0 && !Toc.Tracks[count - 1].Audio && Toc.LastSessionStart > 0 &&
         Toc.Tracks[count - 1].Start >= Toc.LastSessionStart) {
    leadOut = Toc.Tracks[count - 1].Start - SessionGapSectors;
    --count;
  }
  if (count == 0) return {};
  bool anyAudio = false;
  for (size_t i = 0; i < count; ++i) anyAudio = anyAudio || Toc.Tracks[i].Audio;
  if (!anyAudio) return {};

  const int first = Toc.Tracks.front().Number;
  const int last = Toc.Tracks[count - 1].Number;
  if (first < 1 || last > 99 || last - first + 1 != static_cast<int>(count)) return {};
  // libdiscid's layout: [0] the lead-out, [n] track n's offset.
  std::array<int, 100> offsets{};
  offsets[0] = leadOut + LeadInSectors;
  for (size_t i = 0; i < count; ++i)
    offsets[static_cast<size_t>(Toc.Tracks[i].Number)] = Toc.Tracks[i].Start + LeadInSectors;

  std::unique_ptr<DiscId, TDiscIdDeleter> disc(discid_new());
  if (!disc || !discid_put(disc.get(), first, last, offsets.data())) return {};
  return discid_get_id(disc.get());
}

std::vector<int32_t> FreedbOffsets(const TDiscToc& Toc) {
  std::vector<int32_t> offsets;
  for (const TDiscTocTrack& track : Toc.Tracks) offsets.push_back(track.Start + LeadInSectors);
  return offsets;
}

int32_t FreedbSeconds(const TDiscToc& Toc) {
  return (Toc.LeadOut + LeadInSectors) / FramesPerSecond;
}

std::string FreedbDiscId(const TDiscToc& Toc) {
  if (Toc.Tracks.empty()) return {};
  int checksum = 0;
  for (int32_t offset : FreedbOffsets(Toc)) checksum += DigitSum(offset / FramesPerSecond);
  const int32_t firstSecond = (Toc.Tracks.front().Start + LeadInSectors) / FramesPerSecond;
  const uint32_t length = static_cast<uint32_t>(FreedbSeconds(Toc) - firstSecond);
  const uint32_t id = (static_cast<uint32_t>(checksum % 0xff) << 24) | (length << 8) |
                      static_cast<uint32_t>(Toc.Tracks.size());
  char text[9];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}
