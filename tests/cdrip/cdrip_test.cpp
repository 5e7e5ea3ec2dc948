// The CD ripping library's C interface, on disc images made by the disc-image maker.
#include "cdrip.h"

#include <discid/discid.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "disc_fixtures.h"

namespace {

namespace di = korvane::discimage;
using korvane::testdiscs::Layout;
using korvane::testdiscs::LibraryToc;
using korvane::testdiscs::Rip;
using korvane::testdiscs::RipResult;

std::vector<uint8_t> ReadFile(const std::string& Path) {
  std::ifstream file(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

void WriteBytes(const std::string& Path, const uint8_t* Bytes, size_t Count) {
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(Bytes), static_cast<std::streamsize>(Count));
}

class CdRipTest : public ::testing::Test {
 protected:
  // Images are read ahead like drives here, so every range goes through the library's
  // reading thread.
  void SetUp() override {
    ::setenv("KORVANE_CDRIP_READ_AHEAD", "all", 1);
    CR_Init(nullptr);
  }
  void TearDown() override { CR_DeInit(); }

  // Writes Disc as Layout and adds it as the active drive.
  int32_t AddDisc(const di::DiscSpec& Disc, const di::ImageLayout& Layout,
                  const std::string& Name = "disc") {
    const std::string sheet =
        Folder / (Name + (Layout.sheet == di::SheetKind::Toc ? ".toc" : ".cue"));
    Written = di::writeDiscImage(Disc, sheet, Layout);
    const int32_t drive = CR_AddImageDrive(sheet.c_str());
    if (drive >= 0) CR_SetActiveCDROM(drive);
    return drive;
  }

  TTempDir Folder;
  di::WrittenImage Written;
};

// ---------------------------------------------------------------------------------
// Every layout the maker writes: the table and the bytes of every audio track
// ---------------------------------------------------------------------------------

struct ImageCase {
  const char* Name;
  std::function<di::DiscSpec()> Disc;
  di::ImageLayout Layout;
};

void PrintTo(const ImageCase& Case, std::ostream* Out) { *Out << Case.Name; }

class ImageLayoutTest : public CdRipTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ImageLayoutTest, TableOfContentsIsTheMakersOne) {
  const di::DiscSpec disc = GetParam().Disc();
  ASSERT_GE(AddDisc(disc, GetParam().Layout), 0);
  const di::DiscToc expected = di::discToc(disc);
  const std::vector<CR_TocEntry> toc = LibraryToc();
  ASSERT_EQ(CR_GetNumTocEntries(), static_cast<int32_t>(expected.tracks.size()));
  ASSERT_EQ(toc.size(), expected.tracks.size() + 1);
  for (size_t i = 0; i < expected.tracks.size(); ++i) {
    SCOPED_TRACE("track " + std::to_string(i + 1));
    EXPECT_EQ(toc[i].StartSector, expected.tracks[i].startLsn);
    EXPECT_EQ(toc[i].Flag, expected.tracks[i].data ? CR_FLAG_DATA : CR_FLAG_AUDIO);
    EXPECT_EQ(toc[i].TrackNumber, expected.tracks[i].number);
  }
  EXPECT_EQ(toc.back().StartSector, expected.leadOutLsn);
  EXPECT_EQ(toc.back().TrackNumber, CR_LEADOUT_TRACK);
}

TEST_P(ImageLayoutTest, EveryAudioTrackRipsExactlyItsPcm) {
  const di::DiscSpec disc = GetParam().Disc();
  ASSERT_GE(AddDisc(disc, GetParam().Layout), 0);
  ASSERT_EQ(CR_ReadToc(), 0);
  for (size_t t = 1; t <= disc.tracks.size(); ++t) {
    if (disc.tracks[t - 1].isData()) continue;
    SCOPED_TRACE("track " + std::to_string(t));
    const di::RipRange range = di::ripRange(disc, static_cast<int>(t));
    const RipResult ripped = Rip(range.startLsn, range.startLsn + range.sectors);
    EXPECT_TRUE(ripped.Bytes == di::expectedTrackPcm(disc, static_cast<int>(t)));
    ASSERT_FALSE(ripped.Chunks.empty());
    // Full chunks of 75 sectors, the rest in the last one.
    for (size_t c = 0; c + 1 < ripped.Chunks.size(); ++c)
      EXPECT_EQ(ripped.Chunks[c], CR_MAX_CHUNK_BYTES);
    EXPECT_LE(ripped.Chunks.back(), CR_MAX_CHUNK_BYTES);
  }
}

const ImageCase ImageCases[] = {
    {"MultiTrackSingleBinary", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"MultiTrackBinaryPerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, true)},
    {"MultiTrackWavePerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
    {"MultiTrackMotorola", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Motorola, false)},
    {"MultiTrackMotorolaPerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Motorola, true)},
    {"MultiTrackBinOfAnotherName", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false, "Artist - Album.bin")},
    {"MultiTrackCdrdaoToc", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, false)},
    {"MultiTrackTocBinaryPerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, true)},
    {"MultiTrackTocWavePerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Wave, true)},
    {"MultiTrackTocMotorola", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Motorola, false)},
    {"EnhancedSingleBinary", korvane::testdiscs::EnhancedDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"EnhancedWavePerTrack", korvane::testdiscs::EnhancedDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
    {"DataFirstSingleBinary", korvane::testdiscs::DataFirstDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"DataFirstBinaryPerTrack", korvane::testdiscs::DataFirstDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, true)},
    {"DataFirstCdrdaoToc", korvane::testdiscs::DataFirstDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, false)},
    {"DataFirstTocWavePerTrack", korvane::testdiscs::DataFirstDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Wave, true)},
    {"DataLastSingleBinary", korvane::testdiscs::DataLastDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"DataLastCdrdaoToc", korvane::testdiscs::DataLastDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, false)},
    {"DataLastTocMotorolaPerTrack", korvane::testdiscs::DataLastDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Motorola, true)},
};

INSTANTIATE_TEST_SUITE_P(Layouts, ImageLayoutTest, ::testing::ValuesIn(ImageCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------
// Ranges and chunks
// ---------------------------------------------------------------------------------

class RangeTest : public CdRipTest {
 protected:
  void SetUp() override {
    CdRipTest::SetUp();
    ASSERT_GE(AddDisc(Disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)), 0);
    ASSERT_EQ(CR_ReadToc(), 0);
    // The whole image: on this disc every sector is audio, disc order = file order.
    Image = ReadFile(Written.dataFiles.front());
    LeadOut = CR_GetTocEntry(CR_GetNumTocEntries()).StartSector;
  }

  std::vector<uint8_t> Sectors(int32_t First, int32_t Count) const {
    const auto begin = Image.begin() + static_cast<std::ptrdiff_t>(First) * CR_SECTOR_BYTES;
    return std::vector<uint8_t>(begin,
                                begin + static_cast<std::ptrdiff_t>(Count) * CR_SECTOR_BYTES);
  }

  di::DiscSpec Disc = korvane::testdiscs::MultiTrackDisc();
  std::vector<uint8_t> Image;
  int32_t LeadOut = 0;
};

TEST_F(RangeTest, SmallerBufferGivesSmallerChunksWithoutLosingSectors) {
  // Room for 5 sectors and a bit: chunks of 5 sectors, never more than the buffer.
  const int32_t buffer = 5 * CR_SECTOR_BYTES + 100;
  const RipResult ripped = Rip(3, 3 + 77, buffer);
  EXPECT_TRUE(ripped.Bytes == Sectors(3, 77));
  for (int32_t chunk : ripped.Chunks) EXPECT_LE(chunk, buffer);
  EXPECT_EQ(ripped.Chunks.size(), 16u);
}

TEST_F(RangeTest, ChunkSizeIsReportedBack) {
  CR_ReadReport report{1, 1, 1, 0};
  EXPECT_EQ(CR_GetReadReport(&report), -1) << "no range opened yet";
  int32_t size = 5 * CR_SECTOR_BYTES + 100;
  ASSERT_EQ(CR_OpenRipper(&size, 0, 10), 0);
  EXPECT_EQ(size, 5 * CR_SECTOR_BYTES);
  size = 1 << 20;
  ASSERT_EQ(CR_OpenRipper(&size, 0, 10), 0);
  EXPECT_EQ(size, CR_MAX_CHUNK_BYTES);
  size = CR_SECTOR_BYTES - 1;
  EXPECT_EQ(CR_OpenRipper(&size, 0, 10), -1) << "a buffer must hold one sector";
  CR_CloseRipper();
  EXPECT_EQ(CR_GetReadReport(&report), -1) << "the last open failed";
}

// An image reads without re-reads; the report of a range outlives its ripper.
TEST_F(RangeTest, AnImagesReadReportIsClean) {
  EXPECT_TRUE(Rip(0, 100).Bytes == Sectors(0, 100));
  CR_ReadReport report{1, 1, 1, 1};
  ASSERT_EQ(CR_GetReadReport(&report), 0);
  EXPECT_EQ(report.Rereads + report.Corrections + report.Skips + report.Reserved, 0);
}

TEST_F(RangeTest, RangeEndIsRespectedAndBoundedByTheLeadOut) {
  EXPECT_TRUE(Rip(LeadOut - 200, LeadOut - 123).Bytes == Sectors(LeadOut - 200, 77));
  // Asked past the lead-out, the ripper stops at it.
  EXPECT_TRUE(Rip(LeadOut - 80, LeadOut + 500).Bytes == Sectors(LeadOut - 80, 80));
  EXPECT_TRUE(Rip(LeadOut, LeadOut + 10).Bytes.empty());
  EXPECT_TRUE(Rip(10, 10).Bytes.empty());
}

TEST_F(RangeTest, AbortEndsTheRange) {
  int32_t size = CR_MAX_CHUNK_BYTES;
  ASSERT_EQ(CR_OpenRipper(&size, 0, 300), 0);
  std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
  int32_t count = -1;
  int32_t abort = 1;
  CR_RipChunk(buffer.data(), &count, &abort);
  EXPECT_EQ(count, 0);
  abort = 0;
  CR_RipChunk(buffer.data(), &count, &abort);
  EXPECT_EQ(count, 0) << "nothing is read after an abort";
  CR_CloseRipper();
  CR_RipChunk(buffer.data(), &count, &abort);
  EXPECT_EQ(count, 0) << "nothing to read after the ripper was closed";
}

TEST_F(CdRipTest, SessionGapOfAnEnhancedCdReadsAsSilence) {
  const di::DiscSpec disc = korvane::testdiscs::EnhancedDisc();
  ASSERT_GE(AddDisc(disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)), 0);
  const std::vector<CR_TocEntry> toc = LibraryToc();
  ASSERT_EQ(toc.size(), 5u);
  const di::RipRange lastAudio = di::ripRange(disc, 3);
  const int32_t audioEnd = lastAudio.startLsn + lastAudio.sectors;
  EXPECT_EQ(toc[3].StartSector - audioEnd, 11400);
  const RipResult gap = Rip(audioEnd, toc[3].StartSector);
  ASSERT_EQ(gap.Bytes.size(), size_t{11400} * CR_SECTOR_BYTES);
  EXPECT_TRUE(std::all_of(gap.Bytes.begin(), gap.Bytes.end(), [](uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------------------------
// Cue sheets written by hand over the maker's files
// ---------------------------------------------------------------------------------

class HandWrittenSheetTest : public CdRipTest {
 protected:
  void SetUp() override {
    CdRipTest::SetUp();
    // The reference: the maker's own sheet over one file.
    ASSERT_GE(
        AddDisc(Disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false), "reference"),
        0);
    Reference = LibraryToc();
    ASSERT_EQ(Reference.size(), Disc.tracks.size() + 1);
    Bin = Written.dataFiles.front();
  }

  // Adds the sheet Text as the active drive and returns its table.
  std::vector<CR_TocEntry> TocOfSheet(const std::string& Name, const std::string& Text) {
    WriteFile(Folder / Name, Text);
    const int32_t drive = CR_AddImageDrive((Folder / Name).c_str());
    EXPECT_GE(drive, 0) << Text;
    if (drive < 0) return {};
    CR_SetActiveCDROM(drive);
    return LibraryToc();
  }

  di::DiscSpec Disc = korvane::testdiscs::MultiTrackDisc();
  std::vector<CR_TocEntry> Reference;
  std::string Bin;
};

void ExpectSameToc(const std::vector<CR_TocEntry>& Actual, const std::vector<CR_TocEntry>& Expected,
                   int32_t ShiftFromTrack2 = 0) {
  ASSERT_EQ(Actual.size(), Expected.size());
  for (size_t i = 0; i < Actual.size(); ++i) {
    EXPECT_EQ(Actual[i].StartSector, Expected[i].StartSector + (i >= 1 ? ShiftFromTrack2 : 0))
        << "entry " << i;
    EXPECT_EQ(Actual[i].Flag, Expected[i].Flag) << "entry " << i;
  }
}

TEST_F(HandWrittenSheetTest, DescriptiveLinesCrLfAndByteOrderMarkAreTolerated) {
  const std::string sheet = di::sheetText(
      Disc, Folder / "reference.cue", Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  std::string text =
      "\xEF\xBB\xBFREM GENRE Ambient\r\nPERFORMER Some Artist\r\n"
      "TITLE \"An Album\"\r\nCATALOG 0123456789012\r\n";
  for (size_t at = 0; at < sheet.size();) {
    const size_t end = sheet.find('\n', at);
    std::string line = sheet.substr(at, end - at);
    at = end + 1;
    text += line + "\r\n";
    if (line.find("TRACK") != std::string::npos) text += "    FLAGS DCP\r\n    TITLE Untitled\r\n";
  }
  ExpectSameToc(TocOfSheet("decorated.cue", text), Reference);
}

TEST_F(HandWrittenSheetTest, PregapCommandAddsSilenceThatNoFileHolds) {
  const std::vector<CR_TocEntry>& ref = Reference;
  const std::string text =
      "FILE \"reference.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    PREGAP 00:01:05\n    INDEX 01 " +
      di::msfText(ref[1].StartSector) + "\n";
  const std::vector<CR_TocEntry> toc = TocOfSheet("pregap.cue", text);
  ASSERT_EQ(toc.size(), 3u);
  EXPECT_EQ(toc[1].StartSector, ref[1].StartSector + 80);
  EXPECT_EQ(toc[2].StartSector, ref[5].StartSector + 80);
  const std::vector<uint8_t> image = ReadFile(Bin);
  const RipResult ripped = Rip(ref[1].StartSector - 2, ref[1].StartSector + 82);
  ASSERT_EQ(ripped.Bytes.size(), size_t{84} * CR_SECTOR_BYTES);
  // Two sectors of track 1, 80 of silence, then track 2 from its first sector.
  const auto track1End = image.begin() + (ref[1].StartSector - 2) * CR_SECTOR_BYTES;
  EXPECT_TRUE(std::equal(track1End, track1End + 2 * CR_SECTOR_BYTES, ripped.Bytes.begin()));
  EXPECT_TRUE(std::all_of(ripped.Bytes.begin() + 2 * CR_SECTOR_BYTES,
                          ripped.Bytes.begin() + 82 * CR_SECTOR_BYTES,
                          [](uint8_t b) { return b == 0; }));
  const auto track2 = image.begin() + ref[1].StartSector * CR_SECTOR_BYTES;
  EXPECT_TRUE(
      std::equal(track2, track2 + 2 * CR_SECTOR_BYTES, ripped.Bytes.end() - 2 * CR_SECTOR_BYTES));
}

// The MusicBrainz id that libdiscid gives for a table (offsets LSN + 150).
std::string LibdiscidId(const std::vector<CR_TocEntry>& Toc) {
  int offsets[100] = {};
  offsets[0] = Toc.back().StartSector + 150;
  for (size_t i = 0; i + 1 < Toc.size(); ++i) offsets[i + 1] = Toc[i].StartSector + 150;
  DiscId* disc = discid_new();
  EXPECT_TRUE(discid_put(disc, 1, static_cast<int>(Toc.size() - 1), offsets));
  const std::string id = discid_get_id(disc);
  discid_free(disc);
  return id;
}

// Track 1's INDEX 01 late in the file and no INDEX 00: the audio before it is track 1's
// pre-gap (hidden track one audio) and the other tracks stay where the file has them, as
// the sheet's other readers take it; so the disc's id is what libdiscid gives for the
// INDEX 01 times of the sheet.
TEST_F(HandWrittenSheetTest, ALateFirstIndexWithoutIndex00StartsTrackOneThere) {
  const std::string sheet = di::sheetText(
      Disc, Folder / "reference.cue", Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  const size_t first = sheet.find("INDEX 01 00:00:00");
  ASSERT_NE(first, std::string::npos) << sheet;
  ASSERT_EQ(sheet.rfind("INDEX 00", first), std::string::npos) << sheet;
  for (const int32_t late : {150, 40}) {
    SCOPED_TRACE(late);
    std::string text = sheet;
    text.replace(first, 17, "INDEX 01 " + di::msfText(late));
    const std::vector<CR_TocEntry> toc = TocOfSheet("late.cue", text);
    std::vector<CR_TocEntry> expected = Reference;
    expected.front().StartSector = late;
    ExpectSameToc(toc, expected);
    int32_t pregap = -1;
    EXPECT_EQ(CR_GetTrackPregap(0, &pregap), 0);
    EXPECT_EQ(pregap, late);
    EXPECT_EQ(LibdiscidId(toc), LibdiscidId(expected));
    EXPECT_NE(LibdiscidId(toc), LibdiscidId(Reference));
  }
}

// Sheets that keep a track's pregap at the end of the previous track's file, with the
// next file starting at INDEX 01.
TEST_F(HandWrittenSheetTest, PregapInThePreviousFileReadsAsOneDisc) {
  const std::vector<uint8_t> image = ReadFile(Bin);
  const di::DiscToc expected = di::discToc(Disc);
  std::string text;
  for (size_t t = 0; t < expected.tracks.size(); ++t) {
    const int32_t begin = expected.tracks[t].startLsn;
    const int32_t end =
        t + 1 < expected.tracks.size() ? expected.tracks[t + 1].startLsn : expected.leadOutLsn;
    const std::string name = "part" + std::to_string(t + 1) + ".bin";
    WriteBytes(Folder / name, image.data() + size_t(begin) * CR_SECTOR_BYTES,
               size_t(end - begin) * CR_SECTOR_BYTES);
    const int pregap = t + 1 < Disc.tracks.size() ? Disc.tracks[t + 1].pregapSectors : 0;
    if (t > 0)
      text += "FILE \"" + name + "\" BINARY\n    INDEX 01 00:00:00\n";
    else
      text += "FILE \"" + name + "\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    if (t + 1 < expected.tracks.size()) {
      char line[64];
      std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n", t + 2);
      text += line;
      if (pregap > 0) text += "    INDEX 00 " + di::msfText(end - begin - pregap) + "\n";
    }
  }
  ExpectSameToc(TocOfSheet("split.cue", text), Reference);
  const RipResult whole = Rip(0, expected.leadOutLsn);
  EXPECT_TRUE(whole.Bytes == image);
}

TEST_F(HandWrittenSheetTest, FileNamesAreRelativeToTheSheetsFolder) {
  std::filesystem::create_directory(Folder.Path() / "sheets");
  const std::string text =
      "FILE \"../reference.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const std::vector<CR_TocEntry> toc = TocOfSheet("sheets/relative.cue", text);
  ASSERT_EQ(toc.size(), 2u);
  EXPECT_EQ(toc[1].StartSector, Reference.back().StartSector);
}

// ---------------------------------------------------------------------------------
// Drives: adding, naming, media state
// ---------------------------------------------------------------------------------

struct RefusedImage {
  const char* Name;
  const char* FileName;
  std::string Content;  // empty: the file is not created
};

void PrintTo(const RefusedImage& Case, std::ostream* Out) { *Out << Case.Name; }

class RefusedImageTest : public CdRipTest, public ::testing::WithParamInterface<RefusedImage> {};

TEST_P(RefusedImageTest, AddsNothingAndPrintsNothing) {
  const RefusedImage& image = GetParam();
  di::writeDiscImage(korvane::testdiscs::MultiTrackDisc(), Folder / "good.cue");
  if (!image.Content.empty()) WriteFile(Folder / image.FileName, image.Content);
  const int32_t before = CR_GetNumCDROM();
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(CR_AddImageDrive((Folder / image.FileName).c_str()), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(CR_GetNumCDROM(), before);
}

std::string Garbage() {
  std::string bytes;
  uint32_t x = 12345;
  for (int i = 0; i < 3000; ++i) {
    x = x * 1103515245u + 12345u;
    bytes += static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string WaveHeader(uint16_t Channels, uint32_t Rate, uint16_t Bits) {
  std::string h = "RIFF";
  auto put32 = [&h](uint32_t v) {
    for (int i = 0; i < 4; ++i) h += char((v >> (8 * i)) & 0xFF);
  };
  auto put16 = [&h](uint16_t v) {
    h += char(v & 0xFF);
    h += char(v >> 8);
  };
  put32(36 + 2352);
  h += "WAVEfmt ";
  put32(16);
  put16(1);
  put16(Channels);
  put32(Rate);
  put32(Rate * Channels * Bits / 8);
  put16(uint16_t(Channels * Bits / 8));
  put16(Bits);
  h += "data";
  put32(2352);
  return h + std::string(2352, '\0');
}

const RefusedImage RefusedImages[] = {
    {"Missing", "missing.cue", ""},
    {"BinaryGarbage", "garbage.cue", Garbage()},
    {"TextGarbage", "text.cue", "hello world\nthis is no cue sheet\n"},
    {"NamesMissingFile", "nofile.cue",
     "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
    {"UnsupportedFileType", "mp3.cue",
     "FILE \"good.bin\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
    {"MalformedIndex", "index.cue",
     "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:61:00\n"},
    {"TrackWithoutIndex01", "noindex.cue", "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n"},
    {"IndexPastTheFile", "past.cue",
     "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 01 60:00:00\n"},
    {"TocGarbage", "garbage.toc", Garbage()},
    {"NrgGarbage", "garbage.nrg", Garbage()},
    {"TocNamingMissingFile", "missing.toc", "CD_DA\nTRACK AUDIO\nFILE \"gone.bin\" 0 00:10:00\n"},
};

INSTANTIATE_TEST_SUITE_P(Images, RefusedImageTest, ::testing::ValuesIn(RefusedImages),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CdRipTest, WaveFilesMustHoldCdAudio) {
  const std::string sheet = "FILE \"t.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  WriteFile(Folder / "t.wav", WaveHeader(2, 44100, 16));
  WriteFile(Folder / "stereo.cue", sheet);
  EXPECT_GE(CR_AddImageDrive((Folder / "stereo.cue").c_str()), 0);
  WriteFile(Folder / "t.wav", WaveHeader(2, 48000, 16));
  WriteFile(Folder / "rate.cue", sheet);
  EXPECT_EQ(CR_AddImageDrive((Folder / "rate.cue").c_str()), -1);
  WriteFile(Folder / "t.wav", WaveHeader(1, 44100, 16));
  WriteFile(Folder / "mono.cue", sheet);
  EXPECT_EQ(CR_AddImageDrive((Folder / "mono.cue").c_str()), -1);
  // CD audio after 5000 empty chunks: refused for their number, not for its format.
  std::string chunks;
  for (int i = 0; i < 5000; ++i) chunks += std::string("note") + std::string(4, '\0');
  const std::string cd = WaveHeader(2, 44100, 16);
  WriteFile(Folder / "t.wav", cd.substr(0, 12) + chunks + cd.substr(12));
  WriteFile(Folder / "chunks.cue", sheet);
  EXPECT_EQ(CR_AddImageDrive((Folder / "chunks.cue").c_str()), -1);
  char error[512] = {};
  CR_GetLastError(error, sizeof error);
  EXPECT_NE(std::string(error).find("first 4096 chunks"), std::string::npos) << error;
}

struct MediaCase {
  const char* Name;
  di::ImageLayout Layout;
};

void PrintTo(const MediaCase& Case, std::ostream* Out) { *Out << Case.Name; }

class MediaTest : public CdRipTest, public ::testing::WithParamInterface<MediaCase> {};

TEST_P(MediaTest, ImageWhoseFileIsGoneIsNotLoaded) {
  ASSERT_GE(AddDisc(korvane::testdiscs::MultiTrackDisc(), GetParam().Layout), 0);
  int32_t status = -1;
  EXPECT_EQ(CR_IsMediaLoaded(&status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CR_IsAudioPlaying(), 0);
  const std::string victim = Written.dataFiles.back();
  const std::string aside = victim + ".aside";
  std::filesystem::rename(victim, aside);
  status = 0;
  CR_IsMediaLoaded(&status);
  EXPECT_NE(status, 0);
  EXPECT_NE(CR_ReadToc(), 0);
  // The disc comes back with its file.
  std::filesystem::rename(aside, victim);
  CR_IsMediaLoaded(&status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CR_ReadToc(), 0);
}

const MediaCase MediaCases[] = {
    {"SingleBinary", Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"WavePerTrack", Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
    {"CdrdaoToc", Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, false)},
};

INSTANTIATE_TEST_SUITE_P(Images, MediaTest, ::testing::ValuesIn(MediaCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CdRipTest, DriveNamesAreAbsolutePathsAndImagesAreAddedOnce) {
  di::writeDiscImage(korvane::testdiscs::MultiTrackDisc(), Folder / "one.cue");
  di::writeDiscImage(korvane::testdiscs::EnhancedDisc(), Folder / "two.cue");
  const int32_t devices = CR_GetNumCDROM();
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(Folder.Path());
  const int32_t one = CR_AddImageDrive("one.cue");
  std::filesystem::current_path(cwd);
  const int32_t two = CR_AddImageDrive((Folder / "two.cue").c_str());
  EXPECT_EQ(one, devices);
  EXPECT_EQ(two, devices + 1);
  EXPECT_EQ(CR_AddImageDrive((Folder / "one.cue").c_str()), one);
  EXPECT_EQ(CR_GetNumCDROM(), devices + 2);

  const std::string full = Folder / "one.cue";
  char name[512] = {};
  EXPECT_EQ(CR_GetDriveName(one, name, sizeof name), static_cast<int32_t>(full.size()));
  EXPECT_EQ(std::string(name), full);
  char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(CR_GetDriveName(two, small, sizeof small), static_cast<int32_t>(full.size()));
  EXPECT_EQ(std::string(small), full.substr(0, 5));
  EXPECT_EQ(CR_GetDriveName(devices + 2, name, sizeof name), -1);
  EXPECT_EQ(CR_GetDriveName(-1, name, sizeof name), -1);

  // The relative name still works after the working folder changed.
  ASSERT_EQ(CR_SetActiveCDROM(one), 0);
  EXPECT_EQ(CR_ReadToc(), 0);
  EXPECT_EQ(CR_GetNumTocEntries(), 5);
  CR_SetActiveCDROM(two);
  EXPECT_EQ(CR_ReadToc(), 0);
  EXPECT_EQ(CR_GetNumTocEntries(), 4);
}

TEST(CdRipNoDrive, EveryCallWorksWithoutAnyDrive) {
  // Without CR_Init no device is listed, and nothing was added: no drive at all.
  CR_DeInit();
  EXPECT_EQ(CR_GetNumCDROM(), 0);
  EXPECT_EQ(CR_SetActiveCDROM(0), -1);
  int32_t status = 0;
  CR_IsMediaLoaded(&status);
  EXPECT_NE(status, 0);
  EXPECT_EQ(CR_IsAudioPlaying(), 0);
  EXPECT_NE(CR_ReadToc(), 0);
  EXPECT_EQ(CR_GetNumTocEntries(), 0);
  const CR_TocEntry entry = CR_GetTocEntry(0);
  EXPECT_EQ(entry.StartSector, 0);
  EXPECT_EQ(entry.Flag, 0);
  int32_t size = CR_MAX_CHUNK_BYTES;
  EXPECT_EQ(CR_OpenRipper(&size, 0, 100), -1);
  std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
  int32_t count = -1;
  int32_t abort = 0;
  CR_RipChunk(buffer.data(), &count, &abort);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(CR_CloseRipper(), 0);
  char name[16];
  EXPECT_EQ(CR_GetDriveName(0, name, sizeof name), -1);
  // And the machine's own drives, if any, are listed without a word on the terminal.
  ::testing::internal::CaptureStderr();
  CR_Init(nullptr);
  EXPECT_GE(CR_GetNumCDROM(), 0);
  CR_DeInit();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// The window thread asks for the drive's state while a worker rips; the library's lock
// keeps them apart (run under ThreadSanitizer in the pipeline build).
TEST_F(CdRipTest, StatusCallsWhileAnotherThreadRips) {
  const di::DiscSpec disc = korvane::testdiscs::MultiTrackDisc();
  const int32_t drive = AddDisc(disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  ASSERT_GE(drive, 0);
  ASSERT_EQ(CR_ReadToc(), 0);
  const di::RipRange range = di::ripRange(disc, 2);
  std::vector<uint8_t> ripped;
  std::thread worker([&] { ripped = Rip(range.startLsn, range.startLsn + range.sectors).Bytes; });
  for (int i = 0; i < 200; ++i) {
    int32_t status = 1;
    CR_SetActiveCDROM(drive);
    CR_IsMediaLoaded(&status);
    EXPECT_EQ(status, 0);
    char name[256];
    CR_GetDriveName(drive, name, sizeof name);
    CR_GetTocEntry(i % 6);
  }
  worker.join();
  EXPECT_TRUE(ripped == di::expectedTrackPcm(disc, 2));
}

}  // namespace
