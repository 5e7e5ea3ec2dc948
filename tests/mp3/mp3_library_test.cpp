// The encoder library as the output meets it: missing, incomplete, handing out no
// encoder, and shared by two outputs.
#include "mp3_test_support.h"

using namespace mp3test;

namespace {

const std::string LibraryMessage = "libmp3lame.so.0 library could not be loaded.";

class Mp3Library : public Mp3Test {
 protected:
  // Each test starts from an unloaded binding and leaves the standard library behind.
  void SetUp() override {
    Mp3Test::SetUp();
    UnloadLameLibrary();
  }
  void TearDown() override {
    SetLameLibraryFileNameForTesting("");
    UnloadLameLibrary();
    Mp3Test::TearDown();
  }

  static std::string ConstructionFailure() {
    try {
      TMP3Out output;
    } catch (const EAudioException& e) {
      return e.what();
    }
    return "no failure";
  }
};

TEST_F(Mp3Library, AMissingOrIncompleteLibraryStopsTheConstructorWithItsMessage) {
  for (const char* file :
       {"libmp3lame-not-installed.so.0", FAKE_INCOMPLETE_ENCODER_LIBRARY}) {
    SCOPED_TRACE(file);
    SetLameLibraryFileNameForTesting(file);
    EXPECT_EQ(ConstructionFailure(), LibraryMessage);
    EXPECT_FALSE(LameLoaded());
  }
  SetLameLibraryFileNameForTesting("");
  EXPECT_EQ(ConstructionFailure(), "no failure");
}

TEST_F(Mp3Library, ANullEncoderHandleFailsTheRunWithTheLibraryMessage) {
  SetLameLibraryFileNameForTesting(FAKE_NULL_ENCODER_LIBRARY);
  TPcmMemoryInput input(std::vector<uint8_t>(4000, 0), 2);
  TMP3Out output;
  EXPECT_TRUE(LameLoaded());
  Run(output, input, PathOf("null.mp3"));
  EXPECT_EQ(Done, 0);
  ASSERT_EQ(Failures, 1);
  EXPECT_EQ(Failure, LibraryMessage);
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(output.Status(), osIdle);
}

// Destroying one output unloads the binding; another output that still exists keeps
// its library and goes on encoding.
TEST_F(Mp3Library, AnOutputKeepsItsLibraryWhenAnotherIsDestroyed) {
  auto first = std::make_unique<TMP3Out>();
  TMP3Out second;
  first.reset();
  EXPECT_FALSE(LameLoaded());
  TPcmMemoryInput input(TestSignal::Sine16(44100, {440.0, 440.0}), 2);
  Run(second, input, PathOf("second.mp3"));
  ASSERT_EQ(Done, 1);
  EXPECT_GT(Decode(AudioBytes(ReadFile(PathOf("second.mp3")))).Frames.size(), 30u);
  TMP3Out third;
  EXPECT_TRUE(LameLoaded());
}

}  // namespace
