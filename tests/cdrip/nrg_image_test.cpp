// Nero .nrg images through the library's C interface: the maker's images in every style
// it writes, and damaged ones, which must be refused with a reason that names the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdrip.h"
#include "disc_fixtures.h"

namespace {

namespace di = korvane::discimage;
namespace td = korvane::testdiscs;
using Bytes = std::vector<uint8_t>;

di::NrgStyle Dao() { return {}; }
di::NrgStyle DaoVersion1() { return {false, true}; }
di::NrgStyle Tao() { return {true, false}; }
di::NrgStyle TaoVersion1() { return {true, true}; }

Bytes RipSectors(int32_t Start, int32_t End) { return td::Rip(Start, End).Bytes; }

using td::LibraryToc;

uint64_t GetBig(const Bytes& Image, size_t At, int Width) {
  uint64_t value = 0;
  for (int i = 0; i < Width; ++i) value = value << 8 | Image.at(At + i);
  return value;
}

void PutBig(Bytes& Image, size_t At, uint64_t Value, int Width) {
  for (int i = Width - 1; i >= 0; --i, Value >>= 8) Image.at(At + i) = uint8_t(Value);
}

// The offset of the first chunk with Id, found from the footer as a reader finds it.
size_t ChunkAt(const Bytes& Image, const char* Id) {
  const bool version2 = std::memcmp(&Image[Image.size() - 12], "NER5", 4) == 0;
  size_t at = version2 ? GetBig(Image, Image.size() - 8, 8) : GetBig(Image, Image.size() - 4, 4);
  while (std::memcmp(&Image.at(at), Id, 4) != 0) at += 8 + GetBig(Image, at + 4, 4);
  return at;
}

// Byte Field of track Track's entry in the version 2 track lists.
size_t DaoField(const Bytes& Image, int Track, size_t Field) {
  return ChunkAt(Image, "DAOX") + 8 + 22 + size_t(Track - 1) * 42 + Field;
}
size_t TaoField(const Bytes& Image, int Track, size_t Field) {
  return ChunkAt(Image, "ETN2") + 8 + size_t(Track - 1) * 32 + Field;
}
constexpr size_t SectorSize = 12, Mode = 14, Index0 = 18, Index1 = 26, End = 34;
constexpr size_t TaoSize = 8, TaoMode = 16, TaoLsn = 20;
// Byte Field of cue point Point in the CUEX chunk (point 0 is the lead-in).
size_t CuePoint(const Bytes& Image, int Point, size_t Field) {
  return ChunkAt(Image, "CUEX") + 8 + size_t(Point) * 8 + Field;
}

// A file of Length bytes: the chunks Chunks from byte Offset on, then a version 2 footer.
Bytes CraftedImage(size_t Length, size_t Offset, const Bytes& Chunks) {
  Bytes image(Length, 0);
  std::copy(Chunks.begin(), Chunks.end(), image.begin() + Offset);
  std::memcpy(&image[Length - 12], "NER5", 4);
  PutBig(image, Length - 8, Offset, 8);
  return image;
}

Bytes ChunkHeader(const char* Id, uint32_t Size) {
  Bytes header(Id, Id + 4);
  header.resize(8);
  PutBig(header, 4, Size, 4);
  return header;
}

class NrgImageTest : public ::testing::Test {
 protected:
  void SetUp() override { CR_Init(nullptr); }
  void TearDown() override { CR_DeInit(); }

  std::string Write(const di::DiscSpec& Disc, const di::NrgStyle& Style,
                    const std::string& Name = "disc.nrg") {
    di::ImageLayout layout;
    layout.sheet = di::SheetKind::Nrg;
    layout.nrg = Style;
    return di::writeDiscImage(Disc, Folder / Name, layout).sheetPath;
  }

  int32_t Add(const std::string& Path) {
    const int32_t drive = CR_AddImageDrive(Path.c_str());
    if (drive >= 0) CR_SetActiveCDROM(drive);
    return drive;
  }

  TTempDir Folder;
};

// ---------------------------------------------------------------------------------
// The maker's images: the table and the bytes of every audio track
// ---------------------------------------------------------------------------------

struct GoodImage {
  const char* Name;
  std::function<di::DiscSpec()> Disc;
  di::NrgStyle Style;
};

void PrintTo(const GoodImage& Case, std::ostream* Out) { *Out << Case.Name; }

class NrgLayoutTest : public NrgImageTest, public ::testing::WithParamInterface<GoodImage> {};

TEST_P(NrgLayoutTest, TableOfContentsAndSessionsAreTheMakersOnes) {
  const di::DiscSpec disc = GetParam().Disc();
  ASSERT_GE(Add(Write(disc, GetParam().Style)), 0);
  const di::DiscToc expected = di::discToc(disc);
  const std::vector<CR_TocEntry> toc = LibraryToc();
  ASSERT_EQ(toc.size(), expected.tracks.size() + 1);
  int32_t lastSession = 0;
  for (size_t i = 0; i < expected.tracks.size(); ++i) {
    SCOPED_TRACE("track " + std::to_string(i + 1));
    EXPECT_EQ(toc[i].StartSector, expected.tracks[i].startLsn);
    EXPECT_EQ(toc[i].Flag, expected.tracks[i].data ? CR_FLAG_DATA : CR_FLAG_AUDIO);
    EXPECT_EQ(toc[i].TrackNumber, expected.tracks[i].number);
    if (i > 0 && expected.tracks[i].session != expected.tracks[i - 1].session)
      lastSession = expected.tracks[i].startLsn;
  }
  EXPECT_EQ(toc.back().StartSector, expected.leadOutLsn);
  int32_t sessionStart = -1;
  ASSERT_EQ(CR_GetLastSessionStart(&sessionStart), 0);
  EXPECT_EQ(sessionStart, lastSession);
}

TEST_P(NrgLayoutTest, EveryAudioTrackRipsExactlyItsPcm) {
  const di::DiscSpec disc = GetParam().Disc();
  ASSERT_GE(Add(Write(disc, GetParam().Style)), 0);
  ASSERT_EQ(CR_ReadToc(), 0);
  for (int t = 1; t <= int(disc.tracks.size()); ++t) {
    if (disc.tracks[size_t(t) - 1].isData()) continue;
    SCOPED_TRACE("track " + std::to_string(t));
    const di::RipRange range = di::ripRange(disc, t);
    EXPECT_TRUE(RipSectors(range.startLsn, range.startLsn + range.sectors) ==
                di::expectedTrackPcm(disc, t));
  }
}

const GoodImage GoodImages[] = {
    {"MultiTrackDao", td::MultiTrackDisc, Dao()},
    {"MultiTrackDaoVersion1", td::MultiTrackDisc, DaoVersion1()},
    {"MultiTrackTao", td::MultiTrackDisc, Tao()},
    {"MultiTrackTaoVersion1", td::MultiTrackDisc, TaoVersion1()},
    {"DataFirstDao", td::DataFirstDisc, Dao()},
    {"DataFirstTaoVersion1", td::DataFirstDisc, TaoVersion1()},
    {"DataLastDao", td::DataLastDisc, Dao()},
    {"DataLastDaoVersion1", td::DataLastDisc, DaoVersion1()},
    {"EnhancedDao", td::EnhancedDisc, Dao()},
    {"EnhancedTao", td::EnhancedDisc, Tao()},
};

INSTANTIATE_TEST_SUITE_P(Styles, NrgLayoutTest, ::testing::ValuesIn(GoodImages),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Only mode 7 in 2352-byte sectors is audio, and only when the cue point does not mark
// the track as data: anything else is shown as data, never ripped as noise.
TEST_F(NrgImageTest, OnlyAudioModeAndAudioControlMakeAnAudioTrack) {
  const struct {
    uint8_t Mode;
    uint8_t Control;
    uint8_t Flag;
  } cases[] = {{0x07, 0x01, CR_FLAG_AUDIO},
               {0x05, 0x01, CR_FLAG_DATA},
               {0x06, 0x01, CR_FLAG_DATA},
               {0x42, 0x01, CR_FLAG_DATA},
               {0x07, 0x41, CR_FLAG_DATA}};
  const Bytes image = ReadWholeFile(Write(td::MultiTrackDisc(), Dao()));
  for (const auto& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.Mode) + ", control " + std::to_string(c.Control));
    Bytes changed = image;
    changed.at(DaoField(changed, 2, Mode)) = c.Mode;
    changed.at(CuePoint(changed, 4, 0)) = c.Control;  // track 2, INDEX 01
    const std::string path =
        Folder / ("mode" + std::to_string(c.Mode) + "-" + std::to_string(c.Control) + ".nrg");
    WriteWholeFile(path, changed);
    ASSERT_GE(Add(path), 0);
    const std::vector<CR_TocEntry> toc = LibraryToc();
    ASSERT_EQ(toc.size(), 6u);
    EXPECT_EQ(toc[1].Flag, c.Flag);
  }
}

// A track-at-once image may leave a pause between tracks: the track starts where its
// entry says, and the pause reads as silence at the end of the track before.
TEST_F(NrgImageTest, PauseBetweenTrackAtOnceTracksReadsAsSilence) {
  const di::DiscSpec disc = td::MultiTrackDisc();
  Bytes image = ReadWholeFile(Write(disc, Tao()));
  for (int t = 2; t <= 5; ++t) {
    const size_t lsn = TaoField(image, t, TaoLsn);
    PutBig(image, lsn, GetBig(image, lsn, 4) + 150, 4);
  }
  WriteWholeFile(Folder / "paused.nrg", image);
  ASSERT_GE(Add(Folder / "paused.nrg"), 0);
  const std::vector<CR_TocEntry> toc = LibraryToc();
  const di::DiscToc expected = di::discToc(disc);
  ASSERT_EQ(toc.size(), 6u);
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(toc[i].StartSector, expected.tracks[i].startLsn + 150);
  EXPECT_EQ(toc[5].StartSector, expected.leadOutLsn + 150);
  Bytes pcm = di::expectedTrackPcm(disc, 1);
  pcm.resize(pcm.size() + 150 * CR_SECTOR_BYTES, 0);
  EXPECT_TRUE(RipSectors(0, toc[1].StartSector) == pcm);
}

// ---------------------------------------------------------------------------------
// Damaged images: refused with the file's name and the reason, nothing read past them
// ---------------------------------------------------------------------------------

struct DamagedImage {
  const char* Name;
  di::NrgStyle Style;
  std::function<void(Bytes&)> Damage;
  const char* Reason;
};

void PrintTo(const DamagedImage& Case, std::ostream* Out) { *Out << Case.Name; }

class DamagedNrgTest : public NrgImageTest, public ::testing::WithParamInterface<DamagedImage> {};

TEST_P(DamagedNrgTest, IsRefusedWithTheFileAndTheReason) {
  Bytes image = ReadWholeFile(Write(td::MultiTrackDisc(), GetParam().Style, "good.nrg"));
  GetParam().Damage(image);
  const std::string path = Folder / "damaged.nrg";
  WriteWholeFile(path, image);
  const int32_t drives = CR_GetNumCDROM();
  EXPECT_EQ(CR_AddImageDrive(path.c_str()), -1);
  EXPECT_EQ(CR_GetNumCDROM(), drives);
  char message[1024] = {};
  CR_GetLastError(message, sizeof message);
  EXPECT_EQ(std::string(message).rfind(path + ": ", 0), 0u) << message;
  EXPECT_NE(std::string(message).find(GetParam().Reason), std::string::npos) << message;
}

void SetDao(Bytes& Image, int Track, size_t Field, uint64_t Value) {
  PutBig(Image, DaoField(Image, Track, Field), Value, Field == SectorSize ? 2 : 8);
}

const DamagedImage DamagedImages[] = {
    {"CueChunkClaimingFourGigabytes", Dao(),
     [](Bytes& i) { i = CraftedImage(150, 0, ChunkHeader("CUEX", 0xFFFFFFFF)); },
     "the chunk CUEX at byte 0 claims 4294967295 bytes, more than the file holds"},
    {"FooterOffsetPastTheEnd", Dao(), [](Bytes& i) { PutBig(i, i.size() - 8, i.size() + 100, 8); },
     "past the end of the file's"},
    {"FooterOffsetNearTwoToThe64", Dao(),
     [](Bytes& i) { PutBig(i, i.size() - 8, ~uint64_t{0} - 4, 8); }, "past the end of the file's"},
    {"Version1FooterOffsetPastTheEnd", DaoVersion1(),
     [](Bytes& i) { PutBig(i, i.size() - 4, 0xFFFFFFFF, 4); }, "past the end of the file's"},
    {"ChunkSizeWrapsWhenAdded", Dao(),
     [](Bytes& i) { PutBig(i, ChunkAt(i, "DAOX") + 4, 0xFFFFFFF8, 4); },
     "claims 4294967288 bytes, more than the file holds"},
    {"TableChunkOfHundredsOfKilobytes", Dao(),
     [](Bytes& i) { i = CraftedImage(300000, 0, ChunkHeader("CUEX", 200000)); },
     "far more than the tables of a CD take"},
    {"EndlessChunks", Dao(),
     [](Bytes& i) {
       Bytes chunks;
       for (int n = 0; n < 2000; ++n) {
         const Bytes empty = ChunkHeader("FREE", 0);
         chunks.insert(chunks.end(), empty.begin(), empty.end());
       }
       i = CraftedImage(chunks.size() + 12, 0, chunks);
     },
     "more than 1024 chunks"},
    {"SessionOfTwoHundredTracks", Dao(),
     [](Bytes& i) { PutBig(i, ChunkAt(i, "SINF") + 8, 200, 4); }, "a session of 200 tracks"},
    {"SessionsHoldFewerTracksThanListed", Dao(),
     [](Bytes& i) { PutBig(i, ChunkAt(i, "SINF") + 8, 4, 4); }, "hold 4 tracks in all"},
    {"TrackBeginsInsideTheOneBefore", Dao(),
     [](Bytes& i) { SetDao(i, 3, Index0, GetBig(i, DaoField(i, 2, Index1), 8)); },
     "before the track before it ends"},
    {"IndexOneBeforeIndexZero", Dao(),
     [](Bytes& i) { SetDao(i, 2, Index1, GetBig(i, DaoField(i, 2, Index0), 8) - 2352); },
     "out of order"},
    {"TrackEndPastTheData", Dao(), [](Bytes& i) { SetDao(i, 5, End, ChunkAt(i, "CUEX") + 2352); },
     "past the end of the track data"},
    {"TrackEndNearTwoToThe64", Dao(), [](Bytes& i) { SetDao(i, 5, End, ~uint64_t{0}); },
     "past the end of the track data"},
    {"PartialSector", Dao(),
     [](Bytes& i) { SetDao(i, 5, End, GetBig(i, DaoField(i, 5, End), 8) - 1); },
     "no whole number of its 2352-byte sectors"},
    {"SectorsOfNoBytes", Dao(), [](Bytes& i) { SetDao(i, 2, SectorSize, 0); },
     "sectors of 0 bytes"},
    {"AudioWithSubchannelData", Dao(), [](Bytes& i) { i.at(DaoField(i, 2, Mode)) = 0x10; },
     "only audio in plain 2352-byte sectors"},
    {"CueTrackNumberNoBcd", Dao(), [](Bytes& i) { i.at(CuePoint(i, 3, 1)) = 0x2F; },
     "no decimal (BCD) numbers"},
    {"CueListsFewerTracks", Dao(), [](Bytes& i) { i.at(CuePoint(i, 4, 2)) = 0x02; },
     "lists 4 tracks, the chunk itself 5"},
    {"TrackNumbersDescend", Dao(), [](Bytes& i) { i.at(CuePoint(i, 6, 1)) = 0x01; }, "must ascend"},
    {"NoTrackList", Dao(), [](Bytes& i) { std::memcpy(&i.at(ChunkAt(i, "DAOX")), "DAOZ", 4); },
     "no track list"},
    {"NoEndChunk", Dao(), [](Bytes& i) { std::memcpy(&i.at(ChunkAt(i, "END!")), "FREE", 4); },
     "without an END! chunk"},
    {"CutInHalf", Dao(), [](Bytes& i) { i.resize(i.size() / 2); }, "does not end in the footer"},
    {"OnlyTheFooterMark", Dao(),
     [](Bytes& i) {
       i = {'N', 'E', 'R', '5'};
     },
     "does not end in the footer"},
    {"EmptyFile", Dao(), [](Bytes& i) { i.clear(); }, "does not end in the footer"},
    {"TaoTrackSizeNearTwoToThe64", Tao(),
     [](Bytes& i) { PutBig(i, TaoField(i, 2, TaoSize), ~uint64_t{0}, 8); },
     "past the end of the track data"},
    {"TaoTrackStartsInsideTheOneBefore", Tao(),
     [](Bytes& i) { PutBig(i, TaoField(i, 3, TaoLsn), 5, 4); }, "inside the track before it"},
    {"TaoUnknownMode", Tao(), [](Bytes& i) { PutBig(i, TaoField(i, 2, TaoMode), 0x42, 4); },
     "unknown mode 66"},
    {"TaoDiscLongerThanACd", Tao(), [](Bytes& i) { PutBig(i, TaoField(i, 5, TaoLsn), 449800, 4); },
     "longer than a CD can hold (99:58:00)"},
};

INSTANTIATE_TEST_SUITE_P(Images, DamagedNrgTest, ::testing::ValuesIn(DamagedImages),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
