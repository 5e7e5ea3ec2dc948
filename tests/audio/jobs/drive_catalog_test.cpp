// The drive catalogue's answers to names that are no drive: each refusal raises with a
// text that says what is wrong, a track entry whose drive is not there is no drive at
// all, and an image named twice is one drive.
#include "jobs/drive_catalog.h"

#include <gtest/gtest.h>

#include <fstream>

#include "command_run.h"
#include "temp_dir.h"

namespace {

class DriveCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CDRipBinding().Unload();
    CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                         CDRipBinding().FileName());
    ASSERT_TRUE(CDRipBinding().Load(Dir.Path().string()));
    ASSERT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) + "/korvane-mkdisc --tracks 2 '" +
                           (Dir / "disc.cue") + "' >/dev/null"));
    std::ofstream(Dir / "notes.txt") << "no disc here\n";
    std::ofstream(Dir / "broken.cue") << "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n"
                                      << "    INDEX 01 00:00:00\n";
    Drives.emplace();
  }
  void TearDown() override {
    Drives.reset();
    CDRipBinding().Unload();
  }
  // The text that Call raises; "(nothing raised)" when it returns.
  template <class TCall>
  std::string Refusal(TCall&& Call) {
    try {
      Call();
    } catch (const EAudioException& e) {
      return e.what();
    }
    return "(nothing raised)";
  }

  TTempDir Dir;
  std::optional<TDriveCatalog> Drives;
};

TEST_F(DriveCatalogTest, ANameThatIsNoDriveIsRefusedSayingWhy) {
  struct Case {
    std::string Name, Says;
  };
  const Case cases[] = {
      {Dir / "absent.cue", Dir / "absent.cue does not exist."},
      {Dir / "notes.txt", "notes.txt"},     // the library's reason names the file
      {Dir / "broken.cue", "missing.bin"},  // and the file the sheet names
  };
  for (const Case& c : cases) {
    const std::string text = Refusal([&] { Drives->DriveOfSource(c.Name); });
    EXPECT_NE(text.find(c.Says), std::string::npos) << c.Name << ": " << text;
  }
  EXPECT_NE(Refusal([&] { Drives->AddImageDrive(Dir / "broken.cue"); }).find("missing.bin"),
            std::string::npos);
}

TEST_F(DriveCatalogTest, AnEntryOfNoDriveIsNoneAndAnUnreadableImageRaises) {
  EXPECT_EQ(Drives->DriveOfEntry(Dir / "absent.cue/Track01.cda"), -1);
  EXPECT_EQ(Drives->DriveOfEntry(Dir.Path().string() + "/Track01.cda"), -1);  // a folder
  EXPECT_NE(Refusal([&] { Drives->DriveOfEntry(Dir / "broken.cue/Track01.cda"); }),
            "(nothing raised)");
  const int drive = Drives->DriveOfEntry(Dir / "disc.cue/Track02.cda");
  ASSERT_GE(drive, 0);
  EXPECT_EQ(Drives->DriveOfSource(Dir / "disc.cue"), drive);
  EXPECT_EQ(Drives->AddImageDrive(Dir / "disc.cue"), drive);
}

}  // namespace
