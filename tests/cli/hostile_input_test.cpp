// korvane-cli on disc images that are broken, crafted or merely unusual: each hostile
// one is refused with a message that names the file and what is wrong, exit status 1,
// no track "Done" and nothing written outside the output folder; the unusual ones that
// real rippers write are read without losing a sector.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "command_run.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string Bin = KORVANE_BIN_DIR;

void WriteText(const fs::path& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

std::string Be32(uint32_t Value) {
  return {char(Value >> 24), char(Value >> 16), char(Value >> 8), char(Value)};
}

std::string Le32(uint32_t Value) {
  return {char(Value), char(Value >> 8), char(Value >> 16), char(Value >> 24)};
}

class HostileImages : public ::testing::Test {
 protected:
  void SetUp() override {
    // One second of sound for the sheets to name.
    WriteText(Dir / "a.bin", std::string(75 * 2352, '\x11'));
  }
  TCommandResult Cli(const std::string& Arguments) {
    return CaptureCommand("cd '" + Dir.Path().string() + "' && timeout 60 " + Bin +
                          "/korvane-cli " + Arguments);
  }
  // Every file in the test's folder, outside the output folder and the inputs.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Dir.Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TTempDir Dir;
};

struct THostileCase {
  const char* Name;
  const char* Sheet;  // the image's file name in the test's folder
  std::function<void(const fs::path& Folder)> Make;
  const char* Says;  // part of the message
};

void PrintTo(const THostileCase& Case, std::ostream* Out) { *Out << Case.Name; }

const std::string LongName(30000, 'n');

const THostileCase HostileCases[] = {
    {"LongFileLine", "long.cue",
     [](const fs::path& F) {
       WriteText(F / "long.cue", "FILE \"" + LongName + ".bin\" BINARY\n  TRACK 01 AUDIO\n");
     },
     "long.cue, line 1: the line is longer than 4096 bytes"},
    {"LongRemarkLine", "remark.cue",
     [](const fs::path& F) {
       WriteText(F / "remark.cue", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\nREM " + LongName +
                                       "\n    INDEX 01 00:00:00\n");
     },
     "remark.cue, line 3: the line is longer than 4096 bytes"},
    {"LongTocLine", "long.toc",
     [](const fs::path& F) {
       WriteText(F / "long.toc", "CD_DA\nTRACK AUDIO\nFILE \"" + LongName + "\" 0\n");
     },
     "long.toc, line 3: the line is longer than 4096 bytes"},
    {"HugePostgap", "postgap.cue",
     [](const fs::path& F) {
       WriteText(F / "postgap.cue",
                 "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                 "    POSTGAP 999:59:74\n");
     },
     "postgap.cue, line 4: \"999:59:74\" lies beyond 99:59:74"},
    {"GapsBeyondADisc", "gaps.cue",
     [](const fs::path& F) {
       WriteText(F / "gaps.cue",
                 "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    PREGAP 60:00:00\n"
                 "    INDEX 01 00:00:00\n    POSTGAP 60:00:00\n");
     },
     "gaps.cue: the disc would last longer than 99:58:00"},
    {"IndexFarPastItsFile", "index.cue",
     [](const fs::path& F) {
       WriteText(F / "index.cue",
                 "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                 "  TRACK 02 AUDIO\n    INDEX 01 98:00:00\n");
     },
     "index.cue: track 2 has an index at 98:00:00, past the end of file a.bin"},
    {"SheetIsAPipe", "pipe.cue",
     [](const fs::path& F) { ::mkfifo((F / "pipe.cue").c_str(), 0600); },
     "pipe.cue: not a regular file"},
    {"TocIsAPipe", "pipe.toc", [](const fs::path& F) { ::mkfifo((F / "pipe.toc").c_str(), 0600); },
     "pipe.toc: not a regular file"},
    {"TocIsEndlessZeros", "zero.toc",
     [](const fs::path& F) { fs::create_symlink("/dev/zero", F / "zero.toc"); },
     "zero.toc: not a regular file"},
    {"SheetNamesAPipe", "names-pipe.cue",
     [](const fs::path& F) {
       ::mkfifo((F / "track.bin").c_str(), 0600);
       WriteText(F / "names-pipe.cue",
                 "FILE \"track.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
     },
     "track.bin: not a regular file"},
    {"NrgChunkClaimsFourGigabytes", "crafted.nrg",
     [](const fs::path& F) {
       // A CUEX chunk whose size runs far past the 150-byte file, and the footer to it.
       std::string nrg = "CUEX" + Be32(0xffffffffu) + std::string(126, '\0');
       nrg += "NER5" + std::string(4, '\0') + Be32(0);
       WriteText(F / "crafted.nrg", nrg);
     },
     "crafted.nrg"},
    {"TrackNumbersGoingDown", "down.cue",
     [](const fs::path& F) {
       WriteText(F / "down.cue",
                 "FILE \"a.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
                 "  TRACK 01 AUDIO\n    INDEX 01 00:00:40\n");
     },
     "down.cue, line 4: TRACK 01 comes after TRACK 2"},
    {"TrackNumberRepeated", "twice.cue",
     [](const fs::path& F) {
       WriteText(F / "twice.cue",
                 "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                 "  TRACK 01 AUDIO\n    INDEX 01 00:00:40\n");
     },
     "twice.cue, line 4: TRACK 01 comes after TRACK 1"},
    {"SessionsGoingBack", "back.cue",
     [](const fs::path& F) {
       WriteText(F / "back.cue",
                 "REM SESSION 02\nFILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                 "REM SESSION 01\n  TRACK 02 AUDIO\n    INDEX 01 00:00:40\n");
     },
     "back.cue, line 5: REM SESSION 01 comes after session 2"},
    {"NrgOfGarbage", "garbage.nrg",
     [](const fs::path& F) { WriteText(F / "garbage.nrg", std::string(5000, '\x5a')); },
     "garbage.nrg"},
};

class HostileImageTest : public HostileImages,
                         public ::testing::WithParamInterface<THostileCase> {};

TEST_P(HostileImageTest, IsRefusedWithItsReasonAndWritesNothing) {
  const THostileCase& image = GetParam();
  image.Make(Dir.Path());
  const std::vector<std::string> before = Entries();
  for (const std::string& arguments : {std::string("--list "), std::string("--out out ")}) {
    const TCommandResult result = Cli(arguments + "'" + image.Sheet + "'");
    EXPECT_EQ(result.Status, 1) << arguments << result.Output;
    EXPECT_NE(result.Output.find(image.Says), std::string::npos) << arguments << result.Output;
    EXPECT_EQ(result.Output.find("Done"), std::string::npos) << result.Output;
  }
  std::error_code error;
  EXPECT_TRUE(fs::is_empty(Dir / "out", error) || !fs::exists(Dir / "out"));
  std::vector<std::string> after = Entries();
  after.erase(std::remove(after.begin(), after.end(), "out"), after.end());
  EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(Images, HostileImageTest, ::testing::ValuesIn(HostileCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------
// Sheets as real rippers write them
// ---------------------------------------------------------------------------------

class UnusualImages : public HostileImages {
 protected:
  // Writes the audio disc DIR/disc.cue with mkdisc and the PCM of its tracks.
  void MakeDisc(const std::string& Options) {
    const TCommandResult made = CaptureCommand(Bin + "/korvane-mkdisc " + Options + " --expect '" +
                                               (Dir / "expect") + "' '" + (Dir / "disc.cue") + "'");
    ASSERT_EQ(made.Status, 0) << made.Output;
  }
  void ExpectTrackRipped(int Track, const std::string& Output) {
    char name[64];
    std::snprintf(name, sizeof name, "Track%02d.wav", Track);
    const std::vector<uint8_t> wav = ReadWholeFile(Dir / ("out/" + std::string(name)));
    std::snprintf(name, sizeof name, "expect/track%02d.pcm", Track);
    const std::vector<uint8_t> expected = ReadWholeFile(Dir / name);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(wav.size(), expected.size() + 44) << Output;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), wav.begin() + 44)) << name;
  }
};

// Without a second session, a data track after the audio follows it directly: the last
// audio track keeps every sector (not 11400 fewer, as for an enhanced CD).
TEST_F(UnusualImages, TrailingDataTrackInTheSameSessionTakesNoAudio) {
  MakeDisc("--tracks 3 --seconds 2,155 --content ramp --data-track last");
  const TCommandResult listed = Cli("--list disc.cue");
  EXPECT_NE(listed.Output.find("Track02.cda   2:35.00  audio"), std::string::npos) << listed.Output;
  const TCommandResult ripped = Cli("--out out disc.cue/Track02.cda");
  ASSERT_EQ(ripped.Status, 0) << ripped.Output;
  ExpectTrackRipped(2, ripped.Output);
}

// A sheet for an enhanced CD whose data track the image left out: only its INDEX 00,
// a mode this library has no table for, descriptive lines of every kind, the file named
// by a path of another system. With and without the session remarks.
TEST_F(UnusualImages, LeftOutDataTrackIsListedAndEndsTheAudio) {
  MakeDisc("--tracks 2 --seconds 2,3 --content music --pregap 20");
  for (const bool sessions : {false, true}) {
    const std::string sheet =
        std::string(sessions ? "REM SESSION 01\n" : "") +
        "REM GENRE Rock\nREM DATE 1998\nCATALOG 0724384960650\nPERFORMER \"Band\"\n"
        "TITLE \"Album\"\nFILE \"C:\\Rips\\disc.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n    TITLE \"One\"\n    ISRC USABC9800001\n    FLAGS DCP\n"
        "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n    INDEX 01 00:02:20\n"
        "    INDEX 02 00:03:00\n" +
        (sessions ? "REM SESSION 02\n" : "") + "  TRACK 03 MODE2/2336\n    INDEX 00 00:05:20\n";
    WriteText(Dir / "eac.cue", sheet);
    const TCommandResult listed = Cli("--list eac.cue");
    EXPECT_EQ(listed.Status, 0) << listed.Output;
    EXPECT_NE(listed.Output.find("Track03.cda   0:00.00  data"), std::string::npos)
        << listed.Output;
    const TCommandResult ripped = Cli("--out out eac.cue");
    ASSERT_EQ(ripped.Status, 0) << ripped.Output;
    ExpectTrackRipped(1, ripped.Output);
    ExpectTrackRipped(2, ripped.Output);
    EXPECT_FALSE(fs::exists(Dir / "out/Track03.wav"));
    fs::remove_all(Dir / "out");
  }
}

// UTF-16 text with its byte order mark, from UTF-8 text.
std::string Utf16(const std::string& Text, bool BigEndian) {
  std::string out = BigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (size_t i = 0; i < Text.size(); ++i) {
    uint32_t code = static_cast<unsigned char>(Text[i]);
    if (code >= 0xC0) code = ((code & 0x1F) << 6) | (static_cast<unsigned char>(Text[++i]) & 0x3F);
    const char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
    out += BigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

const std::string OneTrack =
    "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"Café\"\n"
    "    INDEX 01 00:00:00\n";
std::string SessionOf(int Number) {
  const std::string n = std::to_string(Number);
  return "REM SESSION 0" + n + "\nFILE \"a.bin\" BINARY\n  TRACK 0" + n +
         " AUDIO\n    INDEX 01 00:00:00\n";
}

// A WAVE file of one second of CD audio: Chunks small chunks of metadata first, the
// format after the audio when FormatLast.
std::string CdWave(int Chunks, bool FormatLast) {
  const std::string format = "fmt " + Le32(16) + std::string("\x01\x00\x02\x00", 4) + Le32(44100) +
                             Le32(44100 * 4) + std::string("\x04\x00\x10\x00", 4);
  std::string body;
  for (int i = 0; i < Chunks; ++i) body += "junk" + Le32(2) + "ab";
  const std::string data = "data" + Le32(75 * 2352) + std::string(75 * 2352, '\x11');
  body += FormatLast ? data + format : format + data;
  return "RIFF" + Le32(static_cast<uint32_t>(body.size() + 4)) + "WAVE" + body;
}

const std::string WaveSheet = "FILE \"odd.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

struct TOddSheet {
  const char* Name;
  std::string Sheet;       // the bytes of odd.cue
  int Tracks;              // each one second long
  const char* TitleShown;  // a line --list shows, when it shows one
  std::string Wave;        // the bytes of odd.wav, when the sheet names it
};

// Sheets that real tools write: each track is listed with its second of sound and
// the title the sheet gives it, and ripped to that second.
TEST_F(UnusualImages, OddSheetsAreReadWithTheirTracksAndTexts) {
  fs::copy_file(Dir / "a.bin", Dir / "Café.bin");
  std::string crOnly = OneTrack;
  std::replace(crOnly.begin(), crOnly.end(), '\n', '\r');
  const TOddSheet sheets[] = {
      {"NumbersWithGaps",
       "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"one\"\n    INDEX 01 00:00:00\n"
       "FILE \"a.bin\" BINARY\n  TRACK 05 AUDIO\n    TITLE \"five\"\n    INDEX 01 00:00:00\n",
       2, "Track 02: five", ""},
      {"ThreeSessions", SessionOf(1) + SessionOf(2) + SessionOf(3), 3, nullptr, ""},
      {"Utf16LittleEndian", Utf16(OneTrack, false), 1, "Track 01: Café", ""},
      {"Utf16BigEndian", Utf16(OneTrack, true), 1, "Track 01: Café", ""},
      {"CarriageReturnsOnly", crOnly, 1, "Track 01: Café", ""},
      {"Latin1FileName", "FILE \"Caf\xE9.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       1, nullptr, ""},
      {"WaveWithTheFormatLast", WaveSheet, 1, nullptr, CdWave(0, true)},
      {"WaveWithManyChunks", WaveSheet, 1, nullptr, CdWave(100, false)},
  };
  for (const TOddSheet& sheet : sheets) {
    SCOPED_TRACE(sheet.Name);
    WriteText(Dir / "odd.cue", sheet.Sheet);
    if (!sheet.Wave.empty()) WriteText(Dir / "odd.wav", sheet.Wave);
    const TCommandResult listed = Cli("--list odd.cue");
    ASSERT_EQ(listed.Status, 0) << listed.Output;
    for (int track = 1; track <= sheet.Tracks; ++track) {
      const std::string entry = "Track0" + std::to_string(track) + ".cda";
      const size_t line = listed.Output.find(entry);
      ASSERT_NE(line, std::string::npos) << listed.Output;
      EXPECT_EQ(listed.Output.compare(listed.Output.find_first_not_of(' ', line + entry.size()), 14,
                                      "0:01.00  audio"),
                0)
          << listed.Output;
    }
    if (sheet.TitleShown) {
      EXPECT_NE(listed.Output.find(sheet.TitleShown), std::string::npos) << listed.Output;
    }
    const TCommandResult ripped = Cli("--out out odd.cue");
    ASSERT_EQ(ripped.Status, 0) << ripped.Output;
    for (int track = 1; track <= sheet.Tracks; ++track)
      EXPECT_EQ(fs::file_size(Dir / ("out/Track0" + std::to_string(track) + ".wav")),
                44 + 75 * 2352);
    fs::remove_all(Dir / "out");
  }
}

// A drive named through a link is the drive of what the link points to.
TEST_F(UnusualImages, ALinkToAnImageNamesTheSameDrive) {
  MakeDisc("--tracks 2 --seconds 1");
  fs::create_symlink(Dir / "disc.cue", Dir / "link.cue");
  const TCommandResult listed = Cli("--list disc.cue link.cue");
  EXPECT_EQ(listed.Status, 0) << listed.Output;
  EXPECT_EQ(listed.Output.find("Drive 1:"), std::string::npos) << listed.Output;
  const TCommandResult ripped = Cli("--out out link.cue/Track02.cda");
  ASSERT_EQ(ripped.Status, 0) << ripped.Output;
  ExpectTrackRipped(2, ripped.Output);
}

}  // namespace
