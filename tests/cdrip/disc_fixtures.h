// Discs for the CD tests, made by the disc-image maker in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdrip.h"
#include "disc_image.h"
#include "temp_dir.h"

namespace korvane::testdiscs {

namespace di = korvane::discimage;

inline di::TrackSpec Track(di::TrackContent Content, int Sectors, int Pregap = 0) {
  di::TrackSpec track;
  track.content = Content;
  track.sectors = Sectors;
  track.pregapSectors = Pregap;
  return track;
}

// Five audio tracks of different content, two with a pregap, lengths that are no
// multiple of a chunk, and a ramp whose every sample tells its position.
inline di::DiscSpec MultiTrackDisc() {
  di::DiscSpec disc;
  disc.seed = 7;
  disc.tracks = {Track(di::TrackContent::Ramp, 160), Track(di::TrackContent::Music, 203, 37),
                 Track(di::TrackContent::Noise, 75), Track(di::TrackContent::Chord, 151, 150),
                 Track(di::TrackContent::Ramp, 89)};
  return disc;
}

// Three audio tracks, then a data track alone in a second session.
inline di::DiscSpec EnhancedDisc() {
  di::DiscSpec disc;
  disc.seed = 11;
  disc.enhanced = true;
  disc.tracks = {Track(di::TrackContent::Ramp, 120), Track(di::TrackContent::Tone, 97, 20),
                 Track(di::TrackContent::Noise, 130), Track(di::TrackContent::Data, 300)};
  return disc;
}

// A mixed-mode disc: the data track first, audio after it.
inline di::DiscSpec DataFirstDisc() {
  di::DiscSpec disc;
  disc.seed = 3;
  disc.tracks = {Track(di::TrackContent::Data, 200), Track(di::TrackContent::Ramp, 110, 150),
                 Track(di::TrackContent::Music, 90)};
  return disc;
}

// Audio first, a data track last in the same session.
inline di::DiscSpec DataLastDisc() {
  di::DiscSpec disc;
  disc.seed = 5;
  disc.tracks = {Track(di::TrackContent::Ramp, 100), Track(di::TrackContent::Chord, 80, 10),
                 Track(di::TrackContent::Data, 120, 150)};
  return disc;
}

inline di::ImageLayout Layout(di::SheetKind Sheet, di::AudioFileKind Files, bool FilePerTrack,
                              const std::string& BinName = std::string()) {
  di::ImageLayout layout;
  layout.sheet = Sheet;
  layout.audioFiles = Files;
  layout.filePerTrack = FilePerTrack;
  layout.binName = BinName;
  return layout;
}

// ---------------------------------------------------------------------------------
// Reading through the library's C interface
// ---------------------------------------------------------------------------------

struct RipResult {
  std::vector<uint8_t> Bytes;
  std::vector<int32_t> Chunks;
};

// Rips sectors Start .. End - 1 of the active drive, chunk after chunk, then asks once
// more to see that an exhausted range stays exhausted.
inline RipResult Rip(int32_t Start, int32_t End, int32_t BufferSize = CR_MAX_CHUNK_BYTES) {
  RipResult result;
  int32_t size = BufferSize;
  if (CR_OpenRipper(&size, Start, End) != 0) return result;
  std::vector<uint8_t> buffer(static_cast<size_t>(BufferSize));
  for (;;) {
    int32_t count = -1;
    int32_t abort = 0;
    CR_RipChunk(buffer.data(), &count, &abort);
    if (count <= 0) break;
    result.Chunks.push_back(count);
    result.Bytes.insert(result.Bytes.end(), buffer.begin(), buffer.begin() + count);
  }
  int32_t count = -1;
  int32_t abort = 0;
  CR_RipChunk(buffer.data(), &count, &abort);
  EXPECT_EQ(count, 0) << "a range, once exhausted, delivers nothing more";
  CR_CloseRipper();
  return result;
}

inline std::vector<CR_TocEntry> LibraryToc() {
  std::vector<CR_TocEntry> entries;
  if (CR_ReadToc() != 0) return entries;
  for (int32_t i = 0; i <= CR_GetNumTocEntries(); ++i) entries.push_back(CR_GetTocEntry(i));
  return entries;
}

}  // namespace korvane::testdiscs
