// The window on a CD device. CTest runs this test alone with the software drive
// preloaded (KORVANE_FAKE_DRIVE names the drive and the image it holds); the device,
// named by a link as at the program's start, lists the disc's audio tracks, and Convert
// rips them through the device path.
#include <cstdlib>
#include <fstream>

#include "app_test_support.h"
#include "wav_decoder.h"

namespace {

using DriveWindow = WindowTest;

TEST_F(DriveWindow, TheDeviceListsItsTracksAndConvertsThem) {
  const char* setting = std::getenv("KORVANE_FAKE_DRIVE");
  if (!setting) GTEST_SKIP() << "runs with the software drive preloaded";
  const std::string drive(setting, std::strchr(setting, ':'));
  const std::filesystem::path image = std::strchr(setting, ':') + 1;
  std::filesystem::create_directories(image.parent_path());
  di::DiscSpec disc = AudioDisc({1.5, 1});
  disc.tracks.push_back(DataTrack());
  di::writeDiscImage(disc, image.string(), di::ImageLayout{});
  std::ofstream(drive).flush();
  const std::string link = Dir / "cdrom";
  std::filesystem::create_symlink(drive, link);

  Form->AddDroppedPaths({QString::fromStdString(link)});
  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02"}));
  EXPECT_EQ(List()->topLevelItem(1)->text(TJobList::FullPathColumn),
            QString::fromStdString(link + "/Track02.cda"));
  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  for (int track = 1; track <= 2; ++track)
    EXPECT_TRUE(PcmOfWav(OutFile("Track0" + std::to_string(track) + ".wav")) ==
                di::expectedTrackPcm(disc, track));
}

}  // namespace
