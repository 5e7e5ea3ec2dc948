// korvane-mkdisc: its options, its refusals and what it prints and writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "disc_image.h"
#include "mkdisc_options.h"
#include "temp_dir.h"

namespace di = korvane::discimage;

namespace {

struct RunResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

RunResult runMkdisc(const std::string& arguments) {
  const std::string command =
      std::string(KORVANE_BIN_DIR) + "/korvane-mkdisc " + arguments + " 2>&1";
  RunResult result;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return result;
  char buffer[4096];
  size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
    result.output.append(buffer, read);
  const int status = pclose(pipe.release());
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string usageErrorOf(const std::vector<std::string>& args) {
  try {
    di::parseMkdiscArguments(args);
  } catch (const EUsageError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(MkdiscOptionsTest, ListsRepeatTheirLastValueAndCountAudioTracksOnly) {
  const di::MkdiscRequest request = di::parseMkdiscArguments(
      {"--tracks", "5", "--seconds", "1.5,2", "--content", "tone:1000,ramp", "--pregap", "10,0,33",
       "--data-track", "first", "--data-sectors", "60", "--seed", "42", "out.cue"});
  const std::vector<di::TrackSpec>& tracks = request.disc.tracks;
  ASSERT_EQ(tracks.size(), 5u);
  EXPECT_EQ(request.disc.seed, 42u);
  EXPECT_TRUE(tracks[0].isData());
  EXPECT_EQ(tracks[0].sectors, 60);
  EXPECT_EQ(tracks[1].content, di::TrackContent::Tone);
  EXPECT_EQ(tracks[1].toneHz, 1000);
  EXPECT_EQ(tracks[1].sectors, 113);  // 1.5 s = 112.5 sectors, rounded
  for (size_t i = 2; i < 5; ++i) {
    EXPECT_EQ(tracks[i].content, di::TrackContent::Ramp);
    EXPECT_EQ(tracks[i].sectors, 150);
  }
  EXPECT_EQ(tracks[1].pregapSectors, 10);
  EXPECT_EQ(tracks[2].pregapSectors, 0);
  EXPECT_EQ(tracks[3].pregapSectors, 33);
  EXPECT_EQ(tracks[4].pregapSectors, 33);
}

TEST(MkdiscOptionsTest, EnhancedPutsTheDataTrackLastWithoutAPregap) {
  const di::MkdiscRequest request = di::parseMkdiscArguments(
      {"--enhanced", "--sectors=80", "--pregap=150", "--split", "--motorola", "x.cue"});
  ASSERT_EQ(request.disc.tracks.size(), 3u);
  EXPECT_TRUE(request.disc.enhanced);
  EXPECT_TRUE(request.disc.tracks[2].isData());
  EXPECT_EQ(request.disc.tracks[1].pregapSectors, 150);
  EXPECT_EQ(request.disc.tracks[2].pregapSectors, 0);
  EXPECT_TRUE(request.layout.filePerTrack);
  EXPECT_EQ(request.layout.audioFiles, di::AudioFileKind::Motorola);
}

TEST(MkdiscOptionsTest, NinetyNineTracksAreAcceptedAHundredRefused) {
  EXPECT_EQ(
      di::parseMkdiscArguments({"--tracks", "99", "--sectors", "1", "--print"}).disc.tracks.size(),
      99u);
  EXPECT_NE(usageErrorOf({"--tracks", "100", "--print"}).find("at most 99 tracks"),
            std::string::npos);
  const RunResult refused = runMkdisc("--tracks 100 --print");
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.output.find("korvane-mkdisc: --tracks takes"), std::string::npos)
      << refused.output;
}

struct BadOptions {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

void PrintTo(const BadOptions& options, std::ostream* out) { *out << options.name; }

class MkdiscRefusalTest : public ::testing::TestWithParam<BadOptions> {};

TEST_P(MkdiscRefusalTest, SaysWhatWasWrongAndWhatToDo) {
  const std::string message = usageErrorOf(GetParam().args);
  EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Options, MkdiscRefusalTest,
    ::testing::Values(
        BadOptions{"NothingToDo", {}, "nothing to do"},
        BadOptions{"UnknownOption",
                   {"--frobnicate", "x.cue"},
                   "unknown option --frobnicate: see korvane-mkdisc --help"},
        BadOptions{"MissingValue", {"x.cue", "--seconds"}, "--seconds needs a value"},
        BadOptions{"ZeroTracks", {"--tracks", "0", "x.cue"}, "from 1 to 99, not \"0\""},
        BadOptions{"ZeroSeconds", {"--seconds", "2,0", "x.cue"}, "above 0"},
        BadOptions{"SecondsAndSectors",
                   {"--seconds", "1", "--sectors", "75", "x.cue"},
                   "either --seconds or --sectors"},
        BadOptions{"EmptyListEntry", {"--sectors", "75,,80", "x.cue"}, "empty entry"},
        BadOptions{
            "UnknownContent", {"--content", "ramp,jazz", "x.cue"}, "unknown content \"jazz\""},
        BadOptions{"FrequencyOfNoise",
                   {"--content", "noise:440", "x.cue"},
                   "only tone and chord take a frequency"},
        BadOptions{"NegativePregap", {"--pregap", "-3", "x.cue"}, "--pregap takes"},
        BadOptions{"HiddenMusic", {"--hidden", "2:music", "x.cue"}, "tone[:HZ], noise or silence"},
        BadOptions{"HiddenBeforeData",
                   {"--hidden", "2", "--data-track", "first", "x.cue"},
                   "drop --data-track first"},
        BadOptions{"DataTrackInTheMiddle", {"--data-track", "middle", "x.cue"}, "first or last"},
        BadOptions{"EnhancedWithDataFirst",
                   {"--enhanced", "--data-track", "first", "x.cue"},
                   "drop --data-track first"},
        BadOptions{"DataSectorsWithoutData", {"--data-sectors", "10", "x.cue"}, "add --data-track"},
        BadOptions{"TooManyWavs",
                   {"--tracks", "1", "--wav", "a.wav", "--wav", "b.wav", "x.cue"},
                   "2 WAV files"},
        BadOptions{"WaveAndMotorola", {"--wave", "--motorola", "x.cue"}, "exclude each other"},
        BadOptions{"BinNameWithSplit",
                   {"--bin-name", "a.bin", "--split", "x.cue"},
                   "every track has its own file"},
        BadOptions{"TocEnhanced", {"--enhanced", "x.toc"}, "write a cue sheet"},
        BadOptions{"TocNamedCue", {"--toc", "x.cue"}, "name the output OUT.toc"},
        BadOptions{"NotACueSheet", {"x.wav"}, "must be a cue sheet"},
        BadOptions{"TwoOutputs", {"x.cue", "y.cue"}, "give one output file only"}),
    [](const ::testing::TestParamInfo<BadOptions>& test) { return std::string(test.param.name); });

// The program's table and PCM files agree with the library on the same description.
TEST(MkdiscProgramTest, PrintsTheTableAndWritesTheExpectedPcm) {
  TTempDir dir;
  const std::string options =
      "--tracks 3 --sectors 80,45 --content ramp,noise --pregap 12 --data-track last "
      "--data-sectors 45 --seed 5";
  const RunResult run =
      runMkdisc(options + " --print --expect " + dir / "expect" + " " + dir / "disc.cue");
  ASSERT_EQ(run.exitCode, 0) << run.output;

  const di::DiscSpec disc =
      di::parseMkdiscArguments({"--tracks", "3", "--sectors", "80,45", "--content", "ramp,noise",
                                "--pregap", "12", "--data-track", "last", "--data-sectors", "45",
                                "--seed", "5", "--print"})
          .disc;
  const std::vector<uint8_t> track1 = di::expectedTrackPcm(disc, 1);
  const std::vector<uint8_t> track2 = di::expectedTrackPcm(disc, 2);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "track  type   start LSN   sectors    rip bytes  FNV-1a 64\n"
                "    1  audio          0        92       216384  %016" PRIx64
                "\n"
                "    2  audio         92        57       134064  %016" PRIx64
                "\n"
                "    3  data         149        45            -  -\n"
                "lead-out            194\n",
                di::fnv1a64(track1.data(), track1.size()),
                di::fnv1a64(track2.data(), track2.size()));
  EXPECT_EQ(run.output, expected);
  EXPECT_TRUE(ReadWholeFile(dir / "expect/track01.pcm") == track1);
  EXPECT_TRUE(ReadWholeFile(dir / "expect/track02.pcm") == track2);
  EXPECT_FALSE(std::filesystem::exists(dir / "expect/track03.pcm"));
  EXPECT_EQ(std::filesystem::file_size(dir / "disc.bin"), uint64_t(80 + 12 + 45 + 12 + 45) * 2352);
}

TEST(MkdiscProgramTest, HelpSucceedsAndAnUnreadableWavFails) {
  const RunResult help = runMkdisc("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("Usage: korvane-mkdisc"), std::string::npos);
  const RunResult missing = runMkdisc("--wav /nonexistent/a.wav --print");
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.output.find("/nonexistent/a.wav: cannot open the WAV file"), std::string::npos)
      << missing.output;
}

}  // namespace
