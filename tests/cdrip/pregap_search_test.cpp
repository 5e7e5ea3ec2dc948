// The pre-gap search over a scripted Q sub-channel: the edges of what it searches.
#include <gtest/gtest.h>

#include "drive_pregaps.h"

namespace {

using cdrip::QPosition;

struct TModelTrack {
  int32_t Start;   // INDEX 01
  int32_t Pregap;  // sectors of INDEX 00 before it
};

struct TPregapCase {
  const char* Name;
  std::vector<TModelTrack> Tracks;
  int32_t LeadOut;
  std::vector<int32_t> Expected;  // per track; -1: not known
};

void PrintTo(const TPregapCase& Case, std::ostream* Out) { *Out << Case.Name; }

// A sound sub-channel: each sector's own place, its track and index by the model.
std::vector<QPosition> ModelQ(const TPregapCase& Case, int32_t Lsn, int32_t Count) {
  std::vector<QPosition> read;
  for (int32_t lsn = Lsn; lsn < Lsn + Count; ++lsn) {
    size_t track = 0;
    while (track + 1 < Case.Tracks.size() &&
           lsn >= Case.Tracks[track + 1].Start - Case.Tracks[track + 1].Pregap)
      ++track;
    read.push_back({lsn, static_cast<int>(track + 1), lsn < Case.Tracks[track].Start ? 0 : 1, lsn});
  }
  return read;
}

const TPregapCase Cases[] = {
    {"TheLongestSearched", {{0, 0}, {5000, 2250}}, 9000, {0, 2250}},
    {"LongerThanSearched", {{0, 0}, {5000, 2251}}, 9000, {0, -1}},
    {"OneSectorTrack", {{0, 0}, {3000, 150}, {3001, 0}}, 6000, {0, 150, 0}},
};

class PregapSearch : public ::testing::TestWithParam<TPregapCase> {};

TEST_P(PregapSearch, FindsEachPregapItSearches) {
  const TPregapCase& model = GetParam();
  cdrip::Toc contents;
  for (size_t i = 0; i < model.Tracks.size(); ++i)
    contents.Tracks.push_back({model.Tracks[i].Start, 0x10, static_cast<uint8_t>(i + 1), 0, -1});
  contents.LeadOut = model.LeadOut;
  cdrip::LearnPregaps(contents, [&](int32_t Lsn, int32_t Count) {
    EXPECT_GE(Lsn, -150);
    return ModelQ(model, Lsn, Count);
  });
  std::vector<int32_t> found;
  for (const cdrip::TrackEntry& track : contents.Tracks) found.push_back(track.Pregap);
  EXPECT_EQ(found, model.Expected);
}

INSTANTIATE_TEST_SUITE_P(Discs, PregapSearch, ::testing::ValuesIn(Cases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
