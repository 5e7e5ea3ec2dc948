// The header scan over awkward and hostile files, and the replay of the fuzz corpus.
#include <gtest/gtest.h>

#include <filesystem>

#include "outputs/audio_wave.h"
#include "temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

std::vector<uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

void Append32(std::vector<uint8_t>& To, uint32_t Value) {
  for (int i = 0; i < 4; ++i) To.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

std::vector<uint8_t> Fmt(uint16_t Tag, uint16_t Channels, uint16_t Align, uint16_t Bits) {
  std::vector<uint8_t> f = Bytes("fmt ");
  Append32(f, 16);
  const uint8_t payload[16] = {static_cast<uint8_t>(Tag),
                               static_cast<uint8_t>(Tag >> 8),
                               static_cast<uint8_t>(Channels),
                               0,
                               0x44,
                               0xAC,
                               0,
                               0,
                               0,
                               0,
                               0,
                               0,
                               static_cast<uint8_t>(Align),
                               static_cast<uint8_t>(Align >> 8),
                               static_cast<uint8_t>(Bits),
                               0};
  f.insert(f.end(), payload, payload + 16);
  return f;
}

TExistingWavFormat Scan(const TTempDir& Dir, const std::vector<uint8_t>& File) {
  const std::string name = Dir / "scan.wav";
  WriteWholeFile(name, File);
  TFileStream stream(name, TFileStream::TMode::OpenReadWrite);
  return ScanWavHeader(stream);
}

TEST(HeaderScan, FindsTheChunksWhereverTheyAre) {
  TTempDir dir;
  // Garbage before "RIFF" is slid over; an IMA file needs its fact chunk before data.
  std::vector<uint8_t> file = Bytes("xyzRIFF");
  Append32(file, 0);
  file.insert(file.end(), {'W', 'A', 'V', 'E'});
  const auto fmt = Fmt(0x11, 2, 1024, 4);
  file.insert(file.end(), fmt.begin(), fmt.end());
  const auto withFact = [&] {
    std::vector<uint8_t> f = file;
    const auto fact = Bytes("fact");
    f.insert(f.end(), fact.begin(), fact.end());
    Append32(f, 4);
    Append32(f, 12345);
    const auto data = Bytes("data");
    f.insert(f.end(), data.begin(), data.end());
    Append32(f, 1024);
    f.resize(f.size() + 1024);
    return f;
  }();
  const TExistingWavFormat found = Scan(dir, withFact);
  EXPECT_EQ(found.Type, wtDVIADPCM);
  EXPECT_EQ(found.Channels, 2);
  EXPECT_EQ(found.BlockAlign, 1024);
  EXPECT_EQ(found.FactCount, 12345u);
  EXPECT_EQ(found.DataSize, 1024u);
  EXPECT_EQ(found.DataOffset, static_cast<int64_t>(withFact.size() - 1024));

  std::vector<uint8_t> noFact = file;
  const auto data = Bytes("data");
  noFact.insert(noFact.end(), data.begin(), data.end());
  Append32(noFact, 0);
  EXPECT_EQ(Scan(dir, noFact).Type, wtUnsupported);
}

// Writers may put the format after the audio, however long the audio is.
TEST(HeaderScan, FindsTheFormatAfterTheData) {
  TTempDir dir;
  std::vector<uint8_t> file = Bytes("RIFF");
  Append32(file, 0);
  const auto wave = Bytes("WAVEdata");
  file.insert(file.end(), wave.begin(), wave.end());
  Append32(file, 20000);
  file.resize(file.size() + 20000, 7);
  const auto fmt = Fmt(1, 2, 4, 16);
  file.insert(file.end(), fmt.begin(), fmt.end());
  const std::string name = dir / "late-format.wav";
  WriteWholeFile(name, file);
  TFileStream stream(name, TFileStream::TMode::OpenReadWrite);
  const TExistingWavFormat found = ScanWavHeader(stream);
  EXPECT_EQ(found.Type, wtPCM);
  EXPECT_EQ(found.Channels, 2);
  EXPECT_EQ(found.DataSize, 20000u);
  EXPECT_EQ(found.DataOffset, 20);
  EXPECT_EQ(stream.Position(), 20);
}

TEST(HeaderScan, GivesUpPastItsLimitAndOnBrokenSizes) {
  TTempDir dir;
  auto header = [](uint32_t JunkSize, size_t JunkBytes) {
    std::vector<uint8_t> f = Bytes("RIFF");
    Append32(f, 0);
    f.insert(f.end(), {'W', 'A', 'V', 'E'});
    const auto junk = Bytes("junk");
    f.insert(f.end(), junk.begin(), junk.end());
    Append32(f, JunkSize);
    f.resize(f.size() + JunkBytes, 1);
    const auto fmt = Fmt(1, 2, 4, 16);
    f.insert(f.end(), fmt.begin(), fmt.end());
    const auto data = Bytes("data");
    f.insert(f.end(), data.begin(), data.end());
    Append32(f, 0);
    return f;
  };
  EXPECT_EQ(Scan(dir, header(7000, 7000)).Type, wtPCM);
  EXPECT_EQ(Scan(dir, header(9000, 9000)).Type, wtUnsupported);        // beyond 8192
  EXPECT_EQ(Scan(dir, header(0xFFFFFFF0u, 100)).Type, wtUnsupported);  // size past the end
  EXPECT_EQ(Scan(dir, {}).Type, wtUnsupported);
  EXPECT_EQ(Scan(dir, Bytes("RIF")).Type, wtUnsupported);
}

TEST(HeaderScan, SameChunkIdIgnoresCase) {
  const uint8_t upper[] = {'D', 'A', 'T', 'A'};
  const uint8_t mixed[] = {'d', 'A', 't', 'A'};
  const uint8_t other[] = {'d', 'a', 't', 'b'};
  EXPECT_TRUE(SameChunkId(upper, "data"));
  EXPECT_TRUE(SameChunkId(mixed, "data"));
  EXPECT_FALSE(SameChunkId(other, "data"));
}

TEST(HeaderScan, ReplaysTheFuzzCorpus) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(WAV_HEADER_CORPUS)) {
    const auto bytes = ReadWholeFile(entry.path().string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++files;
  }
  EXPECT_GT(files, 5);
}

}  // namespace
