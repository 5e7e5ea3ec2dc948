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
     "gaps.cue: the disc would last longer than 99:59:74"},
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
