// The Opus output, checked with tools we did not write: `opusdec` decodes every file to
// the input's length (within one 20 ms frame) and to audio close to it, `opusinfo` reads
// it clean, and mutagen reads the comments. What every file output does (aborts,
// failures, full disks) is checked across the formats in
// tests/audio/outputs/output_behaviour_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "jobs/output_copy.h"
#include "opus_decoder.h"
#include "outputs/audio_opus.h"
#include "pcm_source.h"
#include "pipeline_test.h"

namespace {

// A chord with a little noise under it, one note per channel.
std::vector<uint8_t> MusicLike(int Frames, int Channels, int Rate) {
  const std::vector<double> chord = {220.0, 277.2};
  const std::vector<uint8_t> tone = TestSignal::Sine16(
      Frames, std::vector<double>(chord.begin(), chord.begin() + Channels), 0.3, Rate);
  const std::vector<uint8_t> noise = TestSignal::Noise16(Frames, Channels, 7, 600);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < tone.size(); i += 2)
    TestSignal::Append16(out, static_cast<int16_t>(tone[i] | (tone[i + 1] << 8)) +
                                  static_cast<int16_t>(noise[i] | (noise[i + 1] << 8)));
  return out;
}

// How alike two signals are: their correlation, and the energy of the second over the
// first's, over the samples both have.
struct TLikeness {
  double Correlation = 0, EnergyRatio = 0;
};

TLikeness Likeness(const std::vector<int16_t>& Source, const std::vector<int16_t>& Decoded) {
  double cross = 0, source = 0, decoded = 0;
  for (size_t i = 0; i < std::min(Source.size(), Decoded.size()); ++i) {
    cross += static_cast<double>(Source[i]) * Decoded[i];
    source += static_cast<double>(Source[i]) * Source[i];
    decoded += static_cast<double>(Decoded[i]) * Decoded[i];
  }
  return {cross / std::sqrt(source * decoded), decoded / source};
}

class OpusOutputTest : public PipelineTest {
 protected:
  std::string FileName(const std::string& Name) const { return Dir / Name; }
};

struct TEncodingCase {
  const char* Name;
  int Channels, Rate, Bitrate, Complexity;
  bool Vbr, SizeKnown;
};

class OpusEncodingTest : public OpusOutputTest,
                         public ::testing::WithParamInterface<TEncodingCase> {};

// The decoded length is the input's within one 20 ms frame, at the input's rate, and the
// audio is the input's; a constant bit rate is the one asked for.
TEST_P(OpusEncodingTest, DecodesToTheInputsLengthAndSound) {
  const TEncodingCase& c = GetParam();
  const int frames = 7 * c.Rate + 123;
  TPcmMemoryInput input(MusicLike(frames, c.Channels, c.Rate), c.Channels, 16, c.Rate, c.SizeKnown);
  TOpusOut output;
  output.Bitrate = c.Bitrate;
  output.Complexity = c.Complexity;
  output.Vbr = c.Vbr;
  output.FileName = FileName("out.opus");
  ASSERT_TRUE(Completes(output, input));

  EXPECT_EQ(opustest::Complaints(output.FileName), "");
  const std::vector<int16_t> decoded = opustest::Decode(output.FileName);
  EXPECT_NEAR(static_cast<double>(decoded.size()) / c.Channels, frames, c.Rate / 50.0);
  const TLikeness likeness = Likeness(AsSamples(input.Bytes()), decoded);
  EXPECT_GT(likeness.Correlation, 0.98);
  EXPECT_NEAR(likeness.EnergyRatio, 1.0, 0.05);
  if (!c.Vbr) {
    const double kbps =
        std::filesystem::file_size(output.FileName) * 8.0 / 1000.0 * c.Rate / frames;
    EXPECT_NEAR(kbps, c.Bitrate, c.Bitrate * 0.03);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OpusEncodingTest,
    ::testing::Values(TEncodingCase{"CdStereoDefault", 2, 44100, 160, 10, true, true},
                      TEncodingCase{"StereoHighestConstant", 2, 44100, 510, 0, false, true},
                      TEncodingCase{"MonoLowAt48kHz", 1, 48000, 24, 5, true, true},
                      TEncodingCase{"UnknownLength", 2, 44100, 96, 10, true, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The comment lines as mutagen reads them: the usual names, texts in any script, and a
// line without a name kept as a COMMENT.
TEST_F(OpusOutputTest, CommentLinesBecomeOpusComments) {
  TPcmMemoryInput input(MusicLike(44100, 2, 44100), 2);
  TOpusOut output;
  output.SetComments({"TITLE=Jóga 東", "ARTIST=Björk", "TRACKNUMBER=3", "Ripped by hand", ""});
  output.FileName = FileName("tags.opus");
  ASSERT_TRUE(Completes(output, input));
  const std::multimap<std::string, std::string> expected = {{"TITLE", "Jóga 東"},
                                                            {"ARTIST", "Björk"},
                                                            {"TRACKNUMBER", "3"},
                                                            {"COMMENT", "Ripped by hand"}};
  EXPECT_EQ(opustest::ReadComments(output.FileName), expected);
  EXPECT_TRUE(output.Comments.empty()) << "the lines belong to the run";
}

// Settings the output cannot take are refused before the file is touched: an earlier
// file of the name stays as it was.
TEST_F(OpusOutputTest, RefusedSettingsLeaveAnEarlierFileAsItWas) {
  struct TRefusal {
    const char* Name;
    int Bitrate, Complexity, Channels, Bits, Rate;
    const char* Comment;
    const char* Message;
  };
  const TRefusal refusals[] = {
      {"BitRateFive", 5, 10, 2, 16, 44100, "", "bit rate is 5 kbit/s"},
      {"StereoAbove510", 511, 10, 2, 16, 44100, "", "from 6 to 510"},
      {"MonoAbove300", 301, 10, 1, 16, 44100, "", "from 6 to 300"},
      {"ComplexityEleven", 160, 11, 2, 16, 44100, "", "complexity is 11"},
      {"TwentyFourBits", 160, 10, 2, 24, 44100, "", "needs 16-bit samples"},
      {"ThreeChannels", 160, 10, 3, 16, 44100, "", "in 1 or 2 channels"},
      {"Rate4000", 160, 10, 2, 16, 4000, "", "delivers 4000 Hz"},
      {"CommentNameWithATab", 160, 10, 2, 16, 44100, "BAD\tNAME=x", "cannot be stored"}};
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  for (const TRefusal& refusal : refusals) {
    SCOPED_TRACE(refusal.Name);
    WriteWholeFile(FileName("kept.opus"), earlier);
    TPcmMemoryInput input(std::vector<uint8_t>(6 * 4410, 0), refusal.Channels, refusal.Bits,
                          refusal.Rate);
    TOpusOut output;
    output.Bitrate = refusal.Bitrate;
    output.Complexity = refusal.Complexity;
    output.SetComments({refusal.Comment});
    output.FileName = FileName("kept.opus");
    const TRunResult run = RunToEnd(output, input);
    EXPECT_EQ(run.Failures, 1);
    EXPECT_NE(run.Failure.find(refusal.Message), std::string::npos) << run.Failure;
    EXPECT_EQ(ReadWholeFile(FileName("kept.opus")), earlier);
    EXPECT_EQ(output.Status(), osIdle);
  }
}

// Runs that encode several tracks at once copy the configured output.
TEST_F(OpusOutputTest, ACopyForAnotherEncoderCarriesTheSettings) {
  TOpusOut model;
  model.Bitrate = 96;
  model.Complexity = 3;
  model.Vbr = false;
  model.SetComments({"ALBUM=Homogenic"});
  const std::unique_ptr<TAudioFileOut> copy = NewOutputLike(model);
  const auto* opus = dynamic_cast<const TOpusOut*>(copy.get());
  ASSERT_NE(opus, nullptr);
  EXPECT_EQ(opus->Bitrate, 96);
  EXPECT_EQ(opus->Complexity, 3);
  EXPECT_FALSE(opus->Vbr);
  EXPECT_EQ(opus->Comments, model.Comments);
}

}  // namespace
