// The checksums of a track: the AccurateRip sums against vectors that two independent
// computations agree on, the CRC-32 against Python's zlib.crc32 of the same bytes, and
// the same results whatever pieces the audio comes in.
#include "proof/track_checksums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace {

// 500 sectors of pairs w[i] = (7i & 0xFFFF) | ((13i + 1) & 0xFFFF) << 16, little-endian.
constexpr uint64_t VectorPairs = 294000;

std::vector<uint8_t> VectorBytes() {
  std::vector<uint8_t> bytes;
  bytes.reserve(VectorPairs * 4);
  for (uint64_t i = 0; i < VectorPairs; ++i) {
    const auto w = static_cast<uint32_t>((7 * i & 0xFFFF) | ((13 * i + 1) & 0xFFFF) << 16);
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(w >> 8 * b));
  }
  return bytes;
}

struct TVectorCase {
  const char* Name;
  bool First;
  bool Last;
  uint32_t V1;
  uint32_t V2;
};

void PrintTo(const TVectorCase& Case, std::ostream* Out) { *Out << Case.Name; }

class AccurateRipVector : public testing::TestWithParam<TVectorCase> {};

TEST_P(AccurateRipVector, SumsMatch) {
  const TVectorCase& c = GetParam();
  const std::vector<uint8_t> bytes = VectorBytes();
  TTrackChecksummer sums({VectorPairs, c.First, c.Last});
  sums.Add(bytes.data(), bytes.size());
  const TTrackChecksums result = sums.Result();
  EXPECT_EQ(result.AccurateRipV1, c.V1);
  EXPECT_EQ(result.AccurateRipV2, c.V2);
  EXPECT_EQ(result.Crc32, 0x0f9c5492u);  // zlib.crc32 of the bytes
  EXPECT_EQ(result.Peak, 32768u);        // the left channel reaches 0x8000
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, AccurateRipVector,
    testing::Values(TVectorCase{"OnlyTrack", true, true, 0xf8892d74, 0xe5997b49},
                    TVectorCase{"FirstOfSeveral", true, false, 0xc688e268, 0xcc309e4c},
                    TVectorCase{"Middle", false, false, 0xf8733850, 0xfe348bc7},
                    TVectorCase{"Last", false, true, 0x2a73835c, 0x179d68c4}),
    [](const testing::TestParamInfo<TVectorCase>& Info) { return Info.param.Name; });

// Pieces of odd sizes split pairs and samples between calls.
TEST(TrackChecksums, PiecesOfAnySizeGiveTheSameResult) {
  const std::vector<uint8_t> bytes = VectorBytes();
  TTrackChecksummer whole({VectorPairs, true, false});
  whole.Add(bytes.data(), bytes.size());
  for (size_t piece : {1u, 3u, 5u, 4099u}) {
    TTrackChecksummer split({VectorPairs, true, false});
    for (size_t at = 0; at < bytes.size(); at += piece)
      split.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
    const TTrackChecksums a = whole.Result(), b = split.Result();
    EXPECT_EQ(b.Crc32, a.Crc32) << piece;
    EXPECT_EQ(b.AccurateRipV1, a.AccurateRipV1) << piece;
    EXPECT_EQ(b.AccurateRipV2, a.AccurateRipV2) << piece;
    EXPECT_EQ(b.Peak, a.Peak) << piece;
  }
}

TEST(TrackChecksums, CrcOfTheCheckString) {
  TTrackChecksummer sums({0, false, false});
  sums.Add("123456789", 9);
  EXPECT_EQ(sums.Result().Crc32, 0xcbf43926u);
}

struct TPeakCase {
  uint16_t Left;
  uint16_t Right;
  uint32_t Peak;
  const char* Percent;
};

TEST(TrackChecksums, PeakIsTheLargestMagnitudeOfEitherChannel) {
  for (const TPeakCase& c :
       {TPeakCase{0, 0, 0, "0.0"}, TPeakCase{0xFFFF, 0, 1, "0.0"},
        TPeakCase{0, 0x7FFF, 32767, "100.0"}, TPeakCase{0x8000, 0x0001, 32768, "100.0"},
        TPeakCase{0xC000, 0x1000, 16384, "50.0"}}) {
    const uint8_t pair[4] = {static_cast<uint8_t>(c.Left), static_cast<uint8_t>(c.Left >> 8),
                             static_cast<uint8_t>(c.Right), static_cast<uint8_t>(c.Right >> 8)};
    TTrackChecksummer sums({1, false, false});
    sums.Add(pair, sizeof pair);
    EXPECT_EQ(sums.Result().Peak, c.Peak) << c.Left << " " << c.Right;
    EXPECT_EQ(PeakPercentText(c.Peak), c.Percent);
  }
}

}  // namespace
