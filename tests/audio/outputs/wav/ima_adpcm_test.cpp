// The IMA ADPCM routines on their own: reconstruction, code choice, block layout.
#include <gtest/gtest.h>

#include "outputs/audio_wave.h"

namespace {

TEST(ImaAdpcm, ReconstructionSteps) {
  TIMAChannelState state;
  EXPECT_EQ(IMAReconstruct(state, 0), 0);
  EXPECT_EQ(state.StepIndex, 0);  // 0 - 1, clamped

  // Code 7 at index 0 adds 7 shr 3 + 7 + 3 + 1 = 11 and moves the index by 8.
  EXPECT_EQ(IMAReconstruct(state, 7), 11);
  EXPECT_EQ(state.StepIndex, 8);
  EXPECT_EQ(IMAReconstruct(state, 15), 11 - (2 + 16 + 8 + 4));
  EXPECT_EQ(state.StepIndex, 16);

  state = {0, 88};
  IMAReconstruct(state, 7);
  EXPECT_EQ(state.StepIndex, 88);  // clamped at the top
}

TEST(ImaAdpcm, PredictorNeverReachesMinus32768) {
  TIMAChannelState state{-32000, 40};
  for (int i = 0; i < 50; ++i) IMAEncodeSample(state, -32768);
  EXPECT_EQ(state.Predictor, -32767);
  state = {32000, 40};
  for (int i = 0; i < 50; ++i) IMAEncodeSample(state, 32767);
  EXPECT_EQ(state.Predictor, 32767);
}

TEST(ImaAdpcm, ConstantMonoBlockIsAllZeroCodes) {
  const int blockSize = 512;
  ASSERT_EQ(IMASamplesPerBlock(1, blockSize), 1017);
  std::vector<int16_t> samples(1016, 1000);
  TIMAChannelState state{1000, 0};
  std::vector<uint8_t> block(blockSize, 0xEE);
  EncodeIMAMono(samples.data(), state, block.data(), blockSize);
  EXPECT_EQ(block[0] | (block[1] << 8), 1000);
  EXPECT_EQ(block[2], 0);
  EXPECT_EQ(block[3], 0);
  for (int i = 4; i < blockSize; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(state.Predictor, 1000);
}

// Each code lands in the byte and nibble the layout gives it: decode the block by
// that layout and compare with the reconstruction done sample by sample.
TEST(ImaAdpcm, StereoBlockLayout) {
  const int blockSize = 512;
  const int frames = IMASamplesPerBlock(2, blockSize);
  ASSERT_EQ(frames, 505);
  std::vector<int16_t> input(2 * (frames - 1));
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<int16_t>((i % 2 ? -1 : 1) * static_cast<int>((i * 37) % 9000));

  TIMAChannelState states[2] = {{123, 5}, {-456, 9}};
  TIMAChannelState expected[2] = {states[0], states[1]};
  std::vector<int> expectedCodes[2];
  for (int f = 0; f < frames - 1; ++f)
    for (int c = 0; c < 2; ++c)
      expectedCodes[c].push_back(IMAEncodeSample(expected[c], input[2 * f + c]));

  std::vector<uint8_t> block(blockSize);
  EncodeIMAStereo(input.data(), states, block.data(), blockSize);
  EXPECT_EQ(static_cast<int16_t>(block[0] | (block[1] << 8)), 123);
  EXPECT_EQ(block[2], 5);
  EXPECT_EQ(static_cast<int16_t>(block[4] | (block[5] << 8)), -456);
  EXPECT_EQ(block[6], 9);
  // 63 groups of 8 bytes after the 8 header bytes.
  EXPECT_EQ((blockSize - 8) / 8, 63);
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < frames - 1; ++k) {
      const int byte = 8 + (k / 8) * 8 + (k / 2) % 4 + 4 * c;
      const int code = k % 2 ? block[byte] >> 4 : block[byte] & 0xF;
      ASSERT_EQ(code, expectedCodes[c][k]) << "channel " << c << " code " << k;
    }
    EXPECT_EQ(states[c].Predictor, expected[c].Predictor);
    EXPECT_EQ(states[c].StepIndex, expected[c].StepIndex);
  }
}

}  // namespace
