// An independent reader of disc images, for checking what the disc-image maker wrote:
// cue sheets through libcue (with the sessions of "REM SESSION" lines). It gives what a
// CD library should make of the image.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "disc_image.h"

namespace korvane::readback {

constexpr int64_t kSector = 2352;
constexpr int32_t kGapBeforeSecondSession = 6750 + 4500 + 150;

struct ReadBack {
  std::vector<discimage::TocTrack> tracks;
  int32_t leadOut = 0;
  std::vector<uint8_t> image;  // the sectors of the files in order, as little-endian PCM
  int64_t secondSessionStart = -1;

  // From INDEX 01 to the next INDEX 01 in the same session, else to the session's end.
  std::vector<uint8_t> rip(int number) const;
};

// Failures to read are reported as GoogleTest failures.
ReadBack readCueImage(const std::filesystem::path& cue);

std::vector<uint8_t> canonicalWaveHeader(uint32_t dataBytes);

}  // namespace korvane::readback
