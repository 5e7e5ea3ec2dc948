// The library's pre-gaps on the software CD drive, in this test's own process: CTest
// starts it with the drive preloaded (KORVANE_FAKE_DRIVE, KORVANE_FAKE_DRIVE_FAULTS),
// clean and with each sub-channel fault. The drive holds a disc with audio before track
// 1's INDEX 01 and pre-gaps of several lengths, which this test writes into its folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc_fixtures.h"

namespace {

namespace di = korvane::discimage;
using korvane::testdiscs::Rip;

// The maker's disc, its sheet changed so that track 1's first second is its INDEX 00.
void WriteDiscWithAudioBeforeTrackOne(const std::filesystem::path& Sheet) {
  const std::filesystem::path made = Sheet.parent_path() / "made.cue";
  di::writeDiscImage(
      korvane::testdiscs::MultiTrackDisc(), made.string(),
      korvane::testdiscs::Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  std::stringstream text;
  text << std::ifstream(made).rdbuf();
  std::string sheet = text.str();
  const std::string first = "INDEX 01 00:00:00";
  ASSERT_NE(sheet.find(first), std::string::npos) << sheet;
  sheet.replace(sheet.find(first), first.size(), "INDEX 00 00:00:00\n    INDEX 01 00:01:00");
  std::ofstream(Sheet) << sheet;
}

// Each track's pre-gap, -1 where the library does not know it.
std::vector<int32_t> PregapsOf(const std::string& Path) {
  const int32_t drive = CR_AddImageDrive(Path.c_str());
  std::vector<int32_t> pregaps;
  if (drive < 0 || CR_SetActiveCDROM(drive) != 0 || CR_ReadToc() != 0) return pregaps;
  for (int32_t entry = 0; entry < CR_GetNumTocEntries(); ++entry) {
    int32_t sectors = -1;
    pregaps.push_back(CR_GetTrackPregap(entry, &sectors) == 0 ? sectors : -1);
  }
  return pregaps;
}

// The image's pre-gaps: the drive gives them when its sub-channel is sound (even running
// a few sectors apart from its audio), and none when it refuses the sub-channel or gives
// it with wrong CRCs; its audio reads the same.
TEST(DrivePregaps, AreTheImagesOrUnknown) {
  const char* setting = std::getenv("KORVANE_FAKE_DRIVE");
  const char* faults = std::getenv("KORVANE_FAKE_DRIVE_FAULTS");
  if (!setting || !faults || !std::strchr(setting, ':'))
    GTEST_SKIP() << "runs with the software drive preloaded";
  const std::string device(setting, std::strchr(setting, ':'));
  const std::filesystem::path sheet = std::strchr(setting, ':') + 1;
  std::filesystem::remove_all(sheet.parent_path());
  std::filesystem::create_directories(sheet.parent_path());
  WriteDiscWithAudioBeforeTrackOne(sheet);
  std::ofstream(device).flush();
  CR_Init(nullptr);
  const std::vector<int32_t> fromImage = PregapsOf(sheet.string());
  const std::vector<uint8_t> imageAudio = Rip(0, 700).Bytes;
  const std::vector<int32_t> fromDrive = PregapsOf(device);
  const std::vector<uint8_t> driveAudio = Rip(0, 700).Bytes;
  CR_DeInit();
  const std::vector<int32_t> expected{75, 37, 0, 150, 0};
  EXPECT_EQ(fromImage, expected);
  const bool sound = !*faults || std::strncmp(faults, "q-shift=", 8) == 0;
  EXPECT_EQ(fromDrive, sound ? expected : std::vector<int32_t>(expected.size(), -1));
  EXPECT_EQ(driveAudio.size(), 700u * 2352u);
  EXPECT_TRUE(driveAudio == imageAudio);
}

}  // namespace
