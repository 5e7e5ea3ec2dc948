#include "proof/accuraterip.h"

#include <algorithm>
#include <cstdio>

#include "lookup/disc_lookup.h"
#include "lookup/lookup_http.h"

namespace {

constexpr size_t HeaderBytes = 13;
constexpr size_t TrackBytes = 9;

uint32_t LittleEndian32(const std::string& Bytes, size_t At) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(Bytes[At + i]);
  return value;
}

// A web page (a proxy's or a captive portal's, an error page) where an entry belongs: an
// entry starts with its track count, never with '<'.
bool LooksLikeText(const std::string& Bytes) {
  const size_t first = Bytes.find_first_not_of(" \t\r\n");
  return first != std::string::npos && Bytes[first] == '<';
}

}  // namespace

TAccurateRipDiscIds AccurateRipDiscIdsOf(const TDiscToc& Toc) {
  TAccurateRipDiscIds ids;
  uint32_t k = 0;
  for (const TDiscTocTrack& track : Toc.Tracks) {
    if (!track.Audio) continue;
    const auto start = static_cast<uint32_t>(track.Start);
    ++k;
    ids.Id1 += start;
    ids.Id2 += std::max<uint32_t>(start, 1) * k;
  }
  const auto leadOut = static_cast<uint32_t>(Toc.LeadOut);
  ids.AudioTracks = static_cast<int>(k);
  ids.Id1 += leadOut;
  ids.Id2 += std::max<uint32_t>(leadOut, 1) * (k + 1);
  const std::string freedb = FreedbDiscId(Toc);
  ids.Id3 = freedb.empty() ? 0 : static_cast<uint32_t>(std::stoul(freedb, nullptr, 16));
  return ids;
}

std::string AccurateRipPath(const TAccurateRipDiscIds& Ids) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", Ids.Id1);
  char path[96];
  std::snprintf(path, sizeof path, "%c/%c/%c/dBAR-%03d-%08x-%08x-%08x.bin", hex[7], hex[6], hex[5],
                Ids.AudioTracks, Ids.Id1, Ids.Id2, Ids.Id3);
  return path;
}

std::vector<TAccurateRipPressing> ParseAccurateRipEntry(const std::string& Bytes,
                                                        const TAccurateRipDiscIds& Ids) {
  if (LooksLikeText(Bytes))
    throw ELookupError("AccurateRip sent a page that is not an AccurateRip answer");
  std::vector<TAccurateRipPressing> pressings;
  for (size_t at = 0; at < Bytes.size();) {
    // Stray bytes after whole blocks leave the blocks as they are.
    if (!pressings.empty() &&
        Bytes.size() - at < HeaderBytes + TrackBytes * static_cast<size_t>(Ids.AudioTracks))
      break;
    if (Bytes.size() - at < HeaderBytes)
      throw ELookupError("AccurateRip sent an entry that is cut short");
    const int tracks = static_cast<uint8_t>(Bytes[at]);
    if (tracks != Ids.AudioTracks || LittleEndian32(Bytes, at + 1) != Ids.Id1 ||
        LittleEndian32(Bytes, at + 5) != Ids.Id2 || LittleEndian32(Bytes, at + 9) != Ids.Id3)
      throw ELookupError("AccurateRip sent an entry for another disc");
    at += HeaderBytes;
    if (Bytes.size() - at < TrackBytes * static_cast<size_t>(tracks))
      throw ELookupError("AccurateRip sent an entry that is cut short");
    TAccurateRipPressing pressing;
    for (int t = 0; t < tracks; ++t, at += TrackBytes)
      pressing.Tracks.push_back({static_cast<uint8_t>(Bytes[at]), LittleEndian32(Bytes, at + 1),
                                 LittleEndian32(Bytes, at + 5)});
    pressings.push_back(std::move(pressing));
  }
  return pressings;
}

std::optional<std::vector<TAccurateRipPressing>> LookupAccurateRip(
    const TDiscToc& Toc, const TAccurateRipSettings& Settings) {
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(Toc);
  if (ids.AudioTracks == 0) return std::nullopt;
  THttpRequest request;
  request.Service = "AccurateRip";
  std::string root = Settings.Url;
  while (!root.empty() && root.back() == '/') root.pop_back();
  request.Url = root + "/" + AccurateRipPath(ids);
  request.UserAgent = Settings.UserAgent;
  request.TimeLimit = Settings.TimeLimit;
  request.ConnectLimit = Settings.ConnectLimit;
  request.Cancel = Settings.Cancel;
  const THttpReply reply = HttpGet(request);
  if (reply.Status == 404) return std::nullopt;
  if (reply.Status != 200)
    throw ELookupError("AccurateRip answered with HTTP status " + std::to_string(reply.Status));
  return ParseAccurateRipEntry(reply.Body, ids);
}

TAccurateRipLookup LookupAccurateRipKept(const TDiscToc& Toc,
                                         const TAccurateRipSettings& Settings) {
  TAccurateRipLookup lookup;
  try {
    lookup.Pressings = LookupAccurateRip(Toc, Settings);
  } catch (const std::exception& e) {
    lookup.Failure = TProblem(e.what());
  }
  return lookup;
}

std::string TAccurateRipResult::Text() const {
  switch (Verdict) {
    case TAccurateRipVerdict::Accurate:
      return "accurately ripped (confidence " + std::to_string(Confidence) + ", v" +
             std::to_string(Version) + ")";
    case TAccurateRipVerdict::NotAccurate: return "not accurate";
    case TAccurateRipVerdict::Silent: return "cannot be checked: the track is silent";
    case TAccurateRipVerdict::NotInDatabase: break;
  }
  return "not in the database";
}

TAccurateRipResult AccurateRipVerdict(
    const std::optional<std::vector<TAccurateRipPressing>>& Pressings, int AudioTrack, uint32_t V1,
    uint32_t V2) {
  TAccurateRipResult result;
  if (!Pressings || AudioTrack < 0) return result;
  bool known = false;
  for (const TAccurateRipPressing& pressing : *Pressings) {
    if (static_cast<size_t>(AudioTrack) >= pressing.Tracks.size()) continue;
    const TAccurateRipEntry& entry = pressing.Tracks[AudioTrack];
    // An empty slot: no rip of this track in this pressing.
    if (entry.Confidence == 0 || entry.Crc == 0) continue;
    known = true;
    const int version = entry.Crc == V2 ? 2 : entry.Crc == V1 ? 1 : 0;
    if (version == 0 || entry.Confidence < result.Confidence) continue;
    if (entry.Confidence == result.Confidence && version < result.Version) continue;
    result.Verdict = TAccurateRipVerdict::Accurate;
    result.Confidence = entry.Confidence;
    result.Version = version;
  }
  // Silent audio sums to 0, which no slot holds: where the database has sums of the
  // track, the track is not silent, and the rip is not accurate.
  if (known && result.Verdict != TAccurateRipVerdict::Accurate)
    result.Verdict = TAccurateRipVerdict::NotAccurate;
  else if (!known && V1 == 0 && V2 == 0)
    result.Verdict = TAccurateRipVerdict::Silent;
  return result;
}
