// The encoder library as the output meets it: handing out no encoder, and shared by
// two outputs. A missing or incomplete one is in tests/audio/bindings/binding_test.cpp.
#include "mp3_decoder.h"
#include "outputs/audio_lame.h"
#include "pcm_source.h"
#include "pipeline_test.h"

using namespace mp3test;

namespace {

class Mp3Library : public PipelineTest {
 protected:
  // Each test starts from an unloaded binding and leaves the standard library behind.
  void SetUp() override {
    PipelineTest::SetUp();
    LameBinding().Unload();
  }
  void TearDown() override {
    LameBinding().SetFileNameForTesting("");
    LameBinding().Unload();
    PipelineTest::TearDown();
  }
};

TEST_F(Mp3Library, ANullEncoderHandleFailsTheRunWithTheLibraryMessage) {
  LameBinding().SetFileNameForTesting(FAKE_NULL_ENCODER_LIBRARY);
  TPcmMemoryInput input(std::vector<uint8_t>(4000, 0), 2);
  TMP3Out output;
  EXPECT_TRUE(LameBinding().Loaded());
  output.FileName = Dir / "null.mp3";
  const TRunResult run = RunToEnd(output, input);
  EXPECT_EQ(run.Done, 0);
  ASSERT_EQ(run.Failures, 1);
  EXPECT_EQ(run.Failure, "libmp3lame.so.0 library could not be loaded.");
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(output.Status(), osIdle);
}

// Destroying one output unloads the binding; another output that still exists keeps
// its library and goes on encoding.
TEST_F(Mp3Library, AnOutputKeepsItsLibraryWhenAnotherIsDestroyed) {
  auto first = std::make_unique<TMP3Out>();
  TMP3Out second;
  first.reset();
  EXPECT_FALSE(LameBinding().Loaded());
  TPcmMemoryInput input(TestSignal::Sine16(44100, {440.0, 440.0}), 2);
  second.FileName = Dir / "second.mp3";
  ASSERT_TRUE(Completes(second, input));
  EXPECT_GT(DecodeFile(second.FileName).Frames.size(), 30u);
  TMP3Out third;
  EXPECT_TRUE(LameBinding().Loaded());
}

}  // namespace
