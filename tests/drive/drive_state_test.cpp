// The CD source on the software drive, in this test's own process (CTest preloads the
// drive, with its tray set to open once a read passes sector 200): the drive's state as
// the source reports it, a tray opened in the middle of a read, and the disc put back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "audio_cdrom.h"
#include "cdrip.h"
#include "command_run.h"
#include "temp_dir.h"

namespace {

const std::filesystem::path Folder = KORVANE_DRIVE_STATE_DIR;

std::vector<uint8_t> ReadAll(TCDIn& Source) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> buffer(TCDIn::ChunkBytes);
  for (int got; (got = Source.ReadData(buffer.data(), TCDIn::ChunkBytes)) > 0;)
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
  return bytes;
}

TEST(DriveState, ATrayOpenedMidReadFailsTheReadAndTheDiscPutBackReadsAgain) {
  std::filesystem::remove_all(Folder);
  std::filesystem::create_directories(Folder);
  ASSERT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) +
                         "/korvane-mkdisc --tracks 2 --sectors 375 --content noise --expect '" +
                         (Folder / "expect").string() + "' '" + (Folder / "disc.cue").string() +
                         "' >/dev/null"));
  std::ofstream(Folder / "sr0").flush();
  CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                       CDRipBinding().FileName());
  ASSERT_TRUE(CDRipBinding().Load(Folder.string()));
  TCDIn source;
  const int drive = CDRipAddImageDrive((Folder / "sr0").string());
  ASSERT_GE(drive, 0) << CDRipLastError();
  source.SetCurrentDrive(drive);
  EXPECT_EQ(source.GetDriveState(), dsReady);
  EXPECT_EQ(source.GetTrackCount(), 2);
  source.SetStartTrack(1);
  source.SetEndTrack(1);

  source.Open();
  try {
    ReadAll(source);
    ADD_FAILURE() << "the read went on with the tray open";
  } catch (const EAudioException& e) {
    EXPECT_STREQ(e.what(),
                 "The drive's tray was opened, or its disc taken out, during the read. Put the "
                 "disc back and rip the track again.");
  }
  source.Close();
  EXPECT_EQ(source.GetDriveState(), dsNotReady);
  EXPECT_EQ(source.GetTrackCount(), -1);

  std::ofstream(Folder / "sr0", std::ios::app) << "closed";  // the tray closes, disc in
  EXPECT_EQ(source.GetDriveState(), dsReady);
  source.Open();
  const std::vector<uint8_t> ripped = ReadAll(source);
  source.Close();
  EXPECT_TRUE(ripped == ReadWholeFile(Folder / "expect/track01.pcm"));
  EXPECT_TRUE(source.LastReadReport().Clean());
  CDRipBinding().Unload();
}

}  // namespace
