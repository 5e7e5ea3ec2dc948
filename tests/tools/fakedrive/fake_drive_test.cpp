// korvane-cli on a CD device: the software CD drive makes an empty file a drive that
// holds a disc image made by korvane-mkdisc, so the table comes through the CD layer's
// ioctls and the audio through the paranoia layer's READ CD commands. The listing must
// match the image's own, and every audio track must come out as the image maker says.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "accuraterip_entry.h"
#include "command_run.h"
#include "cue_text.h"
#include "loopback_server.h"
#include "proof/rip_log.h"
#include "temp_dir.h"
#include "wav_decoder.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

struct DiscCase {
  const char* Name;
  const char* Options;  // korvane-mkdisc's
  int AudioTracks;
  int LastSessionTrack;  // the first track of the last session
};

const DiscCase Discs[] = {
    {"DataLastWithPregaps",
     "--tracks 4 --seconds 2,3.5,1 --content ramp --data-track last "
     "--pregap 0,30",
     3, 1},
    {"DataFirst", "--tracks 3 --seconds 1.5 --content noise --data-track first", 2, 1},
    {"SecondSession", "--tracks 3 --seconds 1,2 --content chord --enhanced", 2, 3},
    {"OddLengthsSplit", "--tracks 3 --sectors 1,77,151 --content noise --split", 3, 1},
};

void PrintTo(const DiscCase& Case, std::ostream* Out) { *Out << Case.Name; }

// Every line of a listing, with the drive's name replaced by "DRIVE".
std::vector<std::string> ListingLines(const std::string& Output, const std::string& Drive) {
  std::vector<std::string> lines;
  std::istringstream in(Output);
  for (std::string line; std::getline(in, line);) {
    for (size_t at; (at = line.find(Drive)) != std::string::npos;)
      line.replace(at, Drive.size(), "DRIVE");
    lines.push_back(line);
  }
  return lines;
}

class DriveRun : public ::testing::Test {
 protected:
  std::string MakeDisc(const std::string& Options) {
    const std::string cue = Dir / "disc.cue";
    const auto made = CaptureCommand(Bin + "/korvane-mkdisc " + Options + " --print --expect '" +
                                     (Dir / "expect") + "' '" + cue + "'");
    EXPECT_EQ(made.Status, 0) << made.Output;
    Printed = made.Output;
    return cue;
  }
  // An empty file that the preloaded drive turns into a CD drive holding Image, with
  // the faults given.
  std::string MakeDrive(const std::string& Image, const std::string& Faults = "") {
    const std::string device = Dir / "sr0";
    std::ofstream(device).flush();
    Environment = "LD_PRELOAD='" + Bin + "/libkorvane-fakedrive.so' KORVANE_FAKE_DRIVE='" + device +
                  ":" + Image + "' KORVANE_FAKE_DRIVE_FAULTS='" + Faults + "' ";
    return device;
  }
  TCommandResult Cli(const std::string& Arguments, bool OnDrive = true) {
    return CaptureCommand("cd '" + Dir.Path().string() + "' && " + (OnDrive ? Environment : "") +
                          Bin + "/korvane-cli " + Arguments);
  }
  static std::vector<uint8_t> PcmOf(const std::string& Wav) {
    auto bytes = ReadWholeFile(Wav);
    return bytes.size() < 44 ? std::vector<uint8_t>{}
                             : std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
  }

  std::vector<uint8_t> Expected(int Track) {
    char name[32];
    std::snprintf(name, sizeof name, "expect/track%02d.pcm", Track);
    return ReadWholeFile(Dir / name);
  }

  // An AccurateRip entry of the disc made last, served on the loopback interface.
  std::unique_ptr<TLoopbackServer> ServeEntry();
  // bin/korvane-cli in the folder: a copy of the program whose cdr.ini turns the paranoia
  // layer off, so that a flaky sector reaches test and copy as it was read.
  void CliWithoutParanoia() {
    std::filesystem::create_directory(Dir / "bin");
    std::filesystem::copy_file(Bin + "/korvane-cli", Dir / "bin/korvane-cli");
    std::filesystem::create_symlink(Bin + "/libcdrip.so", Dir / "bin/libcdrip.so");
    std::ofstream(Dir / "bin/cdr.ini") << "[CD-ROM]\nParanoiaMode=disable\n";
  }

  TTempDir Dir;
  std::string Environment;
  std::string Printed;  // what korvane-mkdisc --print said of the last disc made
};

class FakeDrive : public DriveRun, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(FakeDrive, ListsTheImagesTracks) {
  const std::string cue = MakeDisc(GetParam().Options);
  const std::string device = MakeDrive(cue);
  const auto fromImage = Cli("--list '" + cue + "'", false);
  const auto fromDrive = Cli("--list '" + device + "'");
  ASSERT_EQ(fromImage.Status, 0) << fromImage.Output;
  ASSERT_EQ(fromDrive.Status, 0) << fromDrive.Output;
  EXPECT_NE(fromDrive.Output.find(device + "/Track01.cda"), std::string::npos) << fromDrive.Output;
  EXPECT_EQ(ListingLines(fromDrive.Output, device), ListingLines(fromImage.Output, cue))
      << fromDrive.Output << "\n"
      << fromImage.Output;
}

TEST_P(FakeDrive, RipsEveryAudioTrackExactly) {
  const std::string cue = MakeDisc(GetParam().Options);
  const std::string device = MakeDrive(cue);
  const auto result = Cli("--jobs 3 --out O '" + device + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  int ripped = 0;
  for (int track = 1; track <= 99; ++track) {
    char expect[32], wav[32];
    std::snprintf(expect, sizeof expect, "expect/track%02d.pcm", track);
    std::snprintf(wav, sizeof wav, "O/Track%02d.wav", track);
    if (!std::filesystem::exists(Dir / expect)) {
      EXPECT_FALSE(std::filesystem::exists(Dir / wav)) << wav;
      continue;
    }
    ++ripped;
    const auto expected = ReadWholeFile(Dir / expect);
    const auto pcm = PcmOf(Dir / wav);
    ASSERT_FALSE(expected.empty()) << expect;
    EXPECT_EQ(pcm.size(), expected.size()) << wav;
    EXPECT_TRUE(pcm == expected) << wav;
  }
  EXPECT_EQ(ripped, GetParam().AudioTracks);
}

// What a program that sends MMC commands through the CD layer (drive_probe) must get
// from the drive: the table, the sessions and the disc type as the image maker says,
// and each audio track's sectors by READ CD with the PCM's checksum.
struct PrintedTrack {
  int Number;
  bool Audio;
  int Start;
  int Sectors;
  std::string Fnv;
};

std::vector<PrintedTrack> ParsePrinted(const std::string& Printed, int& LeadOut) {
  std::vector<PrintedTrack> tracks;
  std::istringstream in(Printed);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    PrintedTrack track{};
    std::string type, bytes;
    if (line.rfind("lead-out", 0) == 0) {
      fields >> type >> LeadOut;
    } else if (fields >> track.Number >> type >> track.Start >> track.Sectors >> bytes >>
               track.Fnv) {
      track.Audio = type == "audio";
      tracks.push_back(track);
    }
  }
  return tracks;
}

TEST_P(FakeDrive, AnswersMmcCommandsAsTheImageSays) {
  const std::string device = MakeDrive(MakeDisc(GetParam().Options));
  int leadOut = -1;
  const std::vector<PrintedTrack> tracks = ParsePrinted(Printed, leadOut);
  ASSERT_FALSE(tracks.empty()) << Printed;
  std::string ranges, toc = "toc", reads, session;
  for (const PrintedTrack& track : tracks) {
    toc += " " + std::to_string(track.Number) + " " + std::to_string(track.Start);
    if (track.Number == GetParam().LastSessionTrack)
      session = "session " + std::string(track.Number > 1 ? "2 " : "1 ") +
                std::to_string(track.Number) + " " + std::to_string(track.Start) + "\n";
    if (!track.Audio) continue;
    const std::string range = std::to_string(track.Start) + " " + std::to_string(track.Sectors);
    ranges += " " + std::to_string(track.Start) + ":" + std::to_string(track.Sectors);
    reads += "read " + range + " " + track.Fnv + "\n";
  }
  toc += " AA " + std::to_string(leadOut) + "\n";
  const std::string discMode = tracks.front().Audio ? "CD-DA" : "CD-DATA (Mode 1)";
  const auto probed = CaptureCommand(Environment + Bin + "/drive_probe '" + device + "'" + ranges);
  ASSERT_EQ(probed.Status, 0) << probed.Output;
  EXPECT_EQ(probed.Output, "inquiry KORVANE |Software CD     |1.00\nready 0\n" + toc + session +
                               "discmode " + discMode + "\n" + reads);
}

INSTANTIATE_TEST_SUITE_P(Discs, FakeDrive, ::testing::ValuesIn(Discs),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Track entries of a drive that the CD layer does not list find their drive by its name.
TEST_F(DriveRun, RipsTrackEntriesOfTheDrive) {
  const std::string device = MakeDrive(MakeDisc("--tracks 3 --seconds 1,2 --content noise"));
  const auto result = Cli("--out O '" + device + "/Track03.cda' '" + device + "/Track02.cda'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  EXPECT_TRUE(PcmOf(Dir / "O/Track03.wav") == Expected(3));
  EXPECT_TRUE(PcmOf(Dir / "O/Track02.wav") == Expected(2));
  EXPECT_FALSE(std::filesystem::exists(Dir / "O/Track01.wav"));
}

// Listing a drive reads no sector: its pre-gaps, which cost sub-channel reads around
// every track, are searched only for a rip whose log or cue sheet gives them.
TEST_F(DriveRun, AListingReadsNoSectorAndARipWithALogSearchesThePregaps) {
  const std::string device = MakeDrive(MakeDisc("--tracks 3 --seconds 2 --pregap 150"));
  Environment += "KORVANE_FAKE_DRIVE_LOG=1 ";
  const auto listing = Cli("--list '" + device + "'");
  ASSERT_EQ(listing.Status, 0) << listing.Output;
  EXPECT_EQ(listing.Output.find("READ CD"), std::string::npos) << listing.Output;
  const auto rip = Cli("--log --out O '" + device + "'");
  ASSERT_EQ(rip.Status, 0) << rip.Output;
  const std::vector<uint8_t> log = ReadWholeFile(Dir / "O/sr0.log");
  EXPECT_NE(std::string(log.begin(), log.end()).find("Pre-gap: 00:02.00"), std::string::npos);
}

// A drive without a disc (an image that is not there) beside one with a disc: it is
// listed as not ready, a rip from it fails and says so, and the other drive is read.
TEST_F(DriveRun, ADriveWithoutADiscIsNotReady) {
  const std::string disc = MakeDisc("--tracks 2 --seconds 1 --content noise");
  const std::string empty = Dir / "sr1", loaded = Dir / "sr0";
  std::ofstream(empty).flush();
  std::ofstream(loaded).flush();
  Environment = "LD_PRELOAD='" + Bin + "/libkorvane-fakedrive.so' KORVANE_FAKE_DRIVE='" + empty +
                ":" + (Dir / "missing.cue") + ";" + loaded + ":" + disc + "' ";
  const auto listed = Cli("--list '" + empty + "' '" + loaded + "'");
  EXPECT_EQ(listed.Status, 0) << listed.Output;
  EXPECT_NE(listed.Output.find("Drive 0: " + empty + "\n  (no disc"), std::string::npos)
      << listed.Output;
  EXPECT_NE(listed.Output.find("Drive 1: " + loaded + "\n  " + loaded + "/Track01.cda"),
            std::string::npos)
      << listed.Output;
  const auto ripped = Cli("--out O '" + empty + "' '" + loaded + "'");
  EXPECT_EQ(ripped.Status, 1) << ripped.Output;
  EXPECT_NE(ripped.Output.find(empty + ": Failed"), std::string::npos) << ripped.Output;
  EXPECT_TRUE(PcmOf(Dir / "O/Track01.wav") == Expected(1));
  EXPECT_TRUE(PcmOf(Dir / "O/Track02.wav") == Expected(2));
  // Commands on it fail with the sense of a drive without a medium.
  const auto probed = CaptureCommand(Environment + Bin + "/drive_probe '" + empty + "' 0:1");
  EXPECT_NE(probed.Output.find("ready sense 2/3a/00\ntoc\n"), std::string::npos) << probed.Output;
  EXPECT_NE(probed.Output.find("read 0 1 failed"), std::string::npos) << probed.Output;
}

// ---------------------------------------------------------------------------------
// Faults of the drive and the disc, on a disc of two tracks (LSN 0-374 and 375-749,
// unless the case says otherwise)
// ---------------------------------------------------------------------------------

struct FaultCase {
  const char* Name;
  const char* Faults;
  int Status;                     // korvane-cli's exit status
  std::vector<const char*> Said;  // in its output, in this order
  std::vector<const char*> NotSaid;
  int ExactTracks;    // tracks 1..N come out as on the disc (shifted by OffsetSamples)
  int OffsetSamples;  // the drive's read offset
  int Corrected = 0;  // korvane-cli's --offset
  const char* Content = "noise";  // korvane-mkdisc's --content
  const char* Sectors = "375";    // and --sectors
};

void PrintTo(const FaultCase& Case, std::ostream* Out) { *Out << Case.Name; }

const FaultCase Faults[] = {
    {"CleanDisc", "", 0, {"Track02.wav: Done\n2 done"}, {"read with"}, 2, 0},
    {"ScratchThatRereadsCorrect",
     "flaky=100-110x3",
     0,
     {"Track01.wav: Done\nO/Track01.wav: read with re-reads ", "Track02.wav: Done"},
     {"Track02.wav: read with", "skipped sectors 1"},
     2,
     0},
    {"UnreadableSector",
     "unreadable=500-501",
     1,
     {"Track02.wav: Failed: The disc could not be read at sector 500.", "skipped sectors 1",
      "1 done, 1 failed"},
     {"Track02.wav: Done"},
     1,
     0},
    {"TrayOpenedMidRip",
     "tray-open=200",
     1,
     {"Track01.wav: Failed: The drive's tray was opened, or its disc taken out, during the read.",
      "Track02.wav: Failed: The drive is not ready"},
     {"Done"},
     0,
     0},
    {"NoDisc", "no-disc", 1, {"sr0: Failed: The drive is not ready", "0 done, 1 failed"}, {}, 0, 0},
    {"ReadOffsetLate", "offset=30", 0, {"2 done"}, {"read with"}, 2, 30},
    {"ReadOffsetEarly", "offset=-700", 0, {"2 done"}, {"read with"}, 2, -700},
    // The same offsets, corrected: the audio is the disc's again.
    {"ReadOffsetCorrected", "offset=30", 0, {"2 done"}, {}, 2, 30, 30},
    {"NegativeOffsetCorrected", "offset=-700", 0, {"2 done"}, {}, 2, -700, -700},
    {"SecondDataSession", "data-session", 0, {"2 done"}, {}, 2, 0},
    // The first sector of track 2 never reads: track 1 is exact (the paranoia layer's
    // byte-order guess, failing there, used to swap every read) and track 2 fails at
    // once naming it. cd-paranoia on this drive: track 1 byte-swapped, track 2 hangs.
    {"BadSectorAtATracksStart",
     "unreadable=375",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The disc could not be read at sector 375."},
     {"Track02.wav: Done"},
     1,
     0},
    // Among a track's first sectors: cd-paranoia gives track 1 exact, and hangs on track 2.
    {"BadSectorAmongATracksFirst",
     "unreadable=377",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The disc could not be read at sector 377."},
     {"Track02.wav: Done"},
     1,
     0},
    // Each flaky range its own count of noisy reads: one re-read mends 100, forty are more
    // than the retries at 600.
    {"FlakyRangesKeepTheirOwnReads",
     "flaky=100x1,flaky=600x40",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The disc could not be read at sector 600."},
     {},
     1,
     0},
    // Noise at a track's first sector that never reads right: given up there, not at the
    // sectors beyond the disc that the paranoia layer seeks to, to empty the drive's cache.
    {"ScratchAtATracksStart",
     "flaky=375x40",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The disc could not be read at sector 375."},
     {"Track02.wav: Done"},
     1,
     0},
    // A drive that refuses the sub-channel, or gives it damaged, still rips.
    {"NoSubchannel", "no-subchannel", 0, {"2 done"}, {"read with"}, 2, 0},
    {"SubchannelWithBadCrc", "bad-q-crc", 0, {"2 done"}, {"read with"}, 2, 0},
    // A sector the drive never delivers inside digital silence is not made up as
    // silence: the silent track fails naming it.
    {"UnreadSectorInASilentTrack",
     "unreadable=500",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The disc could not be read at sector 500."},
     {"Track02.wav: Done"},
     1,
     0,
     0,
     "noise,silence"},
    // Noise over a whole track for its first three reads: it is given up only when the
    // retries are spent at one place, so the fourth and fifth reads verify.
    {"WholeTrackNoisyForThreeReads",
     "flaky=375-749x3",
     0,
     {"Track02.wav: Done", "2 done"},
     {"Failed"},
     2,
     0},
    // A clean drive needs no re-read, however short the track.
    {"OneSectorTrackOnACleanDrive", "", 0, {"2 done"}, {"read with"}, 2, 0, 0, "noise", "375,1"},
    {"OneSectorTrackNoisyForThreeReads",
     "flaky=375x3",
     0,
     {"Track02.wav: Done", "2 done"},
     {"Failed"},
     2,
     0,
     0,
     "noise",
     "375,1"},
    {"TrayOpenedInTheSecondTrack",
     "tray-open=400",
     1,
     {"Track01.wav: Done", "Track02.wav: Failed: The drive's tray was opened"},
     {"Track02.wav: Done"},
     1,
     0},
};

// The disc's audio as a drive with read offset Offset delivers it (drive sample d is the
// disc's sample d - Offset, silence outside the disc), with Corrected samples corrected
// (file sample s is drive sample s + Corrected, silence outside the disc).
std::vector<uint8_t> Shifted(const std::vector<uint8_t>& Disc, int Offset, int Corrected) {
  std::vector<uint8_t> out(Disc.size(), 0);
  const long size = static_cast<long>(Disc.size());
  for (long i = 0; i < size; ++i) {
    const long drive = i + Corrected * 4L, from = drive - Offset * 4L;
    if (drive >= 0 && drive < size && from >= 0 && from < size)
      out[static_cast<size_t>(i)] = Disc[static_cast<size_t>(from)];
  }
  return out;
}

// A file that a failure cut short still says in its header how long it is.
void ExpectTrueHeader(const std::string& Wav) {
  const std::vector<uint8_t> bytes = ReadWholeFile(Wav);
  ASSERT_GE(bytes.size(), 44u) << Wav;
  EXPECT_EQ(Field32(bytes, 4), bytes.size() - 8) << Wav;
  EXPECT_EQ(Field32(bytes, 40), bytes.size() - 44) << Wav;
  EXPECT_EQ(DecodeWithSox(Wav).size() * 2, bytes.size() - 44) << Wav;
}

class DriveFaults : public DriveRun, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DriveFaults, RipsOrFailsAsTheDriveReads) {
  const FaultCase& fault = GetParam();
  const std::string device = MakeDrive(MakeDisc(std::string("--tracks 2 --sectors ") +
                                                fault.Sectors + " --content " + fault.Content),
                                       fault.Faults);
  const auto result =
      Cli("--jobs 1 --offset " + std::to_string(fault.Corrected) + " --out O '" + device + "'");
  EXPECT_EQ(result.Status, fault.Status) << result.Output;
  size_t at = 0;
  for (const char* said : fault.Said) {
    at = result.Output.find(said, at);
    EXPECT_NE(at, std::string::npos) << said << "\n" << result.Output;
  }
  for (const char* notSaid : fault.NotSaid)
    EXPECT_EQ(result.Output.find(notSaid), std::string::npos) << notSaid << "\n" << result.Output;
  std::vector<uint8_t> disc = Expected(1), ripped = PcmOfWav(Dir / "O/Track01.wav");
  const std::vector<uint8_t> second = Expected(2), secondRipped = PcmOfWav(Dir / "O/Track02.wav");
  disc.insert(disc.end(), second.begin(), second.end());
  ripped.insert(ripped.end(), secondRipped.begin(), secondRipped.end());
  const std::vector<uint8_t> expected = Shifted(disc, fault.OffsetSamples, fault.Corrected);
  const size_t exactBytes = fault.ExactTracks == 2   ? disc.size()
                            : fault.ExactTracks == 1 ? Expected(1).size()
                                                     : 0;
  ASSERT_GE(ripped.size(), exactBytes);
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + exactBytes, ripped.begin()));
  for (const char* wav : {"O/Track01.wav", "O/Track02.wav"})
    if (std::filesystem::exists(Dir / wav)) ExpectTrueHeader(Dir / wav);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DriveFaults, ::testing::ValuesIn(Faults),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A track read again after a good rip that now fails part of the way (a bad sector)
// never replaces the good file: what was read is kept beside it, as incomplete, and the
// failure names it.
TEST_F(DriveRun, AFailedRereadKeepsTheGoodFile) {
  const std::string cue = MakeDisc("--tracks 2 --sectors 375 --content noise");
  for (const std::string format : {"wav", "flac"}) {
    SCOPED_TRACE(format);
    const std::string options = "--format " + format + " --out " + format + " '";
    ASSERT_EQ(Cli(options + MakeDrive(cue) + "'").Status, 0);
    const std::string good = Dir / (format + "/Track02." + format);
    const std::vector<uint8_t> before = ReadWholeFile(good);
    const auto again = Cli(options + MakeDrive(cue, "unreadable=700") + "'");
    EXPECT_EQ(again.Status, 1) << again.Output;
    const std::string incomplete = "Track02 (incomplete)." + format;
    const size_t failed = again.Output.find("Track02." + format +
                                            ": Failed: The disc could not "
                                            "be read at sector 700.");
    EXPECT_NE(failed, std::string::npos) << again.Output;
    EXPECT_NE(again.Output.find("kept as " + incomplete, failed), std::string::npos)
        << again.Output;
    EXPECT_TRUE(ReadWholeFile(good) == before);
    const std::vector<uint8_t> kept = CommandBytes("sox '" + (Dir / (format + "/" + incomplete)) +
                                                   "' -t raw -e signed -b 16 -L -");
    const std::vector<uint8_t> second = Expected(2);
    ASSERT_FALSE(kept.empty());
    EXPECT_LT(kept.size(), second.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), second.begin()));
  }
}

// The log of a track that failed gives what reading it met, as the terminal does, each
// sector the drive refused, and says why no pre-gap is given.
TEST_F(DriveRun, TheLogTellsWhatTheDriveMet) {
  const std::string device = MakeDrive(MakeDisc("--tracks 2 --sectors 375 --content noise"),
                                       "unreadable=500,no-subchannel");
  const auto result = Cli("--log --out O '" + device + "'");
  EXPECT_EQ(result.Status, 1) << result.Output;
  const std::smatch told = [&] {
    std::smatch match;
    std::regex_search(result.Output, match,
                      std::regex("Track02.wav: read with re-reads ([1-9][0-9]*), corrections "
                                 "([0-9]+), skipped sectors 1"));
    return match;
  }();
  ASSERT_FALSE(told.empty()) << result.Output;
  const std::vector<uint8_t> bytes = ReadWholeFile(Dir / "O/sr0.log");
  const std::string log(bytes.begin(), bytes.end());
  const size_t second = log.find("Track 02\n");
  EXPECT_NE(log.find("Read: " + told[1].str() + " re-reads, " + told[2].str() +
                         " corrections, 1 skipped sector\n",
                     second),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    The drive refused sector 500 (failed read 1 ", second), std::string::npos)
      << log;
  EXPECT_NE(log.find("    Sector 500 given up.\n", second), std::string::npos) << log;
  EXPECT_NE(log.find("Pre-gaps: not detected: the drive's Q sub-channel was refused"),
            std::string::npos)
      << log;
}

// Whatever name the user gives a drive, a link or the device, finds the one drive.
TEST_F(DriveRun, ALinkToTheDriveIsTheSameDrive) {
  const std::string device = MakeDrive(MakeDisc("--tracks 2 --seconds 1 --content noise"));
  std::filesystem::create_symlink("sr0", Dir / "cdrom");
  const auto listed = Cli("--list cdrom '" + device + "' '" + (Dir / "cdrom") + "'");
  ASSERT_EQ(listed.Status, 0) << listed.Output;
  EXPECT_NE(listed.Output.find("Drive 0: " + (Dir / "cdrom") + "\n"), std::string::npos)
      << listed.Output;
  EXPECT_EQ(listed.Output.find("Drive 1"), std::string::npos) << listed.Output;
  const auto ripped = Cli("--out O cdrom/Track02.cda '" + device + "/Track01.cda'");
  ASSERT_EQ(ripped.Status, 0) << ripped.Output;
  EXPECT_TRUE(PcmOf(Dir / "O/Track02.wav") == Expected(2));
  EXPECT_TRUE(PcmOf(Dir / "O/Track01.wav") == Expected(1));
}

// The tray opens on the read that reaches its sector, not on a read beyond it.
TEST_F(DriveRun, TheTrayOpensAtItsSector) {
  const std::string device =
      MakeDrive(MakeDisc("--tracks 2 --sectors 375 --content noise"), "tray-open=400");
  const auto probed =
      CaptureCommand(Environment + Bin + "/drive_probe '" + device + "' 500:10 390:20 0:1");
  EXPECT_EQ(probed.Output.find("read 500 10 failed"), std::string::npos) << probed.Output;
  EXPECT_NE(probed.Output.find("read 390 20 failed at 390\nread 0 1 failed"), std::string::npos)
      << probed.Output;
}

// The fault list is read strictly: a test that asks for a fault the drive does not know
// stops at once instead of passing on a clean drive.
TEST_F(DriveRun, AFaultNotUnderstoodStopsTheProgram) {
  const std::string device = MakeDrive(MakeDisc("--tracks 1 --seconds 1"), "unreadable=9-3");
  const auto result = Cli("--list '" + device + "'");
  EXPECT_EQ(result.Status, 2) << result.Output;
  EXPECT_NE(result.Output.find("KORVANE_FAKE_DRIVE_FAULTS: not understood: \"unreadable=9-3\""),
            std::string::npos)
      << result.Output;
}

// The sheet's texts come back from the drive as its CD-Text (in Latin-1 on the disc, in
// UTF-8 again out of the CD layer): the listing of the drive equals the image's, disc
// ids and texts included.
TEST_F(DriveRun, TheDiscsTextsComeBackAsCdText) {
  const std::string cue = MakeDisc("--tracks 4 --seconds 1 --content noise --data-track last");
  AddCueTexts(cue, {"PERFORMER \"The Band\"", "TITLE \"Café Album\"", "REM GENRE Rock"},
              {"Song One", "", "Ünïcödé?"});
  const std::string device = MakeDrive(cue);
  const auto fromImage = Cli("--list '" + cue + "'", false);
  const auto fromDrive = Cli("--list '" + device + "'");
  ASSERT_EQ(fromDrive.Status, 0) << fromDrive.Output;
  EXPECT_NE(fromDrive.Output.find("  Album: Café Album / Artist: The Band / Genre: Rock\n"
                                  "  Track 01: Song One\n  Track 03: Ünïcödé?\n"),
            std::string::npos)
      << fromDrive.Output;
  EXPECT_EQ(ListingLines(fromDrive.Output, device), ListingLines(fromImage.Output, cue))
      << fromDrive.Output << "\n"
      << fromImage.Output;
}

// The paranoia layer reads each stretch twice and compares the reads: on a clean drive
// that is no re-read however long the tracks, in test and copy too; a scratch that has
// to be read again is counted, and so is each failed read.
TEST_F(DriveRun, OnlyReadsThatRepeatCountAsReReads) {
  const std::string cue = MakeDisc("--tracks 2 --seconds 30,61 --content noise");
  const auto clean = Cli("--verify --out O '" + MakeDrive(cue) + "'");
  ASSERT_EQ(clean.Status, 0) << clean.Output;
  EXPECT_EQ(clean.Output.find("read with"), std::string::npos) << clean.Output;
  for (const auto& [fault, track] :
       {std::pair{"flaky=1000-1003x1", "Track01"}, {"unreadable=3000", "Track02"}}) {
    const auto faulty = Cli(std::string("--out F '") + MakeDrive(cue, fault) + "'");
    EXPECT_NE(faulty.Output.find(std::string(track) + ".wav: read with re-reads "),
              std::string::npos)
        << faulty.Output;
    EXPECT_EQ(faulty.Output.find("re-reads 0,"), std::string::npos) << faulty.Output;
  }
}

// A disc without a title, as most pressed discs with CD-Text are: its packs start with an
// empty string, and each track's title stays with its track (no album line).
TEST_F(DriveRun, TextsOfADiscWithoutATitleStayWithTheirTracks) {
  const std::string cue = MakeDisc("--tracks 3 --seconds 1 --content noise");
  AddCueTexts(cue, {"PERFORMER \"The Band\""}, {"Song One", "A title that spans two packs", ""});
  const auto fromDrive = Cli("--list '" + MakeDrive(cue) + "'");
  ASSERT_EQ(fromDrive.Status, 0) << fromDrive.Output;
  EXPECT_NE(fromDrive.Output.find("  Artist: The Band\n  Track 01: Song One\n"
                                  "  Track 02: A title that spans two packs\n"),
            std::string::npos)
      << fromDrive.Output;
}

// The sheet's catalogue number and ISRCs come back from the drive (CDROM_GET_MCN, READ
// SUB-CHANNEL) into the cue sheet written beside the files.
TEST_F(DriveRun, TheDiscsCodesComeBackFromTheDrive) {
  const std::string cue = MakeDisc("--tracks 2 --seconds 1 --content noise");
  AddCueTexts(cue, {"CATALOG 0123456789012", "TITLE \"Codes\""}, {"One", "Two"});
  std::ifstream in(cue);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.insert(text.find('\n', text.find("TRACK 02")) + 1, "    ISRC GBAYE0000351\n");
  std::ofstream(cue) << text;
  const auto result = Cli("--log --out O '" + MakeDrive(cue) + "'");
  ASSERT_EQ(result.Status, 0) << result.Output;
  std::ifstream written(Dir / "O/Codes.cue");
  const std::string sheet((std::istreambuf_iterator<char>(written)),
                          std::istreambuf_iterator<char>());
  EXPECT_NE(sheet.find("CATALOG 0123456789012\n"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("TRACK 02 AUDIO\n    TITLE \"Two\"\n    ISRC GBAYE0000351"),
            std::string::npos)
      << sheet;
}

// The whole proof through the drive: a read offset corrected, test and copy, the
// AccurateRip entry (served on the loopback interface, holding the sums of the disc's
// own audio) confirming every track, a rip log whose hash holds, and a cue sheet that
// reads back to the same tracks.
// An AccurateRip entry confirming every track of the disc made last with confidence 5,
// served on the loopback interface.
std::unique_ptr<TLoopbackServer> DriveRun::ServeEntry() {
  int leadOut = 0;
  const std::vector<PrintedTrack> printed = ParsePrinted(Printed, leadOut);
  TDiscToc toc;
  for (const PrintedTrack& track : printed) toc.Tracks.push_back({track.Number, track.Start, true});
  toc.LeadOut = leadOut;
  std::vector<std::vector<uint8_t>> pcm;
  for (size_t i = 0; i < printed.size(); ++i) pcm.push_back(Expected(static_cast<int>(i + 1)));
  WriteAccurateRipEntry(Dir / "served", toc, pcm, 5);
  return std::make_unique<TLoopbackServer>("tests/audio/proof/entry_server.py", Dir / "served");
}

TEST_F(DriveRun, AProvenRipOfTheDrive) {
  const std::string cue = MakeDisc("--tracks 3 --seconds 2,1,3 --content noise");
  std::unique_ptr<TLoopbackServer> server = ServeEntry();
  ASSERT_TRUE(server->Started()) << server->StartLine;

  const std::string device = MakeDrive(cue, "offset=-48");
  const auto result = Cli("--verify --offset -48 --lookup accuraterip=" + server->Url() +
                          " --out O '" + device + "'");
  server.reset();
  ASSERT_EQ(result.Status, 0) << result.Output;
  for (const char* track : {"Track01", "Track02", "Track03"}) {
    const std::string name = std::string("O/") + track + ".wav: ";
    EXPECT_NE(result.Output.find(name + "accurately ripped (confidence 5, v1)"), std::string::npos)
        << result.Output;
    EXPECT_NE(result.Output.find(name + "CRC "), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find(", read once: AccurateRip confirms it (confidence 5)"),
              std::string::npos)
        << result.Output;
  }
  EXPECT_EQ(result.Output.find("suspicious"), std::string::npos) << result.Output;
  std::ifstream in(Dir / "O/sr0.log");
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(RipLogIntact(log)) << log;
  EXPECT_NE(log.find("Read offset: -48 samples"), std::string::npos) << log;
  EXPECT_NE(log.find("Drive model: KORVANE Software CD\nDrive revision: 1.00\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Read mode: paranoia full (verify, overlap, repair), a sector given up "
                     "after 20 failed reads; test and copy, up to 3 further reads when they "
                     "differ; a track that AccurateRip confirms with confidence 2 or more is "
                     "read once\n"),
            std::string::npos)
      << log;
  // Every track is proven by its one read: no test read ran.
  EXPECT_EQ(log.find("Test CRC"), std::string::npos) << log;
  size_t proven = 0;
  for (size_t at = 0;
       (at = log.find("Proof: AccurateRip (confidence 5), one read\n", at)) != std::string::npos;
       ++at)
    ++proven;
  EXPECT_EQ(proven, 3u) << log;
  const auto readBack = Cli("--list O/sr0.cue", false);
  ASSERT_EQ(readBack.Status, 0) << readBack.Output;
  const auto original = Cli("--list '" + cue + "'", false);
  auto trackLines = [](const std::string& Listing, const std::string& Drive) {
    std::vector<std::string> lines;
    for (const std::string& text : ListingLines(Listing, Drive))
      if (text.find(".cda") != std::string::npos) lines.push_back(text);
    return lines;
  };
  EXPECT_EQ(trackLines(readBack.Output, Dir / "O/sr0.cue"), trackLines(original.Output, cue))
      << readBack.Output;
}

// Test and copy without the paranoia layer (a copy of the program with its own cdr.ini),
// on a scratch that reads as noise for its first reads. Read wrong once, the copy is
// the odd one out, the test read and re-read 1 agreeing: every encoder of the run puts
// their audio in the track's file (with ReplayGain, the very file a clean read gives),
// the log gives its CRC, and AccurateRip confirms it.
// Read wrong three times with one re-read, no two reads agree: the track is suspicious,
// and korvane-cli exits with status 1.
TEST_F(DriveRun, TestAndCopyPutsTheAudioThatTwoReadsAgreeOnInTheFile) {
  const std::string cue = MakeDisc("--tracks 2 --seconds 2,1 --content noise");
  std::unique_ptr<TLoopbackServer> server = ServeEntry();
  ASSERT_TRUE(server->Started()) << server->StartLine;
  CliWithoutParanoia();
  const std::vector<uint8_t> disc = Expected(1);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08lX", crc32(0, disc.data(), static_cast<uInt>(disc.size())));
  const std::string clean = std::string("Copy CRC: ") + crc + "\n";
  const std::string replaced =
      clean +
      "  Test and copy: the copy was the odd one out; the file holds the audio that the test "
      "read and re-read 1 agree on (re-encoded from re-read 1)\n";
  const char* const flac = "--format flac --jobs 2 --replaygain";
  // A suspicious track is not done: korvane-cli says why on the error stream, and its
  // summary counts it apart.
  struct {
    const char *Out, *Ext, *Options, *Faults;
    int Status;
    std::string Verdict, Summary, Said;
  } const cases[] = {
      {"clean", "flac", flac, "", 0, clean, "0 suspicious", "2 done, 0 failed"},
      {"flac", "flac", flac, "flaky=100-101x1", 0, replaced, "0 suspicious", "2 done, 0 failed"},
      {"wav", "wav", "--jobs 1", "flaky=100-101x1", 0, replaced, "0 suspicious", "2 done"},
      {"none", "wav", "--retries 1", "flaky=100-101x3", 1,
       "suspicious: Test CRC differs from Copy CRC and no two reads agree", "1 suspicious",
       "Track01.wav: Suspicious: Test CRC differs from Copy CRC and no two reads agree\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Out);
    const std::string device = MakeDrive(cue, c.Faults);
    const auto result =
        CaptureCommand("cd '" + Dir.Path().string() + "' && " + Environment +
                       "bin/korvane-cli --verify --lookup accuraterip=" + server->Url() + " " +
                       c.Options + " --out " + c.Out + " '" + device + "'");
    EXPECT_EQ(result.Status, c.Status) << result.Output;
    EXPECT_NE(result.Output.find(c.Said), std::string::npos) << result.Output;
    if (c.Status != 0) {
      EXPECT_EQ(result.Output.find("Track01.wav: Done"), std::string::npos) << result.Output;
      EXPECT_NE(result.Output.find("1 done, 1 suspicious, 0 failed, 0 aborted"), std::string::npos)
          << result.Output;
    }
    const std::vector<uint8_t> logBytes = ReadWholeFile(Dir.Path() / c.Out / "sr0.log");
    const std::string log(logBytes.begin(), logBytes.end());
    EXPECT_NE(log.find(c.Verdict), std::string::npos) << log;
    EXPECT_NE(log.find(c.Summary), std::string::npos) << log;
    if (c.Status != 0) continue;
    EXPECT_NE(log.find("AccurateRip: accurately ripped (confidence 5"), std::string::npos) << log;
    for (const auto& file : std::filesystem::directory_iterator(Dir / c.Out))
      EXPECT_NE(file.path().filename().string()[0], '.') << "a staging file is left";
    const std::filesystem::path track = Dir.Path() / c.Out / (std::string("Track01.") + c.Ext);
    EXPECT_TRUE(CommandBytes("sox '" + track.string() + "' -t raw -e signed -b 16 -L -") == disc);
  }
  // Its ReplayGain too is the disc's audio's: the file is the one a clean read gives.
  EXPECT_TRUE(ReadWholeFile(Dir / "flac/Track01.flac") ==
              ReadWholeFile(Dir / "clean/Track01.flac"));
}

// A copy that was the odd one out is encoded again with the tags of its first file, in
// every tagged format (read back with mutagen).
TEST_F(DriveRun, TheFileEncodedAgainKeepsItsTags) {
  const std::string cue = MakeDisc("--tracks 2 --seconds 2,1 --content noise");
  CliWithoutParanoia();
  const std::string device = MakeDrive(cue, "flaky=100-101x1");
  const char* const readTags =
      "import sys, mutagen; t = mutagen.File(sys.argv[1], easy=True).tags; "
      "print(t[\"title\"][0], t[\"artist\"][0], t[\"tracknumber\"][0].split(\"/\")[0])";
  for (const std::string format : {"flac", "ogg", "opus", "mp3"}) {
    SCOPED_TRACE(format);
    const auto result =
        CaptureCommand("cd '" + Dir.Path().string() + "' && " + Environment +
                       "bin/korvane-cli --verify --format " + format +
                       " --artist 'The Band' --title-from-name --track-from 1 --out " + format +
                       " '" + device + "/Track01.cda'");
    ASSERT_EQ(result.Status, 0) << result.Output;
    const std::vector<uint8_t> log = ReadWholeFile(Dir.Path() / format / "sr0.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("the copy was the odd one out"),
              std::string::npos);
    const std::string file = (Dir.Path() / format / ("Track01." + format)).string();
    EXPECT_EQ(
        CaptureCommand(std::string("/usr/bin/python3 -c '") + readTags + "' '" + file + "'").Output,
        "Track01 The Band 1\n");
  }
}

// The drive's read offset found from the database's entry of the disc it holds: tried
// from -2940 to +2940 samples, the offset at which the tracks match is the drive's.
TEST_F(DriveRun, TheReadOffsetIsFoundWithTheDatabase) {
  MakeDisc("--tracks 4 --seconds 2,1,3,1 --content noise");
  std::unique_ptr<TLoopbackServer> server = ServeEntry();
  ASSERT_TRUE(server->Started()) << server->StartLine;
  for (const int offset : {-48, 667}) {
    const std::string device = MakeDrive(Dir / "disc.cue", "offset=" + std::to_string(offset));
    const auto found = Cli("--find-offset --lookup accuraterip=" + server->Url() + " " + device);
    ASSERT_EQ(found.Status, 0) << found.Output;
    EXPECT_NE(found.Output.find("read offset is " + std::string(offset > 0 ? "+" : "") +
                                std::to_string(offset) + " samples: 3 of 3 tracks"),
              std::string::npos)
        << found.Output;
  }
  server.reset();
  const auto unknown = Cli("--find-offset --lookup accuraterip=http://127.0.0.1:9/ar");
  EXPECT_EQ(unknown.Status, 1) << unknown.Output;
}

// A confirmed track too short for the sums' window (they leave out five sectors at either
// end of the disc) is skipped, and the other tracks find the offset.
TEST_F(DriveRun, TheOffsetSearchSkipsATrackTooShortForItsWindow) {
  MakeDisc("--tracks 3 --sectors 5,150,225 --content noise");
  std::unique_ptr<TLoopbackServer> server = ServeEntry();
  ASSERT_TRUE(server->Started()) << server->StartLine;
  const std::string device = MakeDrive(Dir / "disc.cue", "offset=30");
  const auto found = Cli("--find-offset --lookup accuraterip=" + server->Url() + " " + device);
  ASSERT_EQ(found.Status, 0) << found.Output;
  EXPECT_NE(found.Output.find("Track 1 is too short"), std::string::npos) << found.Output;
  EXPECT_NE(found.Output.find("read offset is +30 samples: 2 of 2 tracks"), std::string::npos)
      << found.Output;
}

// ---------------------------------------------------------------------------------
// Stops on a drive read at 1x: the time from the signal to the end is printed, not
// asserted (a loaded machine is slower); the status tells the signal.
// ---------------------------------------------------------------------------------

struct TStopped {
  int Status = -1;
  double Seconds = 0;  // from the signal to the program's end
  std::string Output;
};

// Runs Command (a program with its environment's settings before it, as env takes them)
// with its output read; once the output holds When, sends Signal and waits for the end.
TStopped StopWhen(const std::string& Command, const std::string& When, int Signal) {
  TStopped stopped;
  int out[2];
  if (::pipe(out) != 0) return stopped;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[0]);
    ::execl("/bin/sh", "sh", "-c", ("exec env " + Command + " </dev/null").c_str(), nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  std::chrono::steady_clock::time_point signalled;
  bool sent = false;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    stopped.Output.append(buffer, static_cast<size_t>(n));
    if (sent || stopped.Output.find(When) == std::string::npos) continue;
    ::kill(child, Signal);
    signalled = std::chrono::steady_clock::now();
    sent = true;
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  stopped.Seconds =
      sent ? std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count()
           : -1;
  stopped.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return stopped;
}

// Ctrl-C while the offset search reads a track at 1x ends it at once, with status 130.
TEST_F(DriveRun, AStopEndsTheOffsetSearchAtOnce) {
  MakeDisc("--tracks 3 --seconds 20,20,20 --content noise");
  std::unique_ptr<TLoopbackServer> server = ServeEntry();
  ASSERT_TRUE(server->Started()) << server->StartLine;
  const std::string device = MakeDrive(Dir / "disc.cue", "speed=1");
  const TStopped stopped = StopWhen(
      Environment + Bin + "/korvane-cli --find-offset --lookup accuraterip=" + server->Url() + " " +
          device,
      "Reading track", SIGINT);
  std::printf("The offset search ended %.2f s after Ctrl-C.\n", stopped.Seconds);
  EXPECT_EQ(stopped.Status, 130) << stopped.Output;
  EXPECT_NE(stopped.Output.find("stopped"), std::string::npos) << stopped.Output;
}

// SIGTERM while test and copy waits for an AccurateRip server that never answers, with a
// log asked for: the lookup ends at once and no pre-gap is searched; status 143.
TEST_F(DriveRun, AStopEndsAPendingLookupAndSearchesNoPregap) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // connections are taken, never answered
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silent = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  const std::string device =
      MakeDrive(MakeDisc("--tracks 2 --seconds 1,30 --content noise --pregap 150"), "speed=1");
  const TStopped stopped =
      StopWhen("NO_PROXY=127.0.0.1 KORVANE_FAKE_DRIVE_LOG=1 " + Environment + Bin +
                   "/korvane-cli --verify --lookup accuraterip=" + silent + " --out '" +
                   (Dir / "O") + "' " + device,
               "len 58800: ok", SIGTERM);  // the first track streams
  ::close(listener);
  std::printf("The run ended %.2f s after SIGTERM.\n", stopped.Seconds);
  EXPECT_EQ(stopped.Status, 143) << stopped.Output;
  const std::vector<uint8_t> log = ReadWholeFile(Dir / "O/sr0.log");
  EXPECT_NE(std::string(log.begin(), log.end()).find("Pre-gaps: not searched: the run was stopped"),
            std::string::npos);
}

// The Q sub-channel of a sector: track and index by the image's indexes, the time in the
// track (counting down in a pre-gap) and on the disc, in BCD, and the CRC (computed for
// these bytes by another implementation); refused by a drive with the no-subchannel fault.
TEST_F(DriveRun, ServesTheQSubChannelOfTheImagesIndexes) {
  const std::string cue = MakeDisc("--tracks 2 --sectors 375 --content noise --pregap 150");
  const auto probed = CaptureCommand(Environment + Bin + "/drive_probe '" + MakeDrive(cue) +
                                     "' q:374 q:375 q:524 q:525");
  EXPECT_NE(probed.Output.find("q 374 010101000474000006743ade00000000\n"
                               "q 375 01020000020000000700440a00000000\n"
                               "q 524 010200000001000008744b3600000000\n"
                               "q 525 01020100000000000900ab9600000000\n"),
            std::string::npos)
      << probed.Output;
  const auto refused = CaptureCommand(Environment + Bin + "/drive_probe '" +
                                      MakeDrive(cue, "no-subchannel") + "' q:375");
  EXPECT_NE(refused.Output.find("q 375 failed\n"), std::string::npos) << refused.Output;
}

// The log of a drive's rip gives the pre-gaps that the sub-channel shows, as the log of
// the image's rip does, and its cue sheet has them.
TEST_F(DriveRun, TheRipLogGivesThePregapsOfTheSubChannel) {
  const std::string cue =
      MakeDisc("--tracks 3 --sectors 300,200,100 --content noise --pregap 30,150");
  const auto fromDrive = Cli("--log --out D '" + MakeDrive(cue) + "'");
  const auto fromImage = Cli("--log --out I '" + cue + "'", false);
  ASSERT_EQ(fromDrive.Status, 0) << fromDrive.Output;
  ASSERT_EQ(fromImage.Status, 0) << fromImage.Output;
  auto pregaps = [](const std::vector<uint8_t>& Log) {
    std::istringstream in(std::string(Log.begin(), Log.end()));
    std::string lines;
    for (std::string line; std::getline(in, line);)
      if (line.find("Pre-gap:") != std::string::npos) lines += line + "\n";
    return lines;
  };
  const std::string expected = "  Pre-gap: 00:00.00\n  Pre-gap: 00:00.30\n  Pre-gap: 00:02.00\n";
  EXPECT_EQ(pregaps(ReadWholeFile(Dir / "D/sr0.log")), expected);
  EXPECT_EQ(pregaps(ReadWholeFile(Dir / "I/disc.log")), expected);
  // So the cue sheet written of the drive's rip is the image's.
  EXPECT_EQ(ReadWholeFile(Dir / "D/sr0.cue"), ReadWholeFile(Dir / "I/disc.cue"));
}

}  // namespace
