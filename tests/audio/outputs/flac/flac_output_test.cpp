// The FLAC output, checked with tools we did not write: `flac` decodes every file to its
// input sample for sample and tests its MD5, its size stays within 1 % of what `flac`
// makes of the same audio at the same level, and mutagen reads STREAMINFO, the seek
// table and the comments. What every file output does (aborts, failures, full disks)
// is checked across the formats in tests/audio/outputs/output_behaviour_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "flac_decoder.h"
#include "outputs/audio_flac.h"
#include "pcm_source.h"
#include "pipeline_test.h"

namespace {

constexpr int Rate = 44100;

// A chord with a little noise under it: it compresses as music does, neither as well as
// a pure tone nor as badly as noise.
std::vector<uint8_t> MusicLike(int Frames, int Channels) {
  const std::vector<double> chord = {220.0, 277.2, 329.6, 440.0, 554.4, 659.3, 880.0, 1108.7};
  const std::vector<uint8_t> tone =
      TestSignal::Sine16(Frames, std::vector<double>(chord.begin(), chord.begin() + Channels), 0.3);
  const std::vector<uint8_t> noise = TestSignal::Noise16(Frames, Channels, 7, 600);
  std::vector<uint8_t> out;
  out.reserve(tone.size());
  for (size_t i = 0; i < tone.size(); i += 2) {
    const auto a = static_cast<int16_t>(tone[i] | (tone[i + 1] << 8));
    const auto b = static_cast<int16_t>(noise[i] | (noise[i + 1] << 8));
    TestSignal::Append16(out, a + b);
  }
  return out;
}

class FlacOutputTest : public PipelineTest {
 protected:
  std::string FileName(const std::string& Name) const { return Dir / Name; }
  // Runs Output over Input into Name; true when the run completed.
  bool Write(TFlacOut& Output, TPcmMemoryInput& Input, const std::string& Name) {
    Output.FileName = FileName(Name);
    return Completes(Output, Input);
  }
};

struct TEncodingCase {
  const char* Name;
  int Level;
  int Channels;
  bool SizeKnown;
  int SeekPoints;  // one every 10 s of a known length
};

class FlacEncodingTest : public FlacOutputTest,
                         public ::testing::WithParamInterface<TEncodingCase> {};

// Sample for sample, with the true length and an MD5 that `flac -t` checks, at every
// level and channel count; a source of unknown length gets no seek table.
TEST_P(FlacEncodingTest, DecodesToItsInputWithATrueStreamInfo) {
  const TEncodingCase& c = GetParam();
  const int frames = 21 * Rate + 123;  // not a whole number of blocks
  TPcmMemoryInput input(MusicLike(frames, c.Channels), c.Channels, 16, Rate, c.SizeKnown);
  TFlacOut output;
  output.CompressionLevel = c.Level;
  ASSERT_TRUE(Write(output, input, "out.flac"));

  EXPECT_TRUE(flactest::PassesFlacTest(output.FileName));
  EXPECT_EQ(flactest::Decode(output.FileName), AsSamples(input.Bytes()));
  const flactest::TFileInfo info = flactest::ReadInfo(output.FileName);
  EXPECT_EQ(info.Samples, frames);
  EXPECT_NE(info.Md5, "0");
  EXPECT_EQ(static_cast<int>(info.Points.size()), c.SeekPoints);
  EXPECT_TRUE(flactest::SeekTableFitsTheStream(info));
}

INSTANTIATE_TEST_SUITE_P(Levels, FlacEncodingTest,
                         ::testing::Values(TEncodingCase{"Level0Stereo", 0, 2, true, 3},
                                           TEncodingCase{"Level5Mono", 5, 1, true, 3},
                                           TEncodingCase{"Level8SixChannels", 8, 6, true, 3},
                                           TEncodingCase{"UnknownLength", 5, 2, false, 0}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Within 1 % of the `flac` program's file at the same level (without the padding block
// that it adds for later tag edits, which holds no audio).
TEST_F(FlacOutputTest, SizeIsWithinOnePercentOfTheFlacProgramAtTheSameLevel) {
  const std::vector<uint8_t> pcm = MusicLike(30 * Rate, 2);
  WriteWholeFile(FileName("in.raw"), pcm);
  for (const int level : {0, 5, 8}) {
    SCOPED_TRACE(level);
    TPcmMemoryInput input(pcm, 2);
    TFlacOut output;
    output.CompressionLevel = level;
    ASSERT_TRUE(Write(output, input, "ours.flac"));
    const std::string theirs = FileName("theirs.flac");
    ASSERT_EQ(CaptureCommand("flac -s -f -" + std::to_string(level) +
                             " --no-padding --force-raw-format --endian=little --sign=signed "
                             "--channels=2 --bps=16 --sample-rate=44100 -o '" +
                             theirs + "' '" + FileName("in.raw") + "'")
                  .Status,
              0);
    const auto ours = static_cast<double>(std::filesystem::file_size(output.FileName));
    const auto reference = static_cast<double>(std::filesystem::file_size(theirs));
    EXPECT_NEAR(ours / reference, 1.0, 0.01) << ours << " bytes against " << reference;
  }
}

// The comment lines as mutagen reads them: the usual names, texts in any script, and a
// line without a name kept as a COMMENT.
TEST_F(FlacOutputTest, CommentLinesBecomeVorbisComments) {
  TPcmMemoryInput input(MusicLike(Rate, 2), 2);
  TFlacOut output;
  output.SetComments({"TITLE=Jóga 東", "ARTIST=Björk", "ALBUM=Homogenic", "DATE=1997",
                      "GENRE=Electronic", "TRACKNUMBER=3", "TRACKTOTAL=10", "Ripped by hand", ""});
  ASSERT_TRUE(Write(output, input, "tags.flac"));
  const flactest::TFileInfo info = flactest::ReadInfo(output.FileName);
  ASSERT_TRUE(info.Read);
  const std::pair<const char*, const char*> expected[] = {
      {"TITLE", "Jóga 東"}, {"ARTIST", "Björk"},          {"ALBUM", "Homogenic"},
      {"DATE", "1997"},     {"GENRE", "Electronic"},      {"TRACKNUMBER", "3"},
      {"TRACKTOTAL", "10"}, {"COMMENT", "Ripped by hand"}};
  for (const auto& [name, value] : expected) EXPECT_EQ(info.Comment(name), value) << name;
  EXPECT_EQ(info.Comments.size(), std::size(expected));
  EXPECT_TRUE(output.Comments.empty()) << "the lines belong to the run";
}

// An abort part of the way through a long track: the seek table keeps only points that
// the file reaches, STREAMINFO states the frames written, and `flac -t` passes.
TEST_F(FlacOutputTest, AnAbortedFilesSeekTableOnlyPointsIntoItsAudio) {
  TPcmMemoryInput input(MusicLike(40 * Rate, 2), 2);
  TFlacOut output;
  output.OnProgress = [](TAudioOutput* Sender) {
    if (Sender->Progress() >= 40) Sender->Abort();
  };
  ASSERT_TRUE(Write(output, input, "aborted.flac"));
  const int64_t read = input.Position / 4;
  ASSERT_LT(read, 30 * Rate);
  EXPECT_EQ(flactest::TrueFileFrames(output.FileName), read);
  const std::vector<int16_t> decoded = flactest::Decode(output.FileName);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), AsSamples(input.Bytes()).begin()));
}

// Settings the format cannot take are refused before the file is touched: an earlier
// file of the name stays as it was.
TEST_F(FlacOutputTest, RefusedSettingsLeaveAnEarlierFileAsItWas) {
  struct TRefusal {
    const char* Name;
    int Level;
    int Bits;
    const char* Comment;
    const char* Message;
  };
  const TRefusal refusals[] = {
      {"LevelNine", 9, 16, "", "compression level is 9"},
      {"TwentyFourBits", 5, 24, "", "needs 16-bit samples"},
      {"CommentNameWithATab", 5, 16, "BAD\tNAME=x", "cannot be stored in a FLAC file"}};
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  for (const TRefusal& refusal : refusals) {
    SCOPED_TRACE(refusal.Name);
    WriteWholeFile(FileName("kept.flac"), earlier);
    TPcmMemoryInput input(MusicLike(Rate, 2), 2, refusal.Bits);
    TFlacOut output;
    output.CompressionLevel = refusal.Level;
    output.SetComments({refusal.Comment});
    output.FileName = FileName("kept.flac");
    const TRunResult run = RunToEnd(output, input);
    EXPECT_EQ(run.Failures, 1);
    EXPECT_NE(run.Failure.find(refusal.Message), std::string::npos) << run.Failure;
    EXPECT_EQ(ReadWholeFile(FileName("kept.flac")), earlier);
    EXPECT_EQ(output.Status(), osIdle);
  }
}

}  // namespace
