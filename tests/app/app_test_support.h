// The user's side of the window tests: a fresh main window with its real components,
// disc images made for the test by the disc-image maker, and helpers that act as a
// user would (answering dialogs, dropping, clicking) or watch what the window shows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bindings/madlib.h"
#include "cdrom/track_entry.h"
#include "disc_image.h"
#include "jobs/drive_catalog.h"
#include "outputs/audio_vorbis.h"
#include "run/job_list.h"
#include "temp_dir.h"
#include "widgets/action_bar.h"
#include "windows/unit1.h"

namespace di = korvane::discimage;

// Readable failure messages for Qt's strings (found by argument-dependent lookup).
inline void PrintTo(const QString& Text, std::ostream* Out) {
  *Out << '"' << Text.toStdString() << '"';
}

// Answers the first modal dialog that opens while it watches, from inside that
// dialog's own event loop.
class TModalAnswer {
 public:
  explicit TModalAnswer(std::function<void(QWidget*)> Answer) : Answer_(std::move(Answer)) {
    QObject::connect(&Timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      Timer_.stop();
      Answered_ = true;
      Answer_(modal);
    });
    Timer_.start(5);
  }
  bool Answered() const { return Answered_; }

 private:
  std::function<void(QWidget*)> Answer_;
  QTimer Timer_;
  bool Answered_ = false;
};

// Closes the first message box that opens and keeps its text.
class TMessageBoxCatcher {
 public:
  TMessageBoxCatcher()
      : Answer_([this](QWidget* Modal) {
          if (auto* box = qobject_cast<QMessageBox*>(Modal)) Text = box->text();
          if (auto* dialog = qobject_cast<QDialog*>(Modal)) dialog->reject();
        }) {}
  bool Shown() const { return Answer_.Answered(); }
  QString Text;

 private:
  TModalAnswer Answer_;
};

inline di::TrackSpec AudioTrack(double Seconds,
                                di::TrackContent Content = di::TrackContent::Music) {
  di::TrackSpec track;
  track.content = Content;
  track.sectors = static_cast<int>(Seconds * di::kSectorsPerSecond);
  return track;
}

inline di::TrackSpec DataTrack() {
  di::TrackSpec track;
  track.content = di::TrackContent::Data;
  track.sectors = 150;
  return track;
}

// A disc of audio tracks of the given lengths, each with its own content.
inline di::DiscSpec AudioDisc(const std::vector<double>& Seconds, uint32_t Seed = 1) {
  const di::TrackContent contents[] = {di::TrackContent::Music, di::TrackContent::Ramp,
                                       di::TrackContent::Noise, di::TrackContent::Chord};
  di::DiscSpec disc;
  disc.seed = Seed;
  for (size_t i = 0; i < Seconds.size(); ++i)
    disc.tracks.push_back(AudioTrack(Seconds[i], contents[i % 4]));
  return disc;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadVorbisLibraries();
    MadBinding().Load();
    Form = std::make_unique<TForm1>();
    std::filesystem::create_directories(Out());
    Form->Edit1->setText(QString::fromStdString(Out()));
  }
  void TearDown() override { Form.reset(); }

  std::string Out() const { return Dir / "out"; }
  std::string OutFile(const std::string& Name) const { return Out() + "/" + Name; }

  // Writes the disc image DIR/Name.cue and returns the sheet's path.
  std::string MakeDisc(const di::DiscSpec& Disc, const std::string& Name = "disc") {
    const std::string cue = Dir / (Name + ".cue");
    di::writeDiscImage(Disc, cue);
    return cue;
  }
  // The track entry of a track of the disc image, the image being added as a drive.
  QString Entry(const std::string& Cue, int Track) {
    const int drive = Form->Drives().AddImageDrive(Cue);
    EXPECT_GE(drive, 0) << Cue;
    return QString::fromStdString(TrackEntryPath(Form->Drives().DriveName(drive), Track));
  }
  QStringList Entries(const std::string& Cue, const std::vector<int>& Tracks) {
    QStringList entries;
    for (int track : Tracks) entries.append(Entry(Cue, track));
    return entries;
  }

  TJobList& Jobs() { return Form->JobList(); }
  QTreeWidget* List() { return Form->ListView1(); }
  int Rows() { return Jobs().RowCount(); }
  QString Status(int Row) { return Jobs().Status(Row); }
  QStringList Captions() {
    QStringList captions;
    for (int row = 0; row < Rows(); ++row) captions.append(Jobs().Caption(row));
    return captions;
  }
  QStringList Statuses() {
    QStringList statuses;
    for (int row = 0; row < Rows(); ++row) statuses.append(Status(row));
    return statuses;
  }
  void Select(const std::vector<int>& RowsToSelect) {
    List()->clearSelection();
    for (int row : RowsToSelect) List()->topLevelItem(row)->setSelected(true);
  }

  // Runs Action each time a Status cell is written (with the row's item).
  void OnStatusWritten(std::function<void(QTreeWidgetItem*)> Action) {
    QObject::connect(List(), &QTreeWidget::itemChanged, Form.get(),
                     [Action](QTreeWidgetItem* Item, int Column) {
                       if (Column == TJobList::StatusColumn) Action(Item);
                     });
  }
  // Every Status written during the test, as "caption: status".
  void LogStatuses() {
    OnStatusWritten([this](QTreeWidgetItem* Item) {
      StatusLog.append(Item->text(TJobList::NameColumn) + QStringLiteral(": ") +
                       Item->text(TJobList::StatusColumn));
    });
  }

  void Convert() { Form->JvXPButton4->click(); }

  // Types Name into the in-place editor of the selected row and presses Return, as a
  // user renaming it through "Edit name" does.
  void RenameSelected(const QString& Name) {
    Form->Editoutputname1Click();
    auto* editor = List()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, Name);
    QTest::keyClick(editor, Qt::Key_Return);
    // The view takes the edited text in from its event loop.
    QCoreApplication::processEvents();
  }

  // The controls that a run makes unavailable are all available.
  bool RunControlsAvailable() {
    QTabWidget* tabs = Form->JvPageControl1;
    return Form->JvXPButton4->isEnabled() && Form->JvXPBar1->Item(2)->isEnabled() &&
           Form->TabSheet1->isEnabled() && tabs->isTabVisible(tabs->indexOf(Form->TabSheet2)) &&
           tabs->isTabVisible(tabs->indexOf(Form->TabSheet3)) &&
           tabs->isTabVisible(tabs->indexOf(Form->TabSheet4));
  }
  // ... and all unavailable.
  bool RunControlsUnavailable() {
    QTabWidget* tabs = Form->JvPageControl1;
    return !Form->JvXPButton4->isEnabled() && !Form->JvXPBar1->Item(2)->isEnabled() &&
           !Form->TabSheet1->isEnabled() && !tabs->isTabVisible(tabs->indexOf(Form->TabSheet2)) &&
           !tabs->isTabVisible(tabs->indexOf(Form->TabSheet3)) &&
           !tabs->isTabVisible(tabs->indexOf(Form->TabSheet4));
  }

  TTempDir Dir;
  std::unique_ptr<TForm1> Form;
  QStringList StatusLog;
};
