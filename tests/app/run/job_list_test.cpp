// The job list's commands, driven through the real window: the "Add files" dialog,
// dropping, the extension rule, sorting, "+" and "-", the context menu, removing and
// the Delete key, editing names, icons.
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "app_test_support.h"
#include "cue_text.h"
#include "run/pipeline_components.h"
#include "settings/mp3_settings.h"
#include "settings/unit2.h"
#include "windows/track_chooser.h"

namespace {

// Closes every message box that opens while it watches and keeps their texts.
class TMessageBoxes {
 public:
  TMessageBoxes() {
    QObject::connect(&Timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Texts.append(box->text());
        box->reject();
      }
    });
    Timer_.start(5);
  }
  QStringList Texts;

 private:
  QTimer Timer_;
};

class JobListTest : public WindowTest {
 protected:
  // Writes DIR/Name, a cue sheet with the given text, and returns its path.
  QString WriteSheet(const std::string& Name, const std::string& Text) {
    const std::string path = Dir / Name;
    WriteWholeFile(path, std::vector<uint8_t>(Text.begin(), Text.end()));
    return QString::fromStdString(path);
  }
  // The reason the catalogue gives for refusing the disc image Path.
  QString RefusalOf(const QString& Path) {
    try {
      Form->Drives().AddImageDrive(Path.toStdString());
    } catch (const EAudioException& e) {
      return QString::fromUtf8(e.what());
    }
    ADD_FAILURE() << Path.toStdString() << " was taken as a disc image";
    return QString();
  }

  // Opens "Add files" and chooses Wanted there (entries the dialog lists).
  void ChooseInDialog(const QStringList& Wanted) {
    TModalAnswer answer([&](QWidget* Modal) {
      auto* chooser = qobject_cast<TTrackChooser*>(Modal);
      ASSERT_NE(chooser, nullptr);
      QTreeWidget* tree = chooser->TrackTree();
      for (int drive = 0; drive < tree->topLevelItemCount(); ++drive)
        for (int track = 0; track < tree->topLevelItem(drive)->childCount(); ++track) {
          QTreeWidgetItem* item = tree->topLevelItem(drive)->child(track);
          item->setSelected(Wanted.contains(item->data(0, Qt::UserRole).toString()));
        }
      chooser->accept();
    });
    Form->JvXPBar1->Item(0)->trigger();
    EXPECT_TRUE(answer.Answered());
  }

  // Drops Paths on the window as a file manager would.
  void Drop(const QStringList& Paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : Paths) urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    const QPoint where(300, 400);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &drop);
  }

  void AddNamed(const QStringList& Names) {
    QStringList paths;
    for (const QString& name : Names)
      paths.append(QStringLiteral("/discs/") + name + QStringLiteral(".cda"));
    Form->AddDroppedPaths(paths);
  }

  void ClickHeader(int Column) {
    if (!Form->isVisible()) {
      Form->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    QHeaderView* header = List()->header();
    const QPoint inside(header->sectionViewportPosition(Column) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, inside);
  }
};

TEST_F(JobListTest, TheDialogAddsATrackOnceWhileDroppingAddsItEachTime) {
  const std::string cue = MakeDisc(AudioDisc({1, 1, 1}));
  const QString track2 = Entry(cue, 2);
  ChooseInDialog({track2});
  ChooseInDialog({track2});
  EXPECT_EQ(Captions(), QStringList({"Track02"}));
  Drop({track2});
  Drop({track2});
  EXPECT_EQ(Captions(), QStringList({"Track02", "Track02", "Track02"}));
}

TEST_F(JobListTest, TheDialogListsEveryTrackOfEveryDriveInItsOrder) {
  di::DiscSpec disc = AudioDisc({2, 1.5});
  disc.tracks.push_back(DataTrack());
  const std::string cue = MakeDisc(disc);
  const QString drive =
      QString::fromStdString(Form->Drives().DriveName(Form->Drives().AddImageDrive(cue)));
  Form->OpenDialog1->Refill();
  QTreeWidget* tree = Form->OpenDialog1->TrackTree();
  const auto found = tree->findItems(drive, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  ASSERT_EQ(found[0]->childCount(), 3);
  EXPECT_EQ(found[0]->child(0)->text(0), "Track01.cda");
  EXPECT_EQ(found[0]->child(0)->text(1), "0:02.00");
  EXPECT_EQ(found[0]->child(1)->text(1), "0:01.37");
  EXPECT_EQ(found[0]->child(0)->text(2), "audio");
  EXPECT_EQ(found[0]->child(2)->text(2), "data");

  // Choosing all three adds them in the dialog's order, the data track too.
  ChooseInDialog(Entries(cue, {3, 1, 2}));
  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02", "Track03"}));
}

TEST_F(JobListTest, CancellingTheDialogAddsNothing) {
  const std::string cue = MakeDisc(AudioDisc({1}));
  Entry(cue, 1);
  TModalAnswer answer([](QWidget* Modal) { static_cast<QDialog*>(Modal)->reject(); });
  Form->JobList().Addfile1->trigger();
  EXPECT_TRUE(answer.Answered());
  EXPECT_EQ(Rows(), 0);
}

// What the dialog's choice goes through: only new ".cda" entries, the case counting.
struct TChosenFile {
  const char* Path;
  bool Added;
  friend void PrintTo(const TChosenFile& Case, std::ostream* Out) { *Out << Case.Path; }
};

class ChosenFileTest : public WindowTest, public ::testing::WithParamInterface<TChosenFile> {};

TEST_P(ChosenFileTest, OnlyNewEntriesEndingInLowerCaseCdaAreAdded) {
  Jobs().AddChosenFiles({GetParam().Path});
  EXPECT_EQ(Rows(), GetParam().Added ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(ExtensionRule, ChosenFileTest,
                         ::testing::Values(TChosenFile{"/dev/sr0/Track03.cda", true},
                                           TChosenFile{"/discs/album.cue/Track12.cda", true},
                                           TChosenFile{"/dev/sr0/Track03.CDA", false},
                                           TChosenFile{"/music/song.mp3", false},
                                           TChosenFile{"/dev/sr0/Track03.cda.bak", false},
                                           TChosenFile{"/dev/sr0.cda/Track03", false}));

TEST_F(JobListTest, ADroppedFileIsTakenAsItIsAndALongPathIsNotCut) {
  const QString longFolder = QStringLiteral("/music/") + QString(300, QLatin1Char('d'));
  Drop({QStringLiteral("/music/song.mp3"), longFolder + QStringLiteral("/Track07.cda")});
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Jobs().Caption(0), "song");
  EXPECT_EQ(Status(0), "");
  EXPECT_EQ(Jobs().FullPath(0), "/music/song.mp3");
  EXPECT_EQ(Jobs().Caption(1), "Track07");
  EXPECT_EQ(Jobs().FullPath(1), longFolder + QStringLiteral("/Track07.cda"));
}

TEST_F(JobListTest, ADroppedDiscImageAddsItsAudioTracks) {
  di::DiscSpec disc = AudioDisc({1, 1});
  disc.tracks.insert(disc.tracks.begin(), DataTrack());
  const std::string cue = MakeDisc(disc, "mixed");
  Drop({QString::fromStdString(cue)});
  EXPECT_EQ(Captions(), QStringList({"Track02", "Track03"}));
  EXPECT_EQ(Jobs().FullPath(0), Entry(cue, 2));
}

TEST_F(JobListTest, UnreadableDroppedImagesAddNoRowAndShareOneMessageBox) {
  const std::string readable = MakeDisc(AudioDisc({1, 1}), "readable");
  const QString longLine =
      WriteSheet("long.cue", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\nREM " +
                                 std::string(30000, 'x') + "\n    INDEX 01 00:00:00\n");
  const QString missingFile = WriteSheet("missing.cue",
                                         "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n"
                                         "    INDEX 01 00:00:00\n");
  const QString longLineReason = RefusalOf(longLine);
  const QString missingFileReason = RefusalOf(missingFile);
  EXPECT_TRUE(longLineReason.contains(longLine + QStringLiteral(", line 3")))
      << longLineReason.toStdString();
  EXPECT_TRUE(missingFileReason.contains(QStringLiteral("gone.bin")))
      << missingFileReason.toStdString();

  TMessageBoxes boxes;
  Drop({longLine, QString::fromStdString(readable), missingFile});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }));
  ASSERT_EQ(boxes.Texts.size(), 1);
  EXPECT_TRUE(boxes.Texts[0].contains(longLineReason)) << boxes.Texts[0].toStdString();
  // The missing file's reason names the sheet too.
  EXPECT_TRUE(boxes.Texts[0].contains(missingFile + QStringLiteral(": ") + missingFileReason))
      << boxes.Texts[0].toStdString();
  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02"}));
  EXPECT_EQ(Jobs().FullPath(0), Entry(readable, 1));

  // Named on the command line, one unreadable image gives its reason alone.
  boxes.Texts.clear();
  Form->AddDroppedPaths({missingFile});
  EXPECT_EQ(boxes.Texts, QStringList({missingFile + QStringLiteral(": ") + missingFileReason}));
  EXPECT_EQ(Rows(), 2);
}

TEST_F(JobListTest, TheDialogSaysWhyADiscImageCannotBeAdded) {
  const QString sheet = WriteSheet("bad.cue", "TRACK 01 AUDIO\n");
  const QString reason = RefusalOf(sheet);
  TMessageBoxCatcher messageBox;
  EXPECT_FALSE(Form->OpenDialog1->AddImage(sheet));
  EXPECT_EQ(messageBox.Text, reason);
  EXPECT_TRUE(reason.contains(sheet)) << reason.toStdString();
}

TEST_F(JobListTest, TheStatusAndFullPathTooltipsHoldTheirWholeText) {
  const QString path =
      QStringLiteral("/music/") + QString(300, QLatin1Char('d')) + QStringLiteral("/Track07.cda");
  Form->AddDroppedPaths({QStringLiteral("/music/A.cda"), path});
  const auto toolTip = [this](int Column) {
    return List()->model()->index(1, Column).data(Qt::ToolTipRole).toString();
  };
  EXPECT_EQ(toolTip(TJobList::FullPathColumn), path);
  EXPECT_EQ(toolTip(TJobList::StatusColumn), "");
  const TJobRowId id = Jobs().RowId(1);
  Jobs().SetStatus(id, QStringLiteral("42%"));
  EXPECT_EQ(toolTip(TJobList::StatusColumn), "42%");
  const QString error = QStringLiteral(
      "Error: /x/disc.cue, line 3: the line is longer than 4096 bytes, which no cue sheet or "
      ".toc line needs.");
  Jobs().SetStatus(id, error);
  EXPECT_EQ(toolTip(TJobList::StatusColumn), error);

  // A row moved with "+" keeps its tooltips.
  Select({1});
  Form->JvXPButton5->click();
  ASSERT_EQ(Jobs().RowOf(id), 0);
  const QModelIndex moved = List()->model()->index(0, TJobList::StatusColumn);
  EXPECT_EQ(moved.data(Qt::ToolTipRole).toString(), error);
  EXPECT_EQ(moved.siblingAtColumn(TJobList::FullPathColumn).data(Qt::ToolTipRole).toString(), path);
}

TEST_F(JobListTest, SortingTwiceReversesAndAnotherColumnStartsAscending) {
  Form->AddDroppedPaths({"/d/b.cue/Track02.cda", "/d/B.cue/Track03.cda", "/d/a.cue/Track01.cda"});
  ClickHeader(TJobList::FullPathColumn);
  EXPECT_EQ(Captions(), QStringList({"Track03", "Track01", "Track02"}));  // "B" < "a" < "b"
  ClickHeader(TJobList::FullPathColumn);
  EXPECT_EQ(Captions(), QStringList({"Track02", "Track01", "Track03"}));
  ClickHeader(TJobList::NameColumn);
  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02", "Track03"}));
}

// The list starts sorted by name, ascending, so the first click on "Name" reverses.
TEST_F(JobListTest, TheFirstClickOnNameSortsDescendingAndAPrefixSortsFirst) {
  AddNamed({"Intro", "Intro2", "Intr"});
  ClickHeader(TJobList::NameColumn);
  EXPECT_EQ(Captions(), QStringList({"Intro2", "Intro", "Intr"}));
  ClickHeader(TJobList::StatusColumn);
  ClickHeader(TJobList::NameColumn);
  EXPECT_EQ(Captions(), QStringList({"Intr", "Intro", "Intro2"}));
}

// "+" and "-": the selected row moves one place; at either end it stays put.
struct TMove {
  char Button;  // '+' or '-'
  int Selected;
  const char* Order;  // the captions afterwards
  friend void PrintTo(const TMove& Case, std::ostream* Out) {
    *Out << Case.Button << Case.Selected;
  }
};

class MoveTest : public WindowTest, public ::testing::WithParamInterface<TMove> {};

TEST_P(MoveTest, MovesTheSelectedRowOnePlaceAndLosesNone) {
  Form->AddDroppedPaths({"/d/A.cda", "/d/B.cda", "/d/C.cda", "/d/D.cda"});
  const TJobRowId moved = Jobs().RowId(GetParam().Selected);
  Jobs().SetStatus(moved, QStringLiteral("Done"));
  Select({GetParam().Selected});
  (GetParam().Button == '+' ? Form->JvXPButton5 : Form->JvXPButton6)->click();

  EXPECT_EQ(Captions().join(QString()), QString::fromLatin1(GetParam().Order));
  const int place = Jobs().RowOf(moved);
  ASSERT_GE(place, 0);
  EXPECT_EQ(Status(place), "Done");
  EXPECT_TRUE(List()->topLevelItem(place)->isSelected());
  EXPECT_EQ(List()->selectedItems().size(), 1);
  for (int row = 0; row < Rows(); ++row) EXPECT_EQ(Jobs().IconIndex(row), row);
}

INSTANTIATE_TEST_SUITE_P(Ends, MoveTest,
                         ::testing::Values(TMove{'+', 0, "ABCD"}, TMove{'+', 2, "ACBD"},
                                           TMove{'+', 3, "ABDC"}, TMove{'-', 0, "BACD"},
                                           TMove{'-', 2, "ABDC"}, TMove{'-', 3, "ABCD"}));

TEST_F(JobListTest, PlusAndMinusWithoutASelectionChangeNothing) {
  Form->AddDroppedPaths({"/d/A.cda", "/d/B.cda"});
  List()->clearSelection();
  Form->JvXPButton5->click();
  Form->JvXPButton6->click();
  EXPECT_EQ(Captions(), QStringList({"A", "B"}));
}

TEST_F(JobListTest, TheContextMenuOffersRemovingOnlyWhenThereAreRows) {
  TJobList& jobs = Jobs();
  EXPECT_FALSE(jobs.Remove1->isEnabled());
  EXPECT_FALSE(jobs.Removeall1->isEnabled());
  Form->AddDroppedPaths({"/d/A.cda"});
  emit List()->customContextMenuRequested(QPoint(10, 10));
  EXPECT_TRUE(jobs.JvPopupMenu1->isVisible());
  EXPECT_TRUE(jobs.Remove1->isEnabled());
  EXPECT_TRUE(jobs.Removeall1->isEnabled());
  jobs.Removeall1->trigger();
  jobs.JvPopupMenu1->hide();
  EXPECT_EQ(Rows(), 0);
  emit List()->customContextMenuRequested(QPoint(10, 10));
  EXPECT_FALSE(jobs.Remove1->isEnabled());
  EXPECT_FALSE(jobs.Removeall1->isEnabled());
  EXPECT_TRUE(jobs.Addfile1->isEnabled());
  EXPECT_TRUE(jobs.Editoutputname1->isEnabled());
  jobs.JvPopupMenu1->hide();
}

TEST_F(JobListTest, RemovingSelectedConvertedAndAllRows) {
  AddNamed({"A", "B", "C", "D", "E"});
  Select({0, 2});
  Form->JvXPBar1->Item(1)->trigger();
  EXPECT_EQ(Captions(), QStringList({"B", "D", "E"}));
  Jobs().SetStatus(Jobs().RowId(0), QStringLiteral("Done"));
  Jobs().SetStatus(Jobs().RowId(1), QStringLiteral("Done "));
  Jobs().SetStatus(Jobs().RowId(2), QStringLiteral("Done"));
  Jobs().RemoveConverted();
  EXPECT_EQ(Captions(), QStringList({"D"}));
  Form->JvXPBar1->Item(3)->trigger();
  EXPECT_EQ(Rows(), 0);
}

TEST_F(JobListTest, TheDeleteKeyRemovesSelectedRowsOnlyWhenNoTextIsEdited) {
  AddNamed({"A", "B", "C", "D"});
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  List()->setFocus();
  List()->setCurrentItem(List()->topLevelItem(1));
  Select({1});
  QTest::keyClick(List(), Qt::Key_Delete);
  EXPECT_EQ(Captions(), QStringList({"A", "C", "D"}));
  // Another Delete (a held key repeating) finds nothing selected.
  QTest::keyClick(List(), Qt::Key_Delete);
  EXPECT_EQ(Rows(), 3);

  // Typing in the output-folder box.
  Select({0});
  Form->Edit1->setText(QStringLiteral("xfolder"));
  Form->Edit1->setCursorPosition(0);
  QTest::keyClick(Form->Edit1, Qt::Key_Delete);
  EXPECT_EQ(Form->Edit1->text(), "folder");
  EXPECT_EQ(Rows(), 3);

  // Editing a name in place.
  Form->JobList().Editoutputname1->trigger();
  auto* editor = List()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(Jobs().IsEditingName());
  QTest::keyClick(editor, Qt::Key_Delete);
  EXPECT_EQ(Rows(), 3);
  QTest::keyClick(editor, Qt::Key_Escape);
  EXPECT_FALSE(Jobs().IsEditingName());

  // Any key pressed while Delete is held, and none once it is released.
  QTest::keyPress(List(), Qt::Key_Delete);
  EXPECT_EQ(Captions(), QStringList({"C", "D"}));
  Select({1});
  QTest::keyClick(Form->JvXPButton4, Qt::Key_A);
  EXPECT_EQ(Captions(), QStringList({"C"}));
  QTest::keyRelease(List(), Qt::Key_Delete);
  Select({0});
  QTest::keyClick(List(), Qt::Key_A);
  EXPECT_EQ(Captions(), QStringList({"C"}));
}

TEST_F(JobListTest, EditNameRenamesTheSelectedRowAndWithoutOneDoesNothing) {
  AddNamed({"Track01", "Track02"});
  List()->clearSelection();
  Form->Editoutputname1Click();
  EXPECT_FALSE(Jobs().IsEditingName());

  Select({1});
  RenameSelected(QStringLiteral("Intro"));
  EXPECT_EQ(Captions(), QStringList({"Track01", "Intro"}));
  EXPECT_EQ(Jobs().FullPath(1), "/discs/Track02.cda");
}

TEST_F(JobListTest, RowsKeepTheirIconIndexUntilTheIconsAreRefreshed) {
  AddNamed({"A", "B", "C"});
  Select({0});
  Form->JvXPBar1Items1Click();
  EXPECT_EQ(Jobs().IconIndex(0), 1);
  EXPECT_EQ(Jobs().IconIndex(1), 2);
  AddNamed({"D"});
  for (int row = 0; row < Rows(); ++row) EXPECT_EQ(Jobs().IconIndex(row), row);
  EXPECT_EQ(Jobs().ImageList1.size(), Rows());
}

// A very long name widens its column, but the Status column stays in view.
TEST_F(JobListTest, ALongNameLeavesTheStatusColumnInView) {
  Form->show();
  Jobs().AddEntry(QStringLiteral("/dev/sr0/Track01.cda"), QString(295, QLatin1Char('n')));
  Jobs().FitNameColumn();
  EXPECT_GT(List()->columnWidth(TJobList::NameColumn), 200);
  EXPECT_LE(List()->columnWidth(TJobList::NameColumn) + List()->columnWidth(TJobList::StatusColumn),
            List()->width());
}

// "Track names from the disc" (off at the start) names the rows of a dropped disc by its
// tracks' titles and fills the tag window's empty boxes; what the user typed stays.
TEST_F(JobListTest, TrackNamesFromTheDiscNameTheRowsAndFillTheTagWindow) {
  const std::string cue = MakeDisc(AudioDisc({1, 1, 1}));
  AddCueTexts(cue, {"PERFORMER \"The Band\"", "TITLE \"Café Album\"", "REM DATE 2001"},
              {"Song One", "", "Song/Three"});
  TForm2 tags;
  Form->SetTagSettingsWindow(&tags);
  tags.Edit1->setText(QStringLiteral("My Album"));
  EXPECT_FALSE(Form->CheckBox2->isChecked());
  Form->AddDroppedPaths({QString::fromStdString(cue)});
  EXPECT_EQ(Captions(), QStringList({"Track01", "Track02", "Track03"}));
  EXPECT_TRUE(tags.Edit2->text().isEmpty());

  Form->Mp3Settings->CheckBox7->click();  // "Use tags"
  Form->CheckBox2->click();
  // Rows listed before (a disc named at the start) are named once the option is on, and
  // so are rows added in every other way.
  EXPECT_EQ(Captions(), QStringList({"Song One", "Track02", "Song/Three"}));
  const std::string other = MakeDisc(AudioDisc({1}), "other");
  AddCueTexts(other, {}, {"Solo"});
  Jobs().AddChosenFiles(Entries(other, {1}));
  Form->AddDroppedPaths({QString::fromStdString(cue)});
  EXPECT_EQ(Captions().mid(3), QStringList({"Solo", "Song One", "Track02", "Song/Three"}));
  EXPECT_EQ(tags.Edit2->text(), "The Band");
  // The MP3 files get what the tag window now shows, as after its Close.
  EXPECT_EQ(Form->Components().MP3Out1.Id3TagArtist.Get(), "The Band");
  EXPECT_EQ(tags.Edit1->text(), "My Album");
  EXPECT_EQ(tags.Edit5->text(), "2001");
}

}  // namespace
