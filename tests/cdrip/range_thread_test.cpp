// Ranges of a disc image opened and ended over and over through the library's interface
// while its thread reads ahead (the image read ahead like a drive), as images are read
// by default, and with reading ahead switched off. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "cdrip.h"
#include "disc_fixtures.h"

namespace {

namespace di = korvane::discimage;

class RangeThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CR_Init(nullptr);
    // Every sector of this disc is audio, in the order of its one file.
    const std::string sheet = Folder / "disc.cue";
    const di::WrittenImage written = di::writeDiscImage(
        korvane::testdiscs::MultiTrackDisc(), sheet,
        korvane::testdiscs::Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
    std::ifstream bin(written.dataFiles.front(), std::ios::binary);
    Image.assign(std::istreambuf_iterator<char>(bin), {});
    Drive = CR_AddImageDrive(sheet.c_str());
  }
  void TearDown() override {
    ::unsetenv("KORVANE_CDRIP_READ_AHEAD");
    CR_DeInit();
  }

  bool HoldsSectors(const std::vector<uint8_t>& Bytes, int32_t First, int32_t Count) const {
    const auto begin = Image.begin() + static_cast<std::ptrdiff_t>(First) * CR_SECTOR_BYTES;
    return Bytes.size() >= static_cast<size_t>(Count) * CR_SECTOR_BYTES &&
           std::equal(begin, begin + static_cast<std::ptrdiff_t>(Count) * CR_SECTOR_BYTES,
                      Bytes.begin());
  }

  TTempDir Folder;
  std::vector<uint8_t> Image;
  int32_t Drive = -1;
};

// Each range ends by closing, by opening the next range, by an abort or by initialising
// the library anew, after 0 to 3 chunks.
TEST_F(RangeThreadTest, RangesEndedAtAnyPointLeaveTheNextWhole) {
  ASSERT_GE(Drive, 0);
  const int32_t leadOut = static_cast<int32_t>(Image.size() / CR_SECTOR_BYTES);
  std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
  for (const char* readAhead : {"all", "drives", "0"}) {
    SCOPED_TRACE(std::string("KORVANE_CDRIP_READ_AHEAD=") + readAhead);
    ::setenv("KORVANE_CDRIP_READ_AHEAD", readAhead, 1);
    CR_Init(nullptr);
    ASSERT_EQ(CR_SetActiveCDROM(Drive), 0);
    for (int32_t cycle = 0; cycle < 24; ++cycle) {
      const int32_t first = cycle * 7;
      int32_t size = CR_MAX_CHUNK_BYTES;
      ASSERT_EQ(CR_OpenRipper(&size, first, leadOut), 0);
      for (int32_t c = 0; c < cycle % 4; ++c) {
        int32_t count = -1, abort = 0;
        CR_RipChunk(buffer.data(), &count, &abort);
        ASSERT_EQ(count, CR_MAX_CHUNK_BYTES);
        ASSERT_TRUE(HoldsSectors(buffer, first + 75 * c, 75));
      }
      if (cycle % 4 == 1) {
        CR_CloseRipper();
      } else if (cycle % 4 == 2) {
        int32_t count = -1, abort = 1;
        CR_RipChunk(buffer.data(), &count, &abort);
        EXPECT_EQ(count, 0);
      } else if (cycle % 4 == 3) {
        CR_Init(nullptr);
        ASSERT_EQ(CR_SetActiveCDROM(Drive), 0);
      }
    }
    EXPECT_TRUE(HoldsSectors(korvane::testdiscs::Rip(100, 400).Bytes, 100, 300));
  }
}

// Two drives (the image added under a second name) read at once, each by a thread that
// chose its own: each thread gets its own range's sectors, and ending one range leaves
// the other reading.
TEST_F(RangeThreadTest, TwoDrivesReadAtOnceEachFromItsOwnThread) {
  ASSERT_GE(Drive, 0);
  const std::filesystem::path copy = Folder / "other";
  std::filesystem::create_directories(copy);
  for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
    if (entry.is_regular_file())
      std::filesystem::copy_file(entry.path(), copy / entry.path().filename());
  const int32_t other = CR_AddImageDrive((copy / "disc.cue").c_str());
  ASSERT_GE(other, 0);
  ASSERT_NE(other, Drive);
  ::setenv("KORVANE_CDRIP_READ_AHEAD", "all", 1);
  CR_Init(nullptr);
  auto read = [this](int32_t DriveNumber, int32_t First, int Chunks, bool& Whole) {
    std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
    Whole = CR_SetActiveCDROM(DriveNumber) == 0;
    int32_t size = CR_MAX_CHUNK_BYTES;
    Whole = Whole && CR_OpenRipper(&size, First, First + 75 * Chunks) == 0;
    for (int c = 0; c < Chunks && Whole; ++c) {
      int32_t count = -1, abort = 0;
      CR_RipChunk(buffer.data(), &count, &abort);
      Whole = count == CR_MAX_CHUNK_BYTES && HoldsSectors(buffer, First + 75 * c, 75);
    }
    CR_CloseRipper();
  };
  bool firstWhole = false, secondWhole = false;
  std::thread first([&] { read(Drive, 0, 6, firstWhole); });
  std::thread second([&] { read(other, 100, 4, secondWhole); });
  first.join();
  second.join();
  EXPECT_TRUE(firstWhole);
  EXPECT_TRUE(secondWhole);
}

}  // namespace
