// Runs of the MP3 output as the window drives them: the tags, abort, an empty input,
// and the refusals of its set-up.
#include <filesystem>

#include "mp3_decoder.h"
#include "outputs/audio_lame.h"
#include "pcm_source.h"
#include "pipeline_test.h"
#include "small_disk.h"
#include "tag_reader.h"

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

class Mp3Run : public PipelineTest {};

// The tag texts are taken when the run ends: set before the run, or changed (from the
// window thread) while it is under way.
class Mp3Tag : public PipelineTest, public ::testing::WithParamInterface<bool> {};

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
  output.FileName = Dir / "tagged.mp3";
  ASSERT_TRUE(Completes(output, input));
  const std::optional<TId3v1> tag = ReadId3v1(ReadWholeFile(output.FileName));
  ASSERT_TRUE(tag.has_value());
  ExpectAllTags(*tag, changeDuringRun ? "during" : "before");
}

INSTANTIATE_TEST_SUITE_P(BeforeAndDuring, Mp3Tag, ::testing::Bool());

struct TGenreCase {
  const char* Text;
  int Expected;
  const char* V2Genre;  // as the reader reads the ID3v2 tag's genre; "" for none
};

class Mp3Genre : public PipelineTest, public ::testing::WithParamInterface<TGenreCase> {};

// Names of the program's genre list reach the ID3v1 tag as that genre even where the
// library's own table spells them otherwise, and the ID3v2 tag by the list's name;
// other texts go to the library as given, and to the ID3v2 tag as typed.
TEST_P(Mp3Genre, ReachesTheTagsAsTheNamedGenre) {
  TPcmMemoryInput input(StereoTone(1), 2);
  TMP3Out output;
  output.Id3TagTitle = "Genre";
  output.Id3TagGenre = GetParam().Text;
  output.FileName = Dir / "genre.mp3";
  ASSERT_TRUE(Completes(output, input));
  const std::optional<TId3v1> tag = ReadId3v1(ReadWholeFile(output.FileName));
  ASSERT_TRUE(tag.has_value());
  EXPECT_EQ(tag->Genre, GetParam().Expected);
  tagtest::TTags tags = tagtest::ReadTags(output.FileName);
  EXPECT_EQ(tags["v2.TCON.genres"], GetParam().V2Genre);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Mp3Genre,
    ::testing::Values(TGenreCase{"Blues", 0, "Blues"}, TGenreCase{"Psychadelic", 67, "Psychadelic"},
                      TGenreCase{"Bebob", 85, "Bebob"}, TGenreCase{"AlternRock", 40, "AlternRock"},
                      TGenreCase{"A capella", 123, "A capella"},
                      TGenreCase{"dance hall", 125, "Dance Hall"},
                      TGenreCase{"Jazz+Funk", 29, "Jazz+Funk"}, TGenreCase{"42", 42, "Soul"},
                      TGenreCase{"Not A Genre", 12, "Not A Genre"},
                      TGenreCase{"(12) Remix", 12, "(12) Remix"}, TGenreCase{"", 255, ""}));

void SetTyped(TMP3Out& Output, const tagtest::TTyped& Typed) {
  Output.Id3TagTitle = Typed.Title;
  Output.Id3TagArtist = Typed.Artist;
  Output.Id3TagAlbum = Typed.Album;
  Output.Id3TagYear = Typed.Year;
  Output.Id3TagTrack = Typed.Track;
  Output.Id3TagComment = Typed.Comment;
  Output.Id3TagGenre = Typed.Genre;
}

// The ID3v2 tag before the audio leaves the information frame true and the decoded
// length exact: the frames it counts, the bytes it counts, and Frames samples framed by
// the encoder's delay and padding.
void ExpectExactAudio(const std::string& File, int Frames) {
  const std::vector<uint8_t> audio = AudioBytes(ReadWholeFile(File));
  const TDecoded decoded = Decode(audio);
  const std::optional<TInfoFrame> info = ReadInfoFrame(audio);
  ASSERT_TRUE(info && info->Frames && info->Bytes && info->Delay && info->Padding) << File;
  EXPECT_EQ(decoded.LostFrames, 0) << File;
  EXPECT_EQ(*info->Frames + 1, decoded.Frames.size()) << File;
  EXPECT_EQ(*info->Bytes, audio.size()) << File;
  EXPECT_EQ(decoded.SampleCount() - decoded.Frames[0].Samples - *info->Delay - *info->Padding,
            Frames)
      << File;
}

class Mp3TypedTags : public PipelineTest,
                     public ::testing::WithParamInterface<tagtest::TGenreCase> {};

TEST_P(Mp3TypedTags, ComeBackWholeFromTheV2TagAndInLatin1FromTheV1Tag) {
  TPcmMemoryInput input(StereoTone(1), 2);
  TMP3Out output;
  SetTyped(output, tagtest::Typed(GetParam()));
  output.FileName = Dir / "typed.mp3";
  ASSERT_TRUE(Completes(output, input));
  tagtest::ExpectTypedTags(output.FileName, GetParam());
  ExpectExactAudio(output.FileName, 44100);
}

INSTANTIATE_TEST_SUITE_P(Genres, Mp3TypedTags, ::testing::ValuesIn(tagtest::GenreCases),
                         [](const auto& Info) { return std::string(Info.param.Typed); });

// The room kept at the start for the ID3v2 tag holds the title of the end of the run;
// a title that outgrows it, or a tag that comes or goes during the run, moves the
// audio, which stays whole, and nothing is left beside the file.
struct TRoomCase {
  const char* Name;
  std::string AtStart, AtEnd;
};

void PrintTo(const TRoomCase& Case, std::ostream* Out) { *Out << Case.Name; }

class Mp3TagRoom : public PipelineTest, public ::testing::WithParamInterface<TRoomCase> {};

// The title AtEnd is set while the run is under way (the worker waits meanwhile).
void ChangeTitleDuringTheRun(TMP3Out& Output, const std::string& AtEnd) {
  Output.OnProgress = [AtEnd, done = false](TAudioOutput* Sender) mutable {
    if (!std::exchange(done, true)) static_cast<TMP3Out*>(Sender)->Id3TagTitle = AtEnd;
  };
}

TEST_P(Mp3TagRoom, HoldsTheTitleOfTheEndOfTheRun) {
  TPcmMemoryInput input(StereoTone(2), 2);
  TMP3Out output;
  output.Id3TagTitle = GetParam().AtStart;
  ChangeTitleDuringTheRun(output, GetParam().AtEnd);
  output.FileName = Dir / "room.mp3";
  ASSERT_TRUE(Completes(output, input));
  const tagtest::TTags tags = tagtest::ReadTags(output.FileName);
  if (GetParam().AtEnd.empty()) {
    EXPECT_EQ(tags.count("v2.version"), 0u);
  } else {
    EXPECT_EQ(tags.at("v2.version"), "2.3");
    EXPECT_EQ(tags.at("v2.TIT2"), GetParam().AtEnd);
  }
  ExpectExactAudio(output.FileName, 2 * 44100);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1);
}

std::string Repeated(const std::string& Text, int Times) {
  std::string repeated;
  for (int i = 0; i < Times; ++i) repeated += Text;
  return repeated;
}

INSTANTIATE_TEST_SUITE_P(
    Titles, Mp3TagRoom,
    ::testing::Values(TRoomCase{"Fits", "Short", "Short, and somewhat longer"},
                      TRoomCase{"Outgrows", "Short", Repeated("\u6771", 3000)},
                      TRoomCase{"FitsBeyondTheBmp", "Short", "G clef \U0001D11E"},
                      TRoomCase{"Comes", "", "Late"}, TRoomCase{"Goes", "Early", ""}),
    [](const ::testing::TestParamInfo<TRoomCase>& Info) { return Info.param.Name; });

// A disk too full for the copy behind a larger tag: the run fails and says why, and the
// file stays whole with the tag of the start; nothing is left beside it. The disk is a
// tmpfs of the test's own, so only a test run as root can make one.
TEST_F(Mp3Run, TextsOutgrowingTheRoomOnAFullDiskLeaveTheFileWhole) {
  TSmallDisk disk(Dir / "disk", 40 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << TSmallDisk::NeedsRoot;
  TPcmMemoryInput input(StereoTone(1), 2);
  TMP3Out output;
  output.Id3TagTitle = "Short";
  ChangeTitleDuringTheRun(output, Repeated("\u6771", 3000));
  output.FileName = Dir / "disk/full.mp3";
  const TRunResult run = RunToEnd(output, input);
  EXPECT_EQ(run.Failures, 1);
  EXPECT_NE(run.Failure.find("Cannot write file"), std::string::npos) << run.Failure;
  EXPECT_NE(run.Failure.find("The file is whole"), std::string::npos) << run.Failure;
  EXPECT_EQ(run.Failure.find("incomplete"), std::string::npos) << run.Failure;
  EXPECT_EQ(tagtest::ReadTags(output.FileName)["v2.TIT2"], "Short");
  ExpectExactAudio(output.FileName, 44100);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir / "disk"), {}), 1);
}

// That the file decodes to what was read is checked for every output in
// tests/audio/outputs/output_behaviour_test.cpp; here, the tag and the information frame.
TEST_F(Mp3Run, AnAbortedRunEndsWithTheFlushedFramesAndTheTag) {
  TPcmMemoryInput input(StereoTone(4), 2);
  TMP3Out output;
  output.Id3TagTitle = "Aborted";
  output.OnProgress = [](TAudioOutput* Sender) {
    if (Sender->Progress() >= 30) Sender->Abort();
  };
  output.FileName = Dir / "aborted.mp3";
  ASSERT_TRUE(Completes(output, input));
  const std::vector<uint8_t> file = ReadWholeFile(output.FileName);
  const std::optional<TId3v1> tag = ReadId3v1(file);
  ASSERT_TRUE(tag.has_value());
  EXPECT_EQ(tag->Title, "Aborted");

  const std::vector<uint8_t> audio = AudioBytes(file);
  const TDecoded decoded = Decode(audio);
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
    output.FileName = Dir / "empty.mp3";
    ASSERT_TRUE(Completes(output, input));
    const std::vector<uint8_t> file = ReadWholeFile(output.FileName);
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

struct TSetupFailureCase {
  const char* Name;
  int Channels, Bits;
  const char* Message;
};

void PrintTo(const TSetupFailureCase& Case, std::ostream* Out) { *Out << Case.Name; }

class Mp3SetupFailure : public PipelineTest,
                        public ::testing::WithParamInterface<TSetupFailureCase> {};

// An input the encoder cannot take is refused in the set-up, which gives the input
// back, so the next run can open it.
TEST_P(Mp3SetupFailure, IsReportedAndLeavesTheInputClosed) {
  const TSetupFailureCase& c = GetParam();
  TPcmMemoryInput input(std::vector<uint8_t>(8000, 0), c.Channels, c.Bits);
  TMP3Out output;
  output.FileName = Dir / "failed.mp3";
  const TRunResult run = RunToEnd(output, input);
  EXPECT_EQ(run.Failures, 1);
  EXPECT_EQ(run.Failure, c.Message);
  EXPECT_EQ(output.Status(), osIdle);
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(output.Stream, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, Mp3SetupFailure,
    ::testing::Values(
        TSetupFailureCase{"EightBitInput", 2, 8,
                          "The MP3 output accepts 16-bit PCM with one or two channels."},
        TSetupFailureCase{"SixChannels", 6, 16,
                          "The MP3 output accepts 16-bit PCM with one or two channels."}),
    [](const ::testing::TestParamInfo<TSetupFailureCase>& Info) { return Info.param.Name; });

}  // namespace
