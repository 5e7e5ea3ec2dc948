// The spool between the disc reader and a track's encoder: bytes come out in the order
// they went in, whether they waited in memory or in the spool file, or the writer had
// to wait for the reader; a failure comes after the bytes read before it; a cancel
// frees both sides.
#include "jobs/track_spool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "temp_dir.h"

namespace {

constexpr size_t Chunk = 176400;

std::vector<uint8_t> Pattern(size_t Bytes) {
  std::vector<uint8_t> data(Bytes);
  for (size_t i = 0; i < Bytes; ++i) data[i] = static_cast<uint8_t>((i * 7 + i / 65536) & 0xFF);
  return data;
}

void WriteAll(TTrackSpool& Spool, const std::vector<uint8_t>& Data) {
  for (size_t at = 0; at < Data.size(); at += Chunk)
    Spool.Write(Data.data() + at, std::min(Chunk, Data.size() - at));
}

// Reads with an odd buffer size until the end.
std::vector<uint8_t> ReadAll(TTrackSpool& Spool) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(70001);
  for (int n; (n = Spool.Read(buffer.data(), static_cast<int>(buffer.size()))) > 0;)
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  return out;
}

struct SpoolCase {
  const char* Name;
  bool SpillAllowed;
  bool FolderExists;     // a spool file can be made
  bool ReaderAlongside;  // the reader reads while the writer writes
};

void PrintTo(const SpoolCase& Case, std::ostream* Out) { *Out << Case.Name; }

class SpoolOrder : public ::testing::TestWithParam<SpoolCase> {};

TEST_P(SpoolOrder, BytesComeOutInTheOrderTheyWentIn) {
  TTempDir dir;
  const std::string folder = GetParam().FolderExists ? dir.Path().string() : dir / "missing";
  TTrackSpool spool(folder);
  if (GetParam().SpillAllowed) spool.AllowSpill();
  const std::vector<uint8_t> data = Pattern(3 * TTrackSpool::MemoryBytes + 12345);
  spool.Opened(static_cast<int32_t>(data.size()));
  std::vector<uint8_t> read;
  if (GetParam().ReaderAlongside) {
    std::thread reader([&] { read = ReadAll(spool); });
    WriteAll(spool, data);
    spool.Finish(TCDReadReport{});
    reader.join();
  } else {
    WriteAll(spool, data);  // beyond memory: the rest waits in the spool file
    spool.Finish(TCDReadReport{});
    read = ReadAll(spool);
  }
  EXPECT_TRUE(read == data);
  EXPECT_EQ(spool.Size(), static_cast<int32_t>(data.size()));
  // The spool file was unlinked as soon as it was made.
  if (GetParam().FolderExists) {
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
}

const SpoolCase SpoolCases[] = {
    {"SpilledToTheFile", true, true, false},
    {"ReadWhileWritten", true, true, true},
    {"WriterWaitsUnlessAllowedToSpill", false, true, true},
    {"WriterWaitsWithoutAFile", true, false, true},
};

INSTANTIATE_TEST_SUITE_P(Spools, SpoolOrder, ::testing::ValuesIn(SpoolCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Spool, AFailureComesAfterTheBytesBeforeIt) {
  TTempDir dir;
  TTrackSpool spool(dir.Path().string());
  const std::vector<uint8_t> data = Pattern(Chunk * 3);
  spool.Opened(static_cast<int32_t>(Chunk * 10));
  WriteAll(spool, data);
  spool.Fail("The disc could not be read at sector 225.", TCDReadReport{3, 1, 1});
  std::vector<uint8_t> buffer(data.size());
  size_t got = 0;
  EXPECT_THROW(
      {
        for (int n; (n = spool.Read(buffer.data() + got, static_cast<int>(Chunk))) > 0;)
          got += static_cast<size_t>(n);
      },
      EAudioException);
  EXPECT_EQ(got, data.size());
  EXPECT_TRUE(buffer == data);
  EXPECT_EQ(spool.Report().Skips, 1);
  EXPECT_NO_THROW(spool.CheckOpened()) << "the read had begun";

  TTrackSpool neverOpened(dir.Path().string());
  neverOpened.Fail("The drive is not ready", TCDReadReport{});
  EXPECT_TRUE(neverOpened.Ready());
  TSpoolInput input(neverOpened);
  EXPECT_THROW(input.Open(), EAudioException);
  EXPECT_FALSE(input.Busy);
}

// A reader waiting for a slow drive, and a writer waiting for room, are both let go.
TEST(Spool, ACancelFreesAWaitingReaderAndAWaitingWriter) {
  TTempDir dir;
  TTrackSpool empty(dir.Path().string());
  empty.Opened(1000);
  std::thread reader([&] {
    uint8_t byte;
    EXPECT_EQ(empty.Read(&byte, 1), 0);
  });
  empty.Cancel();
  reader.join();

  TTrackSpool full(dir.Path().string());  // no spilling: the writer waits for room
  full.Opened(-1);
  const std::vector<uint8_t> data = Pattern(TTrackSpool::MemoryBytes + Chunk);
  std::thread writer([&] { WriteAll(full, data); });
  full.Cancel();
  writer.join();
  EXPECT_TRUE(full.Cancelled());
}

}  // namespace
