// The disc-image maker's library: sheet texts, the files, and the TOC and PCM it promises,
// checked against cue sheets read back with libcue. (The CD library's tests read the
// maker's .toc images with the library's own reader.)
#include "disc_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "image_readback.h"
#include "temp_dir.h"

namespace di = korvane::discimage;
namespace fs = std::filesystem;
using korvane::readback::kSector;

namespace {

di::TrackSpec makeTrack(di::TrackContent content, int sectors, int pregap = 0) {
  di::TrackSpec track;
  track.content = content;
  track.sectors = sectors;
  track.pregapSectors = pregap;
  return track;
}

enum class Shape { DataLast, Enhanced, DataFirst };

// Pregaps before audio and data tracks, a music track between ramps, a data track.
di::DiscSpec sampleDisc(Shape shape) {
  using C = di::TrackContent;
  di::DiscSpec disc;
  disc.seed = 9;
  switch (shape) {
    case Shape::DataLast:
      disc.tracks = {makeTrack(C::Ramp, 100), makeTrack(C::Ramp, 50, 20), makeTrack(C::Music, 80),
                     makeTrack(C::Data, 40, 30)};
      break;
    case Shape::Enhanced:
      disc.enhanced = true;
      disc.tracks = {makeTrack(C::Ramp, 100), makeTrack(C::Ramp, 50, 20), makeTrack(C::Music, 80),
                     makeTrack(C::Data, 40)};
      break;
    case Shape::DataFirst:
      disc.tracks = {makeTrack(C::Data, 40), makeTrack(C::Ramp, 100, 15),
                     makeTrack(C::Ramp, 50, 20), makeTrack(C::Noise, 80)};
      break;
  }
  return disc;
}

di::ImageLayout layoutOf(di::SheetKind sheet, di::AudioFileKind files, bool perTrack,
                         const char* binName = "") {
  di::ImageLayout layout;
  layout.sheet = sheet;
  layout.audioFiles = files;
  layout.filePerTrack = perTrack;
  layout.binName = binName;
  return layout;
}

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& test) {
  return test.param.name;
}

// "" when equal, else where the first difference lies.
std::string firstDifference(const std::vector<uint8_t>& actual,
                            const std::vector<uint8_t>& expected) {
  const auto mismatch =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  if (mismatch.first == actual.end() && mismatch.second == expected.end()) return "";
  const auto at = mismatch.first - actual.begin();
  std::ostringstream text;
  text << actual.size() << " bytes against " << expected.size()
       << " expected; first difference at byte " << at << " (sector " << at / kSector << ")";
  return text.str();
}

int64_t discSectors(const di::DiscSpec& disc) {
  int64_t sectors = 0;
  for (const di::TrackSpec& track : disc.tracks) sectors += track.sectors + track.pregapSectors;
  return sectors;
}

// ---------------------------------------------------------------------------------
// Sheet texts

struct SheetCase {
  const char* name;
  Shape shape;
  di::ImageLayout layout;
  const char* sheetPath;
  const char* text;
};

void PrintTo(const SheetCase& test, std::ostream* out) { *out << test.name; }

class SheetTextTest : public ::testing::TestWithParam<SheetCase> {};

TEST_P(SheetTextTest, NamesTheFilesTracksAndIndexes) {
  const SheetCase& sheet = GetParam();
  EXPECT_EQ(di::sheetText(sampleDisc(sheet.shape), sheet.sheetPath, sheet.layout), sheet.text);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SheetTextTest,
    ::testing::Values(
        SheetCase{"OneBinaryWithPregaps", Shape::DataLast,
                  layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, false),
                  "/images/disc.cue",
                  "FILE \"disc.bin\" BINARY\n"
                  "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                  "  TRACK 02 AUDIO\n    INDEX 00 00:01:25\n    INDEX 01 00:01:45\n"
                  "  TRACK 03 AUDIO\n    INDEX 01 00:02:20\n"
                  "  TRACK 04 MODE1/2352\n    INDEX 00 00:03:25\n    INDEX 01 00:03:55\n"},
        SheetCase{
            "MotorolaOfAnotherName", Shape::DataLast,
            layoutOf(di::SheetKind::Cue, di::AudioFileKind::Motorola, false, "Artist - Album.bin"),
            "/images/disc.cue",
            "FILE \"Artist - Album.bin\" MOTOROLA\n"
            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 00 00:01:25\n    INDEX 01 00:01:45\n"
            "  TRACK 03 AUDIO\n    INDEX 01 00:02:20\n"
            "  TRACK 04 MODE1/2352\n    INDEX 00 00:03:25\n    INDEX 01 00:03:55\n"},
        SheetCase{"EnhancedOneFile", Shape::Enhanced,
                  layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, false),
                  "/images/disc.cue",
                  "REM SESSION 01\nFILE \"disc.bin\" BINARY\n"
                  "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                  "  TRACK 02 AUDIO\n    INDEX 00 00:01:25\n    INDEX 01 00:01:45\n"
                  "  TRACK 03 AUDIO\n    INDEX 01 00:02:20\n"
                  "REM SESSION 02\n  TRACK 04 MODE1/2352\n    INDEX 01 00:03:25\n"},
        SheetCase{
            "EnhancedFilePerTrack", Shape::Enhanced,
            layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, true), "/images/disc.cue",
            "REM SESSION 01\n"
            "FILE \"disc-track01.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"disc-track02.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX "
            "01 00:00:20\n"
            "FILE \"disc-track03.bin\" BINARY\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n"
            "REM SESSION 02\n"
            "FILE \"disc-track04.bin\" BINARY\n  TRACK 04 MODE1/2352\n    INDEX 01 00:00:00\n"},
        SheetCase{"WavePerTrackDataFirst", Shape::DataFirst,
                  layoutOf(di::SheetKind::Cue, di::AudioFileKind::Wave, true), "/images/disc.cue",
                  "FILE \"disc-track01.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                  "FILE \"disc-track02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    "
                  "INDEX 01 00:00:15\n"
                  "FILE \"disc-track03.wav\" WAVE\n  TRACK 03 AUDIO\n    INDEX 00 00:00:00\n    "
                  "INDEX 01 00:00:20\n"
                  "FILE \"disc-track04.wav\" WAVE\n  TRACK 04 AUDIO\n    INDEX 01 00:00:00\n"},
        SheetCase{
            "CdrdaoToc", Shape::DataLast,
            layoutOf(di::SheetKind::Toc, di::AudioFileKind::Binary, false), "/images/disc.toc",
            "CD_ROM\n\n// Track 1\nTRACK AUDIO\nFILE \"disc.bin\" SWAP 00:00:00 00:01:25\n"
            "\n// Track 2\nTRACK AUDIO\nFILE \"disc.bin\" SWAP 00:01:25 00:00:70\nSTART 00:00:20\n"
            "\n// Track 3\nTRACK AUDIO\nFILE \"disc.bin\" SWAP 00:02:20 00:01:05\n"
            "\n// Track 4\nTRACK MODE1_RAW\nDATAFILE \"disc.bin\" #588000 00:00:70\nSTART "
            "00:00:30\n"},
        SheetCase{"CdrdaoTocWavePerTrack", Shape::DataFirst,
                  layoutOf(di::SheetKind::Toc, di::AudioFileKind::Wave, true), "/images/disc.toc",
                  "CD_ROM\n\n// Track 1\nTRACK MODE1_RAW\nDATAFILE \"disc-track01.bin\"\n"
                  "\n// Track 2\nTRACK AUDIO\nFILE \"disc-track02.wav\" 00:00:00\nSTART 00:00:15\n"
                  "\n// Track 3\nTRACK AUDIO\nFILE \"disc-track03.wav\" 00:00:00\nSTART 00:00:20\n"
                  "\n// Track 4\nTRACK AUDIO\nFILE \"disc-track04.wav\" 00:00:00\n"},
        SheetCase{
            "CdrdaoTocMotorola", Shape::DataLast,
            layoutOf(di::SheetKind::Toc, di::AudioFileKind::Motorola, false, "back\\slash.bin"),
            "/images/disc.toc",
            "CD_ROM\n\n// Track 1\nTRACK AUDIO\nFILE \"back\\\\slash.bin\" 00:00:00 00:01:25\n"
            "\n// Track 2\nTRACK AUDIO\nFILE \"back\\\\slash.bin\" 00:01:25 00:00:70\nSTART "
            "00:00:20\n"
            "\n// Track 3\nTRACK AUDIO\nFILE \"back\\\\slash.bin\" 00:02:20 00:01:05\n"
            "\n// Track 4\nTRACK MODE1_RAW\nDATAFILE \"back\\\\slash.bin\" #588000 00:00:70\nSTART "
            "00:00:30\n"}),
    caseName<SheetCase>);

// ---------------------------------------------------------------------------------
// Files read back

struct ImageCase {
  const char* name;
  Shape shape;
  di::ImageLayout layout;
};

void PrintTo(const ImageCase& test, std::ostream* out) { *out << test.name; }

class ImageReadBackTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageReadBackTest, FilesHoldTheTocAndThePcmOfEveryAudioTrack) {
  const di::DiscSpec disc = sampleDisc(GetParam().shape);
  const di::ImageLayout& layout = GetParam().layout;
  TTempDir dir;
  const std::string sheet = dir / "disc.cue";
  const di::WrittenImage written = di::writeDiscImage(disc, sheet, layout);

  const bool wave = layout.audioFiles == di::AudioFileKind::Wave;
  if (written.dataFiles.size() == 1) {
    EXPECT_EQ(int64_t(fs::file_size(written.dataFiles[0])), discSectors(disc) * kSector);
  } else {
    ASSERT_EQ(written.dataFiles.size(), disc.tracks.size());
    for (size_t i = 0; i < disc.tracks.size(); ++i) {
      const int64_t header = wave && !disc.tracks[i].isData() ? 44 : 0;
      EXPECT_EQ(int64_t(fs::file_size(written.dataFiles[i])),
                (disc.tracks[i].sectors + disc.tracks[i].pregapSectors) * kSector + header)
          << written.dataFiles[i];
    }
  }

  const korvane::readback::ReadBack back = korvane::readback::readCueImage(sheet);
  const di::DiscToc expected = di::discToc(disc);
  ASSERT_EQ(back.tracks.size(), expected.tracks.size());
  EXPECT_EQ(back.leadOut, expected.leadOutLsn);
  for (size_t i = 0; i < expected.tracks.size(); ++i) {
    EXPECT_EQ(back.tracks[i].startLsn, expected.tracks[i].startLsn) << "track " << i + 1;
    EXPECT_EQ(back.tracks[i].data, expected.tracks[i].data) << "track " << i + 1;
    if (expected.tracks[i].data) continue;
    const int number = int(i) + 1;
    EXPECT_EQ(firstDifference(back.rip(number), di::expectedTrackPcm(disc, number)), "")
        << "track " << number;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ImageReadBackTest,
    ::testing::Values(ImageCase{"DataLastOneBinary", Shape::DataLast,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
                      ImageCase{"DataLastMotorola", Shape::DataLast,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Motorola, false)},
                      ImageCase{"DataLastOtherBinName", Shape::DataLast,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, false,
                                         "Some Album.bin")},
                      ImageCase{"EnhancedOneBinary", Shape::Enhanced,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
                      ImageCase{"EnhancedMotorolaPerTrack", Shape::Enhanced,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Motorola, true)},
                      ImageCase{"DataFirstWave", Shape::DataFirst,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
                      ImageCase{"DataFirstBinaryPerTrack", Shape::DataFirst,
                                layoutOf(di::SheetKind::Cue, di::AudioFileKind::Binary, true)}),
    caseName<ImageCase>);

// ---------------------------------------------------------------------------------
// TOC numbers and rip ranges, spelled out

TEST(DiscTocTest, SecondSessionStartsAfterTheGapAndTheLastAudioTrackEndsWithItsAudio) {
  const di::DiscSpec disc = sampleDisc(Shape::Enhanced);
  const di::DiscToc toc = di::discToc(disc);
  ASSERT_EQ(toc.tracks.size(), 4u);
  EXPECT_EQ(toc.tracks[1].startLsn, 120);
  EXPECT_EQ(toc.tracks[3].startLsn, 250 + 11400);
  EXPECT_EQ(toc.tracks[3].session, 2);
  EXPECT_EQ(toc.leadOutLsn, 250 + 11400 + 40);
  EXPECT_EQ(di::ripRange(disc, 1).sectors, 120);  // with track 2's pregap
  EXPECT_EQ(di::ripRange(disc, 3).sectors, 80);   // not into the gap before the data
  EXPECT_THROW(di::ripRange(disc, 4), di::EDiscImageError);
}

TEST(DiscTocTest, InOneSessionARipTakesInTheNextTracksPregapEvenBeforeData) {
  const di::DiscSpec disc = sampleDisc(Shape::DataLast);
  EXPECT_EQ(di::ripRange(disc, 3).startLsn, 170);
  EXPECT_EQ(di::ripRange(disc, 3).sectors, 80 + 30);
  EXPECT_EQ(di::discToc(disc).leadOutLsn, 320);
}

// ---------------------------------------------------------------------------------
// Content

TEST(DiscContentTest, RampFramesAreAllDistinctAcrossTheDisc) {
  di::DiscSpec disc;
  disc.tracks = {makeTrack(di::TrackContent::Ramp, 300), makeTrack(di::TrackContent::Ramp, 250, 75),
                 makeTrack(di::TrackContent::Ramp, 200, 40)};
  std::vector<uint32_t> frames;
  for (int number = 1; number <= 3; ++number) {
    const std::vector<uint8_t> pcm = di::expectedTrackPcm(disc, number);
    for (size_t i = 0; i < pcm.size(); i += 4) {
      uint32_t frame;
      std::memcpy(&frame, &pcm[i], 4);
      frames.push_back(frame);
    }
  }
  EXPECT_EQ(frames.size(), size_t(300 + 325 + 240) * 588);
  std::sort(frames.begin(), frames.end());
  EXPECT_TRUE(std::adjacent_find(frames.begin(), frames.end()) == frames.end());
}

TEST(DiscContentTest, SameSeedSameBytesOtherSeedOtherBytes) {
  using C = di::TrackContent;
  di::DiscSpec disc;
  disc.tracks = {makeTrack(C::Noise, 30), makeTrack(C::Music, 40, 10), makeTrack(C::Data, 20, 5)};
  TTempDir dir;
  auto imageWithSeed = [&](uint32_t seed, const char* name) {
    disc.seed = seed;
    di::writeDiscImage(disc, dir / name);
    return ReadWholeFile(dir / (std::string(name, std::strlen(name) - 4) + ".bin"));
  };
  const std::vector<uint8_t> first = imageWithSeed(1, "a.cue");
  const std::vector<uint8_t> again = imageWithSeed(1, "b.cue");
  const std::vector<uint8_t> other = imageWithSeed(2, "c.cue");
  EXPECT_EQ(firstDifference(again, first), "");
  // Every generated part depends on the seed: noise, music, data.
  for (const auto& [begin, end] :
       std::vector<std::pair<int64_t, int64_t>>{{0, 30}, {40, 80}, {85, 105}}) {
    EXPECT_FALSE(std::equal(first.begin() + begin * kSector, first.begin() + end * kSector,
                            other.begin() + begin * kSector))
        << "sectors " << begin << " to " << end;
  }
}

TEST(DiscContentTest, MusicIsAudibleNeverClipsAndStartsAndEndsSoftly) {
  di::DiscSpec disc;
  disc.tracks.assign(3, makeTrack(di::TrackContent::Music, 5 * 75));
  std::vector<uint64_t> checksums;
  for (int number = 1; number <= 3; ++number) {
    const std::vector<uint8_t> pcm = di::expectedTrackPcm(disc, number);
    std::vector<int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), pcm.size());
    int peak = 0;
    double energy = 0;
    for (int16_t sample : samples) {
      peak = std::max(peak, std::abs(int(sample)));
      energy += double(sample) * sample;
    }
    EXPECT_LT(peak, 32000) << "track " << number;
    EXPECT_GT(std::sqrt(energy / double(samples.size())), 1000.0) << "track " << number;
    EXPECT_LT(std::abs(samples.front()) + std::abs(samples[1]), 200) << "track " << number;
    EXPECT_LT(std::abs(samples.back()) + std::abs(samples[samples.size() - 2]), 200)
        << "track " << number;
    checksums.push_back(di::fnv1a64(pcm.data(), pcm.size()));
  }
  std::sort(checksums.begin(), checksums.end());
  EXPECT_TRUE(std::adjacent_find(checksums.begin(), checksums.end()) == checksums.end());
}

TEST(DiscContentTest, WaveTrackHoldsTheFilesSamplesPaddedToAWholeSector) {
  TTempDir dir;
  std::vector<uint8_t> wav = korvane::readback::canonicalWaveHeader(1000 * 2);
  wav[22] = 1, wav[28] = uint8_t(88200 & 0xFF), wav[29] = uint8_t(88200 >> 8), wav[30] = 1,
  wav[32] = 2;  // mono
  for (int i = 0; i < 1000; ++i)
    wav.push_back(uint8_t(i * 7)), wav.push_back(uint8_t((i * 7) >> 8));
  WriteWholeFile(dir / "mono.wav", wav);

  di::DiscSpec disc;
  disc.tracks = {di::loadWaveTrack(dir / "mono.wav")};
  ASSERT_EQ(disc.tracks[0].sectors, 2);
  const std::vector<uint8_t> pcm = di::expectedTrackPcm(disc, 1);
  ASSERT_EQ(pcm.size(), size_t(2 * kSector));
  for (int frame = 0; frame < 2 * 588; ++frame) {
    const int16_t expected = frame < 1000 ? int16_t(frame * 7) : 0;
    int16_t left, right;
    std::memcpy(&left, &pcm[size_t(frame) * 4], 2);
    std::memcpy(&right, &pcm[size_t(frame) * 4 + 2], 2);
    ASSERT_EQ(left, expected) << "frame " << frame;
    ASSERT_EQ(right, expected) << "frame " << frame;
  }

  wav[34] = 8;  // 8-bit samples: refused, saying what the file holds
  WriteWholeFile(dir / "eight.wav", wav);
  try {
    di::loadWaveTrack(dir / "eight.wav");
    FAIL() << "an 8-bit WAV file was accepted";
  } catch (const di::EDiscImageError& error) {
    EXPECT_NE(std::string(error.what()).find("8-bit"), std::string::npos) << error.what();
  }
}

// ---------------------------------------------------------------------------------
// Refusals

struct RefusalCase {
  const char* name;
  std::function<void(di::DiscSpec&, di::ImageLayout&)> change;
  const char* message;
};

void PrintTo(const RefusalCase& test, std::ostream* out) { *out << test.name; }

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, SaysWhatIsWrong) {
  di::DiscSpec disc = sampleDisc(Shape::DataLast);
  di::ImageLayout layout;
  GetParam().change(disc, layout);
  try {
    di::sheetText(disc, "/images/disc.cue", layout);
    FAIL() << "accepted";
  } catch (const di::EDiscImageError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos)
        << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Discs, RefusalTest,
    ::testing::Values(
        RefusalCase{"HundredTracks",
                    [](di::DiscSpec& d, di::ImageLayout&) { d.tracks.resize(100, d.tracks[0]); },
                    "1 to 99 tracks"},
        RefusalCase{"PregapOfTrackOne",
                    [](di::DiscSpec& d, di::ImageLayout&) { d.tracks[0].pregapSectors = 1; },
                    "track 01 cannot have a pregap"},
        RefusalCase{"EmptyTrack",
                    [](di::DiscSpec& d, di::ImageLayout&) { d.tracks[2].sectors = 0; },
                    "track 03 has no sectors"},
        RefusalCase{"EnhancedWithAPregapBeforeData",
                    [](di::DiscSpec& d, di::ImageLayout&) { d.enhanced = true; },
                    "second session has no pregap"},
        RefusalCase{
            "EnhancedWithoutData",
            [](di::DiscSpec& d, di::ImageLayout&) { d.enhanced = true, d.tracks.pop_back(); },
            "followed by one data track"},
        RefusalCase{"LongerThanADisc",
                    [](di::DiscSpec& d, di::ImageLayout&) { d.tracks[0].sectors = 449800; },
                    "99:59:74"},
        RefusalCase{"TocEnhanced",
                    [](di::DiscSpec& d, di::ImageLayout& l) {
                      l.sheet = di::SheetKind::Toc, d.enhanced = true,
                      d.tracks.back().pregapSectors = 0;
                    },
                    "second session"}),
    caseName<RefusalCase>);

TEST(DiscLimitsTest, NinetyNineTracksAreAccepted) {
  di::DiscSpec disc;
  disc.tracks.assign(99, makeTrack(di::TrackContent::Ramp, 1));
  EXPECT_EQ(di::discToc(disc).tracks.back().number, 99);
  EXPECT_NE(
      di::sheetText(disc, "/images/disc.cue", {}).find("  TRACK 99 AUDIO\n    INDEX 01 00:01:23\n"),
      std::string::npos);
}

}  // namespace
