// Runs of the MP3 output as the window drives them: the tag, abort, an empty input,
// and failures that must not look like success.
#include "mp3_test_support.h"

using namespace mp3test;

namespace {

std::vector<uint8_t> StereoTone(int Seconds) {
  return TestSignal::Sine16(Seconds * 44100, {440.0, 660.0}, 0.4);
}

void SetAllTags(TMP3Out& Output, const std::string& Mark) {
  Output.Id3TagTitle = "Title " + Mark;
  Output.Id3TagArtist = "Artist " + Mark;
  Output.Id3TagAlbum = "Album " + Mark;
  Output.Id3TagYear = "1987";
  Output.Id3TagTrack = "7";
  Output.Id3TagComment = "Comment " + Mark;
  Output.Id3TagGenre = "Rock";
}

void ExpectAllTags(const TId3v1& Tag, const std::string& Mark) {
  EXPECT_EQ(Tag.Title, "Title " + Mark);
  EXPECT_EQ(Tag.Artist, "Artist " + Mark);
  EXPECT_EQ(Tag.Album, "Album " + Mark);
  EXPECT_EQ(Tag.Year, "1987");
  EXPECT_EQ(Tag.Track, 7);
  EXPECT_EQ(Tag.Comment, "Comment " + Mark);
  EXPECT_EQ(Tag.Genre, 17);
}

class Mp3Run : public Mp3Test {};

// The tag texts are taken when the run ends: set before the run, or changed (from the
// window thread) while it is under way.
class Mp3Tag : public Mp3Test, public ::testing::WithParamInterface<bool> {};

TEST_P(Mp3Tag, TextsReachTheTagOfTheRun) {
  const bool changeDuringRun = GetParam();
  TPcmMemoryInput input(StereoTone(3), 2);
  TMP3Out output;
  SetAllTags(output, "before");
  if (changeDuringRun) {
    output.OnProgress = [](TAudioOutput* Sender) {
      if (Sender->Progress() >= 50) SetAllTags(*static_cast<TMP3Out*>(Sender), "during");
    };
  }
  Run(output, input, PathOf("tagged.mp3"));
  ASSERT_EQ(Done, 1);
  const std::optional<TId3v1> tag = ReadId3v1(ReadFile(PathOf("tagged.mp3")));
  ASSERT_TRUE(tag.has_value());
  ExpectAllTags(*tag, changeDuringRun ? "during" : "before");
}

INSTANTIATE_TEST_SUITE_P(BeforeAndDuring, Mp3Tag, ::testing::Bool());

struct TGenreCase {
  const char* Text;
  int Expected;
};

class Mp3Genre : public Mp3Test, public ::testing::WithParamInterface<TGenreCase> {};

// Names of the program's genre list reach the tag as that genre even where the
// library's own table spells them otherwise; other texts go to the library as given.
TEST_P(Mp3Genre, ReachesTheTagAsTheNamedGenre) {
  TPcmMemoryInput input(StereoTone(1), 2);
  TMP3Out output;
  output.Id3TagTitle = "Genre";
  output.Id3TagGenre = GetParam().Text;
  Run(output, input, PathOf("genre.mp3"));
  const std::optional<TId3v1> tag = ReadId3v1(ReadFile(PathOf("genre.mp3")));
  ASSERT_TRUE(tag.has_value());
  EXPECT_EQ(tag->Genre, GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Mp3Genre,
    ::testing::Values(TGenreCase{"Blues", 0}, TGenreCase{"Psychadelic", 67},
                      TGenreCase{"Bebob", 85}, TGenreCase{"AlternRock", 40},
                      TGenreCase{"A capella", 123}, TGenreCase{"dance hall", 125},
                      TGenreCase{"Jazz+Funk", 29}, TGenreCase{"42", 42},
                      TGenreCase{"Not A Genre", 12}, TGenreCase{"", 255}));

TEST_F(Mp3Run, AnAbortedRunEndsWithTheFlushedFramesAndTheTag) {
  TPcmMemoryInput input(StereoTone(4), 2);
  const int inputFrames = int(input.Bytes().size()) / 4;
  TMP3Out output;
  output.Id3TagTitle = "Aborted";
  output.OnProgress = [](TAudioOutput* Sender) {
    if (Sender->Progress() >= 30) Sender->Abort();
  };
  Run(output, input, PathOf("aborted.mp3"));
  ASSERT_EQ(Done, 1);
  EXPECT_EQ(Failures, 0);
  EXPECT_FALSE(input.Busy);
  const std::vector<uint8_t> file = ReadFile(PathOf("aborted.mp3"));
  const std::optional<TId3v1> tag = ReadId3v1(file);
  ASSERT_TRUE(tag.has_value());
  EXPECT_EQ(tag->Title, "Aborted");

  const std::vector<uint8_t> audio = AudioBytes(file);
  const TDecoded decoded = Decode(audio);
  EXPECT_EQ(decoded.LostFrames, 0);
  // What was read before the abort is all there, up to the encoder's padding.
  const int delivered = int(input.Position) / 4;
  const int audioSamples = decoded.SampleCount() - decoded.Frames.front().Samples;
  EXPECT_LT(delivered, inputFrames * 0.6);
  EXPECT_GE(audioSamples, delivered);
  EXPECT_LT(audioSamples, delivered + 576 + 2 * 1152);
  const std::optional<TInfoFrame> info = ReadInfoFrame(audio);
  ASSERT_TRUE(info && info->Frames);
  EXPECT_EQ(*info->Frames, decoded.Frames.size() - 1);
}

TEST_F(Mp3Run, AnEmptyInputGivesOnlyWhatTheFlushReturns) {
  for (bool sizeKnown : {true, false}) {
    SCOPED_TRACE(sizeKnown ? "size known" : "size unknown");
    TPcmMemoryInput input({}, 2, 16, 44100, sizeKnown);
    TMP3Out output;
    output.Id3TagTitle = "Empty";
    Run(output, input, PathOf("empty.mp3"));
    ASSERT_EQ(Done, 1);
    Done = 0;
    const std::vector<uint8_t> file = ReadFile(PathOf("empty.mp3"));
    const std::optional<TId3v1> tag = ReadId3v1(file);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->Title, "Empty");
    // The information frame and the frames that carry the encoder's delay; no audio.
    const std::vector<uint8_t> audio = AudioBytes(file);
    const TDecoded decoded = Decode(audio);
    EXPECT_LE(decoded.Frames.size(), 3u);
    for (int16_t sample : decoded.Left) ASSERT_EQ(sample, 0);
    const std::optional<TInfoFrame> info = ReadInfoFrame(audio);
    ASSERT_TRUE(info && info->Frames);
    EXPECT_EQ(*info->Frames, decoded.Frames.size() - 1);
  }
}

// A file that cannot take the data: the run is reported failed, not done, its input is
// closed and the next run works.
TEST_F(Mp3Run, AWriteFailureEndsTheRunAsAFailure) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TPcmMemoryInput input(StereoTone(1), 2);
  TMP3Out output;
  Run(output, input, "/dev/full");
  EXPECT_EQ(Done, 0);
  ASSERT_EQ(Failures, 1);
  EXPECT_NE(Failure.find("Cannot write file"), std::string::npos) << Failure;
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(output.Status(), osIdle);

  Run(output, input, PathOf("after.mp3"));
  EXPECT_EQ(Done, 1);
  EXPECT_GT(Decode(AudioBytes(ReadFile(PathOf("after.mp3")))).Frames.size(), 30u);
}

struct TSetupFailureCase {
  const char* Name;
  int Channels, Bits;
  bool WithFileName;
  const char* Message;
};

void PrintTo(const TSetupFailureCase& Case, std::ostream* Out) { *Out << Case.Name; }

class Mp3SetupFailure : public Mp3Test,
                        public ::testing::WithParamInterface<TSetupFailureCase> {};

// A run that cannot start is reported through `OnThreadException` and gives its input
// back, so the next run can open it.
TEST_P(Mp3SetupFailure, IsReportedAndLeavesTheInputClosed) {
  const TSetupFailureCase& c = GetParam();
  TPcmMemoryInput input(std::vector<uint8_t>(8000, 0), c.Channels, c.Bits);
  TMP3Out output;
  output.OnThreadException = [this](TAudioOutput*, const std::exception& E) {
    Failure = E.what();
    ++Failures;
  };
  output.SetInput(&input);
  output.FileName = c.WithFileName ? PathOf("failed.mp3") : "";
  output.Start();
  EXPECT_EQ(Failures, 1);
  EXPECT_EQ(Failure, c.Message);
  EXPECT_EQ(output.Status(), osIdle);
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(output.Stream, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, Mp3SetupFailure,
    ::testing::Values(
        TSetupFailureCase{"NoFileName", 2, 16, false, "File name is not assigned."},
        TSetupFailureCase{"EightBitInput", 2, 8, true,
                          "The MP3 output accepts 16-bit PCM with one or two channels."},
        TSetupFailureCase{"SixChannels", 6, 16, true,
                          "The MP3 output accepts 16-bit PCM with one or two channels."}),
    [](const ::testing::TestParamInfo<TSetupFailureCase>& Info) {
      return Info.param.Name;
    });

}  // namespace
