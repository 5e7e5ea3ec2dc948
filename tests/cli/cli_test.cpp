// korvane-cli end to end: disc images made by korvane-mkdisc, ripped by the program
// as a user runs it, the files checked against the PCM the image maker says each
// track holds.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <regex>
#include <set>

#include "command_run.h"
#include "flac_decoder.h"
#include "mp3_decoder.h"
#include "tag_reader.h"
#include "temp_dir.h"
#include "wav_decoder.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

class CommandLine : public ::testing::Test {
 protected:
  // Makes a disc image DIR/NAME.cue with mkdisc's options and the expected PCM of
  // each audio track in DIR/expect.
  std::string MakeDisc(const std::string& Name, const std::string& Options) {
    const std::string cue = Dir / (Name + ".cue");
    const auto made = CaptureCommand(Bin + "/korvane-mkdisc " + Options + " --expect '" +
                                     (Dir / "expect") + "' '" + cue + "'");
    EXPECT_EQ(made.Status, 0) << made.Output;
    return cue;
  }
  TCommandResult Cli(const std::string& Arguments) {
    return CaptureCommand("cd '" + Dir.Path().string() + "' && " + Bin + "/korvane-cli " +
                          Arguments);
  }
  std::vector<uint8_t> Expected(int Track) {
    char name[32];
    std::snprintf(name, sizeof name, "expect/track%02d.pcm", Track);
    return ReadWholeFile(Dir / name);
  }
  // The samples of a PCM .wav file we wrote (after its 44-byte header).
  static std::vector<uint8_t> PcmOf(const std::string& Wav) {
    auto bytes = ReadWholeFile(Wav);
    return bytes.size() < 44 ? std::vector<uint8_t>{}
                             : std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
  }

  TTempDir Dir;
};

TEST_F(CommandLine, RipsEveryAudioTrackOfAnImageExactly) {
  const std::string cue = MakeDisc(
      "disc", "--tracks 4 --seconds 2,3.5,1 --content ramp --data-track last --pregap 0,30");
  const auto result = Cli("--out ripped '" + cue + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  for (int track = 1; track <= 3; ++track) {
    char name[32];
    std::snprintf(name, sizeof name, "ripped/Track%02d.wav", track);
    const auto pcm = PcmOf(Dir / name);
    const auto expected = Expected(track);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(pcm.size(), expected.size()) << name;
    EXPECT_TRUE(pcm == expected) << name;
    EXPECT_NE(result.Output.find(std::string(name).substr(7) + ": Done"), std::string::npos)
        << result.Output;
  }
  EXPECT_FALSE(std::filesystem::exists(Dir / "ripped/Track04.wav"));  // the data track
}

// A run killed as it puts its rip log in place leaves no log in the folder; the next run
// removes what the killed one left, and its log and sheet take the disc's own names.
TEST_F(CommandLine, AKilledRunsLogIsNeitherLeftNorInTheNextsWay) {
  MakeDisc("disc", "--tracks 1 --seconds 1");
  const std::string calls = "write,rename,renameat,renameat2,link,linkat";
  CaptureCommand("cd '" + Dir.Path().string() + "' && strace -f -qq -o /dev/null -P out/disc.log" +
                 " -e trace=" + calls + " -e inject=" + calls + ":signal=KILL:when=1 " + Bin +
                 "/korvane-cli --log --out out disc.cue");
  EXPECT_FALSE(std::filesystem::exists(Dir / "out/disc.log"));
  const auto again = Cli("--log --out out disc.cue");
  ASSERT_EQ(again.Status, 0) << again.Output;
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Dir / "out"))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"Track01.wav", "disc.cue", "disc.log"}));
}

TEST_F(CommandLine, ListsDrivesAndTracks) {
  const std::string cue = MakeDisc("listed", "--tracks 3 --seconds 61,2 --data-track first");
  const auto result = Cli("--list '" + cue + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  EXPECT_NE(result.Output.find(cue + "/Track01.cda"), std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("data"), std::string::npos);
  EXPECT_NE(result.Output.find(" 1:01.00  audio"), std::string::npos) << result.Output;
}

// A failing track in the middle of a list says why and the rip goes on.
TEST_F(CommandLine, AFailedTrackIsReportedAndTheRestIsRipped) {
  const std::string cue =
      MakeDisc("mixed", "--tracks 3 --seconds 1 --content noise --data-track last");
  const auto result =
      Cli("'" + cue + "/Track01.cda' '" + cue + "/Track03.cda' '" + cue +
          "/Track02.cda' '/nowhere/disc.cue/Track01.cda' '" + cue + "/Trackxx.cda'");
  EXPECT_EQ(result.Status, 1) << result.Output;
  EXPECT_NE(result.Output.find("Track03.wav: Failed: Trying to rip a data track"),
            std::string::npos)
      << result.Output;
  EXPECT_NE(result.Output.find(
                "/nowhere/disc.cue/Track01.cda: Failed: /nowhere/disc.cue does not exist."),
            std::string::npos)
      << result.Output;
  EXPECT_NE(result.Output.find("Trackxx.cda: Failed:"), std::string::npos) << result.Output;
  EXPECT_TRUE(PcmOf(Dir / "Track01.wav") == Expected(1));
  EXPECT_TRUE(PcmOf(Dir / "Track02.wav") == Expected(2));
}

TEST_F(CommandLine, FormatOptionsAndUsageErrors) {
  const std::string cue = MakeDisc("ima", "--tracks 1 --seconds 2 --content chord");
  auto result = Cli("--wav-type ima --block-size 1024 '" + cue + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  const auto file = ReadWholeFile(Dir / "Track01.wav");
  ASSERT_GT(file.size(), 60u);
  EXPECT_EQ(Field16(file, 20), 0x11);
  EXPECT_EQ(Field16(file, 32), 1024);

  for (const char* bad : {"--block-size 510", "--wav-type mp3", "--format aiff", "--bitrate 128",
                          "--frobnicate", "--format flac --compression-level 9",
                          "--format ogg --compression-level 5", "--format wav --tag ARTIST=x",
                          "--format flac --vbr", "--retries 2", "--lookup accuraterip=",
                          "--lookup accuraterip=example.org/ar", "--lookup accuraterip=http://"}) {
    result = Cli(std::string(bad) + " '" + cue + "'");
    EXPECT_EQ(result.Status, 2) << bad;
    EXPECT_NE(result.Output.find("korvane-cli: "), std::string::npos) << bad;
  }
  // A scheme is read in any case, as libcurl reads it (the lookup then fails, not the rip).
  result = Cli("--lookup accuraterip=HTTPS://127.0.0.1:9/ar --out any '" + cue + "'");
  EXPECT_NE(result.Status, 2) << result.Output;
  // An image holds the disc's audio without a read offset.
  result = Cli("--offset 30 '" + cue + "'");
  EXPECT_NE(result.Output.find("images have no read offset"), std::string::npos) << result.Output;
  EXPECT_EQ(Cli("--help").Status, 0);
  EXPECT_NE(Cli("--version").Output.find("1.00"), std::string::npos);
}

// Ctrl-C in the middle of the second track: that file is finished as after an abort,
// with headers that tell the truth, beside the earlier file of its name, which stays;
// the third is never started; status 130. The program runs on a terminal, so its live
// progress line shows when the second track is under way.
// Runs korvane-cli on a terminal with Arguments and interrupts it (SIGINT) once what it
// printed matches When; returns what it printed and its wait status.
std::pair<std::string, int> InterruptedRun(const std::vector<std::string>& Arguments,
                                           const std::regex& When) {
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return {"forkpty failed", -1};
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>("korvane-cli")};
    for (const std::string& argument : Arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv((Bin + "/korvane-cli").c_str(), argv.data());
    ::_exit(127);
  }
  std::string printed;
  char buffer[256];
  ssize_t n;
  bool interrupted = false;
  while ((n = ::read(terminal, buffer, sizeof buffer)) > 0) {
    printed.append(buffer, static_cast<size_t>(n));
    if (!interrupted && std::regex_search(printed, When)) {
      ::kill(child, SIGINT);
      interrupted = true;
    }
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!interrupted) printed += "\n(never interrupted)";
  return {printed, status};
}

// An IMA ADPCM file cut short by an abort still counts its frames truly.
void ExpectTrueImaHeader(const std::string& Wav, uint32_t MaxFrames) {
  const auto file = ReadWholeFile(Wav);
  ASSERT_GT(file.size(), 60u) << Wav;
  EXPECT_EQ(Field32(file, 4), file.size() - 8) << Wav;
  EXPECT_EQ(Field32(file, 56), file.size() - 60) << Wav;
  EXPECT_GT(Field32(file, 48), 0u) << Wav;
  EXPECT_LT(Field32(file, 48), MaxFrames) << Wav;  // only the frames really written
}

TEST_F(CommandLine, InterruptFinishesTheCurrentFileAndSkipsTheRest) {
  const std::string cue = MakeDisc("long", "--tracks 3 --seconds 1,300,1 --content noise");
  const std::string out = Dir / "out";
  std::filesystem::create_directory(out);
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  WriteWholeFile(out + "/Track02.wav", earlier);
  const auto [printed, status] =
      InterruptedRun({"--jobs", "1", "--wav-type", "ima", "--out", out, cue},
                     std::regex("Track02\\.wav  [1-9][0-9]*%"));
  ASSERT_TRUE(WIFEXITED(status)) << printed;
  EXPECT_EQ(WEXITSTATUS(status), 130) << printed;
  EXPECT_NE(printed.find("Track01.wav  Done"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Track02.wav  Aborted"), std::string::npos) << printed;
  EXPECT_NE(printed.find("kept as " + out + "/Track02 (incomplete).wav"), std::string::npos)
      << printed;
  EXPECT_FALSE(std::filesystem::exists(out + "/Track03.wav"));
  EXPECT_EQ(ReadWholeFile(out + "/Track02.wav"), earlier);
  ExpectTrueImaHeader(out + "/Track02 (incomplete).wav", 300u * 44100u);
}

// With two tracks encoded at once, an interrupt aborts both; each file stays valid.
TEST_F(CommandLine, InterruptAbortsEveryRunningTrack) {
  const std::string cue = MakeDisc("long", "--tracks 3 --seconds 200,200,1 --content noise");
  const std::string out = Dir / "out";
  const auto [printed, status] = InterruptedRun(
      {"--jobs", "2", "--format", "mp3", "--out", out, cue},
      std::regex("Track01\\.mp3  [1-9][0-9]*%[^\r]*  \\|  [^\r]*Track02\\.mp3  [1-9][0-9]*%"));
  ASSERT_TRUE(WIFEXITED(status)) << printed;
  EXPECT_EQ(WEXITSTATUS(status), 130) << printed;
  EXPECT_NE(printed.find("Track01.mp3  Aborted"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Track02.mp3  Aborted"), std::string::npos) << printed;
  EXPECT_NE(printed.find("0 done, 0 failed, 2 aborted"), std::string::npos) << printed;
  EXPECT_FALSE(std::filesystem::exists(out + "/Track03.mp3"));
  for (const char* mp3 : {"/Track01.mp3", "/Track02.mp3"}) {
    const mp3test::TDecoded decoded = mp3test::DecodeFile(out + mp3);
    EXPECT_EQ(decoded.LostFrames, 0) << mp3;
    EXPECT_GT(decoded.SampleCount(), 0) << mp3;
    EXPECT_LT(decoded.SampleCount(), 200 * 44100) << mp3;
  }
}

// Every format, decoded by ffmpeg (which we did not write): the length of each track
// survives (MP3 within the encoder's delay and padding), and the format's options
// reach the files.
TEST_F(CommandLine, EveryFormatDecodesToTheTrackLength) {
  const std::string cue = MakeDisc("formats", "--tracks 2 --seconds 3,2 --content music");
  struct Case {
    const char* Format;
    const char* Options;
    const char* Extension;
    int Slack;  // frames the decoder may add
  };
  for (const Case c : {Case{"wav", "--wav-type pcm", ".wav", 0},
                       Case{"mp3", "--bitrate 192 --mode joint", ".mp3", 576 + 2 * 1152 + 1152},
                       Case{"ogg", "--compression 0.5", ".ogg", 0},
                       Case{"flac", "--compression-level 8", ".flac", 0}}) {
    const auto result = Cli(std::string("--format ") + c.Format + " " + c.Options + " --out " +
                            c.Format + " '" + cue + "'");
    ASSERT_EQ(result.Status, 0) << c.Format << result.Output;
    for (int track = 1; track <= 2; ++track) {
      const std::string file =
          Dir / (std::string(c.Format) + "/Track0" + std::to_string(track) + c.Extension);
      const auto decoded =
          CaptureCommand("ffmpeg -v error -i '" + file + "' -f s16le -ac 2 -ar 44100 - | wc -c");
      const long frames = std::stol(decoded.Output) / 4;
      const long expected = static_cast<long>(Expected(track).size() / 4);
      EXPECT_GE(frames, expected) << file;
      EXPECT_LE(frames, expected + c.Slack) << file;
    }
  }
}

// The tag options, with the window's per-row switches: the title from each track's
// name and numbers counting from --track-from.
TEST_F(CommandLine, Mp3TagsFollowTheRows) {
  const std::string cue = MakeDisc("tags", "--tracks 3 --seconds 1 --content tone");
  const auto result =
      Cli("--format mp3 --artist 'The Band' --genre Psychadelic --title-from-name "
          "--track-from 5 '" +
          cue + "/Track03.cda' '" + cue + "/Track01.cda'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  for (const auto& [name, number] : {std::pair<std::string, int>{"Track03", 5}, {"Track01", 6}}) {
    const auto file = ReadWholeFile(Dir / (name + ".mp3"));
    ASSERT_GT(file.size(), 128u);
    const std::string tag(file.end() - 128, file.end());
    EXPECT_EQ(tag.substr(0, 3), "TAG") << name;
    EXPECT_EQ(tag.substr(3, name.size()), name);
    EXPECT_EQ(tag.substr(33, 8), "The Band");
    EXPECT_EQ(static_cast<uint8_t>(tag[126]), number) << name;  // ID3v1.1 track
    EXPECT_EQ(static_cast<uint8_t>(tag[127]), 67) << name;      // Psychadelic
  }
}

// The tag texts reach both tags of the file as typed (the reading is in
// tests/support/tag_reader.h).
TEST_F(CommandLine, Mp3TagsHoldTheTextsAsTyped) {
  const std::string cue = MakeDisc("typed", "--tracks 1 --seconds 1 --content tone");
  for (const tagtest::TGenreCase& genre : tagtest::GenreCases) {
    const tagtest::TTyped typed = tagtest::Typed(genre);
    const std::string folder = genre.Typed;
    const auto result = Cli("--format mp3 --out '" + folder + "' --title '" + typed.Title +
                            "' --artist '" + typed.Artist + "' --album '" + typed.Album +
                            "' --year " + typed.Year + " --track " + typed.Track + " --comment '" +
                            typed.Comment + "' --genre '" + typed.Genre + "' '" + cue + "'");
    ASSERT_EQ(result.Status, 0) << result.Output;
    tagtest::ExpectTypedTags(Dir / (folder + "/Track01.mp3"), genre);
  }
}

// Comment lines, with the per-row title and numbers, read back by mutagen; each file
// passes `flac -t`.
TEST_F(CommandLine, FlacCommentsFollowTheRows) {
  const std::string cue = MakeDisc("flac", "--tracks 3 --seconds 1 --content music");
  const auto result =
      Cli("--format flac --tag 'ARTIST=Ann Björk' --tag TRACKNUMBER=1 --tag "
          "TRACKTOTAL=3 --title-from-name --track-from 2 '" +
          cue + "/Track03.cda' '" + cue + "/Track01.cda'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  for (const auto& [name, number] : {std::pair<std::string, int>{"Track03", 2}, {"Track01", 3}}) {
    const std::string file = Dir / (name + ".flac");
    EXPECT_TRUE(flactest::PassesFlacTest(file)) << file;
    const flactest::TFileInfo info = flactest::ReadInfo(file);
    EXPECT_EQ(info.Comment("TITLE"), name);
    EXPECT_EQ(info.Comment("ARTIST"), "Ann Björk");
    EXPECT_EQ(info.Comment("TRACKNUMBER"), std::to_string(number));
    EXPECT_EQ(info.Comments.count("TRACKNUMBER"), 1u) << "the row's number replaces the line";
    EXPECT_EQ(info.Comment("TRACKTOTAL"), "3");
  }
}

TEST_F(CommandLine, OggOptionsReachTheStream) {
  const std::string cue = MakeDisc("ogg", "--tracks 1 --seconds 2 --content noise");
  const auto result =
      Cli("--format ogg --nominal 128 --tag ARTIST=Someone --tag 'Made by hand' '" + cue + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  const auto info = CaptureCommand("ogginfo '" + (Dir / "Track01.ogg") + "'");
  EXPECT_NE(info.Output.find("Nominal bitrate: 128"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("ARTIST=Someone"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("COMMENT=Made by hand"), std::string::npos) << info.Output;
  EXPECT_EQ(info.Output.find("WARNING"), std::string::npos) << info.Output;
  EXPECT_EQ(Cli("--format ogg --nominal 100 '" + cue + "'").Status, 2);
  EXPECT_EQ(Cli("--format ogg --compression 1.5 '" + cue + "'").Status, 2);
}

// Several tracks encoded at a time write the same files as one at a time, in every
// encoded format, with as many encoders as tracks or fewer, and the tally is the same.
// (WAV files are written one at a time whatever --jobs says: the disc reading is what
// takes the time.)
struct JobsCase {
  const char* Name;
  const char* Options;
  const char* Extension;
};

void PrintTo(const JobsCase& Case, std::ostream* Out) { *Out << Case.Name; }

class ParallelJobs : public CommandLine, public ::testing::WithParamInterface<JobsCase> {};

TEST_P(ParallelJobs, WriteTheSameFilesAsOneAtATime) {
  const std::string cue = MakeDisc("disc", "--tracks 5 --seconds 3,1,4,0.5,2 --content music");
  std::vector<std::string> results;
  for (const char* jobs : {"1", "2", "5"}) {
    const auto result = Cli(std::string("--jobs ") + jobs + " " + GetParam().Options +
                            " --out out" + jobs + " '" + cue + "'");
    ASSERT_EQ(result.Status, 0) << result.Output;
    EXPECT_NE(result.Output.find("5 done, 0 failed, 0 aborted"), std::string::npos)
        << result.Output;
  }
  for (int track = 1; track <= 5; ++track) {
    const std::string name = "/Track0" + std::to_string(track) + GetParam().Extension;
    const auto serial = ReadWholeFile(Dir / ("out1" + name));
    ASSERT_GT(serial.size(), 100u) << name;
    EXPECT_TRUE(ReadWholeFile(Dir / ("out2" + name)) == serial) << name;
    EXPECT_TRUE(ReadWholeFile(Dir / ("out5" + name)) == serial) << name;
  }
}

const JobsCase JobsCases[] = {
    {"Flac", "--format flac --title-from-name", ".flac"},
    {"Mp3", "--format mp3 --title-from-name --track-from 1", ".mp3"},
    {"Ogg", "--format ogg --tag ARTIST=Someone", ".ogg"},
};

INSTANTIATE_TEST_SUITE_P(Formats, ParallelJobs, ::testing::ValuesIn(JobsCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Jobs running side by side never write one file: two discs with the same track names
// give numbered names, as one at a time does; a failing job among them fails alone.
TEST_F(CommandLine, ParallelJobsKeepTheirNamesApartAndFailAlone) {
  const std::string first = MakeDisc("a", "--tracks 2 --seconds 1 --content noise");
  const std::string second = MakeDisc("b", "--tracks 2 --seconds 1 --content ramp");
  const auto result = Cli("--jobs 3 --out out '" + first + "' /nowhere/x.cue '" + second + "'");
  EXPECT_EQ(result.Status, 1) << result.Output;
  EXPECT_NE(result.Output.find("4 done, 1 failed"), std::string::npos) << result.Output;
  EXPECT_TRUE(PcmOf(Dir / "out/Track01 (2).wav") == Expected(1)) << result.Output;
  EXPECT_TRUE(PcmOf(Dir / "out/Track02 (2).wav") == Expected(2));
}

}  // namespace
