// The CD source on the software drive, in this test's own process: CTest starts it with
// the drive preloaded (KORVANE_FAKE_DRIVE, KORVANE_FAKE_DRIVE_FAULTS), once per fault,
// and each test runs under its own fault. They check the drive's state as the source
// reports it, a tray opened in the middle of a read and the disc put back, and an
// unreadable sector in each of the paranoia layer's modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "audio_cdrom.h"
#include "cdrip.h"
#include "command_run.h"
#include "disc_reader.h"
#include "temp_dir.h"

namespace {

std::vector<uint8_t> ReadAll(TCDIn& Source) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> buffer(TCDIn::ChunkBytes);
  for (int got; (got = Source.ReadData(buffer.data(), TCDIn::ChunkBytes)) > 0;)
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
  return bytes;
}

// The message that reading track 1 to its end raised, if any.
std::optional<std::string> ReadFailure(TCDIn& Source) {
  Source.Open();
  std::optional<std::string> failure;
  try {
    ReadAll(Source);
  } catch (const EAudioException& e) {
    failure = e.what();
  }
  Source.Close();
  return failure;
}

class DriveState : public ::testing::Test {
 protected:
  // Makes the drive that the environment names, holding a disc of two tracks of 375
  // sectors, when the environment gives it Fault.
  void SetUpDrive(const char* Fault) {
    const char* setting = std::getenv("KORVANE_FAKE_DRIVE");
    const char* faults = std::getenv("KORVANE_FAKE_DRIVE_FAULTS");
    if (!setting || !faults || std::strcmp(faults, Fault) != 0)
      GTEST_SKIP() << "runs with the software drive preloaded, with " << Fault;
    Device = std::string(setting, std::strchr(setting, ':'));
    Folder = std::filesystem::path(Device).parent_path();
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directories(Folder);
    ASSERT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) +
                           "/korvane-mkdisc --tracks 2 --sectors 375 --content noise --expect '" +
                           (Folder / "expect").string() + "' '" + (std::strchr(setting, ':') + 1) +
                           "' >/dev/null"));
    std::ofstream(Device).flush();
  }

  // Loads the library as from a program in the drive's folder, whose cdr.ini sets
  // ParanoiaMode, and points Source at track 1 of the drive.
  void Load(const std::string& ParanoiaMode) {
    CDRipBinding().Unload();
    std::ofstream(Folder / "cdr.ini") << "[CD-ROM]\nParanoiaMode=" << ParanoiaMode << "\n";
    CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                         CDRipBinding().FileName());
    ASSERT_TRUE(CDRipBinding().Load(Folder.string()));
    Source.emplace();
    const int drive = CDRipAddImageDrive(Device);
    ASSERT_GE(drive, 0) << CDRipLastError();
    Source->SetCurrentDrive(drive);
    Source->SetStartTrack(1);
    Source->SetEndTrack(1);
  }

  void TearDown() override {
    Source.reset();
    CDRipBinding().Unload();
  }

  std::string Device;
  std::filesystem::path Folder;
  std::optional<TCDIn> Source;
};

TEST_F(DriveState, ATrayOpenedMidReadFailsTheReadAndTheDiscPutBackReadsAgain) {
  SetUpDrive("tray-open=200");
  if (IsSkipped() || HasFatalFailure()) return;
  Load("full");
  EXPECT_EQ(Source->GetDriveState(), dsReady);
  EXPECT_EQ(Source->GetTrackCount(), 2);

  EXPECT_EQ(ReadFailure(*Source),
            "The drive's tray was opened, or its disc taken out, during the read. Put the disc "
            "back and rip the track again.");
  EXPECT_EQ(Source->GetDriveState(), dsNotReady);
  EXPECT_EQ(Source->GetTrackCount(), -1);

  std::ofstream(Device, std::ios::app) << "closed";  // the tray closes, the disc in
  EXPECT_EQ(Source->GetDriveState(), dsReady);
  Source->Open();
  const std::vector<uint8_t> ripped = ReadAll(*Source);
  Source->Close();
  EXPECT_TRUE(ripped == ReadWholeFile(Folder / "expect/track01.pcm"));
  EXPECT_TRUE(Source->LastReadReport().Clean());
}

// Whatever the paranoia layer's mode, a sector that cannot be read ends the read and is
// named: exactly with verification, else by the start of the drive's read (at most 25
// sectors) that failed.
TEST_F(DriveState, AnUnreadableSectorFailsTheReadInEveryParanoiaMode) {
  SetUpDrive("unreadable=300");
  if (IsSkipped() || HasFatalFailure()) return;
  for (const char* mode : {"full", "overlap", "disable"}) {
    SCOPED_TRACE(mode);
    Load(mode);
    const std::optional<std::string> failure = ReadFailure(*Source);
    ASSERT_TRUE(failure.has_value());
    const size_t at = failure->find("The disc could not be read at sector ");
    ASSERT_EQ(at, 0u) << *failure;
    const int sector = std::atoi(failure->c_str() + 37);
    EXPECT_LE(sector, 300);
    EXPECT_GT(sector, 300 - 25);
    if (std::strcmp(mode, "full") == 0) {
      EXPECT_EQ(sector, 300);
    }
    EXPECT_GE(Source->LastReadReport().Skips, 1);
  }
}

// Test and copy on a scratch that reads as noise the first time: without verification
// the copy keeps the noise, no later read agrees with it, and the track is reported
// suspicious; read again (the scratch now reads right) test and copy agree.
TEST_F(DriveState, TestAndCopyCatchesAScratchThatReadsDifferentlyEachTime) {
  SetUpDrive("flaky=100-101x1");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::vector<uint8_t> disc = ReadWholeFile(Folder / "expect/track01.pcm");
  for (const auto& [mode, verdict] :
       {std::pair<const char*, const char*>{"disable", "suspicious"},
        {"full", "Test CRC = Copy CRC"}}) {
    SCOPED_TRACE(mode);
    Load(mode);
    TTrackSpool spool(Folder.string());
    TTrackRead read;
    read.Drive = Source->CurrentDrive();
    read.Track = 1;
    read.Verify = true;
    read.Place.SamplePairs = disc.size() / 4;
    TDiscReader reader(*Source, {read}, {&spool}, [] {});
    reader.Admit(1);
    reader.Start();
    std::vector<uint8_t> copy(disc.size() + 1);
    size_t got = 0;
    for (int n; (n = spool.Read(copy.data() + got, 65536)) > 0;) got += static_cast<size_t>(n);
    reader.Stop();
    EXPECT_EQ(got, disc.size());
    const TTrackProof proof = reader.ProofOf(0);
    EXPECT_EQ(proof.TestCopy.rfind(verdict, 0), 0u) << proof.TestCopy;
    EXPECT_EQ(std::equal(disc.begin(), disc.end(), copy.begin()), std::string(mode) == "full")
        << "the scratch reads as noise once only";
  }
}

}  // namespace
