// An AccurateRip entry made for a test: every audio track of a disc confirmed with the
// sums of its own audio, written where tests/audio/proof/entry_server.py serves it from Root.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "proof/accuraterip.h"
#include "proof/track_checksums.h"

// TrackPcm: each audio track's PCM, in order; Confidences: each one's confidence.
inline void WriteAccurateRipEntry(const std::string& Root, const TDiscToc& Toc,
                                  const std::vector<std::vector<uint8_t>>& TrackPcm,
                                  const std::vector<int>& Confidences) {
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(Toc);
  std::string entry;
  auto put32 = [&entry](uint32_t Value) {
    for (int i = 0; i < 4; ++i) entry += static_cast<char>((Value >> (8 * i)) & 0xFF);
  };
  entry += static_cast<char>(ids.AudioTracks);
  put32(ids.Id1);
  put32(ids.Id2);
  put32(ids.Id3);
  for (size_t i = 0; i < TrackPcm.size(); ++i) {
    TTrackChecksummer sums({TrackPcm[i].size() / 4, i == 0, i + 1 == TrackPcm.size()});
    sums.Add(TrackPcm[i].data(), TrackPcm[i].size());
    entry += static_cast<char>(Confidences[i]);
    put32(sums.Result().AccurateRipV1);
    put32(0);
  }
  const std::filesystem::path served = std::filesystem::path(Root) / AccurateRipPath(ids);
  std::filesystem::create_directories(served.parent_path());
  std::ofstream(served, std::ios::binary) << entry;
}

inline void WriteAccurateRipEntry(const std::string& Root, const TDiscToc& Toc,
                                  const std::vector<std::vector<uint8_t>>& TrackPcm,
                                  int Confidence) {
  WriteAccurateRipEntry(Root, Toc, TrackPcm, std::vector<int>(TrackPcm.size(), Confidence));
}
