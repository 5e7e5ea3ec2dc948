// What every file output does, whatever its format, checked with decoders we did not
// write: a whole run decodes to the input's length with progress up to 100; a run cut
// short (abort, a source that fails) leaves a file that decodes to what was read; a
// failed set-up or write is reported, and the output stays idle and reusable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_run.h"
#include "flac_decoder.h"
#include "mp3_decoder.h"
#include "ogg_decoder.h"
#include "opus_decoder.h"
#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "outputs/audio_wave.h"
#include "pcm_source.h"
#include "pipeline_test.h"
#include "small_disk.h"
#include "wav_decoder.h"

namespace {

int64_t SoxFrames(const std::string& File) {
  const std::vector<int16_t> samples = DecodeWithSox(File);
  return samples.empty() ? -1 : static_cast<int64_t>(samples.size() / 2);
}

// The offset of a RIFF chunk's body, 0 when the file has no such chunk.
size_t ChunkBody(const std::vector<uint8_t>& File, const char* Id) {
  for (size_t at = 12; at + 8 <= File.size(); at += 8 + Field32(File, at + 4)) {
    if (std::memcmp(&File[at], Id, 4) == 0) return at + 8;
  }
  return 0;
}

// The data chunk's size is what the file holds after it, and the file decodes; for
// IMA ADPCM the data is whole blocks and the sample count of the fact chunk what they
// hold.
bool HoldsATrueWaveFile(const std::string& Name) {
  const std::vector<uint8_t> file = ReadWholeFile(Name);
  const size_t format = ChunkBody(file, "fmt ");
  const size_t data = ChunkBody(file, "data");
  if (format == 0 || data == 0 || Field32(file, data - 4) != file.size() - data) return false;
  if (Field16(file, format) == 0x11) {
    const uint32_t blockBytes = Field16(file, format + 12);
    const uint32_t blockFrames = Field16(file, format + 18);
    const size_t fact = ChunkBody(file, "fact");
    const uint32_t blocks = Field32(file, data - 4) / blockBytes;
    if (fact == 0 || Field32(file, data - 4) % blockBytes != 0 ||
        Field32(file, fact) != blocks * blockFrames)
      return false;
  }
  return SoxFrames(Name) >= 0;
}

// Each format: its output as the test sets it up, its file name, the stereo frames a
// decoder finds in a file (-1 when the file does not decode), and how far that count
// may lie from the frames the output was given.
struct WavPcm {
  using Output = TWaveOut;
  static constexpr const char* Name = "WavPcm";
  static constexpr const char* FileName = "pcm.wav";
  static void Configure(TWaveOut&) {}
  static int64_t DecodedFrames(const std::string& File) { return SoxFrames(File); }
  static bool HoldsATrueFile(const std::string& File) { return HoldsATrueWaveFile(File); }
  static constexpr int64_t Tolerance = 0;
};

struct WavImaAdpcm {
  using Output = TWaveOut;
  static constexpr const char* Name = "WavImaAdpcm";
  static constexpr const char* FileName = "ima.wav";
  static void Configure(TWaveOut& Output) { Output.SetWavType(wtDVIADPCM); }
  static int64_t DecodedFrames(const std::string& File) { return SoxFrames(File); }
  static bool HoldsATrueFile(const std::string& File) { return HoldsATrueWaveFile(File); }
  // Frames of one 512-byte stereo block: the last block is padded with silence, and a
  // block that a failure cut short is not written.
  static constexpr int64_t Tolerance = 505;
};

struct Mp3 {
  using Output = TMP3Out;
  static constexpr const char* Name = "Mp3";
  static constexpr const char* FileName = "out.mp3";
  static void Configure(TMP3Out&) {}
  // The information frame decodes to silence; the encoder's delay and padding, which
  // that frame states, frame the audio.
  static int64_t DecodedFrames(const std::string& File) {
    const std::vector<uint8_t> audio = mp3test::AudioBytes(ReadWholeFile(File));
    const mp3test::TDecoded decoded = mp3test::Decode(audio);
    const std::optional<mp3test::TInfoFrame> info = mp3test::ReadInfoFrame(audio);
    if (decoded.LostFrames > 0 || decoded.Frames.empty() || !info || !info->Delay || !info->Padding)
      return -1;
    return decoded.SampleCount() - decoded.Frames[0].Samples - *info->Delay - *info->Padding;
  }
  // Every frame decodes, and an information frame counts the frames that are there.
  static bool HoldsATrueFile(const std::string& File) {
    const std::vector<uint8_t> audio = mp3test::AudioBytes(ReadWholeFile(File));
    const mp3test::TDecoded decoded = mp3test::Decode(audio);
    const std::optional<mp3test::TInfoFrame> info = mp3test::ReadInfoFrame(audio);
    if (decoded.LostFrames > 0 || decoded.Frames.size() < 2) return false;
    return !info || !info->Frames || *info->Frames + 1 == decoded.Frames.size();
  }
  static constexpr int64_t Tolerance = 0;
};

struct OggVorbis {
  using Output = TVorbisOut;
  static constexpr const char* Name = "OggVorbis";
  static constexpr const char* FileName = "out.ogg";
  static void Configure(TVorbisOut&) {}
  static int64_t DecodedFrames(const std::string& File) {
    const VorbisTest::TDecodedFile file = VorbisTest::Decode(File);
    if (file.OpenResult != 0 || file.Links.size() != 1) return -1;
    return file.Links[0].Frames();
  }
  static bool HoldsATrueFile(const std::string& File) { return DecodedFrames(File) > 0; }
  static constexpr int64_t Tolerance = 0;
};

// `flac -t` passes and STREAMINFO and the seek table state what the file holds, also
// in a file that was cut short.
struct Flac {
  using Output = TFlacOut;
  static constexpr const char* Name = "Flac";
  static constexpr const char* FileName = "out.flac";
  static void Configure(TFlacOut&) {}
  static int64_t DecodedFrames(const std::string& File) { return flactest::TrueFileFrames(File); }
  static bool HoldsATrueFile(const std::string& File) { return DecodedFrames(File) > 0; }
  static constexpr int64_t Tolerance = 0;
};

// `opusinfo` reads the file clean, also one that was cut short. The decoded length is
// the input's (the header's pre-skip and the last page's granule position trim the
// codec's padding); a cut file may lose up to one 20 ms frame.
struct Opus {
  using Output = TOpusOut;
  static constexpr const char* Name = "Opus";
  static constexpr const char* FileName = "out.opus";
  static void Configure(TOpusOut&) {}
  static int64_t DecodedFrames(const std::string& File) { return opustest::CleanFileFrames(File); }
  static bool HoldsATrueFile(const std::string& File) { return DecodedFrames(File) > 0; }
  static constexpr int64_t Tolerance = 882;
};

constexpr int InputFrames = 44100;

template <class Format>
class OutputBehaviour : public PipelineTest {
 protected:
  OutputBehaviour() {
    Format::Configure(Output);
    Output.FileName = Dir / Format::FileName;
  }

  int64_t FramesRead() const { return Input.Position / 4; }
  void ExpectDecodesTo(int64_t Frames) {
    const int64_t decoded = Format::DecodedFrames(Output.FileName);
    EXPECT_GE(decoded, Frames - Format::Tolerance);
    EXPECT_LE(decoded, Frames + Format::Tolerance);
  }
  void ExpectFailure(const TRunResult& Run, const std::string& Message) {
    EXPECT_EQ(Run.Done, 0);
    EXPECT_EQ(Run.Failures, 1);
    EXPECT_NE(Run.Failure.find(Message), std::string::npos) << Run.Failure;
    EXPECT_EQ(Output.Status(), osIdle);
    EXPECT_FALSE(Input.Busy);
  }

  TPcmMemoryInput Input{TestSignal::Sine16(InputFrames, {440.0, 660.0}, 0.4), 2};
  typename Format::Output Output;  // destroyed before the source it reads
};

struct FormatNames {
  template <class Format>
  static std::string GetName(int) {
    return Format::Name;
  }
};

using Formats = ::testing::Types<WavPcm, WavImaAdpcm, Mp3, OggVorbis, Flac, Opus>;
TYPED_TEST_SUITE(OutputBehaviour, Formats, FormatNames);

TYPED_TEST(OutputBehaviour, AWholeRunDecodesToTheInputsLengthWithProgressUpTo100) {
  std::vector<int> progress;
  this->Output.OnProgress = [&progress](TAudioOutput* Sender) {
    progress.push_back(Sender->Progress());
  };
  ASSERT_TRUE(this->Completes(this->Output, this->Input));
  this->ExpectDecodesTo(InputFrames);
  ASSERT_FALSE(progress.empty());
  EXPECT_GT(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end(), std::greater_equal<int>()),
            progress.end())
      << "progress only climbs";
}

TYPED_TEST(OutputBehaviour, AnAbortMidRunLeavesAFileOfWhatWasRead) {
  this->Output.OnProgress = [](TAudioOutput* Sender) {
    if (Sender->Progress() >= 30) Sender->Abort();
  };
  ASSERT_TRUE(this->Completes(this->Output, this->Input));  // an abort ends as a completion
  EXPECT_LT(this->FramesRead(), InputFrames * 6 / 10);
  EXPECT_FALSE(this->Input.Busy);
  this->ExpectDecodesTo(this->FramesRead());
}

TYPED_TEST(OutputBehaviour, AReadFailureFailsTheRunAndKeepsWhatWasRead) {
  this->Input.FailAt = 60000;
  this->ExpectFailure(this->RunToEnd(this->Output, this->Input), TPcmMemoryInput::ReadFailure);
  this->ExpectDecodesTo(this->FramesRead());
}

TYPED_TEST(OutputBehaviour, AWriteFailureFailsTheRun) {
  this->Output.FileName = "/dev/full";
  this->ExpectFailure(this->RunToEnd(this->Output, this->Input), "No space left on device");
}

// The files of a folder, by name.
std::vector<std::string> FilesIn(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A source that cannot be opened (no disc) or fails at its first read never costs the
// user the file of an earlier rip under the same name, nor leaves a new file behind.
TYPED_TEST(OutputBehaviour, AFailureBeforeAnyAudioLeavesTheFolderAsItWas) {
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  const std::function<void(TPcmMemoryInput&)> failures[] = {
      [](TPcmMemoryInput& Source) { Source.FailOpen = true; },
      [](TPcmMemoryInput& Source) { Source.FailAt = 0; }};
  for (const bool fileWasThere : {true, false}) {
    for (const auto& fail : failures) {
      this->Input.FailOpen = false;
      this->Input.FailAt = -1;
      fail(this->Input);
      std::filesystem::remove(this->Output.FileName);
      if (fileWasThere) WriteWholeFile(this->Output.FileName, earlier);
      const std::vector<std::string> before = FilesIn(this->Dir.Path().string());
      const auto run = this->RunToEnd(this->Output, this->Input);
      EXPECT_EQ(run.Failures, 1);
      EXPECT_EQ(run.Failure.find("incomplete"), std::string::npos) << run.Failure;
      EXPECT_EQ(FilesIn(this->Dir.Path().string()), before);
      if (fileWasThere) {
        EXPECT_EQ(ReadWholeFile(this->Output.FileName), earlier);
      }
    }
  }
}

// A disk that fills up mid-run: the file keeps what fits with headers true for it, and
// the message says the file is incomplete. The disk is a tmpfs of the test's own, so
// only a test run as root (CI, the set-up) can make one.
TYPED_TEST(OutputBehaviour, AFullDiskKeepsATrueFileAndSaysItIsIncomplete) {
  TSmallDisk disk(this->Dir / "disk", 16 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << TSmallDisk::NeedsRoot;
  TPcmMemoryInput longer(TestSignal::Sine16(InputFrames * 10, {440.0, 660.0}, 0.4), 2);
  this->Output.FileName = this->Dir / ("disk/" + std::string(TypeParam::FileName));
  const auto run = this->RunToEnd(this->Output, longer);
  EXPECT_EQ(run.Failures, 1);
  EXPECT_NE(run.Failure.find(std::string(TypeParam::FileName) + " is incomplete"),
            std::string::npos)
      << run.Failure;
  EXPECT_EQ(FilesIn(this->Dir / "disk"), std::vector<std::string>{TypeParam::FileName});
  EXPECT_TRUE(TypeParam::HoldsATrueFile(this->Output.FileName)) << run.Failure;
}

// What decoders we did not write say about a file: ffmpeg's errors, and for Ogg what
// ogginfo or opusinfo warn of (a stream without its end-of-stream page, a page cut
// short).
std::string OutsideDecodersComplaints(const std::string& File) {
  std::string complaints =
      CaptureCommand("ffmpeg -nostdin -v error -i '" + File + "' -f null -").Output;
  if (File.size() > 5 && File.compare(File.size() - 5, 5, ".opus") == 0)
    complaints += opustest::Complaints(File);
  if (File.size() > 4 && File.compare(File.size() - 4, 4, ".ogg") == 0) {
    const TCommandResult info = CaptureCommand("ogginfo '" + File + "'");
    for (const char* word : {"WARNING", "ERROR", "Warning", "Error"})
      if (info.Output.find(word) != std::string::npos) complaints += info.Output;
    if (info.Status != 0) complaints += info.Output;
  }
  return complaints;
}

// An earlier file of the name, and a disk with this much room left: the earlier file
// stays exactly as it was, and the run either keeps a file that decodes clean beside it
// as "NAME (incomplete).EXT" (and names it) or keeps nothing (and says so). With no
// room at all, nothing can be kept; with 40 KiB, every format keeps some audio.
TYPED_TEST(OutputBehaviour, AFullDiskNeverCostsTheEarlierFile) {
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  const std::string name = TypeParam::FileName;
  for (const off_t room : {0, 4096, 8192, 16384, 40960}) {
    SCOPED_TRACE("room " + std::to_string(room));
    TSmallDisk disk(this->Dir / "disk", 256 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << TSmallDisk::NeedsRoot;
    this->Output.FileName = this->Dir / ("disk/" + name);
    WriteWholeFile(this->Output.FileName, earlier);
    ASSERT_TRUE(disk.FillLeaving(room));
    // Noise, which no format packs into 40 KiB.
    TPcmMemoryInput longer(TestSignal::Noise16(InputFrames * 10, 2), 2);
    const auto run = this->RunToEnd(this->Output, longer);
    EXPECT_EQ(run.Failures, 1);
    EXPECT_EQ(ReadWholeFile(this->Output.FileName), earlier);
    const std::filesystem::path path(name);
    const std::string incomplete =
        path.stem().string() + " (incomplete)" + path.extension().string();
    const bool kept = std::filesystem::exists(this->Dir / ("disk/" + incomplete));
    const std::vector<std::string> files =
        kept ? std::vector<std::string>{"filler", incomplete, name}
             : std::vector<std::string>{"filler", name};
    EXPECT_EQ(FilesIn(this->Dir / "disk"), files);
    if (room == 0 || room == 40960) {
      EXPECT_EQ(kept, room != 0);
    }
    if (kept) {
      EXPECT_NE(run.Failure.find("kept as " + incomplete + "; the earlier " + name),
                std::string::npos)
          << run.Failure;
      EXPECT_TRUE(TypeParam::HoldsATrueFile(this->Dir / ("disk/" + incomplete))) << run.Failure;
      EXPECT_EQ(OutsideDecodersComplaints(this->Dir / ("disk/" + incomplete)), "");
    } else {
      EXPECT_NE(run.Failure.find("nothing of " + name + " could be kept"), std::string::npos)
          << run.Failure;
    }
  }
}

TYPED_TEST(OutputBehaviour, AFailedSetUpIsReportedAndLeavesTheOutputReusable) {
  const std::string usable = this->Output.FileName;
  const std::pair<std::string, const char*> refusals[] = {
      {"", "File name is not assigned."}, {this->Dir / "missing-folder/out", "Cannot create file"}};
  for (const auto& [fileName, message] : refusals) {
    this->Output.FileName = fileName;
    this->ExpectFailure(this->RunToEnd(this->Output, this->Input), message);
    EXPECT_EQ(this->Output.Stream, nullptr);
  }
  this->Output.FileName = usable;
  ASSERT_TRUE(this->Completes(this->Output, this->Input));
  this->ExpectDecodesTo(InputFrames);
}

}  // namespace
