// The CD track source on disc images made by the disc-image maker, read through the
// CD ripping library that the binding loads at run time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "bindings/cdrip_binding.h"
#include "cdrom/audio_cdrom.h"
#include "disc_fixtures.h"
#include "outputs/audio_wave.h"
#include "pipeline_test.h"
#include "temp_dir.h"
#include "wav_decoder.h"

namespace {

namespace di = korvane::discimage;
using korvane::testdiscs::Layout;

// Read sizes that never line up with a sector or a chunk.
const int OddReadSizes[] = {1, 4099, 176401, 333, 88207, 2351, 65537};

std::string MessageOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const EAudioException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// Loads the library afresh, as from a program in Folder: cdr.ini goes there. The
// library itself is named by its full path in the build's folder, since a program in
// Folder would not find it (nor would the search path of a sanitizer's dlopen).
void LoadLibraryAsFrom(const std::string& Folder) {
  CDRipBinding().Unload();
  CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                       CDRipBinding().FileName());
  CDRipBinding().Load(Folder);
}

// Every test starts from a freshly loaded library whose cdr.ini goes to its own folder.
class CDInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraryAsFrom(ProgramFolder.Path().string());
    ASSERT_TRUE(CDRipBinding().Loaded());
    CDIn.emplace();
  }
  void TearDown() override {
    if (CDIn && CDIn->Busy) CDIn->Close();
    CDIn.reset();
    CDRipBinding().Unload();
  }

  // Writes Disc as Layout and adds it as a drive; returns its number.
  int AddDisc(const di::DiscSpec& Disc, const di::ImageLayout& Layout,
              const std::string& Name = "disc") {
    const std::string sheet =
        Images / (Name + (Layout.sheet == di::SheetKind::Toc ? ".toc" : ".cue"));
    Written = di::writeDiscImage(Disc, sheet, Layout);
    return CDRipAddImageDrive(sheet);
  }

  void Select(int Drive, int Track) {
    CDIn->SetCurrentDrive(Drive);
    CDIn->SetStartTrack(Track);
    CDIn->SetEndTrack(Track);
  }

  // Reads the open source to its end with odd read sizes, checking `Position` as it goes.
  std::vector<uint8_t> ReadToEnd() {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(200000);
    for (size_t i = 0;; ++i) {
      const int wanted = OddReadSizes[i % std::size(OddReadSizes)];
      const int got = CDIn->ReadData(buffer.data(), wanted);
      EXPECT_LE(got, wanted);
      if (got <= 0) break;
      bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
      EXPECT_EQ(CDIn->Position, static_cast<int32_t>(bytes.size()));
    }
    EXPECT_EQ(CDIn->ReadData(buffer.data(), 1000), 0) << "the end stays the end";
    return bytes;
  }

  TTempDir ProgramFolder;
  TTempDir Images;
  di::WrittenImage Written;
  std::optional<TCDIn> CDIn;
};

// ---------------------------------------------------------------------------------
// Bytes of every track, in every layout
// ---------------------------------------------------------------------------------

struct DiscCase {
  const char* Name;
  std::function<di::DiscSpec()> Disc;
  di::ImageLayout Layout;
};

void PrintTo(const DiscCase& Case, std::ostream* Out) { *Out << Case.Name; }

class TrackBytesTest : public CDInTest, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(TrackBytesTest, EveryAudioTrackDeliversItsPcm) {
  const di::DiscSpec disc = GetParam().Disc();
  const int drive = AddDisc(disc, GetParam().Layout);
  ASSERT_GE(drive, 0);
  for (int track = 1; track <= static_cast<int>(disc.tracks.size()); ++track) {
    if (disc.tracks[static_cast<size_t>(track) - 1].isData()) continue;
    SCOPED_TRACE("track " + std::to_string(track));
    Select(drive, track);
    CDIn->Open();
    const di::RipRange range = di::ripRange(disc, track);
    EXPECT_EQ(CDIn->Size, range.sectors * TCDIn::SectorBytes);
    EXPECT_TRUE(ReadToEnd() == di::expectedTrackPcm(disc, track));
    EXPECT_EQ(CDIn->Position, CDIn->Size);
    CDIn->Close();
    EXPECT_FALSE(CDIn->Busy);
  }
}

TEST_P(TrackBytesTest, TrackLengthsRunToTheNextTrack) {
  const di::DiscSpec disc = GetParam().Disc();
  Select(AddDisc(disc, GetParam().Layout), 1);
  const di::DiscToc toc = di::discToc(disc);
  ASSERT_EQ(CDIn->GetTrackCount(), static_cast<int>(toc.tracks.size()));
  for (size_t i = 0; i < toc.tracks.size(); ++i) {
    SCOPED_TRACE("track " + std::to_string(i + 1));
    const TCDTrackInfo info = CDIn->GetTrackInfo(static_cast<int>(i) + 1);
    EXPECT_EQ(info.IsData, toc.tracks[i].data);
    // Audio tracks: exactly what a rip of the track reads (pregap of the next track
    // included, the gap before a data session left out).
    const int32_t length =
        toc.tracks[i].data
            ? (i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLsn : toc.leadOutLsn) -
                  toc.tracks[i].startLsn
            : di::ripRange(disc, static_cast<int>(i) + 1).sectors;
    EXPECT_EQ((info.Minutes * 60 + info.Seconds) * 75 + info.Frames, length);
  }
  EXPECT_EQ(MessageOf([&] { CDIn->GetTrackInfo(0); }), "Track out of range.");
  EXPECT_EQ(MessageOf([&] { CDIn->GetTrackInfo(static_cast<int>(toc.tracks.size()) + 1); }),
            "Track out of range.");
}

const DiscCase DiscCases[] = {
    {"SingleBinary", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"BinOfAnotherName", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false, "Some Artist - Some Album.bin")},
    {"BinaryPerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, true)},
    {"WavePerTrack", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
    {"Motorola", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Motorola, false)},
    {"CdrdaoToc", korvane::testdiscs::MultiTrackDisc,
     Layout(di::SheetKind::Toc, di::AudioFileKind::Binary, false)},
    {"EnhancedCd", korvane::testdiscs::EnhancedDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"EnhancedCdWavePerTrack", korvane::testdiscs::EnhancedDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true)},
    {"DataFirst", korvane::testdiscs::DataFirstDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
    {"DataLastSameSession", korvane::testdiscs::DataLastDisc,
     Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)},
};

INSTANTIATE_TEST_SUITE_P(Discs, TrackBytesTest, ::testing::ValuesIn(DiscCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The last audio track of an enhanced CD ends with its audio; the library's table
// still shows the data session where it is.
TEST_F(CDInTest, EnhancedCdLastAudioTrackEndsBeforeTheSessionGap) {
  const di::DiscSpec disc = korvane::testdiscs::EnhancedDisc();
  const int drive = AddDisc(disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  Select(drive, 3);
  CDIn->Open();
  const di::DiscToc toc = di::discToc(disc);
  EXPECT_EQ(CDIn->Size,
            (toc.tracks[3].startLsn - 11400 - toc.tracks[2].startLsn) * TCDIn::SectorBytes);
  const std::vector<uint8_t> bytes = ReadToEnd();
  CDIn->Close();
  EXPECT_TRUE(bytes == di::expectedTrackPcm(disc, 3));
  const TCDRipFunctions& lib = CDRipBinding().Functions();
  lib.CR_SetActiveCDROM(drive);
  ASSERT_EQ(lib.CR_ReadToc(), 0);
  EXPECT_EQ(lib.CR_GetTocEntry(3).StartSector, toc.tracks[3].startLsn);
  EXPECT_EQ(lib.CR_GetTocEntry(3).Flag, 0x14);
}

// ---------------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------------

struct OpenRefusal {
  const char* Name;
  int StartTrack;
  int EndTrack;
  const char* Message;
};

void PrintTo(const OpenRefusal& Case, std::ostream* Out) { *Out << Case.Name; }

class OpenRefusalTest : public CDInTest, public ::testing::WithParamInterface<OpenRefusal> {};

TEST_P(OpenRefusalTest, OpenRefusesWithItsMessageAndStaysIdle) {
  // Data first, then audio tracks 2 and 3.
  const int drive = AddDisc(korvane::testdiscs::DataFirstDisc(),
                            Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  CDIn->SetCurrentDrive(drive);
  CDIn->SetStartTrack(GetParam().StartTrack);
  CDIn->SetEndTrack(GetParam().EndTrack);
  EXPECT_EQ(MessageOf([&] { CDIn->Open(); }), GetParam().Message);
  EXPECT_FALSE(CDIn->Busy);
}

const OpenRefusal OpenRefusals[] = {
    {"StartTrackZero", 0, 2, "The start track out of range"},
    {"StartTrackPastTheLast", 4, 4, "The start track out of range"},
    {"DataTrack", 1, 1, "Trying to rip a data track"},
    {"EndTrackPastTheLast", 2, 4, "The end track out of range"},
    {"RangeRunsBackwards", 3, 2, "The track is empty: there is no audio to rip"},
};

INSTANTIATE_TEST_SUITE_P(Tracks, OpenRefusalTest, ::testing::ValuesIn(OpenRefusals),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CDInTest, EndTrackEqualToTheLastRunsToTheLeadOut) {
  const di::DiscSpec disc = korvane::testdiscs::DataFirstDisc();
  Select(AddDisc(disc, Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)), 2);
  CDIn->SetEndTrack(3);
  CDIn->Open();
  const di::DiscToc toc = di::discToc(disc);
  EXPECT_EQ(CDIn->Size, (toc.leadOutLsn - toc.tracks[1].startLsn) * TCDIn::SectorBytes);
}

TEST_F(CDInTest, DriveWhoseImageIsGoneIsNotReady) {
  const int drive = AddDisc(korvane::testdiscs::MultiTrackDisc(),
                            Layout(di::SheetKind::Cue, di::AudioFileKind::Wave, true));
  Select(drive, 1);
  EXPECT_EQ(CDIn->GetDriveState(), dsReady);
  std::filesystem::remove(Written.dataFiles[2]);
  EXPECT_EQ(CDIn->GetDriveState(), dsNotReady);
  EXPECT_EQ(CDIn->GetTrackCount(), -1);
  EXPECT_EQ(MessageOf([&] { CDIn->Open(); }), "The drive is not ready");
  EXPECT_FALSE(CDIn->Busy);
}

// An image cut short, or written again, after its tracks were listed is refused rather
// than ripped as what it holds now (a last track listed whole would end "Done" short);
// listed again, it is ripped as it is.
TEST_F(CDInTest, AnImageThatChangedSinceItWasListedIsRefused) {
  const std::function<void(const std::string&)> changes[] = {
      [](const std::string& File) {
        std::filesystem::resize_file(File, std::filesystem::file_size(File) - 40 * 2352);
      },
      [](const std::string& File) {
        std::filesystem::last_write_time(
            File, std::filesystem::last_write_time(File) + std::chrono::seconds(5));
      }};
  for (const auto& change : changes) {
    const int drive = AddDisc(korvane::testdiscs::MultiTrackDisc(),
                              Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
    Select(drive, 5);
    ASSERT_EQ(CDIn->GetTrackCount(), 5);
    change(Written.dataFiles[0]);
    EXPECT_EQ(MessageOf([&] { CDIn->Open(); }),
              "The disc changed since its tracks were listed. List the drive again and rip the "
              "track anew.");
    EXPECT_FALSE(CDIn->Busy);
    ASSERT_EQ(CDIn->GetTrackCount(), 5);
    CDIn->Open();
    EXPECT_TRUE(CDIn->Busy);
    CDIn->Close();
  }
}

TEST_F(CDInTest, WhileOpenSettersAndOpenRefuse) {
  Select(AddDisc(korvane::testdiscs::MultiTrackDisc(),
                 Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false)),
         2);
  CDIn->Open();
  EXPECT_EQ(MessageOf([&] { CDIn->SetStartTrack(1); }), "The component is buisy");
  EXPECT_EQ(MessageOf([&] { CDIn->SetEndTrack(1); }), "The component is busy");
  EXPECT_EQ(MessageOf([&] { CDIn->Open(); }), "The component is busy");
  EXPECT_EQ(CDIn->StartTrack(), 2);
  EXPECT_EQ(CDIn->EndTrack(), 2);
  CDIn->Close();
  uint8_t buffer[16];
  EXPECT_EQ(MessageOf([&] { CDIn->ReadData(buffer, sizeof buffer); }), "The Stream is not opened");
  EXPECT_EQ(CDIn->Size, 0);
}

TEST_F(CDInTest, ReadBeforeOpenRefuses) {
  uint8_t buffer[16];
  EXPECT_EQ(MessageOf([&] { CDIn->ReadData(buffer, sizeof buffer); }), "The Stream is not opened");
}

TEST_F(CDInTest, DriveNumberOutOfRangeIsIgnored) {
  const int drive = AddDisc(korvane::testdiscs::MultiTrackDisc(),
                            Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false));
  const int count = CDIn->DriveCount();
  ASSERT_EQ(drive, count - 1);
  CDIn->SetCurrentDrive(drive);
  CDIn->SetCurrentDrive(count);
  EXPECT_EQ(CDIn->CurrentDrive(), drive);
  CDIn->SetCurrentDrive(-1);
  EXPECT_EQ(CDIn->CurrentDrive(), drive);
  EXPECT_EQ(CDIn->BitsPerSample(), 16);
  EXPECT_EQ(CDIn->Channels(), 2);
  EXPECT_EQ(CDIn->SampleRate(), 44100);
}

// A hold left behind would keep the library on this source's old drive: the next
// source that selects another drive, and this one's later switch, would go unseen.
TEST_F(CDInTest, OpensAndClosesInARowLeaveNoDriveHold) {
  const int five = AddDisc(korvane::testdiscs::MultiTrackDisc(),
                           Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false), "five");
  const int three = AddDisc(korvane::testdiscs::DataFirstDisc(),
                            Layout(di::SheetKind::Cue, di::AudioFileKind::Binary, false), "three");
  TCDIn other;
  other.SetCurrentDrive(three);
  for (int round = 0; round < 4; ++round) {
    Select(five, 1 + round);
    CDIn->Open();
    if (round % 2 == 0) ReadToEnd();
    CDIn->Close();
    Select(five, 0);
    MessageOf([&] { CDIn->Open(); });  // refused: start track out of range
    EXPECT_EQ(other.GetTrackCount(), 3);
    EXPECT_EQ(CDIn->GetTrackCount(), 5);
  }
  CDIn->SetCurrentDrive(three);
  EXPECT_EQ(CDIn->GetTrackCount(), 3);
}

// ---------------------------------------------------------------------------------
// The binding: a missing library, cdr.ini
// ---------------------------------------------------------------------------------

// Its message and refusal are in tests/audio/bindings/binding_test.cpp.
TEST_F(CDInTest, WithoutTheLibraryTheHelpersAnswerNothing) {
  CDIn.reset();
  CDRipBinding().Unload();
  CDRipBinding().SetFileNameForTesting("libcdrip-absent.so");
  EXPECT_FALSE(CDRipBinding().Load(ProgramFolder.Path().string()));
  EXPECT_THROW(CDRipAddImageDrive(Images / "any.cue"), EAudioException);
  EXPECT_EQ(CDRipDriveName(0), "");
  EXPECT_EQ(CDRipFindDrive("/dev/sr0"), -1);
}

TEST_F(CDInTest, LibraryComesFromTheProgramFolderFirst) {
  CDIn.reset();
  const std::string copy = ProgramFolder / CDRipBinding().FileName();
  std::filesystem::copy_file(std::string(KORVANE_BIN_DIR) + "/" + CDRipBinding().FileName(), copy);
  CDRipBinding().Unload();
  CDRipBinding().SetFileNameForTesting("");
  CDRipBinding().Load(ProgramFolder.Path().string());
  ASSERT_TRUE(CDRipBinding().Loaded());
  std::ifstream maps("/proc/self/maps");
  const std::string mapped(std::istreambuf_iterator<char>(maps), {});
  EXPECT_NE(mapped.find(copy), std::string::npos)
      << "the copy in the program's folder is the one loaded";
}

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct SettingsCase {
  const char* Name;
  const char* Before;  // nullptr: no file yet
  const char* After;
};

void PrintTo(const SettingsCase& Case, std::ostream* Out) { *Out << Case.Name; }

class SettingsFileTest : public ::testing::TestWithParam<SettingsCase> {
 protected:
  void TearDown() override { CDRipBinding().Unload(); }
  TTempDir Folder;
};

TEST_P(SettingsFileTest, WrittenInTheProgramFolderKeepingTheRest) {
  const std::string path = Folder / "cdr.ini";
  if (GetParam().Before) std::ofstream(path, std::ios::binary) << GetParam().Before;
  LoadLibraryAsFrom(Folder.Path().string() + "/");
  ASSERT_TRUE(CDRipBinding().Loaded());
  EXPECT_EQ(CDRipSettingsPath(), path);
  EXPECT_EQ(ReadText(path), GetParam().After);
}

const SettingsCase SettingsCases[] = {
    {"NoFile", nullptr, "[CD-ROM]\nnActive=0\n"},
    {"OtherSectionsOnly", "[General]\nLanguage=en",
     "[General]\nLanguage=en\n[CD-ROM]\nnActive=0\n"},
    {"ValueReplacedInPlace",
     "; settings\r\n[General]\r\nnActive=7\r\n[cd-rom]\r\nnTransportLayer=1\r\n nActive = 3\r\n"
     "ParanoiaMode=overlap\r\n\r\n[Other]\r\nX=1\r\n",
     "; settings\r\n[General]\r\nnActive=7\r\n[cd-rom]\r\nnTransportLayer=1\r\nnActive=0\r\n"
     "ParanoiaMode=overlap\r\n\r\n[Other]\r\nX=1\r\n"},
    {"KeyAddedToItsSection", "[CD-ROM]\nnTransportLayer=0\n\n[Other]\nX=1\n",
     "[CD-ROM]\nnTransportLayer=0\nnActive=0\n\n[Other]\nX=1\n"},
};

INSTANTIATE_TEST_SUITE_P(Contents, SettingsFileTest, ::testing::ValuesIn(SettingsCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// An offset kept for a drive is in the file beside the rest, and the library gives it
// after its next start.
TEST_F(SettingsFileTest, AKeptReadOffsetIsReadAtTheNextStart) {
  const std::string path = Folder / "cdr.ini";
  std::ofstream(path, std::ios::binary) << "[ReadOffsets]\nOTHER DRIVE=6\n";
  const std::string image = Folder / "disc.cue";
  di::writeDiscImage(korvane::testdiscs::MultiTrackDisc(), image, di::ImageLayout{});
  for (const int offset : {667, -48}) {
    LoadLibraryAsFrom(Folder.Path().string() + "/");
    const int drive = CDRipAddImageDrive(image);
    ASSERT_GE(drive, 0);
    CDRipKeepReadOffset(drive, offset);
    CDRipBinding().Unload();
    LoadLibraryAsFrom(Folder.Path().string() + "/");
    TCDIn source;
    source.SetCurrentDrive(CDRipAddImageDrive(image));
    EXPECT_EQ(source.DriveReadOffset(), offset);
    CDRipBinding().Unload();
  }
  EXPECT_EQ(ReadText(path),
            "[ReadOffsets]\nOTHER DRIVE=6\n" + image + "=-48\n[CD-ROM]\nnActive=0\n");
}

// Points XDG_CONFIG_HOME at a folder of the test's own while it lives.
class TConfigHome {
 public:
  TConfigHome() : Saved_(std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "") {
    ::setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
  }
  ~TConfigHome() {
    if (Saved_.empty())
      ::unsetenv("XDG_CONFIG_HOME");
    else
      ::setenv("XDG_CONFIG_HOME", Saved_.c_str(), 1);
  }
  TTempDir Folder;

 private:
  std::string Saved_;
};

TEST(SettingsFilePlacement, UnwritableProgramFolderFallsBackToTheUserConfigFolder) {
  TConfigHome config;
  LoadLibraryAsFrom((config.Folder.Path() / "no-such-folder").string());
  EXPECT_TRUE(CDRipBinding().Loaded());
  EXPECT_EQ(CDRipSettingsPath(), config.Folder / "korvane/cdr.ini");
  EXPECT_EQ(ReadText(config.Folder / "korvane/cdr.ini"), "[CD-ROM]\nnActive=0\n");
  CDRipBinding().Unload();
}

// Something other than a settings file under the name (a pipe, which a reader would
// wait on forever, or a link to an endless device) counts as no file there: it is
// left alone, and the settings go to the user's folder.
TEST(SettingsFilePlacement, APipeOrAnEndlessDeviceIsNoSettingsFile) {
  for (const std::string kind : {"pipe", "endless"}) {
    TConfigHome config;
    TTempDir program;
    const std::string name = program / "cdr.ini";
    if (kind == "pipe")
      ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    else
      std::filesystem::create_symlink("/dev/zero", name);
    LoadLibraryAsFrom(program.Path().string());
    EXPECT_TRUE(CDRipBinding().Loaded()) << kind;
    EXPECT_EQ(CDRipSettingsPath(), config.Folder / "korvane/cdr.ini") << kind;
    EXPECT_FALSE(std::filesystem::is_regular_file(name)) << kind;
    CDRipBinding().Unload();
  }
}

// ---------------------------------------------------------------------------------
// In a conversion: the worker thread reads the source
// ---------------------------------------------------------------------------------

class CDInPipelineTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    LoadLibraryAsFrom(ProgramFolder.Path().string());
  }
  void TearDown() override {
    CDRipBinding().Unload();
    PipelineTest::TearDown();
  }
  // A multi-track disc image, added as a drive, read by a WAV output.
  void MakeDiscAndChain() {
    di::writeDiscImage(Disc, Dir / "disc.cue");
    CDIn.emplace();
    WaveOut.emplace();
    WaveOut->SetInput(&*CDIn);
    Drive = CDRipAddImageDrive(Dir / "disc.cue");
  }
  void SelectTrack(int Track) {
    CDIn->SetCurrentDrive(Drive);
    CDIn->SetStartTrack(Track);
    CDIn->SetEndTrack(Track);
  }

  TTempDir ProgramFolder;
  di::DiscSpec Disc = korvane::testdiscs::MultiTrackDisc();
  std::optional<TCDIn> CDIn;
  std::optional<TWaveOut> WaveOut;  // destroyed before the source it reads
  int Drive = -1;
};

TEST_F(CDInPipelineTest, WaveOutputWritesTheTrackFromItsWorkerThread) {
  MakeDiscAndChain();
  for (int track : {2, 4}) {
    SelectTrack(track);
    WaveOut->FileName = Dir / ("track" + std::to_string(track) + ".wav");
    const TRunResult run = RunToEnd(*WaveOut);
    EXPECT_EQ(run.Failures, 0) << run.Failure;
    EXPECT_EQ(run.Done, 1);
    EXPECT_TRUE(PcmOfWav(WaveOut->FileName) == di::expectedTrackPcm(Disc, track));
    EXPECT_FALSE(CDIn->Busy);
  }
}

// The image is cut short while its last track is ripped: the job fails, it is not
// "Done", the failure says that the image changed (not that a drive failed), and the
// file keeps what was read, with true headers. The track is longer than the library
// reads ahead of the source, so its end is still to be read when the image is cut.
TEST_F(CDInPipelineTest, AReadFailureMidTrackFailsTheJob) {
  Disc.tracks.back().sectors = (CR_READ_AHEAD_CHUNKS + 4) * 75 + 14;
  MakeDiscAndChain();
  const int tracks = static_cast<int>(Disc.tracks.size());
  SelectTrack(tracks);
  WaveOut->FileName = Dir / "cut.wav";
  bool cut = false;
  WaveOut->OnProgress = [&](TAudioOutput*) {
    if (cut || CDIn->Position == 0) return;
    const std::string bin = Dir / "disc.bin";
    std::filesystem::resize_file(bin, std::filesystem::file_size(bin) - 10 * TCDIn::SectorBytes);
    cut = true;
  };
  const TRunResult run = RunToEnd(*WaveOut);
  ASSERT_TRUE(cut);
  EXPECT_EQ(run.Done, 0);
  EXPECT_EQ(run.Failures, 1);
  EXPECT_NE(run.Failure.find("The disc image changed during the read"), std::string::npos)
      << run.Failure;
  EXPECT_FALSE(CDIn->Busy);
  const std::vector<uint8_t> file = ReadWholeFile(WaveOut->FileName);
  const auto expected = di::expectedTrackPcm(Disc, tracks);
  ASSERT_GT(file.size(), 44u);
  EXPECT_LT(file.size() - 44, expected.size());
  EXPECT_EQ(Field32(file, 40), file.size() - 44);
  EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), expected.begin()));
}

}  // namespace
