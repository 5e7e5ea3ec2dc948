// Discs for the CD tests, made by the disc-image maker in a folder of their own.
#pragma once

#include <string>

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

}  // namespace korvane::testdiscs
