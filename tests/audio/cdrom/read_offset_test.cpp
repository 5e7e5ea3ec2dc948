// Where a range's audio lies with the drive's read offset corrected: silence outside
// the disc, whole sectors read, the bytes before the range dropped.
#include "cdrom/read_offset.h"

#include <gtest/gtest.h>

namespace {

struct OffsetCase {
  const char* Name;
  int32_t Start, End, LeadOut, Offset;
  TOffsetRead Expected;
};

const OffsetCase Cases[] = {
    // No offset: the range itself.
    {"None", 10, 20, 100, 0, {0, 10, 20, 0, 23520, 0}},
    // Later samples: the read starts inside sector 10 and runs into sector 20.
    {"Positive", 10, 20, 100, 30, {0, 10, 21, 120, 23520, 0}},
    // Earlier samples: from sector 8, dropping its first 2352 - 2800 % 2352 bytes.
    {"Negative", 10, 20, 100, -700, {0, 8, 19, 1904, 23520, 0}},
    // At the disc's start, the samples before it are silence.
    {"BeforeTheDisc", 0, 5, 100, -100, {400, 0, 5, 0, 11360, 0}},
    // At its end, the samples from the lead-out on are silence.
    {"PastTheDisc", 95, 100, 100, 100, {0, 95, 100, 400, 11360, 400}},
    // A whole sector's worth of offset: just other sectors.
    {"WholeSector", 10, 20, 100, 588, {0, 11, 21, 0, 23520, 0}},
};

class ReadOffset : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(ReadOffset, PlacesTheRangesAudio) {
  const OffsetCase& c = GetParam();
  const TOffsetRead read = OffsetRead(c.Start, c.End, c.LeadOut, c.Offset);
  EXPECT_EQ(read.LeadingSilence, c.Expected.LeadingSilence);
  EXPECT_EQ(read.FirstSector, c.Expected.FirstSector);
  EXPECT_EQ(read.EndSector, c.Expected.EndSector);
  EXPECT_EQ(read.SkipBytes, c.Expected.SkipBytes);
  EXPECT_EQ(read.ReadBytes, c.Expected.ReadBytes);
  EXPECT_EQ(read.TrailingSilence, c.Expected.TrailingSilence);
  EXPECT_EQ(read.LeadingSilence + read.ReadBytes + read.TrailingSilence,
            int64_t{c.End - c.Start} * 2352);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOffset, ::testing::ValuesIn(Cases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
