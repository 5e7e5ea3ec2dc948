// Appending to existing .wav files: our own, and files other tools wrote.
#include <gtest/gtest.h>

#include "command_run.h"
#include "outputs/audio_wave.h"
#include "pcm_source.h"
#include "pipeline_test.h"
#include "wav_decoder.h"

namespace {

class WaveAppend : public PipelineTest {
 protected:
  TRunResult Write(const std::string& Name, const std::vector<uint8_t>& Bytes, int Channels,
                   TWavType Type, TFileOutputMode Mode, int Bits = 16) {
    TPcmMemoryInput input(Bytes, Channels, Bits);
    TWaveOut output;
    output.SetWavType(Type);
    output.SetFileMode(Mode);
    output.FileName = Name;
    output.SetInput(&input);
    return RunToEnd(output);
  }

  // A RIFF chunk: id, size, payload, and the pad byte an odd size asks for.
  static void Chunk(std::vector<uint8_t>& File, const char* Id, const std::vector<uint8_t>& Payload,
                    bool Pad = true) {
    File.insert(File.end(), Id, Id + 4);
    for (int i = 0; i < 4; ++i) File.push_back(static_cast<uint8_t>(Payload.size() >> (8 * i)));
    File.insert(File.end(), Payload.begin(), Payload.end());
    if (Pad && Payload.size() % 2) File.push_back(0);
  }
  static std::vector<uint8_t> PcmFmt(int Channels, int Bits) {
    std::vector<uint8_t> fmt = {1, 0, static_cast<uint8_t>(Channels), 0, 0x44, 0xAC, 0, 0};
    const int align = Channels * Bits / 8;
    const uint32_t rate = 44100u * align;
    for (int i = 0; i < 4; ++i) fmt.push_back(static_cast<uint8_t>(rate >> (8 * i)));
    fmt.push_back(static_cast<uint8_t>(align));
    fmt.push_back(0);
    fmt.push_back(static_cast<uint8_t>(Bits));
    fmt.push_back(0);
    return fmt;
  }
  // A PCM file as other tools lay it out: extra chunks before and after fmt.
  static std::vector<uint8_t> ForeignPcm(const std::vector<uint8_t>& Samples, bool PadOddChunks,
                                         bool LowerCaseIds) {
    std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
    Chunk(body, "LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 3, 0, 0, 0, 'a', 'b', 0},
          PadOddChunks);
    Chunk(body, LowerCaseIds ? "FMT " : "fmt ", PcmFmt(2, 16));
    Chunk(body, "junk", {1, 2, 3}, PadOddChunks);
    Chunk(body, LowerCaseIds ? "DATA" : "data", Samples);
    std::vector<uint8_t> file;
    Chunk(file, "RIFF", body);
    return file;
  }
};

TEST_F(WaveAppend, ExtendsOurOwnFiles) {
  for (TWavType type : {wtPCM, wtDVIADPCM}) {
    const std::string name = Dir / "own.wav";
    const auto first = TestSignal::Sine16(30000, {440, 660});
    const auto second = TestSignal::Sine16(20000, {880, 220});
    ASSERT_EQ(Write(name, first, 2, type, foRewrite).Done, 1);
    ASSERT_EQ(Write(name, second, 2, type == wtPCM ? wtDVIADPCM : wtPCM, foAppend).Done, 1)
        << "the file's own type wins over the output's";
    const auto file = ReadWholeFile(name);
    const size_t header = type == wtPCM ? 44 : 60;
    EXPECT_EQ(Field32(file, 4), file.size() - 8);
    EXPECT_EQ(Field32(file, header - 4), file.size() - header);
    const auto decoded = DecodeWithSox(name);
    if (type == wtPCM) {
      std::vector<uint8_t> both(first);
      both.insert(both.end(), second.begin(), second.end());
      EXPECT_EQ(decoded, AsSamples(both));
    } else {
      // The first run's last block is padded with silence; the second run's frames
      // follow it, and the fact count covers both.
      const int perBlock = IMASamplesPerBlock(2, 512);
      const uint32_t frames = (30000 / perBlock + 1) * perBlock + 20000;
      EXPECT_EQ(Field32(file, 48), frames);
      // sox decodes whole blocks: 60 from the first run, 40 from the second.
      EXPECT_EQ(decoded.size(), 2u * (60 + 40) * perBlock);
    }
  }
}

TEST_F(WaveAppend, ExtendsFilesWithOtherChunks) {
  const auto existing = TestSignal::Noise16(1000, 2, 7);
  const auto added = TestSignal::Noise16(700, 2, 9);
  for (bool pad : {true, false}) {
    for (bool lowerCase : {false, true}) {
      const std::string name = Dir / "foreign.wav";
      WriteWholeFile(name, ForeignPcm(existing, pad, lowerCase));
      ASSERT_EQ(Write(name, added, 2, wtPCM, foAppend).Done, 1) << pad << lowerCase;
      const auto file = ReadWholeFile(name);
      std::vector<uint8_t> samples(existing);
      samples.insert(samples.end(), added.begin(), added.end());
      EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.end() - samples.size()));
      EXPECT_EQ(Field32(file, file.size() - samples.size() - 4), samples.size());
      EXPECT_EQ(Field32(file, 4), file.size() - 8);
    }
  }
}

// Files written by ffmpeg carry a LIST chunk before their data.
TEST_F(WaveAppend, ExtendsFilesThatFfmpegWrote) {
  for (const char* codec : {"pcm_s16le", "adpcm_ima_wav"}) {
    const std::string name = Dir / "ffmpeg.wav";
    ASSERT_TRUE(
        RunCommand(std::string("ffmpeg -v error -y -f lavfi -i sine=frequency=500:duration=1 ") +
                   "-ac 2 -ar 44100 -c:a " + codec + " '" + name + "'"));
    const auto before = DecodeWithSox(name);
    ASSERT_EQ(Write(name, TestSignal::Sine16(44100, {300, 300}), 2, wtPCM, foAppend).Done, 1)
        << codec;
    const auto after = DecodeWithSox(name);
    EXPECT_GE(after.size(), before.size() + 2 * 44100) << codec;
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << codec;
  }
}

TEST_F(WaveAppend, RefusalsLeaveTheFileUntouched) {
  struct Case {
    std::string What;
    std::vector<uint8_t> File;
    int Bits;
    std::string Message;
  };
  std::vector<uint8_t> trailingList = ForeignPcm(TestSignal::Noise16(100, 2), true, false);
  Chunk(trailingList, "LIST", {'I', 'N', 'F', 'O'});
  std::vector<uint8_t> msAdpcm = ForeignPcm(TestSignal::Noise16(100, 2), true, false);
  const size_t fmtTag =
      std::search(msAdpcm.begin(), msAdpcm.end(), "fmt ", "fmt " + 4) - msAdpcm.begin() + 8;
  msAdpcm[fmtTag] = 2;
  const std::vector<Case> cases = {
      {"8-bit into 16-bit", ForeignPcm(TestSignal::Noise16(100, 2), true, false), 8,
       "Cannot append data in different audio format."},
      {"not a wave file", std::vector<uint8_t>(3000, 'x'), 16,
       "Cannot append data to this .wav file."},
      {"MS ADPCM", msAdpcm, 16, "Cannot append data to this .wav file."},
      {"a chunk after the data", trailingList, 16, "Cannot append data to this .wav file."},
  };
  for (const Case& c : cases) {
    const std::string name = Dir / "refused.wav";
    WriteWholeFile(name, c.File);
    const auto input = c.Bits == 8 ? std::vector<uint8_t>(400, 128) : TestSignal::Noise16(100, 2);
    const TRunResult run = Write(name, input, 2, wtPCM, foAppend, c.Bits);
    EXPECT_EQ(run.Failure, c.Message) << c.What;
    EXPECT_EQ(run.Done, 0) << c.What;
    EXPECT_EQ(ReadWholeFile(name), c.File) << c.What;
  }
}

TEST_F(WaveAppend, AnEmptyOrMissingFileGetsAFreshHeader) {
  const std::string name = Dir / "empty.wav";
  WriteWholeFile(name, {});
  const auto samples = TestSignal::Noise16(500, 2);
  ASSERT_EQ(Write(name, samples, 2, wtPCM, foAppend).Done, 1);
  EXPECT_EQ(ReadWholeFile(name).size(), 44 + samples.size());
  ASSERT_EQ(Write(Dir / "new.wav", samples, 2, wtPCM, foAppend).Done, 1);
  EXPECT_EQ(ReadWholeFile(Dir / "new.wav").size(), 44 + samples.size());
}

}  // namespace
