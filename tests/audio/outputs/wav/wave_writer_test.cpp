// Writing new .wav files through a whole output run.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "outputs/audio_wave.h"
#include "pcm_source.h"
#include "pipeline_test.h"
#include "wav_decoder.h"

namespace {

class WaveWriter : public PipelineTest {};

// What a decoder reconstructs from our blocks: per block the first frame as it is,
// then each frame as the encoder's state after coding it. Samples are interleaved;
// step indexes carry from block to block, starting at 0.
std::vector<int16_t> PredictIMADecode(const std::vector<int16_t>& Samples, int Channels,
                                      int BlockSize) {
  const int perBlock = IMASamplesPerBlock(Channels, BlockSize);
  const size_t frames = Samples.size() / Channels;
  const size_t blocks = frames / perBlock + 1;
  std::vector<int16_t> padded(Samples);
  padded.resize(blocks * perBlock * Channels, 0);
  std::vector<int16_t> out;
  TIMAChannelState states[2];
  for (size_t b = 0; b < blocks; ++b) {
    const size_t first = b * perBlock * Channels;
    for (int c = 0; c < Channels; ++c) {
      states[c].Predictor = padded[first + c];
      out.push_back(padded[first + c]);
    }
    for (int f = 1; f < perBlock; ++f)
      for (int c = 0; c < Channels; ++c)
        out.push_back(static_cast<int16_t>(
            (IMAEncodeSample(states[c], padded[first + f * Channels + c]), states[c].Predictor)));
  }
  return out;
}

TEST_F(WaveWriter, PCMHeaderAndSamples) {
  const std::vector<uint8_t> bytes = TestSignal::Noise16(250000, 2);  // 1000000 bytes
  TPcmMemoryInput input(bytes, 2);
  TWaveOut output;
  output.FileName = Dir / "pcm.wav";
  output.SetInput(&input);
  const TRunResult run = RunToEnd(output);
  EXPECT_EQ(run.Done, 1);
  EXPECT_EQ(run.Failures, 0);

  const auto file = ReadWholeFile(output.FileName);
  ASSERT_EQ(file.size(), 1000044u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Field32(file, 4), 1000036u);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Field32(file, 16), 16u);
  EXPECT_EQ(Field16(file, 20), 1);
  EXPECT_EQ(Field16(file, 22), 2);
  EXPECT_EQ(Field32(file, 24), 44100u);
  EXPECT_EQ(Field32(file, 28), 176400u);
  EXPECT_EQ(Field16(file, 32), 4);
  EXPECT_EQ(Field16(file, 34), 16);
  EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
  EXPECT_EQ(Field32(file, 40), 1000000u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file.begin() + 44));
  EXPECT_EQ(DecodeWithSox(output.FileName), AsSamples(bytes));
}

struct ImaCase {
  int Channels;
  int BlockSize;
  int Frames;
  double Amplitude;
};

class ImaFiles : public WaveWriter, public ::testing::WithParamInterface<ImaCase> {};

// sox, which we did not write, decodes our blocks to exactly what our encoder's own
// reconstruction predicts; the header and the block count are as documented.
TEST_P(ImaFiles, SoxDecodesWhatTheEncoderPredicts) {
  const ImaCase c = GetParam();
  const std::vector<double> tones =
      c.Channels == 1 ? std::vector<double>{440.0} : std::vector<double>{440.0, 3000.0};
  auto bytes = TestSignal::Sine16(c.Frames, tones, c.Amplitude);
  TPcmMemoryInput input(bytes, c.Channels);
  TWaveOut output;
  output.SetWavType(wtDVIADPCM);
  output.SetBlockSize(static_cast<uint16_t>(c.BlockSize));
  output.FileName = Dir / "ima.wav";
  output.SetInput(&input);
  ASSERT_EQ(RunToEnd(output).Done, 1);

  const auto file = ReadWholeFile(output.FileName);
  const int perBlock = IMASamplesPerBlock(c.Channels, c.BlockSize);
  const size_t blocks = c.Frames / perBlock + 1;
  ASSERT_EQ(file.size(), 60 + blocks * c.BlockSize);
  EXPECT_EQ(Field16(file, 20), 0x11);
  EXPECT_EQ(Field16(file, 22), c.Channels);
  EXPECT_EQ(Field32(file, 28), (44100u / perBlock) * c.BlockSize);
  EXPECT_EQ(Field16(file, 32), c.BlockSize);
  EXPECT_EQ(Field16(file, 34), 4);
  EXPECT_EQ(Field16(file, 38), perBlock);
  EXPECT_EQ(Field32(file, 48), static_cast<uint32_t>(c.Frames));  // frames really held
  EXPECT_EQ(Field32(file, 56), blocks * c.BlockSize);
  EXPECT_EQ(Field32(file, 4), file.size() - 8);

  const auto decoded = DecodeWithSox(output.FileName);
  const auto predicted = PredictIMADecode(AsSamples(bytes), c.Channels, c.BlockSize);
  ASSERT_GE(decoded.size(), static_cast<size_t>(c.Frames * c.Channels));
  ASSERT_LE(decoded.size(), predicted.size());
  // At full scale the decoders' own clamping may differ by the -32767 bound.
  const int tolerance = c.Amplitude >= 1.0 ? 1 : 0;
  for (size_t i = 0; i < decoded.size(); ++i)
    ASSERT_LE(std::abs(decoded[i] - predicted[i]), tolerance) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImaFiles,
                         ::testing::Values(ImaCase{1, 512, 1017 * 3, 0.5},
                                           ImaCase{2, 512, 505 * 4 + 17, 0.5},
                                           ImaCase{2, 1024, 44100, 0.7}, ImaCase{1, 256, 5000, 1.0},
                                           ImaCase{2, 512, 9000, 1.0}));

TEST_F(WaveWriter, SettersKeepTheValueInForce) {
  TWaveOut output;
  output.SetWavType(wtDVIADPCM);
  output.SetWavType(wtMSADPCM);
  output.SetWavType(wtACM);
  output.SetWavType(wtUnsupported);
  EXPECT_EQ(output.WavType(), wtDVIADPCM);
  output.SetBlockSize(1024);
  output.SetBlockSize(510);
  output.SetBlockSize(0);
  EXPECT_EQ(output.BlockSize(), 1024);
  output.SetFileMode(foAppend);
  EXPECT_EQ(output.FileMode(), foAppend);
}

TEST_F(WaveWriter, SetupRefusals) {
  TWaveOut output;
  TPcmMemoryInput eightBit(std::vector<uint8_t>(1000, 128), 1, 8);
  output.SetInput(&eightBit);
  output.FileName = Dir / "eight.wav";
  output.SetWavType(wtDVIADPCM);
  EXPECT_EQ(RunToEnd(output).Failure, "Cannot encode 8 bit sound into ADPCM.");
  EXPECT_FALSE(eightBit.Busy);  // opened, then closed again

  // Stereo blocks must hold whole groups of 8 bytes per channel pair.
  TPcmMemoryInput stereo(TestSignal::Noise16(100, 2), 2);
  output.SetInput(&stereo);
  output.SetBlockSize(516);
  const TRunResult run = RunToEnd(output);
  EXPECT_EQ(run.Done, 0);
  EXPECT_NE(run.Failure.find("block size of 516"), std::string::npos) << run.Failure;
}

// Headers tell the truth however the run ends: an abort with a known size, and an
// input whose size is not known.
TEST_F(WaveWriter, HeadersMatchWhatWasWritten) {
  for (TWavType type : {wtPCM, wtDVIADPCM}) {
    for (bool abort : {true, false}) {
      const auto bytes = TestSignal::Noise16(200000, 2);
      TPcmMemoryInput input(bytes, 2, 16, 44100, /*SizeKnown=*/abort);
      TWaveOut output;
      output.SetWavType(type);
      output.FileName = Dir / "truth.wav";
      // An aborted file never takes the place of an earlier one: each run writes anew.
      std::filesystem::remove(output.FileName);
      output.SetInput(&input);
      if (abort)
        output.OnProgress = [](TAudioOutput* Sender) {
          if (Sender->Progress() >= 30) Sender->Abort();
        };
      const TRunResult run = RunToEnd(output);
      ASSERT_EQ(run.Done, 1);
      const auto file = ReadWholeFile(output.FileName);
      const size_t header = type == wtPCM ? 44 : 60;
      EXPECT_EQ(Field32(file, 4), file.size() - 8);
      EXPECT_EQ(Field32(file, header - 4), file.size() - header);
      const auto decoded = DecodeWithSox(output.FileName);
      if (abort) {
        EXPECT_LT(decoded.size(), bytes.size() / 2);
        EXPECT_GT(decoded.size(), bytes.size() / 2 * 29 / 100);
      } else if (type == wtPCM) {
        EXPECT_EQ(decoded.size(), bytes.size() / 2);
      } else {
        // sox decodes whole blocks; the fact count holds the frames of the input.
        const uint32_t perBlock = IMASamplesPerBlock(2, 512);
        EXPECT_EQ(decoded.size(), 2 * (200000 / perBlock + 1) * perBlock);
        EXPECT_EQ(Field32(file, 48), 200000u);
      }
      if (type == wtPCM) {
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), AsSamples(bytes).begin()));
      }
    }
  }
}

// The disk fills in the middle of a run (a file size limit stands in for it): the job
// fails, and the file keeps what was written, with headers that say so.
TEST_F(WaveWriter, RunningOutOfSpaceMidRunFailsAndKeepsATrueFile) {
  const auto bytes = TestSignal::Noise16(100000, 2);
  TPcmMemoryInput input(bytes, 2);
  TWaveOut output;
  output.FileName = Dir / "full.wav";
  output.SetInput(&input);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  rlimit limited = previous;
  limited.rlim_cur = 100000;
  setrlimit(RLIMIT_FSIZE, &limited);
  const TRunResult run = RunToEnd(output);
  setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(run.Done, 0);
  EXPECT_EQ(run.Failures, 1);
  EXPECT_FALSE(input.Busy);
  const auto file = ReadWholeFile(output.FileName);
  ASSERT_EQ(file.size(), 100000u);
  EXPECT_EQ(Field32(file, 4), file.size() - 8);
  EXPECT_EQ(Field32(file, 40), file.size() - 44);
  EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), bytes.begin()));
}

}  // namespace
