// The conversion run through the real window: disc images made for each test are
// converted by the window's own components, and the files, the Status cells and the
// controls are checked as a user would see them.
#include "run/conversion_run.h"

#include <time.h>
#include <zlib.h>

#include <QCheckBox>
#include <QRadioButton>
#include <QTest>

#include <chrono>
#include <fstream>
#include <sstream>

#include "app_test_support.h"
#include "proof/rip_log.h"
#include "wav_decoder.h"

namespace {

bool Exists(const std::string& Path) { return std::filesystem::exists(Path); }

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The samples of a PCM .wav file we wrote (after its 44-byte header).
std::vector<uint8_t> PcmOf(const std::string& Wav) {
  const auto bytes = ReadWholeFile(Wav);
  return bytes.size() < 44 ? std::vector<uint8_t>{}
                           : std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
}

// A PCM .wav file whose header counts exactly the bytes it holds: finished, not
// half-written.
void ExpectCompleteWav(const std::string& Wav) {
  const auto bytes = ReadWholeFile(Wav);
  ASSERT_GE(bytes.size(), 44u) << Wav;
  EXPECT_EQ(Field32(bytes, 4), bytes.size() - 8) << Wav;
  EXPECT_EQ(Field32(bytes, 40), bytes.size() - 44) << Wav;
}

int Percent(const QString& Status) {
  return Status.endsWith(QLatin1Char('%')) ? Status.chopped(1).toInt() : -1;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// The captions of the log's rows in the order they were written, each run of writes to
// the same row counted once.
QStringList RowsInWriteOrder(const QStringList& Log) {
  QStringList rows;
  for (const QString& line : Log) {
    const QString caption = line.section(QStringLiteral(": "), 0, 0);
    if (rows.isEmpty() || rows.last() != caption) rows.append(caption);
  }
  return rows;
}

using ConversionRunTest = WindowTest;

TEST_F(ConversionRunTest, ThreeWavRowsAreWrittenOneAtATimeInListOrderThenRemoved) {
  const di::DiscSpec disc = AudioDisc({1, 1.5, 1.2});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {3, 1, 2}));
  Form->CheckBox1->setChecked(true);
  LogStatuses();
  bool controlsAway = true;
  OnStatusWritten(
      [&](QTreeWidgetItem*) { controlsAway = controlsAway && RunControlsUnavailable(); });

  Convert();

  EXPECT_EQ(RowsInWriteOrder(StatusLog), QStringList({"Track03", "Track01", "Track02"}));
  EXPECT_EQ(StatusLog.filter(QStringLiteral(": Done")),
            QStringList({"Track03: Done", "Track01: Done", "Track02: Done"}));
  EXPECT_TRUE(controlsAway);
  for (int track = 1; track <= 3; ++track) {
    const std::string wav = OutFile("Track0" + std::to_string(track) + ".wav");
    EXPECT_TRUE(PcmOf(wav) == di::expectedTrackPcm(disc, track)) << wav;
  }
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(RunControlsAvailable());
}

TEST_F(ConversionRunTest, EditedNamesAreTheFileNamesAndStayInsideTheFolder) {
  const di::DiscSpec disc = AudioDisc({1, 1});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  Select({0});
  RenameSelected(QStringLiteral("Intro"));
  List()->topLevelItem(1)->setText(TJobList::NameColumn, QStringLiteral("../escape/Outro"));

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  EXPECT_TRUE(PcmOf(OutFile("Intro.wav")) == di::expectedTrackPcm(disc, 1));
  EXPECT_TRUE(PcmOf(OutFile("_escape_Outro.wav")) == di::expectedTrackPcm(disc, 2));
  EXPECT_FALSE(Exists(Dir / "escape"));
}

// The aborted row's file is kept as far as it got; an abort over a good file of an
// earlier run keeps that file, and the aborted one beside it as incomplete.
TEST_F(ConversionRunTest, AbortInTheSecondRowKeepsItsPercentageAndTheNextRunIsNormal) {
  const di::DiscSpec disc = AudioDisc({2, 2, 2});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2, 3}));
  Form->CheckBox1->setChecked(true);
  QString abortedAt;
  OnStatusWritten([&](QTreeWidgetItem* Item) {
    if (!abortedAt.isEmpty() || Item->text(TJobList::NameColumn) != "Track02") return;
    if (Percent(Item->text(TJobList::StatusColumn)) < 30) return;
    abortedAt = Item->text(TJobList::StatusColumn);
    Form->JvXPButton1->click();
  });

  Convert();

  ASSERT_FALSE(abortedAt.isEmpty());
  EXPECT_LT(Percent(abortedAt), 100);
  // Only the row that is done goes.
  EXPECT_EQ(Captions(), QStringList({"Track02", "Track03"}));
  EXPECT_EQ(Statuses(), QStringList({abortedAt, ""}));
  ExpectCompleteWav(OutFile("Track02.wav"));
  EXPECT_LT(PcmOf(OutFile("Track02.wav")).size(), di::expectedTrackPcm(disc, 2).size());
  EXPECT_FALSE(Exists(OutFile("Track03.wav")));
  EXPECT_TRUE(RunControlsAvailable());

  Form->CheckBox1->setChecked(false);
  Convert();
  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  EXPECT_TRUE(PcmOf(OutFile("Track02.wav")) == di::expectedTrackPcm(disc, 2));
  EXPECT_TRUE(PcmOf(OutFile("Track03.wav")) == di::expectedTrackPcm(disc, 3));

  // Abort over that good file: it stays, and what was written is kept beside it.
  const std::vector<uint8_t> good = ReadWholeFile(OutFile("Track02.wav"));
  abortedAt.clear();
  Convert();
  ASSERT_FALSE(abortedAt.isEmpty());
  EXPECT_TRUE(ReadWholeFile(OutFile("Track02.wav")) == good);
  ExpectCompleteWav(OutFile("Track02 (incomplete).wav"));
  EXPECT_LT(PcmOf(OutFile("Track02 (incomplete).wav")).size(),
            di::expectedTrackPcm(disc, 2).size());
}

// A new run clears the statuses of the rows it will run, so that no "Done" of an earlier
// run stands on a row it never reached, nor is removed as converted.
TEST_F(ConversionRunTest, ANewRunLeavesNoStaleStatusToRemove) {
  Form->AddDroppedPaths(Entries(MakeDisc(AudioDisc({2, 2})), {1, 2}));
  Convert();
  ASSERT_EQ(Statuses(), QStringList({"Done", "Done"}));
  Form->CheckBox1->setChecked(true);
  OnStatusWritten([&](QTreeWidgetItem* Item) {
    if (Percent(Item->text(TJobList::StatusColumn)) >= 30) Form->JvXPButton1->click();
  });

  Convert();

  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02"}));
  EXPECT_EQ(Statuses().at(1), QString());
}

// A row in the middle that cannot be converted. A failed job shows "Error: " and its
// message and the run goes on; a row whose name holds no track number ends the run
// with a message box. The controls come back in every case.
enum class TMiddleRow { DataTrack, MissingDrive, NotATrackEntry };

struct TFailingRow {
  const char* Name;
  TMiddleRow Middle;
  const char* Message;
  bool EndsTheRun;
  friend void PrintTo(const TFailingRow& Case, std::ostream* Out) { *Out << Case.Name; }
};

class FailingRowTest : public WindowTest, public ::testing::WithParamInterface<TFailingRow> {};

TEST_P(FailingRowTest, IsShownAsAnErrorAndTheRightRowsAreConverted) {
  di::DiscSpec disc = AudioDisc({1});
  disc.tracks.push_back(DataTrack());
  disc.tracks.push_back(AudioTrack(1, di::TrackContent::Ramp));
  const std::string cue = MakeDisc(disc);
  QString middle;
  switch (GetParam().Middle) {
    case TMiddleRow::DataTrack: middle = Entry(cue, 2); break;
    case TMiddleRow::MissingDrive: middle = QStringLiteral("/nowhere/gone.cue/Track01.cda"); break;
    case TMiddleRow::NotATrackEntry: middle = QStringLiteral("/music/notes.txt"); break;
  }
  Form->AddDroppedPaths({Entry(cue, 1), middle, Entry(cue, 3)});
  TMessageBoxCatcher messageBox;

  Convert();

  const QString error = QStringLiteral("Error: ") + QString::fromLatin1(GetParam().Message);
  if (GetParam().EndsTheRun) {
    EXPECT_TRUE(messageBox.Shown());
    EXPECT_EQ(messageBox.Text, QString::fromLatin1(GetParam().Message));
    EXPECT_EQ(Statuses(), QStringList({"Done", error, ""}));
    EXPECT_FALSE(Exists(OutFile("Track03.wav")));
  } else {
    // One message at the run's end lists the row that failed, and why.
    EXPECT_FALSE(messageBox.Shown());
    ASSERT_NE(Form->RunProblems(), nullptr);
    EXPECT_EQ(Form->RunProblems()->text(), QStringLiteral("1 track could not be converted:\n") +
                                               Captions()[1] + QStringLiteral(": ") +
                                               QString::fromLatin1(GetParam().Message));
    EXPECT_EQ(Statuses(), QStringList({"Done", error, "Done"}));
    EXPECT_TRUE(PcmOf(OutFile("Track03.wav")) == di::expectedTrackPcm(disc, 3));
  }
  EXPECT_TRUE(RunControlsAvailable());
}

INSTANTIATE_TEST_SUITE_P(
    Middle, FailingRowTest,
    ::testing::Values(
        TFailingRow{"DataTrack", TMiddleRow::DataTrack, "Trying to rip a data track", false},
        TFailingRow{"MissingDrive", TMiddleRow::MissingDrive, "The drive is not ready", false},
        TFailingRow{"NotATrackEntry", TMiddleRow::NotATrackEntry,
                    "'notes.txt' is not a track entry: its name holds no track number.", true}),
    [](const ::testing::TestParamInfo<TFailingRow>& Info) { return std::string(Info.param.Name); });

// A missing output folder is made with its parents; one that cannot be made stops the
// run before its first row with one message.
TEST_F(ConversionRunTest, TheOutputFolderIsMadeOrTheRunStopsBeforeItsFirstRow) {
  const di::DiscSpec disc = AudioDisc({1, 1});
  Form->AddDroppedPaths(Entries(MakeDisc(disc), {1, 2}));
  WriteWholeFile(Dir / "plain", {1});
  Form->Edit1->setText(QString::fromStdString(Dir / "plain/below"));
  {
    TMessageBoxCatcher messageBox;
    Convert();
    EXPECT_TRUE(messageBox.Text.startsWith(QStringLiteral("The output folder ")))
        << messageBox.Text.toStdString();
  }
  EXPECT_EQ(Statuses(), QStringList({"", ""}));
  EXPECT_TRUE(RunControlsAvailable());

  Form->Edit1->setText(QString::fromStdString(Dir / "new/deeper"));
  Convert();
  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  EXPECT_TRUE(PcmOf(Dir / "new/deeper/Track02.wav") == di::expectedTrackPcm(disc, 2));
}

TEST_F(ConversionRunTest, RowsMovedOrRemovedWhileTheRunWaitsAreFollowedOrPassedOver) {
  const di::DiscSpec disc = AudioDisc({1, 1, 1});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2, 3}));
  bool changed = false;
  OnStatusWritten([&](QTreeWidgetItem* Item) {
    if (changed || Item->text(TJobList::NameColumn) != "Track01") return;
    changed = true;
    Select({2});  // Track03 to the top...
    Form->JvXPButton5->click();
    Form->JvXPButton5->click();
    Select({2});  // ...and Track02 away: [Track03, Track01]
    Form->JvXPBar1Items1Click();
  });
  LogStatuses();

  Convert();

  EXPECT_EQ(Captions(), QStringList({"Track03", "Track01"}));
  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  EXPECT_EQ(RowsInWriteOrder(StatusLog), QStringList({"Track01", "Track03"}));
  EXPECT_FALSE(Exists(OutFile("Track02.wav")));
  EXPECT_TRUE(PcmOf(OutFile("Track01.wav")) == di::expectedTrackPcm(disc, 1));
}

TEST_F(ConversionRunTest, RemovingTheRowBeingConvertedLetsTheRunGoOn) {
  const di::DiscSpec disc = AudioDisc({1, 1});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  bool removed = false;
  OnStatusWritten([&](QTreeWidgetItem* Item) {
    if (removed || Item->text(TJobList::NameColumn) != "Track01") return;
    removed = true;
    Select({0});
    Form->JvXPBar1Items1Click();
  });

  Convert();

  EXPECT_EQ(Captions(), QStringList({"Track02"}));
  EXPECT_EQ(Statuses(), QStringList({"Done"}));
  EXPECT_TRUE(PcmOf(OutFile("Track01.wav")) == di::expectedTrackPcm(disc, 1));
}

// Each format through its job starter and its output, with the defaults.
struct TFormatCase {
  const char* Name;
  int Choice;  // 1 "Wav", 2 "Mp3", 3 "Ogg vorbis"
  const char* Extension;
  friend void PrintTo(const TFormatCase& Case, std::ostream* Out) { *Out << Case.Name; }
};

class FormatTest : public WindowTest, public ::testing::WithParamInterface<TFormatCase> {
 protected:
  QRadioButton* Choice() {
    QRadioButton* choices[] = {Form->RadioButton1, Form->RadioButton2, Form->RadioButton3};
    return choices[GetParam().Choice - 1];
  }
};

size_t Occurrences(const std::vector<uint8_t>& Bytes, const std::string& Text) {
  size_t count = 0;
  auto at = Bytes.begin();
  while ((at = std::search(at, Bytes.end(), Text.begin(), Text.end())) != Bytes.end()) {
    ++count;
    ++at;
  }
  return count;
}

TEST_P(FormatTest, EveryRowEndsDoneWithItsFile) {
  const std::string cue = MakeDisc(AudioDisc({1.5, 1}));
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  Choice()->setChecked(true);

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  for (const char* name : {"Track01", "Track02"}) {
    const auto bytes = ReadWholeFile(OutFile(std::string(name) + GetParam().Extension));
    ASSERT_GT(bytes.size(), 1000u) << name;
    const std::string start(bytes.begin(), bytes.begin() + 4);
    switch (GetParam().Choice) {
      case 1: EXPECT_EQ(start, "RIFF"); break;
      case 2: EXPECT_TRUE(start.compare(0, 3, "ID3") == 0 || bytes[0] == 0xFF) << name; break;
      case 3:
        EXPECT_EQ(start, "OggS");
        EXPECT_EQ(Occurrences(bytes, "Made with Brisomel"), 1u) << name;
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest,
                         ::testing::Values(TFormatCase{"Wav", 1, ".wav"},
                                           TFormatCase{"Mp3", 2, ".mp3"},
                                           TFormatCase{"Ogg", 3, ".ogg"}),
                         [](const ::testing::TestParamInfo<TFormatCase>& Info) {
                           return std::string(Info.param.Name);
                         });

// A failed set-up does not finish the file, so the comment line of that job must not
// be carried into the next one.
TEST_F(ConversionRunTest, AnOggFileAfterAFailedOggJobCarriesTheCommentOnce) {
  di::DiscSpec disc = AudioDisc({1});
  disc.tracks.push_back(DataTrack());
  disc.tracks.push_back(AudioTrack(1, di::TrackContent::Ramp));
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {2, 3}));
  Form->RadioButton3->setChecked(true);

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Error: Trying to rip a data track", "Done"}));
  EXPECT_EQ(Occurrences(ReadWholeFile(OutFile("Track03.ogg")), "Made with Brisomel"), 1u);
}

TEST_F(ConversionRunTest, ConvertingAnEmptyListOnlyRestoresTheControls) {
  Form->JvXPBar1->Item(2)->trigger();
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(RunControlsAvailable());
  EXPECT_TRUE(std::filesystem::is_empty(Out()));
}

TEST_F(ConversionRunTest, WaitingUsesLittleOfTheWindowThread) {
  const double pumpStart = ThreadCpuSeconds();
  Form->Run().PumpMessages(300);
  EXPECT_LT(ThreadCpuSeconds() - pumpStart, 0.03);

  const std::string cue = MakeDisc(AudioDisc({25}));
  Form->AddDroppedPaths(Entries(cue, {1}));
  Form->RadioButton3->setChecked(true);
  Form->show();
  const double cpuStart = ThreadCpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  Convert();
  const double cpu = ThreadCpuSeconds() - cpuStart;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  EXPECT_EQ(Statuses(), QStringList({"Done"}));
  EXPECT_LT(cpu, 0.1 * wall) << "window thread: " << cpu << " s of CPU in " << wall << " s";
}

TEST_F(ConversionRunTest, ClosingDuringARunAbortsItAndFinishesTheFileFirst) {
  const di::DiscSpec disc = AudioDisc({2, 2, 2});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2, 3}));
  Form->show();
  bool closeAsked = false;
  OnStatusWritten([&](QTreeWidgetItem* Item) {
    if (closeAsked || Item->text(TJobList::NameColumn) != "Track02") return;
    if (Percent(Item->text(TJobList::StatusColumn)) < 20) return;
    closeAsked = true;
    EXPECT_FALSE(Form->close());
  });

  Convert();

  ASSERT_TRUE(closeAsked);
  EXPECT_EQ(Status(0), "Done");
  EXPECT_GE(Percent(Status(1)), 20);
  EXPECT_EQ(Status(2), "");
  ExpectCompleteWav(OutFile("Track02.wav"));
  EXPECT_FALSE(Exists(OutFile("Track03.wav")));
  // The window closes once the run has returned.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Form->isVisible(); }, 2000));
}

// "Write a rip log and cue sheet" (off at the start): the rows end as ever, and the disc
// gets a log whose hash holds, with each track's CRC, and a cue sheet of the files that
// reads back to the same tracks.
TEST_F(ConversionRunTest, ARunWritesTheDiscsLogAndCueSheetWhenAsked) {
  const di::DiscSpec disc = AudioDisc({1, 1.5});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  EXPECT_FALSE(Form->CheckBox3->isChecked());
  Form->CheckBox3->click();

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  const std::string log = ReadText(OutFile("disc.log"));
  EXPECT_TRUE(RipLogIntact(log)) << log;
  const std::vector<uint8_t> pcm = PcmOf(OutFile("Track02.wav"));
  char crc[32];
  std::snprintf(crc, sizeof crc, "Copy CRC: %08X",
                static_cast<unsigned>(::crc32(0, pcm.data(), static_cast<unsigned>(pcm.size()))));
  EXPECT_NE(log.find(crc), std::string::npos) << log;
  const int drive = Form->Drives().AddImageDrive(OutFile("disc.cue"));
  ASSERT_GE(drive, 0);
  const TDriveListing listing = Form->Drives().List(drive);
  EXPECT_EQ(listing.Tracks.size(), 2u);
}

}  // namespace
