// What korvane-cli tells its user: usage errors with their reasons, warnings about
// values the encoder changes, failures on standard error and the closing summary.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command_run.h"
#include "temp_dir.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

class CliMessages : public ::testing::Test {
 protected:
  std::string MakeDisc(const std::string& Options, const std::string& Name = "disc") {
    const std::string cue = Dir / (Name + ".cue");
    const auto made = CaptureCommand(Bin + "/korvane-mkdisc " + Options + " '" + cue + "'");
    EXPECT_EQ(made.Status, 0) << made.Output;
    return cue;
  }
  // Runs the program in the test's folder; Arguments may carry shell redirections.
  TCommandResult Cli(const std::string& Arguments) {
    return CaptureCommand("cd '" + Dir.Path().string() + "' && " + Bin + "/korvane-cli " +
                          Arguments);
  }
  std::string Text(const std::string& Name) {
    const auto bytes = ReadWholeFile(Dir / Name);
    return std::string(bytes.begin(), bytes.end());
  }

  TTempDir Dir;
};

// Each line names a source that does not exist: a line that is not refused ends in
// status 1 with that source's failure, so a refusal that went missing shows.
TEST_F(CliMessages, OptionsWithoutEffectAreRefusedWithTheReason) {
  struct Case {
    const char* Options;
    int Status;
    std::vector<const char*> Says;
  };
  const Case cases[] = {
      {"-x", 2, {"Unknown option -x"}},
      {"--jobs 0", 2, {"--jobs", "from 1 to 64", "\"0\""}},
      {"--jobs 2x", 2, {"--jobs", "\"2x\""}},
      {"--jobs 65", 2, {"--jobs", "\"65\""}},
      {"--jobs 64", 1, {"does not exist"}},
      {"--format ogg --bitrate 128", 2, {"--bitrate", "--format mp3"}},
      {"--block-size 1024", 2, {"--block-size", "no effect", "--wav-type ima"}},
      {"--format mp3 --vbr-quality 2", 2, {"--vbr-quality", "no effect without --vbr"}},
      {"--format mp3 --vbr --bitrate 192", 2, {"--bitrate", "no effect with --vbr"}},
      {"--format mp3 --vbr --quality 2", 2, {"--quality", "no effect with --vbr"}},
      {"--format mp3 --samplerate 41000", 2, {"--samplerate", "41000"}},
      {"--format ogg --max 128", 2, {"--max", "no effect without --nominal"}},
      {"--format ogg --nominal auto --min 64", 2, {"--min", "with --nominal auto"}},
      {"--format ogg --nominal 128 --max 96", 2, {"--max 96", "below --nominal 128"}},
      {"--format ogg --nominal 128 --min 160", 2, {"--min 160", "above --nominal 128"}},
      {"--format ogg --nominal 128 --compression 0.5", 2, {"--compression", "with --nominal"}},
      {"--format ogg --nominal 128 --max auto --min 64", 1, {"does not exist"}},
      {"--format mp3 --vbr --vbr-header --vbr-max 256", 1, {"does not exist"}},
      {"--format mp3 --samplerate 11025 --bitrate 320", 1, {"warning: --bitrate 320 becomes 64"}},
      {"--format mp3 --bitrate 144", 1, {"warning: --bitrate 144 becomes 128"}},
      {"--format mp3 --vbr --vbr-min 8", 1, {"warning: --vbr-min 8 becomes 32"}},
      // Comment names hold printable ASCII from space to "}"; a line without one is free
      // text.
      {"--format ogg --tag 'TITLÉ=x'", 2, {"--tag", "printable ASCII", "\"TITLÉ\""}},
      {"--format ogg --tag '~NAME=x'", 2, {"--tag", "printable ASCII", "\"~NAME\""}},
      {"--format ogg --tag ' }=x' --tag 'Made by hand' --tag '=x'", 1, {"does not exist"}},
      // Values the rip would refuse (or change silently) are refused when the line is read.
      {"--wav-type ima --block-size 12", 2, {"--block-size", "multiple of 8", "\"12\""}},
      {"--wav-type ima --block-size 1028", 2, {"--block-size", "\"1028\""}},
      {"--format flac --tag \"TITLE=$(printf '\\351')\"", 2, {"--tag", "UTF-8"}},
      {"--format mp3 --vbr --vbr-min 256 --vbr-max 192",
       2,
       {"--vbr-min 256 is above --vbr-max 192"}},
      {"--format mp3 --vbr --vbr-min 256", 2, {"above --vbr-max 192 (the default)"}},
      {"--jobs ' 2'", 2, {"--jobs", "\" 2\""}},
      {"--jobs +2", 2, {"--jobs", "\"+2\""}},
      {"--format flac --compression-level +5", 2, {"--compression-level", "\"+5\""}},
      {"--format ogg --compression 0x0.8p0", 2, {"--compression", "\"0x0.8p0\""}},
      {"--format ogg --compression ' 0.5'", 2, {"--compression", "\" 0.5\""}},
      {"--offset -6 --format ogg --compression .5", 1, {"does not exist"}},
      {"''", 2, {"empty source"}},
      // The lookup's server and match belong to a lookup of names.
      {"--lookup-server http://127.0.0.1:1/", 2, {"--lookup-server", "without --lookup"}},
      {"--lookup accuraterip --release 2", 2, {"--release", "without --lookup"}},
      // The tag options work for every tagged format.
      {"--format flac --title x --genre y --tag A=b", 1, {"does not exist"}},
      {"--format mp3 --tag MOOD=calm --tag 'free text'", 1, {"does not exist"}},
      // A batch waits on drives: an image holds no disc to take out.
      {"--batch", 2, {"--batch waits on CD drives", "/nowhere/disc.cue is a track entry"}},
      {"--batch --list", 2, {"--batch and --list exclude each other"}},
  };
  for (const Case& c : cases) {
    const auto result = Cli(std::string(c.Options) + " /nowhere/disc.cue");
    EXPECT_EQ(result.Status, c.Status) << c.Options << "\n" << result.Output;
    for (const char* words : c.Says)
      EXPECT_NE(result.Output.find(words), std::string::npos) << c.Options << "\n" << result.Output;
  }
  EXPECT_EQ(Cli("-h").Output, Cli("--help").Output);
}

TEST_F(CliMessages, FailuresGoToStandardErrorAndASummaryEndsTheRun) {
  const std::string cue = MakeDisc("--tracks 2 --seconds 1 --data-track last");
  const auto result =
      Cli("'" + cue + "/Track01.cda' '" + cue + "/Track02.cda' /nowhere/disc.cue/Track01.cda '" +
          Dir.Path().string() + "/Track01.cda' 2>errors");
  EXPECT_EQ(result.Status, 1) << result.Output;
  EXPECT_NE(result.Output.find("Track01.wav: Done\n"), std::string::npos) << result.Output;
  EXPECT_EQ(result.Output.find("Failed"), std::string::npos) << result.Output;
  const std::string summary = "1 done, 3 failed, 0 aborted\n";
  ASSERT_GE(result.Output.size(), summary.size()) << result.Output;
  EXPECT_EQ(result.Output.substr(result.Output.size() - summary.size()), summary);

  const std::string errors = Text("errors");
  EXPECT_NE(errors.find("Track02.wav: Failed: Trying to rip a data track"), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("/nowhere/disc.cue/Track01.cda: Failed: /nowhere/disc.cue does not exist."),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find(Dir.Path().string() + " is neither a CD drive nor a disc image."),
            std::string::npos)
      << errors;
}

// An unset shell variable as the output folder would have meant writing into "/".
TEST_F(CliMessages, AnEmptyOutputFolderIsAUsageError) {
  const std::string cue = MakeDisc("--tracks 1 --seconds 1");
  const auto before = std::distance(std::filesystem::directory_iterator(Dir.Path()), {});
  const auto result = Cli("--out \"$KORVANE_UNSET_FOLDER\" '" + cue + "'");
  EXPECT_EQ(result.Status, 2) << result.Output;
  EXPECT_NE(result.Output.find("--out"), std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("empty"), std::string::npos) << result.Output;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), before);
}

}  // namespace

// One invocation is one run: a later job never replaces a file an earlier one wrote (a
// second disc's Track01 becomes "Track01 (2)"), and the name used is printed; a job
// that failed wrote nothing, so it takes no name from the jobs after it.
TEST_F(CliMessages, ARunNeverReplacesItsOwnFiles) {
  MakeDisc("--tracks 2 --seconds 1", "first");
  MakeDisc("--tracks 2 --seconds 1");
  const auto run = Cli("--out o /nowhere.cue/Track01.cda first.cue disc.cue/Track01.cda");
  EXPECT_EQ(run.Status, 1) << run.Output;
  for (const char* name : {"o/Track01.wav:", "o/Track02.wav: Done", "o/Track01 (2).wav: Done"})
    EXPECT_NE(run.Output.find(name), std::string::npos) << name << "\n" << run.Output;
  EXPECT_EQ(run.Output.find("Track01 (3)"), std::string::npos) << run.Output;
  EXPECT_TRUE(std::filesystem::exists(Dir / "o/Track01 (2).wav"));
}

// Nor does a run write over what it reads: an image whose audio file is Track01.wav,
// ripped into its own folder, keeps its source; --out naming a file is one usage error.
TEST_F(CliMessages, ARunNeverReplacesItsSourceNorTakesAFileForAFolder) {
  MakeDisc("--tracks 2 --seconds 3,1 --bin-name Track01.wav");
  const auto source = ReadWholeFile(Dir / "Track01.wav");
  const auto run = Cli("--out . disc.cue");
  EXPECT_EQ(run.Status, 0) << run.Output;
  EXPECT_NE(run.Output.find("./Track01 (2).wav: Done"), std::string::npos) << run.Output;
  EXPECT_TRUE(ReadWholeFile(Dir / "Track01.wav") == source);
  const auto file = Cli("--out Track01.wav disc.cue");
  EXPECT_EQ(file.Status, 2) << file.Output;
  EXPECT_NE(file.Output.find("--out names a file, not a folder"), std::string::npos) << file.Output;
}
