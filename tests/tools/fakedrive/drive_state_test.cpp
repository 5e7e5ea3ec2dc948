// The CD source on the software drive, in this test's own process: CTest starts it with
// the drive preloaded (KORVANE_FAKE_DRIVE, KORVANE_FAKE_DRIVE_FAULTS), once per fault,
// and each test runs under its own fault. They check the drive's state as the source
// reports it, a tray opened in the middle of a read and the disc put back, an unreadable
// sector in each of the paranoia layer's modes, and reads ended while a slow drive is
// being read ahead.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "bindings/cdrip_binding.h"
#include "cdrom/audio_cdrom.h"
#include "command_run.h"
#include "jobs/disc_reader.h"
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

// What reading one track of Source gave: its bytes up to the failure, if any.
struct TrackRead {
  std::vector<uint8_t> Bytes;
  std::optional<std::string> Failure;
};

TrackRead ReadTrack(TCDIn& Source, int Track) {
  Source.SetStartTrack(Track);
  Source.SetEndTrack(Track);
  TrackRead read;
  std::vector<uint8_t> buffer(TCDIn::ChunkBytes);
  try {
    Source.Open();
    for (int got; (got = Source.ReadData(buffer.data(), TCDIn::ChunkBytes)) > 0;)
      read.Bytes.insert(read.Bytes.end(), buffer.begin(), buffer.begin() + got);
  } catch (const EAudioException& e) {
    read.Failure = e.what();
  }
  Source.Close();
  return read;
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
  void Load(const std::string& ParanoiaMode, const std::string& MoreSettings = "") {
    CDRipBinding().Unload();
    std::ofstream(Folder / "cdr.ini") << "[CD-ROM]\nParanoiaMode=" << ParanoiaMode << "\n"
                                      << MoreSettings;
    CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                         CDRipBinding().FileName());
    ASSERT_TRUE(CDRipBinding().Load(Folder.string()));
    Source.emplace();
    const int drive = CDRipAddImageDrive(Device);
    ASSERT_GE(drive, 0);
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
// named exactly: the drive's reads that fail are read again sector by sector. Reading
// ahead names the same sector as reading each chunk when it is asked for.
TEST_F(DriveState, AnUnreadableSectorFailsTheReadInEveryParanoiaMode) {
  SetUpDrive("unreadable=300");
  if (IsSkipped() || HasFatalFailure()) return;
  for (const char* mode : {"full", "overlap", "disable"}) {
    SCOPED_TRACE(mode);
    std::optional<std::string> failures[2];
    for (int readAhead : {0, 1}) {
      ::setenv("KORVANE_CDRIP_READ_AHEAD", readAhead ? "1" : "0", 1);
      Load(mode);
      failures[readAhead] = ReadFailure(*Source);
      EXPECT_GE(Source->LastReadReport().Skips, 1);
    }
    ::unsetenv("KORVANE_CDRIP_READ_AHEAD");
    ASSERT_TRUE(failures[1].has_value());
    EXPECT_EQ(failures[1], failures[0]);
    const size_t at = failures[1]->find("The disc could not be read at sector ");
    ASSERT_EQ(at, 0u) << *failures[1];
    const int sector = std::atoi(failures[1]->c_str() + 37);
    EXPECT_EQ(sector, 300);
  }
}

// Test and copy on a scratch that reads as noise the first time: without verification
// the copy keeps the noise, and the test read and re-read 1 agree on other audio: the
// copy is the odd one out, and the re-read, kept, holds the disc's audio for the run to
// encode in its place; read again (the scratch now reads right) test and copy agree.
TEST_F(DriveState, TestAndCopyCatchesAScratchThatReadsDifferentlyEachTime) {
  SetUpDrive("flaky=100-101x1");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::vector<uint8_t> disc = ReadWholeFile(Folder / "expect/track01.pcm");
  for (const auto& [mode, outcome] : {std::pair{"disable", TTestCopyOutcome::Suspicious},
                                      std::pair{"full", TTestCopyOutcome::Confirmed}}) {
    SCOPED_TRACE(mode);
    Load(mode);
    TTrackSpool spool(Folder.string());
    TTrackRead read;
    read.Drive = Source->CurrentDrive();
    read.Track = 1;
    read.Verify = true;
    read.Place.SamplePairs = disc.size() / 4;
    TDiscReader reader(*Source, {read}, {&spool}, [] {});
    reader.KeepReadsIn(Folder.string());
    reader.Admit(1);
    reader.Start();
    std::vector<uint8_t> copy(disc.size() + 1);
    size_t got = 0;
    for (int n; (n = spool.Read(copy.data() + got, 65536)) > 0;) got += static_cast<size_t>(n);
    reader.Stop();
    EXPECT_EQ(got, disc.size());
    const TTrackProof proof = reader.ProofOf(0);
    EXPECT_EQ(proof.Outcome, outcome) << proof.TestCopy;
    EXPECT_EQ(std::equal(disc.begin(), disc.end(), copy.begin()),
              outcome == TTestCopyOutcome::Confirmed)
        << "the scratch reads as noise once only";
    ASSERT_EQ(proof.Agreed != nullptr, outcome == TTestCopyOutcome::Suspicious) << proof.TestCopy;
    if (!proof.Agreed) continue;
    EXPECT_EQ(proof.TestCopy,
              "suspicious: the copy is the odd one out: the test read and re-read 1 agree on "
              "other audio than the file holds");
    std::vector<uint8_t> agreed(disc.size() + 1);
    EXPECT_EQ(proof.Agreed->Audio.ReadAt(0, agreed.data(), agreed.size()), disc.size());
    EXPECT_TRUE(std::equal(disc.begin(), disc.end(), agreed.begin()));
    EXPECT_EQ(proof.Agreed->Sums.Crc32, proof.TestCrc);
  }
}

// A scratch that reads as different noise three times over: the copy, the test read and
// the one re-read allowed all differ, so no two reads agree and the track is suspicious.
TEST_F(DriveState, TestAndCopyWhereNoTwoReadsAgreeIsSuspicious) {
  SetUpDrive("flaky=100-101x3");
  if (IsSkipped() || HasFatalFailure()) return;
  Load("disable");
  TTrackSpool spool(Folder.string());
  TTrackRead read;
  read.Drive = Source->CurrentDrive();
  read.Track = 1;
  read.Verify = true;
  read.Retries = 1;
  read.Place.SamplePairs = 375 * 588;
  TDiscReader reader(*Source, {read}, {&spool}, [] {});
  reader.KeepReadsIn(Folder.string());
  reader.Admit(1);
  reader.Start();
  std::vector<uint8_t> copy(65536);
  while (spool.Read(copy.data(), copy.size()) > 0) {
  }
  reader.Stop();
  const TTrackProof proof = reader.ProofOf(0);
  EXPECT_EQ(proof.TestCopy, "suspicious: Test CRC differs from Copy CRC and no two reads agree");
  EXPECT_EQ(proof.Outcome, TTestCopyOutcome::Suspicious);
  EXPECT_EQ(proof.Agreed, nullptr);
}

// A slow drive: the paranoia layer's first read of a range alone reads the whole disc
// of this test (750 sectors, over a second at 8x), so the library's thread is in the
// middle of a read when the source is closed here, and while the worker waits for its
// first chunk. Asking for the drive's state must not wait for that read; closing waits
// at most for it; the track then reads whole.
TEST_F(DriveState, ASlowDriveReadAheadEndsAtAnyPointAndNeverHoldsUpOtherCalls) {
  SetUpDrive("speed=8");
  if (IsSkipped() || HasFatalFailure()) return;
  Load("disable");
  std::vector<uint8_t> block(TCDIn::ChunkBytes);
  for (int chunks = 0; chunks < 3; ++chunks) {
    SCOPED_TRACE(chunks);
    Source->Open();
    for (int c = 0; c < chunks; ++c)
      ASSERT_EQ(Source->ReadData(block.data(), TCDIn::ChunkBytes), TCDIn::ChunkBytes);
    Source->Close();
    EXPECT_EQ(Source->GetDriveState(), dsReady);
  }

  Source->Open();
  using Clock = std::chrono::steady_clock;
  std::promise<void> asking;
  Clock::time_point firstChunkAt;
  std::vector<uint8_t> ripped;
  std::thread worker([&] {
    asking.set_value();
    const int got = Source->ReadData(block.data(), TCDIn::ChunkBytes);
    firstChunkAt = Clock::now();
    ripped.assign(block.begin(), block.begin() + std::max(got, 0));
    const std::vector<uint8_t> rest = ReadAll(*Source);
    ripped.insert(ripped.end(), rest.begin(), rest.end());
  });
  // The worker now waits for its first chunk, which takes over a second; the drive's
  // answer comes in a moment.
  asking.get_future().wait();
  const Clock::time_point askedAt = Clock::now();
  int32_t status = 1;
  CDRipBinding().Functions().CR_IsMediaLoaded(&status);
  const Clock::time_point answeredAt = Clock::now();
  EXPECT_EQ(status, 0);
  worker.join();
  EXPECT_LT(answeredAt - askedAt, (firstChunkAt - askedAt) / 2)
      << "a status call waited for the drive's read";
  Source->Close();
  EXPECT_TRUE(ripped == ReadWholeFile(Folder / "expect/track01.pcm"));
  EXPECT_TRUE(Source->LastReadReport().Clean());
}

// Sector 375, the first of track 2, cannot be read. The paranoia layer used to guess the
// drive's byte order from the first sectors of every track, and the failed guess swapped
// every read (track 1 came out as loud noise); nor was it told the range, so a track
// failed for a sector of the next, and in full mode it gave up sectors one at a time
// from the disc's start, naming sector 0. Now track 1 reads exactly, and track 2 fails
// at once at sector 375 in every mode.
TEST_F(DriveState, ABadSectorAtATracksStartFailsThatTrackAloneExactly) {
  SetUpDrive("unreadable=375");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::vector<uint8_t> first = ReadWholeFile(Folder / "expect/track01.pcm");
  for (const char* mode : {"full", "overlap", "disable"}) {
    SCOPED_TRACE(mode);
    Load(mode);
    const TrackRead clean = ReadTrack(*Source, 1);
    EXPECT_FALSE(clean.Failure.has_value()) << *clean.Failure;
    EXPECT_TRUE(clean.Bytes == first) << "track 1 is not the disc's audio";
    const TrackRead failed = ReadTrack(*Source, 2);
    ASSERT_TRUE(failed.Failure.has_value());
    EXPECT_EQ(failed.Failure->rfind("The disc could not be read at sector 375.", 0), 0u)
        << *failed.Failure;
    EXPECT_TRUE(failed.Bytes.empty());
    EXPECT_NE(Source->LastReadMessages().find("refused sector 375"), std::string::npos)
        << Source->LastReadMessages();
  }
}

// Offsets belong to the drive's model (INQUIRY: "KORVANE Software CD"); a drive named
// through a link finds its offset by model, and by its device path (links resolved)
// when the model has none.
TEST_F(DriveState, AReadOffsetFollowsTheDriveModelAndItsResolvedPath) {
  SetUpDrive("unreadable=375");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::filesystem::path link = Folder / "cdrom";
  std::filesystem::create_symlink("sr0", link);
  const struct {
    std::string Line;
    int Expected;
  } cases[] = {{"korvane software cd=30", 30},
               {Device + "=-12", -12},
               {link.string() + "=7\nKORVANE Software CD=8", 8},
               {"Other Drive=5", 0}};
  for (const auto& setting : cases) {
    SCOPED_TRACE(setting.Line);
    Load("full", "[ReadOffsets]\n" + setting.Line + "\n");
    const int drive = CDRipAddImageDrive(link.string());
    ASSERT_GE(drive, 0);
    Source->SetCurrentDrive(drive);
    EXPECT_EQ(Source->DriveModel(), "KORVANE Software CD");
    EXPECT_EQ(Source->DriveReadOffset(), setting.Expected);
  }
}

// Sector 375, the first of track 2, never reads, and the layer may retry it a thousand
// times on a slow drive: a stop from another thread ends that read, whether the source
// reads ahead or not, and the track fails as stopped, never done. The drive then reads
// track 1 exactly.
TEST_F(DriveState, AStopEndsAReadStuckOnABadSector) {
  SetUpDrive("unreadable=375,speed=4");
  if (IsSkipped() || HasFatalFailure()) return;
  for (const char* readAhead : {"0", "1"}) {
    SCOPED_TRACE(readAhead);
    ::setenv("KORVANE_CDRIP_READ_AHEAD", readAhead, 1);
    Load("full", "ParanoiaRetries=1000\n");
    Source->SetStartTrack(2);
    Source->SetEndTrack(2);
    Source->Open();
    std::optional<std::string> failure;
    std::thread worker([&] {
      try {
        ReadAll(*Source);
      } catch (const EAudioException& e) {
        failure = e.what();
      }
    });
    Source->RequestStop();
    worker.join();
    Source->Close();
    EXPECT_EQ(failure, "The read was stopped.");
    EXPECT_EQ(Source->GetDriveState(), dsReady);
  }
  ::unsetenv("KORVANE_CDRIP_READ_AHEAD");
  EXPECT_TRUE(ReadTrack(*Source, 1).Bytes == ReadWholeFile(Folder / "expect/track01.pcm"));
}

// Another disc in the drive since its tracks were listed (here its image rewritten with
// three tracks): the track is refused rather than ripped from the new disc; listed
// again, the drive is read.
TEST_F(DriveState, ADiscChangedSinceItWasListedIsRefused) {
  SetUpDrive("unreadable=375");
  if (IsSkipped() || HasFatalFailure()) return;
  Load("full");
  ASSERT_EQ(Source->GetTrackCount(), 2);
  const char* setting = std::getenv("KORVANE_FAKE_DRIVE");
  ASSERT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) +
                         "/korvane-mkdisc --tracks 3 --sectors 300 --content noise --expect '" +
                         (Folder / "expect3").string() + "' '" + (std::strchr(setting, ':') + 1) +
                         "' >/dev/null"));
  EXPECT_EQ(ReadTrack(*Source, 1).Failure,
            "The disc changed since its tracks were listed. List the drive again and rip the "
            "track anew.");
  ASSERT_EQ(Source->GetTrackCount(), 3);
  const TrackRead read = ReadTrack(*Source, 3);
  EXPECT_FALSE(read.Failure.has_value());
  EXPECT_TRUE(read.Bytes == ReadWholeFile(Folder / "expect3/track03.pcm"));
}

}  // namespace
