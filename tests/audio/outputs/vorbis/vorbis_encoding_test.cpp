// Files written by the Ogg Vorbis output, decoded with libvorbisfile and read page by
// page: length and content, encoding modes, comments, chaining, abort and refusals.
#include <cmath>
#include <fstream>
#include <functional>

#include "ogg_decoder.h"
#include "outputs/audio_vorbis.h"
#include "pcm_source.h"
#include "pipeline_test.h"

namespace {

using namespace VorbisTest;

class VorbisRun : public PipelineTest {};

// Signal-to-noise ratio in dB of Decoded against Original, one channel of Channels.
double ChannelSnr(const std::vector<uint8_t>& Original, const std::vector<int16_t>& Decoded,
                  int Channels, int Channel) {
  double signal = 0, noise = 0;
  const size_t frames = Decoded.size() / static_cast<size_t>(Channels);
  for (size_t i = 0; i < frames; ++i) {
    const size_t at = i * static_cast<size_t>(Channels) + static_cast<size_t>(Channel);
    const auto original = static_cast<int16_t>(Original[2 * at] | (Original[2 * at + 1] << 8));
    signal += double(original) * original;
    noise += double(original - Decoded[at]) * (original - Decoded[at]);
  }
  return 10.0 * std::log10(signal / std::max(noise, 1.0));
}

// Counts the complete packets of Pages and checks that the three header packets end
// their page: the first audio packet then starts a page of its own.
void ExpectHeadersEndOnAPageBoundary(const std::vector<TOggPage>& Pages) {
  int packets = 0;
  for (const TOggPage& page : Pages) {
    for (size_t s = 0; s < page.Lacing.size(); ++s) {
      if (page.Lacing[s] == 255) continue;
      if (++packets == 3) {
        EXPECT_EQ(s + 1, page.Lacing.size()) << "audio shares the last header page";
        EXPECT_EQ(page.Granule, 0);
        return;
      }
    }
  }
  ADD_FAILURE() << "fewer than three header packets";
}

// One logical stream: a first page, a last page, one serial number throughout.
void ExpectOneCompleteStream(const std::vector<TOggPage>& Pages, uint32_t Serial) {
  ASSERT_GE(Pages.size(), 3u);
  for (size_t i = 0; i < Pages.size(); ++i) {
    EXPECT_EQ(Pages[i].Serial, Serial) << "page " << i;
    EXPECT_EQ((Pages[i].Flags & 0x02) != 0, i == 0) << "first-page mark on page " << i;
    EXPECT_EQ((Pages[i].Flags & 0x04) != 0, i + 1 == Pages.size())
        << "last-page mark on page " << i;
  }
  ExpectHeadersEndOnAPageBoundary(Pages);
}

// ---------------------------------------------------------------------------------
// Length and content
// ---------------------------------------------------------------------------------

struct LengthCase {
  const char* Name;
  int Channels;
  int Frames;
  int StageSize;  // bytes the source serves per call; odd sizes split frames
  bool SizeKnown;
};

class VorbisLength : public VorbisRun, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(VorbisLength, DecodesToExactlyTheInputsSamples) {
  const LengthCase& c = GetParam();
  // A different tone per channel, so that exchanged channels are caught.
  const std::vector<double> tones =
      c.Channels == 2 ? std::vector<double>{440, 1250} : std::vector<double>{660};
  TPcmMemoryInput input(TestSignal::Sine16(c.Frames, tones), c.Channels, 16, 44100, c.SizeKnown,
                        c.StageSize);
  TVorbisOut output;
  output.FileName = Dir / "length.ogg";
  ASSERT_TRUE(Completes(output, input));

  const TDecodedFile file = Decode(output.FileName);
  ASSERT_EQ(file.OpenResult, 0);
  ASSERT_EQ(file.Links.size(), 1u);
  const TDecodedLink& link = file.Links[0];
  EXPECT_EQ(link.Channels, c.Channels);
  EXPECT_EQ(link.Rate, 44100);
  EXPECT_EQ(link.PcmTotal, c.Frames);
  ASSERT_EQ(link.Frames(), c.Frames);
  for (int channel = 0; channel < c.Channels; ++channel)
    EXPECT_GT(ChannelSnr(input.Bytes(), link.Samples, c.Channels, channel), 15.0)
        << "channel " << channel;
  ExpectOneCompleteStream(ReadPages(output.FileName), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, VorbisLength,
                         ::testing::Values(LengthCase{"Stereo", 2, 57331, 6000, true},
                                           LengthCase{"Mono", 1, 70001, 6000, true},
                                           LengthCase{"StereoSplitFrames", 2, 40003, 6001, false},
                                           LengthCase{"MonoSplitSamples", 1, 40003, 4095, true},
                                           LengthCase{"StereoLargerThanABlock", 2, 50000, 100000,
                                                      true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(VorbisRun, AnInputWithNoDataGivesAStreamOfNoSamples) {
  TPcmMemoryInput input({}, 2);
  TVorbisOut output;
  output.FileName = Dir / "empty.ogg";
  output.Serial = -7;
  ASSERT_TRUE(Completes(output, input));
  const TDecodedFile file = Decode(output.FileName);
  ASSERT_EQ(file.OpenResult, 0);
  ASSERT_EQ(file.Links.size(), 1u);
  EXPECT_EQ(file.Links[0].Frames(), 0);
  ExpectOneCompleteStream(ReadPages(output.FileName), static_cast<uint32_t>(-7));
}

// ---------------------------------------------------------------------------------
// Encoding modes
// ---------------------------------------------------------------------------------

struct ModeCase {
  const char* Name;
  TVorbisBitRate Nominal, Maximum, Minimum;
  long Upper, ExpectedNominal, Lower;  // in the identification header
};

class VorbisManagedMode : public VorbisRun, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(VorbisManagedMode, WritesTheChosenBitRates) {
  const ModeCase& c = GetParam();
  TPcmMemoryInput input(TestSignal::Noise16(22050, 2), 2);
  TVorbisOut output;
  output.FileName = Dir / "managed.ogg";
  output.SetDesiredNominalBitrate(c.Nominal);
  output.SetDesiredMaximumBitrate(c.Maximum);
  output.SetMinimumBitrate(c.Minimum);
  ASSERT_TRUE(Completes(output, input));
  const TDecodedFile file = Decode(output.FileName);
  ASSERT_EQ(file.Links.size(), 1u);
  EXPECT_EQ(file.Links[0].Upper, c.Upper);
  EXPECT_EQ(file.Links[0].Nominal, c.ExpectedNominal);
  EXPECT_EQ(file.Links[0].Lower, c.Lower);
  EXPECT_EQ(file.Links[0].Frames(), 22050);
}

INSTANTIATE_TEST_SUITE_P(Rates, VorbisManagedMode,
                         ::testing::Values(ModeCase{"NominalOnly", bbr128, bbrAutoSelect,
                                                    bbrAutoSelect, 128000, 128000, 128000},
                                           ModeCase{"AllThree", bbr128, bbr192, bbr64, 192000,
                                                    128000, 64000},
                                           ModeCase{"FiftySix", bbr56, bbrAutoSelect, bbrAutoSelect,
                                                    56000, 56000, 56000}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(VorbisRun, QualityModeFollowsCompressionAndSetsNoBitRateLimits) {
  long nominal[2] = {0, 0};
  const float compression[2] = {0.0f, 0.8f};
  for (int i = 0; i < 2; ++i) {
    TPcmMemoryInput input(TestSignal::Noise16(22050, 2), 2);
    TVorbisOut output;
    output.FileName = Dir / ("quality" + std::to_string(i) + ".ogg");
    output.Compression = compression[i];
    ASSERT_TRUE(Completes(output, input));
    const TDecodedFile file = Decode(output.FileName);
    ASSERT_EQ(file.Links.size(), 1u);
    EXPECT_LE(file.Links[0].Upper, 0);
    EXPECT_LE(file.Links[0].Lower, 0);
    nominal[i] = file.Links[0].Nominal;
  }
  EXPECT_GT(nominal[0], 0);
  EXPECT_GT(nominal[1], nominal[0]);
}

// ---------------------------------------------------------------------------------
// Comments
// ---------------------------------------------------------------------------------

TEST_F(VorbisRun, EveryCommentLineReachesTheFileOnceAndTheListEmpties) {
  TVorbisOut output;
  output.FileName = Dir / "comments.ogg";
  output.SetComments({"TITLE=Song", "ARTIST=Band", "artist=Guest", "Made with Brisomel", "",
                      "=free text", "DESCRIPTION=a=b"});
  TPcmMemoryInput input(TestSignal::Noise16(4410, 2), 2);
  ASSERT_TRUE(Completes(output, input));
  EXPECT_TRUE(output.Comments.empty());
  const TDecodedFile file = Decode(output.FileName);
  ASSERT_EQ(file.Links.size(), 1u);
  EXPECT_EQ(file.Links[0].Comments,
            (std::vector<std::string>{"TITLE=Song", "ARTIST=Band", "artist=Guest",
                                      "COMMENT=Made with Brisomel", "COMMENT=free text",
                                      "DESCRIPTION=a=b"}));

  // Nothing carries over into the next run.
  output.FileName = Dir / "second.ogg";
  TPcmMemoryInput again(TestSignal::Noise16(4410, 2), 2);
  ASSERT_TRUE(Completes(output, again));
  EXPECT_TRUE(Decode(output.FileName).Links.at(0).Comments.empty());
}

// ---------------------------------------------------------------------------------
// Appending and abort
// ---------------------------------------------------------------------------------

TEST_F(VorbisRun, AppendingMakesAChainedFileWhoseStreamsBothDecode) {
  TVorbisOut output;
  output.SetSuspendWhenIdle(false);  // as the window keeps it: the worker loops idle
  output.FileName = Dir / "chained.ogg";
  output.SetFileMode(foAppend);  // a file that does not exist yet is created
  TPcmMemoryInput first(TestSignal::Sine16(30000, {440, 880}), 2);
  ASSERT_TRUE(Completes(output, first));
  const size_t firstPages = ReadPages(output.FileName).size();

  TPcmMemoryInput second(TestSignal::Sine16(25001, {330}), 1);
  ASSERT_TRUE(Completes(output, second));

  const TDecodedFile file = Decode(output.FileName);
  ASSERT_EQ(file.OpenResult, 0);
  ASSERT_EQ(file.Links.size(), 2u);
  EXPECT_EQ(file.Links[0].Channels, 2);
  EXPECT_EQ(file.Links[0].Frames(), 30000);
  EXPECT_EQ(file.Links[1].Channels, 1);
  EXPECT_EQ(file.Links[1].Frames(), 25001);
  EXPECT_GT(ChannelSnr(second.Bytes(), file.Links[1].Samples, 1, 0), 15.0);

  // The new stream follows the old content untouched. Serial 0 is taken by the first
  // stream, so the second gets the next free number; a free Serial is used as set.
  const std::vector<TOggPage> pages = ReadPages(output.FileName);
  ExpectOneCompleteStream({pages.begin(), pages.begin() + static_cast<long>(firstPages)}, 0);
  ExpectOneCompleteStream({pages.begin() + static_cast<long>(firstPages), pages.end()}, 1);
  EXPECT_EQ(output.Serial, 0);
  output.Serial = 9;
  TPcmMemoryInput more(TestSignal::Sine16(3000, {440}), 1);
  ASSERT_TRUE(Completes(output, more));
  EXPECT_EQ(ReadPages(output.FileName).back().Serial, 9u);
  EXPECT_EQ(Decode(output.FileName).Links.size(), 3u);

  // Rewriting replaces the chain.
  output.SetFileMode(foRewrite);
  TPcmMemoryInput third(TestSignal::Sine16(1000, {440}), 1);
  ASSERT_TRUE(Completes(output, third));
  EXPECT_EQ(Decode(output.FileName).Links.size(), 1u);
}

// A run cut short, by Abort or by a source that fails, still leaves one whole stream
// of what was read, its comments spent. (That the file decodes to what was read is
// checked for every output in tests/audio/outputs/output_behaviour_test.cpp.)
TEST_F(VorbisRun, ARunCutShortLeavesACompleteStream) {
  for (bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "abort" : "read failure");
    TPcmMemoryInput input(TestSignal::Sine16(44100 * 3, {440, 550}), 2);
    TVorbisOut output;
    output.Comments = {"TITLE=x"};
    if (abort) {
      output.OnProgress = [](TAudioOutput* Sender) {
        if (Sender->Progress() >= 30) Sender->Abort();
      };
    } else {
      input.FailAt = 100000;
    }
    output.FileName = Dir / "short.ogg";
    EXPECT_EQ(RunToEnd(output, input).Completed(), abort);  // an abort ends as a completion

    const TDecodedFile file = Decode(output.FileName);
    ASSERT_EQ(file.Links.size(), 1u);
    EXPECT_GT(ChannelSnr(input.Bytes(), file.Links[0].Samples, 2, 1), 15.0);
    ExpectOneCompleteStream(ReadPages(output.FileName), 0);
    EXPECT_TRUE(output.Comments.empty());
  }
}

// ---------------------------------------------------------------------------------
// Set-up failures
// ---------------------------------------------------------------------------------

struct RefusalCase {
  const char* Name;
  int Channels, Bits, Rate;
  std::function<void(TVorbisOut&)> Configure;
  const char* Message;
};

class VorbisRefusal : public VorbisRun, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(VorbisRefusal, FailsInSetupAndLeavesTheFileAndInputAlone) {
  const RefusalCase& c = GetParam();
  const std::string path = Dir / "kept.ogg";
  std::ofstream(path) << "earlier content";
  TPcmMemoryInput input(TestSignal::Noise16(4410, c.Channels), c.Channels, c.Bits, c.Rate);
  TVorbisOut output;
  output.FileName = path;
  c.Configure(output);
  const TRunResult run = RunToEnd(output, input);
  EXPECT_EQ(run.Done, 0);
  EXPECT_EQ(run.Failure, c.Message);
  EXPECT_EQ(output.Status(), osIdle);
  EXPECT_FALSE(input.Busy);
  std::ifstream kept(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "earlier content");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, VorbisRefusal,
    ::testing::Values(
        RefusalCase{"BitRateTooHighForMono", 1, 16, 44100,
                    [](TVorbisOut& O) { O.SetDesiredNominalBitrate(bbr499); },
                    "The Ogg Vorbis encoder cannot encode 1 channel at 44100 Hz with maximum "
                    "499000, nominal 499000 and minimum 499000 bit/s."},
        RefusalCase{
            "QualityBelowRange", 2, 16, 44100, [](TVorbisOut& O) { O.Compression = -0.5f; },
            "The Ogg Vorbis encoder cannot encode 2 channels at 44100 Hz at quality -0.50."},
        RefusalCase{"QualityNotANumber", 2, 16, 44100,
                    [](TVorbisOut& O) { O.Compression = std::nanf(""); },
                    "The Ogg Vorbis encoder cannot encode 2 channels at 44100 Hz at quality nan."},
        RefusalCase{
            "SampleRateOutOfRange", 2, 16, 400000, [](TVorbisOut&) {},
            "The Ogg Vorbis encoder cannot encode 2 channels at 400000 Hz at quality 0.20."},
        RefusalCase{"EightBitSamples", 2, 8, 44100, [](TVorbisOut&) {},
                    "The Ogg Vorbis output needs 16-bit samples in 1 or 2 channels; the input "
                    "delivers 8-bit samples in 2 channels."},
        RefusalCase{"ThreeChannels", 3, 16, 44100, [](TVorbisOut&) {},
                    "The Ogg Vorbis output needs 16-bit samples in 1 or 2 channels; the input "
                    "delivers 16-bit samples in 3 channels."}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
