// What the encoder makes of the stream: lengths, bit rates, header bits and channels,
// checked by decoding the file with libmad.
#include <cmath>
#include <cstdint>

#include "mp3_decoder.h"
#include "outputs/audio_lame.h"
#include "pcm_source.h"
#include "pipeline_test.h"

using namespace mp3test;

namespace {

// The encoder's documented delay at the start of the stream, in samples; its padding
// at the end fills the last frame and the decoder's own delay.
constexpr int EncoderDelay = 576;
constexpr int FrameSamples = 1152;

double Rms(const std::vector<int16_t>& Samples, size_t From = 0, size_t To = SIZE_MAX) {
  To = std::min(To, Samples.size());
  if (From >= To) return 0.0;
  double sum = 0.0;
  for (size_t i = From; i < To; ++i) sum += double(Samples[i]) * Samples[i];
  return std::sqrt(sum / double(To - From));
}

// One channel of interleaved 16-bit bytes.
std::vector<int16_t> Channel(const std::vector<uint8_t>& Bytes, int Channels, int Index) {
  std::vector<int16_t> out;
  for (size_t at = 2 * size_t(Index); at + 1 < Bytes.size(); at += 2 * size_t(Channels))
    out.push_back(static_cast<int16_t>(Bytes[at] | (Bytes[at + 1] << 8)));
  return out;
}

// One second of a tone, then one of noise, on every channel: the tone lets a VBR
// stream go low, the noise drives it high.
std::vector<uint8_t> ToneThenNoise(int Channels, int Rate) {
  std::vector<uint8_t> bytes =
      TestSignal::Sine16(Rate, std::vector<double>(size_t(Channels), 440.0), 0.4, Rate);
  const std::vector<uint8_t> noise = TestSignal::Noise16(Rate, Channels, 7, 12000);
  bytes.insert(bytes.end(), noise.begin(), noise.end());
  return bytes;
}

struct TLengthCase {
  const char* Name;
  int Channels;
  int InputRate;
  TMP3SampleRate OutputRate;
  int DecodedRate;
  bool Vbr;
  TMP3BitRate BitRate;
  TMP3Quality Quality;
  int MinKbps, MaxKbps;  // as set; a reversed pair reads back exchanged
  bool Copyright, Original, Crc;
};

void PrintTo(const TLengthCase& Case, std::ostream* Out) { *Out << Case.Name; }

class Mp3Length : public PipelineTest, public ::testing::WithParamInterface<TLengthCase> {};

TEST_P(Mp3Length, DecodesToTheInputLengthWithTheChosenRates) {
  const TLengthCase& c = GetParam();
  TPcmMemoryInput input(ToneThenNoise(c.Channels, c.InputRate), c.Channels, 16, c.InputRate);
  const int inputFrames = int(input.Bytes().size()) / (2 * c.Channels);
  TMP3Out output;
  output.EnableVBR = c.Vbr;
  output.BitRate = c.BitRate;
  output.Quality = c.Quality;
  output.VBRQuality = c.Quality;
  output.VBRMinBitrate = c.MinKbps;
  output.VBRMaxBitrate = c.MaxKbps;
  output.SampleRate = c.OutputRate;
  // Any non-zero 32-bit value is true and must reach the library as 1.
  output.Copyright = TLongBool::FromBits(c.Copyright ? 0x100 : 0);
  output.Original = TLongBool::FromBits(c.Original ? -1 : 0);
  output.CRC = c.Crc;
  output.FileName = Dir / "out.mp3";
  ASSERT_TRUE(Completes(output, input));

  const int minKbps = std::min(c.MinKbps, c.MaxKbps);
  const int maxKbps = std::max(c.MinKbps, c.MaxKbps);
  if (c.Vbr) {
    EXPECT_EQ(output.VBRMinBitrate, minKbps);
    EXPECT_EQ(output.VBRMaxBitrate, maxKbps);
  }

  const std::vector<uint8_t> audio = AudioBytes(ReadWholeFile(output.FileName));
  const TDecoded decoded = Decode(audio);
  ASSERT_GT(decoded.Frames.size(), 2u);
  EXPECT_EQ(decoded.LostFrames, 0);

  // The first frame is the information frame, completed once the stream was done.
  const std::optional<TInfoFrame> info = ReadInfoFrame(audio);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->Vbr, c.Vbr);
  ASSERT_TRUE(info->Frames && info->Delay && info->Padding);
  const int audioFrames = int(decoded.Frames.size()) - 1;
  EXPECT_EQ(*info->Frames, uint32_t(audioFrames));
  ASSERT_TRUE(info->Bytes.has_value());
  EXPECT_EQ(*info->Bytes, audio.size());

  // Every sample of the input is there, framed by the documented delay and padding.
  const int audioSamples = decoded.SampleCount() - decoded.Frames[0].Samples;
  const int frameSamples = decoded.Frames[1].Samples;
  const double expectedSamples = double(inputFrames) * c.DecodedRate / c.InputRate;
  EXPECT_EQ(*info->Delay, EncoderDelay);
  EXPECT_GE(*info->Padding, 0);
  EXPECT_LT(*info->Padding, 2 * frameSamples);
  EXPECT_NEAR(audioSamples, *info->Delay + expectedSamples + *info->Padding, 1.0);
  EXPECT_GE(audioSamples, EncoderDelay + expectedSamples - 1);
  EXPECT_LT(audioSamples, EncoderDelay + expectedSamples + 2 * frameSamples);

  std::vector<int> rates;
  for (size_t i = 1; i < decoded.Frames.size(); ++i) {
    const TFrame& frame = decoded.Frames[i];
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_EQ(frame.SampleRate, c.DecodedRate);
    if (c.Vbr) {
      ASSERT_GE(frame.Kbps, minKbps);
      ASSERT_LE(frame.Kbps, maxKbps);
    } else {
      ASSERT_EQ(frame.Kbps, BitRateKbps(c.BitRate));
    }
    ASSERT_EQ((frame.Flags & MAD_FLAG_COPYRIGHT) != 0, c.Copyright);
    ASSERT_EQ((frame.Flags & MAD_FLAG_ORIGINAL) != 0, c.Original);
    ASSERT_EQ((frame.Flags & MAD_FLAG_PROTECTION) != 0, c.Crc);
    rates.push_back(frame.Kbps);
  }
  if (c.Vbr) {
    std::sort(rates.begin(), rates.end());
    EXPECT_NE(rates.front(), rates.back()) << "a VBR stream uses more than one bit rate";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Mp3Length,
    ::testing::Values(TLengthCase{"Cbr128Stereo", 2, 44100, srDefault, 44100, false, br128, ql5,
                                  128, 192, false, true, false},
                      TLengthCase{"Cbr320MonoWithHeaderBits", 1, 44100, srDefault, 44100, false,
                                  br320, ql2, 128, 192, true, false, true},
                      // The output rate above the input's: more frames per block than at 44.1 kHz.
                      TLengthCase{"Cbr320MonoUpsampledFrom11025", 1, 11025, sr48kHz, 48000, false,
                                  br320, ql5, 128, 192, false, true, false},
                      TLengthCase{"Cbr64At32kHz", 2, 44100, sr32kHz, 32000, false, br64, ql7, 128,
                                  192, false, true, false},
                      TLengthCase{"Vbr128To192", 2, 44100, srDefault, 44100, true, br128, ql5, 128,
                                  192, false, true, false},
                      TLengthCase{"VbrReversed192To128", 2, 44100, srDefault, 44100, true, br320,
                                  ql2, 192, 128, false, true, false},
                      TLengthCase{"Vbr96To256Mono", 1, 44100, srDefault, 44100, true, br128, ql4,
                                  96, 256, false, true, false}),
    [](const ::testing::TestParamInfo<TLengthCase>& Info) { return Info.param.Name; });

// ---------------------------------------------------------------------------------
// Channels
// ---------------------------------------------------------------------------------

struct TModeCase {
  TMP3Mode Mode;
  mad_mode Expected;
};

class Mp3MonoInput : public PipelineTest, public ::testing::WithParamInterface<TModeCase> {};

TEST_P(Mp3MonoInput, GivesTheModeThatModeSays) {
  const std::vector<uint8_t> tone = TestSignal::Sine16(44100, {330.0}, 0.5);
  TPcmMemoryInput input(tone, 1);
  TMP3Out output;
  output.Mode = GetParam().Mode;
  output.FileName = Dir / "mono.mp3";
  ASSERT_TRUE(Completes(output, input));

  const TDecoded decoded = DecodeFile(output.FileName);
  ASSERT_GT(decoded.Frames.size(), 2u);
  for (const TFrame& frame : decoded.Frames) ASSERT_EQ(frame.Mode, GetParam().Expected);
  // The tone comes out at its level; fed as two identical channels, both sides match.
  const double inputRms = Rms(Channel(tone, 1, 0));
  EXPECT_NEAR(Rms(decoded.Left, 4000, 40000), inputRms, inputRms * 0.1);
  if (GetParam().Expected != MAD_MODE_SINGLE_CHANNEL) {
    ASSERT_EQ(decoded.Right.size(), decoded.Left.size());
    std::vector<int16_t> difference;
    for (size_t i = 0; i < decoded.Left.size(); ++i)
      difference.push_back(int16_t(decoded.Left[i] - decoded.Right[i]));
    EXPECT_LT(Rms(difference), inputRms * 0.02);
  } else {
    EXPECT_TRUE(decoded.Right.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Mp3MonoInput,
                         ::testing::Values(TModeCase{STEREO, MAD_MODE_STEREO},
                                           TModeCase{JOINT_STEREO, MAD_MODE_JOINT_STEREO},
                                           TModeCase{DUAL_CHANNEL, MAD_MODE_DUAL_CHANNEL},
                                           TModeCase{MONO, MAD_MODE_SINGLE_CHANNEL}));

// The offset of Decoded against Reference with the best normalised correlation,
// and that correlation.
std::pair<int, double> BestAlignment(const std::vector<int16_t>& Reference,
                                     const std::vector<int16_t>& Decoded) {
  const size_t span = 20000;
  std::pair<int, double> best{0, -1.0};
  for (int offset = 0; offset < 3000; ++offset) {
    double cross = 0, energyA = 0, energyB = 0;
    for (size_t i = 2000; i < 2000 + span && i + offset < Decoded.size(); ++i) {
      cross += double(Reference[i]) * Decoded[i + offset];
      energyA += double(Reference[i]) * Reference[i];
      energyB += double(Decoded[i + offset]) * Decoded[i + offset];
    }
    const double correlation = cross / std::sqrt(energyA * energyB + 1e-9);
    if (correlation > best.second) best = {offset, correlation};
  }
  return best;
}

struct TLeftOnlyCase {
  TMP3Mode Mode;
  int StageSize;  // bytes the source serves per call; odd sizes split frames
};

class Mp3StereoInput : public PipelineTest, public ::testing::WithParamInterface<TLeftOnlyCase> {};

TEST_P(Mp3StereoInput, KeepsALeftOnlySignalLeft) {
  const std::vector<uint8_t> leftOnly = TestSignal::Sine16(3 * 44100, {523.0, 0.0}, 0.5);
  TPcmMemoryInput input(leftOnly, 2, 16, 44100, true, GetParam().StageSize);
  TMP3Out output;
  output.Mode = GetParam().Mode;
  output.FileName = Dir / "left.mp3";
  ASSERT_TRUE(Completes(output, input));

  const TDecoded decoded = DecodeFile(output.FileName);
  ASSERT_EQ(decoded.Right.size(), decoded.Left.size());
  const std::vector<int16_t> reference = Channel(leftOnly, 2, 0);
  ASSERT_GE(decoded.Left.size(), reference.size());
  const double leftRms = Rms(reference);
  EXPECT_NEAR(Rms(decoded.Left, 2000, reference.size()), leftRms, leftRms * 0.1);
  EXPECT_LT(Rms(decoded.Right), leftRms * 0.01);
  const auto [offset, correlation] = BestAlignment(reference, decoded.Left);
  EXPECT_GT(correlation, 0.99) << "at offset " << offset;
}

INSTANTIATE_TEST_SUITE_P(ModesAndBlocks, Mp3StereoInput,
                         ::testing::Values(TLeftOnlyCase{STEREO, 16384},
                                           TLeftOnlyCase{JOINT_STEREO, 16384},
                                           TLeftOnlyCase{STEREO, 6001},
                                           TLeftOnlyCase{JOINT_STEREO, 4098}));

}  // namespace
