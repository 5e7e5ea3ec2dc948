// The window's rip options, each changing what a run does: several tracks encoded at
// once, test and copy with the AccurateRip check (a verdict in the Status tooltip, the
// log and the summary; a track the database confirms read once), the read offset found
// with AccurateRip, ReplayGain tags, and a lookup that names the rows with the release
// chosen.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <thread>

#include "accuraterip_entry.h"
#include "app_test_support.h"
#include "jobs/drive_catalog.h"
#include "loopback_server.h"
#include "proof/rip_log.h"
#include "wav_decoder.h"

namespace {

using RipOptionsTest = WindowTest;

std::string ReadText(const std::string& Path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(Path);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(RipOptionsTest, SeveralTracksAtOnceKeepTwoRowsGoingAndWriteTheSameAudio) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two cores";
  const di::DiscSpec disc = AudioDisc({6, 6, 6});
  Form->AddDroppedPaths(Entries(MakeDisc(disc), {1, 2, 3}));
  Form->RadioButton4->setChecked(true);  // FLAC: encoders do the work, not the writing
  Form->CheckBox4->setChecked(true);
  int mostAtOnce = 0;
  OnStatusWritten([&](QTreeWidgetItem*) {
    mostAtOnce = std::max<int>(mostAtOnce, Statuses().filter(QStringLiteral("%")).size());
  });

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done", "Done"}));
  EXPECT_GE(mostAtOnce, 2);
  for (int track = 1; track <= 3; ++track) {
    const auto pcm = CommandBytes(
        "flac -d -s -c --force-raw-format --endian=little "
        "--sign=signed '" +
        OutFile("Track0" + std::to_string(track) + ".flac") + "'");
    EXPECT_TRUE(pcm == di::expectedTrackPcm(disc, track)) << track;
  }
}

// Rows of two discs (two drives, read at once), mixed in the list: each row ends Done
// with its own track's audio, the names given out in list order.
TEST_F(RipOptionsTest, RowsOfTwoDrivesAtOnceEachGetTheirOwnTrack) {
  const di::DiscSpec first = AudioDisc({3, 1}), second = AudioDisc({1, 3}, 9);
  const std::string firstCue = MakeDisc(first, "first"), secondCue = MakeDisc(second, "second");
  Form->AddDroppedPaths(
      {Entry(firstCue, 1), Entry(secondCue, 1), Entry(secondCue, 2), Entry(firstCue, 2)});
  Form->RadioButton4->setChecked(true);
  Form->CheckBox4->setChecked(true);

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done", "Done", "Done"}));
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"Track01.flac", di::expectedTrackPcm(first, 1)},
      {"Track01 (2).flac", di::expectedTrackPcm(second, 1)},
      {"Track02.flac", di::expectedTrackPcm(second, 2)},
      {"Track02 (2).flac", di::expectedTrackPcm(first, 2)}};
  for (const auto& [name, pcm] : files)
    EXPECT_TRUE(CommandBytes("flac -d -s -c --force-raw-format --endian=little --sign=signed '" +
                             OutFile(name) + "'") == pcm)
        << name;
}

TEST_F(RipOptionsTest, TestAndCopyWithAccurateRipShowVerdictsInTooltipsLogAndSummary) {
  const di::DiscSpec disc = AudioDisc({2, 1, 2});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2, 3}));
  const TDriveListing listing = Form->Drives().List(Form->Drives().AddImageDrive(cue));
  WriteAccurateRipEntry(
      Dir / "served", listing.Toc,
      {di::expectedTrackPcm(disc, 1), di::expectedTrackPcm(disc, 2), di::expectedTrackPcm(disc, 3)},
      {4, 1, 4});
  TLoopbackServer server("tests/audio/proof/entry_server.py", Dir / "served");
  ASSERT_TRUE(server.Started()) << server.StartLine;
  Form->AccurateRipServer = server.Url();
  Form->CheckBox5->setChecked(true);
  Form->CheckBox6->setChecked(true);

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done", "Done"}));
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(
        Jobs().StatusNote(row),
        QStringLiteral("AccurateRip: accurately ripped (confidence %1, v1)").arg(row == 1 ? 1 : 4));
  const QString tooltip =
      List()->topLevelItem(1)->data(TJobList::StatusColumn, Qt::ToolTipRole).toString();
  EXPECT_TRUE(tooltip.startsWith(QStringLiteral("Done\nAccurateRip: accurately")))
      << tooltip.toStdString();
  const std::string log = ReadText(OutFile("disc.log"));
  EXPECT_TRUE(RipLogIntact(log)) << log;
  // Tracks 1 and 3 are proven by AccurateRip in one read; track 2's confidence of 1 is
  // too little, so it is read again.
  EXPECT_NE(log.find("Proof: AccurateRip (confidence 4), one read"), std::string::npos) << log;
  EXPECT_NE(log.find("Test and copy: Test CRC = Copy CRC"), std::string::npos) << log;
  EXPECT_EQ(log.find("Test CRC", log.find("Track 03")), std::string::npos) << log;
  EXPECT_NE(log.find("3 of 3 accurately ripped"), std::string::npos) << log;
  EXPECT_EQ(Form->Label1->text(), QStringLiteral("3 done, 0 failed\n0 suspicious, 3 accurate"));
}

// "Find…" reads the first drive against an entry of its disc as a drive 30 samples late
// would read it, and the offset found corrects the next run; "Write ReplayGain tags"
// gives every file the gains of its track and disc.
TEST_F(RipOptionsTest, TheOffsetFoundCorrectsTheRunAndReplayGainTagsTheFiles) {
  const di::DiscSpec disc = AudioDisc({2, 1, 2});
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2, 3}));
  constexpr size_t Late = 30 * 4;  // bytes of 30 sample pairs
  std::vector<uint8_t> whole;
  for (int track = 1; track <= 3; ++track) {
    const auto pcm = di::expectedTrackPcm(disc, track);
    whole.insert(whole.end(), pcm.begin(), pcm.end());
  }
  whole.resize(whole.size() + Late);
  std::vector<std::vector<uint8_t>> shifted;
  for (size_t track = 1, at = 0; track <= 3; ++track) {
    const size_t bytes = di::expectedTrackPcm(disc, static_cast<int>(track)).size();
    shifted.emplace_back(whole.begin() + at + Late, whole.begin() + at + Late + bytes);
    at += bytes;
  }
  WriteAccurateRipEntry(Dir / "served", Form->Drives().List(0).Toc, shifted, 3);
  TLoopbackServer server("tests/audio/proof/entry_server.py", Dir / "served");
  ASSERT_TRUE(server.Started()) << server.StartLine;
  Form->AccurateRipServer = server.Url();
  QString told;
  Form->KeepOffsetDialog = [&told](const QString& Text) {
    told = Text;
    return false;
  };

  Form->Button2->click();

  EXPECT_EQ(Form->SpinEdit1->value(), 30) << told.toStdString();
  EXPECT_TRUE(told.startsWith(QStringLiteral("The drive's read offset is +30 samples: 3 of 3")))
      << told.toStdString();
  Form->RadioButton4->setChecked(true);
  Form->CheckBox6->setChecked(true);
  Form->CheckBox7->setChecked(true);
  Convert();
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(Jobs().StatusNote(row),
              QStringLiteral("AccurateRip: accurately ripped (confidence 3, v1)"));
  const std::string gains =
      CaptureCommand("metaflac --show-tag=REPLAYGAIN_ALBUM_GAIN '" + OutFile("Track01.flac") +
                     "' '" + OutFile("Track03.flac") + "'")
          .Output;
  EXPECT_EQ(std::count(gains.begin(), gains.end(), '\n'), 2) << gains;
}

TEST_F(RipOptionsTest, ALookupNamesTheRowsWithTheReleaseTheUserChose) {
  Form->AddDroppedPaths(Entries(MakeDisc(AudioDisc({1, 1, 1})), {1, 2, 3}));
  Select({2});
  RenameSelected(QStringLiteral("Mine"));
  TLoopbackServer server("tests/audio/lookup/lookup_server.py", Dir / "requests.log");
  ASSERT_TRUE(server.Started()) << server.StartLine;
  Form->LookupServer = server.Url("/several/ws/2");
  Form->ComboBox7->setCurrentIndex(1);  // MusicBrainz
  QStringList offered;
  Form->ReleaseDialog = [&](const QStringList& Releases) {
    offered = Releases;
    return size_t{1};
  };

  Convert();

  ASSERT_EQ(offered.size(), 2);
  EXPECT_TRUE(offered[1].contains(QStringLiteral("Harbour Lights (Deluxe)")))
      << offered[1].toStdString();
  // A row the user named keeps its name.
  EXPECT_EQ(Captions(), QStringList({"Pier (Remastered)", "Fog Horn (Remastered)", "Mine"}));
  EXPECT_TRUE(std::filesystem::exists(OutFile("Pier (Remastered).wav")));
  EXPECT_EQ(Statuses(), QStringList({"Done", "Done", "Done"}));
}

}  // namespace
