// Hand-written cdrdao .toc images read through the library's C interface: where every
// statement puts its sectors, and the reasons given for images that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "cdrip.h"
#include "temp_dir.h"

namespace {

constexpr size_t Sector = CR_SECTOR_BYTES;

// Frames that each hold their own number from Base on: any byte out of place shows.
std::vector<uint8_t> CountingFrames(uint32_t Base, size_t Frames) {
  std::vector<uint8_t> bytes;
  for (uint32_t frame = 0; frame < Frames; ++frame)
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t((Base + frame) >> shift));
  return bytes;
}

std::vector<uint8_t> WaveHeader(uint32_t DataBytes) {
  std::vector<uint8_t> h;
  const auto text = [&h](const char* Word) { h.insert(h.end(), Word, Word + 4); };
  const auto number = [&h](uint32_t Value, int Bytes) {
    for (int i = 0; i < Bytes; ++i) h.push_back(uint8_t(Value >> (8 * i)));
  };
  text("RIFF");
  number(36 + DataBytes, 4);
  text("WAVE");
  text("fmt ");
  const std::pair<uint32_t, int> format[] = {{16, 4},        {1, 2}, {2, 2}, {44100, 4},
                                             {44100 * 4, 4}, {4, 2}, {16, 2}};
  for (const auto& [value, bytes] : format) number(value, bytes);
  text("data");
  number(DataBytes, 4);
  return h;
}

// A stretch of the disc: Sectors sectors of File from byte Byte of its samples (past
// their end: silence), or silence when File is empty. Raw files hold big-endian
// samples unless the .toc says SWAP.
struct Piece {
  std::string File;
  int64_t Byte = 0;
  int32_t Sectors = 0;
  bool SwapKeyword = false;
};

class TocImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CR_Init(nullptr);
    Samples["disc.bin"] = CountingFrames(0, 300 * 588);
    Samples["a.bin"] = CountingFrames(1000000, 60 * 588);
    Samples["t.wav"] = CountingFrames(2000000, 20 * 588 + 100);
    Samples["data.bin"] = std::vector<uint8_t>(10 * 2048, 0x5A);
    for (const auto& [name, bytes] : Samples) {
      std::vector<uint8_t> file =
          name == "t.wav" ? WaveHeader(uint32_t(bytes.size())) : std::vector<uint8_t>();
      file.insert(file.end(), bytes.begin(), bytes.end());
      WriteWholeFile(Folder / name, file);
    }
  }
  void TearDown() override { CR_DeInit(); }

  int32_t AddToc(const std::string& Name, const std::string& Text) {
    std::filesystem::create_directories((Folder.Path() / Name).parent_path());
    std::ofstream(Folder / Name, std::ios::binary) << Text;
    const int32_t drive = CR_AddImageDrive((Folder / Name).c_str());
    if (drive >= 0) CR_SetActiveCDROM(drive);
    return drive;
  }

  std::vector<uint8_t> Expected(const std::vector<Piece>& Pieces) {
    std::vector<uint8_t> image;
    for (const Piece& piece : Pieces) {
      const std::vector<uint8_t>& data = Samples[piece.File];
      for (int64_t at = piece.Byte; at < piece.Byte + int64_t(piece.Sectors * Sector); ++at)
        image.push_back(!piece.File.empty() && at < int64_t(data.size()) ? data[size_t(at)] : 0);
      const bool raw = piece.File.size() > 4 && piece.File.substr(piece.File.size() - 4) == ".bin";
      if (raw && !piece.SwapKeyword)
        for (size_t i = image.size() - piece.Sectors * Sector; i < image.size(); i += 2)
          std::swap(image[i], image[i + 1]);
    }
    return image;
  }

  TTempDir Folder;
  std::map<std::string, std::vector<uint8_t>> Samples;
};

std::string LastError() {
  std::string message(size_t(std::max(CR_GetLastError(nullptr, 0), 0)) + 1, '\0');
  CR_GetLastError(message.data(), int32_t(message.size()));
  message.resize(message.size() - 1);
  return message;
}

std::vector<CR_TocEntry> ActiveToc() {
  std::vector<CR_TocEntry> entries;
  if (CR_ReadToc() != 0) return entries;
  for (int32_t i = 0; i <= CR_GetNumTocEntries(); ++i) entries.push_back(CR_GetTocEntry(i));
  return entries;
}

std::vector<uint8_t> RipDisc(int32_t LeadOut) {
  std::vector<uint8_t> bytes;
  int32_t size = CR_MAX_CHUNK_BYTES;
  if (CR_OpenRipper(&size, 0, LeadOut) != 0) return bytes;
  std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
  for (int32_t count = 1, abort = 0; count > 0;) {
    CR_RipChunk(buffer.data(), &count, &abort);
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + std::max(count, 0));
  }
  CR_CloseRipper();
  return bytes;
}

struct ReadCase {
  const char* Name;
  const char* Sheet;  // relative to the test's folder
  std::string Text;
  std::vector<int32_t> Starts;  // then the lead-out
  const char* Kinds;            // 'a' audio, 'd' data, per track
  std::vector<Piece> Disc;
};

void PrintTo(const ReadCase& Case, std::ostream* Out) { *Out << Case.Name; }

class TocReadTest : public TocImageTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(TocReadTest, TableAndSectorsAreWhereTheStatementsPutThem) {
  const ReadCase& test = GetParam();
  ASSERT_GE(AddToc(test.Sheet, test.Text), 0) << LastError();
  const std::vector<CR_TocEntry> toc = ActiveToc();
  ASSERT_EQ(toc.size(), test.Starts.size());
  for (size_t i = 0; i < toc.size(); ++i) {
    EXPECT_EQ(toc[i].StartSector, test.Starts[i]) << "entry " << i;
    if (i + 1 == toc.size()) break;  // the lead-out
    EXPECT_EQ(toc[i].Flag, test.Kinds[i] == 'd' ? CR_FLAG_DATA : CR_FLAG_AUDIO) << "entry " << i;
  }
  EXPECT_TRUE(RipDisc(test.Starts.back()) == Expected(test.Disc));
}

const ReadCase ReadCases[] = {
    {"OneFileSharedByOffsetsStartsAndLengths",
     "shared.toc",
     "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" #2352 0 00:01:00\n"
     "TRACK AUDIO\nAUDIOFILE \"disc.bin\" 00:02:00 00:00:50\nSTART 00:00:20\n"
     "TRACK AUDIO\nFILE \"disc.bin\" 00:03:00\n",
     {0, 95, 125, 200},
     "aaa",
     {{"disc.bin", 2352, 75}, {"disc.bin", 150 * Sector, 50}, {"disc.bin", 225 * Sector, 75}}},
    {"SilenceZeroStartAndPregap",
     "gaps.toc",
     "CD_DA\nTRACK AUDIO\nSILENCE 00:00:10\nFILE \"a.bin\" 0 00:00:20\n"
     "TRACK AUDIO\nFILE \"a.bin\" 00:00:20 00:00:05\nZERO 00:00:03\nSTART\n"
     "FILE \"a.bin\" 00:00:25 00:00:10\nTRACK AUDIO\nFILE \"a.bin\" 00:00:35 00:00:05\n"
     "PREGAP 00:00:04\n",
     {0, 38, 52, 57},
     "aaa",
     {{"", 0, 10},
      {"a.bin", 0, 20},
      {"a.bin", 20 * Sector, 5},
      {"", 0, 3},
      {"a.bin", 25 * Sector, 10},
      {"", 0, 4},
      {"a.bin", 35 * Sector, 5}}},
    {"DescriptionsCdTextAndCommentsAreReadOver",
     "text.toc",
     "// made by hand\nCD_DA CATALOG \"0123456789012\"\nCD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n"
     "  LANGUAGE 0 {\n    TITLE \"An // Album {\" PERFORMER \"Someone\"\n"
     "    SIZE_INFO { 1, 2, 3 }\n  }\n}\nTRACK AUDIO // the first\n"
     "NO COPY NO PRE_EMPHASIS COPY PRE_EMPHASIS TWO_CHANNEL_AUDIO\nISRC \"ABCDE1234567\"\n"
     "CD_TEXT { LANGUAGE 0 { TITLE \"One \\\"two\\\" }\" } }\nFILE \"disc.bin\" 0 00:00:30\n"
     "INDEX 00:00:10\nTRACK AUDIO FOUR_CHANNEL_AUDIO FILE \"disc.bin\" 00:00:30 00:00:30\n",
     {0, 30, 60},
     "aa",
     {{"disc.bin", 0, 60}}},
    {"PositionsInSamples",
     "samples.toc",
     "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 44100 88200\nTRACK AUDIO\n"
     "FILE \"disc.bin\" 100 00:00:10\n",
     {0, 150, 160},
     "aa",
     {{"disc.bin", 75 * Sector, 150}, {"disc.bin", 400, 10}}},
    {"WaveFilesFromTheirFirstSamplePaddedAtTheEnd",
     "wave.toc",
     "CD_DA\nTRACK AUDIO\nFILE \"t.wav\" 0 00:00:10\nTRACK AUDIO\nFILE \"t.wav\" 00:00:10\n",
     {0, 10, 21},
     "aa",
     {{"t.wav", 0, 10}, {"t.wav", 10 * Sector, 11}}},
    {"DataTracksSwapAndNamesRelativeToTheToc",
     "sub/mixed.toc",
     "CD_ROM\nTRACK MODE1\nDATAFILE \"../data.bin\" 20480\nTRACK AUDIO\n"
     "FILE \"../a.bin\" SWAP 0 00:00:10\nTRACK MODE2_FORM1\nZERO MODE2_FORM1 00:00:02\n"
     "DATAFILE \"../data.bin\" #4096\n",
     {0, 10, 20, 30},
     "dad",
     {{"", 0, 10}, {"a.bin", 0, 10, true}, {"", 0, 10}}},
};

INSTANTIATE_TEST_SUITE_P(Sheets, TocReadTest, ::testing::ValuesIn(ReadCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The catalogue number and the ISRCs are the disc's texts, as a cue sheet's are; a code
// of another form is passed over.
TEST_F(TocImageTest, CatalogueAndIsrcAreKept) {
  ASSERT_GE(
      AddToc("codes.toc",
             "CD_DA CATALOG \"0123456789012\"\nTRACK AUDIO ISRC \"GBAYE0000351\"\n"
             "FILE \"a.bin\" 0 00:00:30\nTRACK AUDIO ISRC \"short\"\nFILE \"a.bin\" 00:00:30\n"),
      0)
      << LastError();
  ASSERT_EQ(ActiveToc().size(), 3u);  // the texts come with the table
  const auto text = [](int Track, int Field) {
    char buffer[64] = {};
    CR_GetCdText(Track, Field, buffer, sizeof buffer);
    return std::string(buffer);
  };
  EXPECT_EQ(text(0, CR_TEXT_CATALOG), "0123456789012");
  EXPECT_EQ(text(1, CR_TEXT_ISRC), "GBAYE0000351");
  EXPECT_EQ(text(2, CR_TEXT_ISRC), "");
}

// A changed file that the .toc names is read anew: the stamp covers every file.
TEST_F(TocImageTest, ChangedFileIsReadAnew) {
  ASSERT_GE(AddToc("stamp.toc", "CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\n"), 0);
  ASSERT_EQ(ActiveToc().back().StartSector, 60);
  WriteWholeFile(Folder / "a.bin", CountingFrames(0, 40 * 588));
  ASSERT_EQ(ActiveToc().back().StartSector, 40);
}

struct RefusalCase {
  const char* Name;
  std::string Text;
  int Line;  // 0: the message names no line
  const char* Reason;
};

void PrintTo(const RefusalCase& Case, std::ostream* Out) { *Out << Case.Name; }

class TocRefusalTest : public TocImageTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(TocRefusalTest, SaysWhichLineIsWrongAndWhy) {
  const RefusalCase& test = GetParam();
  EXPECT_EQ(AddToc("bad.toc", test.Text), -1);
  const std::string message = LastError();
  const std::string where = test.Line ? ", line " + std::to_string(test.Line) + ": " : ": ";
  EXPECT_EQ(message.rfind(Folder / "bad.toc" + where, 0), 0u) << message;
  EXPECT_NE(message.find(test.Reason), std::string::npos) << message;
}

std::string HundredTracks() {
  std::string text = "CD_DA\n";
  for (int i = 0; i < 100; ++i) text += "TRACK AUDIO\nSILENCE 00:00:01\n";
  return text;
}

const RefusalCase RefusalCases[] = {
    {"NoTrack", "CD_DA // nothing else\n", 0, "describes no TRACK"},
    {"UnknownKeyword", "CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\nVOLUME 3\n", 4,
     "unknown keyword \"VOLUME\""},
    {"FileBeforeTrack", "CD_DA\nFILE \"a.bin\" 0\n", 2, "FILE before any TRACK"},
    {"SecondsOutOfRange", "TRACK AUDIO\nFILE \"a.bin\" 00:60:00\n", 2, "00:60:00 is out of range"},
    {"FramesOutOfRange", "TRACK AUDIO\nSILENCE 00:00:75\n", 2, "out of range"},
    {"NotATime", "TRACK AUDIO\nSILENCE 1:2\n", 2, "is no time"},
    {"NumberTooLarge", "TRACK AUDIO\nSILENCE 1234567890123456\n", 2, "too large"},
    {"SamplesBetweenSectors", "TRACK AUDIO\nFILE \"a.bin\" 0 1000\n", 2, "no whole number"},
    {"StartPastTheFile", "TRACK AUDIO\nFILE \"a.bin\" 01:00:00\n", 2,
     "lies past the end of \"a.bin\""},
    {"LengthPastTheFile", "TRACK AUDIO\nFILE \"a.bin\" 0 00:01:00\n", 2,
     "reaches past the end of \"a.bin\""},
    {"HugeOffset", "TRACK AUDIO\nFILE \"a.bin\" #999999999999999 0\n", 2, "past the end"},
    {"MissingFile", "TRACK AUDIO\nFILE \"gone.bin\" 0\n", 2, "gone.bin: the file cannot be opened"},
    {"TrackWithoutContents", "TRACK AUDIO\nTRACK AUDIO\nSILENCE 00:00:10\n", 1,
     "track 1 has no contents"},
    {"StartAtTheEnd", "TRACK AUDIO\nFILE \"a.bin\" 0 00:00:10\nSTART 00:00:10\n", 3,
     "START of track 1"},
    {"TwoStarts", "TRACK AUDIO\nPREGAP 00:00:02\nSILENCE 00:00:10\nSTART\n", 4,
     "START or PREGAP already"},
    {"HundredTracks", HundredTracks(), 200, "at most 99 tracks"},
    {"LongerThanACd", "TRACK AUDIO\nSILENCE 90:00:00\nSILENCE 10:00:00\n", 3,
     "would last 100:00:00, longer than the 99:58:00"},
    {"FarLongerThanACd", "TRACK AUDIO\nSILENCE 999999999:59:74\nSILENCE 999999999:59:74\n", 2,
     "99:59:74"},
    {"Fifo", "TRACK AUDIO\nFIFO \"/tmp/pipe\" 00:10:00\n", 2, "FIFO"},
    {"CdTextNeverClosed", "CD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n", 1, "never closed"},
    {"StringNeverClosed", "TRACK AUDIO\nFILE \"a.bin 0\n", 2, "not closed"},
    {"UnknownMode", "TRACK MODE3\n", 1, "unknown track mode \"MODE3\""},
    {"SubChannelData", "TRACK AUDIO RW_RAW\nFILE \"a.bin\" 0\n", 1, "sub-channel"},
    {"SwappedWave", "TRACK AUDIO\nFILE \"t.wav\" SWAP 0\n", 2, "drop SWAP"},
    {"BinaryGarbage", std::string("\x01\xff\x7f garbage", 11), 1, "unknown keyword \"???\""},
};

INSTANTIATE_TEST_SUITE_P(Sheets, TocRefusalTest, ::testing::ValuesIn(RefusalCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
