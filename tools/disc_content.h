// The bytes of a disc, sector by sector: generated audio, WAV audio and data sectors.
//
// Every sample is a pure function of its position (no state carried from one call to
// the next), so any range rendered alone equals the same range inside a larger render:
// the expected PCM of a track and the bytes written to the files always agree.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "disc_image.h"

namespace korvane::discimage {

// Where a track lies in the disc's data, in image sectors.
struct TrackPlacement {
  int64_t firstSector = 0;  // INDEX 00 (or INDEX 01 without a pregap)
  int64_t index01 = 0;
  int64_t endSector = 0;  // one past the last sector
  int32_t lsnOffset = 0;  // LSN minus image sector: the session gap for a second session
};

std::vector<TrackPlacement> placeTracks(const DiscSpec& disc);

// One track's content, addressed by sector within the track (0 = its first sector).
class TrackRenderer {
 public:
  virtual ~TrackRenderer() = default;
  // Writes count × kSectorBytes bytes in disc order (16-bit little-endian samples).
  virtual void render(int64_t firstSector, int count, uint8_t* out) const = 0;
};

class DiscContent {
 public:
  explicit DiscContent(const DiscSpec& disc);
  ~DiscContent();
  DiscContent(const DiscContent&) = delete;
  DiscContent& operator=(const DiscContent&) = delete;

  const std::vector<TrackPlacement>& placements() const { return placements_; }
  int64_t totalSectors() const;
  // Renders image sectors [firstSector, firstSector + count), across track boundaries.
  void render(int64_t firstSector, int64_t count, uint8_t* out) const;

 private:
  std::vector<TrackPlacement> placements_;
  std::vector<std::unique_ptr<TrackRenderer>> renderers_;
};

}  // namespace korvane::discimage
