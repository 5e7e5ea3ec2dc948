// `TForm1`, the main window ("Korvane version 1.00"): it creates the pipeline
// components, lays out the controls, and wires the commands and the components' events
// to the job list (`TJobList`) and the conversion run (`TConversionRun`). The handlers
// carry the names the window declares for them.
//
// Threads: everything runs on the window thread. The outputs' progress and completion
// events reach it through the dispatcher installed here (`TQtMainThreadDispatcher`);
// failures may be reported on a worker and are handed over by the run.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

#include "lookup/disc_lookup.h"
#include "run/conversion_run.h"
#include "run/qt_dispatcher.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QGroupBox;
class QKeyEvent;
class QLineEdit;

class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class TAboutTab;
class TActionBar;
class TAdvertTab;
class TDriveCatalog;
class TForm2;
class TJobList;
class TMp3Settings;
class TOggSettings;
class TFlacSettings;
class TOpusSettings;
class TTrackChooser;
class TWavSettings;
class TWebCommands;
class TWindowFrame;
struct TPipelineComponents;

class TForm1 : public QWidget, private TRunWindow {
  Q_OBJECT

 public:
  // Creates the components from their stored properties; raises EAudioException with
  // the library's message when one of their libraries is missing.
  explicit TForm1(QWidget* Parent = nullptr);
  ~TForm1() override;

  // Controls.
  TActionBar* JvXPBar1;
  QPushButton* JvXPButton4;  // "Convert"
  QPushButton* JvXPButton1;  // "Abort"
  QPushButton* JvXPButton5;  // "+"
  QPushButton* JvXPButton6;  // "-"
  QTabWidget* JvPageControl1;
  QWidget* TabSheet1;          // "General options"
  QWidget* TabSheet2;          // "Wav settings"
  QWidget* TabSheet3;          // "Mp3 settings"
  QWidget* TabSheet4;          // "Ogg settings"
  QWidget* TabSheet7;          // "Flac settings"
  QWidget* TabSheet8;          // "Opus"
  QWidget* TabSheet5;          // "About"
  QWidget* TabSheet6;          // " Online  Advertissement "
  QLineEdit* Edit1;            // the output folder
  QPushButton* Button1;        // "Set folder"
  QCheckBox* CheckBox1;        // "Remove converted filenames"
  QCheckBox* CheckBox2;        // "Track names from the disc"
  QCheckBox* CheckBox3;        // "Write a rip log and cue sheet"
  QCheckBox* CheckBox4;        // "Encode several tracks at once"
  QCheckBox* CheckBox5;        // "Verify each track (test and copy)"
  QCheckBox* CheckBox6;        // "Check each track in AccurateRip"
  QCheckBox* CheckBox7;        // "Write ReplayGain tags"
  QCheckBox* CheckBox8;        // "Rip hidden track one audio"
  QComboBox* ComboBox7;        // "Look the disc up online": none, MusicBrainz, gnudb
  QSpinBox* SpinEdit1;         // "Read offset": the drive's, in samples
  QPushButton* Button2;        // "Find…": the first drive's offset, with AccurateRip
  QLabel* Label1;              // what the last run did
  QRadioButton* RadioButton1;  // "Wav"
  QRadioButton* RadioButton2;  // "Mp3"
  QRadioButton* RadioButton3;  // "Ogg vorbis"
  QRadioButton* RadioButton4;  // "Flac"
  QRadioButton* RadioButton5;  // "Opus"
  QGroupBox* JvGroupBox1;      // "Files to converts"
  TTrackChooser* OpenDialog1;
  // The settings of the four formats, each on its tab.
  TWavSettings* WavSettings;
  TMp3Settings* Mp3Settings;
  TOggSettings* OggSettings;
  TFlacSettings* FlacSettings;
  TOpusSettings* OpusSettings;

  TPipelineComponents& Components() { return *Components_; }
  TJobList& JobList() { return *JobList_; }
  TConversionRun& Run() { return *Run_; }
  TDriveCatalog& Drives() { return *Drives_; }
  QTreeWidget* ListView1() const;

  // The window's own frame (title bar, frame buttons). The controls live in its client
  // area, `Client()`, at their client positions.
  TWindowFrame& Frame() { return *Frame_; }
  QWidget* Client() const;
  // "Visit website", "Online Help", "Donate".
  TWebCommands& WebCommands() { return *WebCommands_; }
  TAboutTab& About() { return *About_; }
  TAdvertTab& Advert() { return *Advert_; }

  // The tag settings window, whose switches the MP3 job starter reads and whose texts
  // "Use tags" copies into the MP3 output.
  void SetTagSettingsWindow(TForm2* Form2);
  void FillTagsFromDisc(const TDiscInfo& Disc);
  void CreateFormatTab(const TOutputFormatInfo& Format);
  QRadioButton* FormatButton(TOutputFormat Format) const;
  // Adds paths as if they were dropped on the window; the reasons for disc images that
  // cannot be read are shown before it returns.
  void AddDroppedPaths(const QStringList& Paths) { WMDropFiles(Paths); }

  // Job list commands.
  void JvXPBar1Items0Click();  // "Add files"
  void Addfile1Click();
  void WMDropFiles(const QStringList& Paths);
  void JvXPBar1Items1Click();  // "Remove files"
  void Remove1Click();
  void Removeall1Click();
  void JvXPBar1Items3Click();  // "Clear all"
  void Editoutputname1Click();
  void ListView1ColumnClick(int Column);
  void JvXPButton5Click();     // "+"
  void JvXPButton6Click();     // "-"
  void JvXPBar1Items4Click();  // "Install software"
  // A key pressed in any control of the window while the Delete key is held down.
  void FormKeyDown(QObject* Receiver, QKeyEvent* Key);

  // The conversion run.
  void JvXPButton4Click();     // "Convert"
  void JvXPBar1Items2Click();  // action bar "Convert"
  void JvXPButton1Click();     // "Abort"
  void Button1Click();         // "Set folder"
  void Button2Click();         // "Find…"
  void WaveOut1Progress(TAudioOutput* Sender);
  void MP3Out1Progress(TAudioOutput* Sender);
  void VorbisOut1Progress(TAudioOutput* Sender);
  void FlacOut1Progress(TAudioOutput* Sender);
  void OpusOut1Progress(TAudioOutput* Sender);
  void WaveOut1Done(TAudioOutput* Sender);
  void MP3Out1Done(TAudioOutput* Sender);
  void VorbisOut1Done(TAudioOutput* Sender);
  void FlacOut1Done(TAudioOutput* Sender);
  void OpusOut1Done(TAudioOutput* Sender);
  void OutputThreadException(TAudioOutput* Sender, const std::exception& E);

  // The message of the last run's failures and problems while it is open; else null.
  QMessageBox* RunProblems() const { return RunProblems_; }

  // Where the run's lookups go; empty: the services' own addresses.
  std::string LookupServer;
  std::string AccurateRipServer;
  // Asks the user which of several releases a lookup found is the disc (the lines
  // describe them); returns its index. A dialog unless replaced.
  std::function<size_t(const QStringList& Releases)> ReleaseDialog;
  // Tells the offset found (Text says how sure) and asks whether cdr.ini keeps it for the
  // drive. A question box unless replaced.
  std::function<bool(const QString& Text)> KeepOffsetDialog;

  // Where the window starts: its own place, or one that fits the screen's Available area
  // when its own place would leave it partly off the screen.
  static constexpr QPoint HomePosition{154, -4};
  static QPoint StartPosition(const QRect& Available, const QSize& Size);

  // The folder that output files are written to when the program starts.
  static QString DefaultOutputFolder();

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  // TRunWindow
  QString OutputFolder() const override;
  TOutputFormat OutputFormat() const override;
  bool RemoveConvertedFilenames() const override;
  TRunOptions RipOptions() const override;
  TLookupChoice Lookup() const override;
  size_t ChooseRelease(const std::vector<TDiscInfo>& Matches, const std::string& Service) override;
  void ShowRunProblem(const std::string& Problem) override;
  void ShowRunSummary(const TRunSummary& Summary) override;
  TMp3RowTags Mp3RowTags() const override;
  std::vector<std::string> CommentLines(TOutputFormat Format) const override;
  void SetRunControlsAvailable(bool Available) override;

  void FormCreate();
  void FormClose();
  void CreateControls();
  void CreateActionBar();
  void CreatePageControl();
  void CreateGeneralOptions();
  void CreateRipOptions();
  size_t ReleaseFromDialog(const QStringList& Releases);
  void CreateJobListGroup();
  void ConnectCommands();
  void ConnectComponentEvents();
  void Convert();
  void ShowError(const QString& Message);
  void ShowUnreadableImages(const QStringList& Reasons);
  bool IsFirstDelivery(QObject* Watched, QEvent* Event);
  static bool IsTextEditor(QObject* Receiver);
  static bool PressFocusedButton(QObject* Receiver, QKeyEvent* Key);

  // Installed before the outputs are created and removed after they are destroyed.
  TQtMainThreadDispatcher Dispatcher_;
  std::unique_ptr<TPipelineComponents> Components_;
  std::unique_ptr<TDriveCatalog> Drives_;
  std::unique_ptr<TJobList> JobList_;
  // The formats' buttons and tabs, in the order of the format table.
  std::vector<std::pair<TOutputFormat, QRadioButton*>> FormatButtons_;
  std::vector<QWidget*> FormatTabs_;
  std::unique_ptr<TConversionRun> Run_;
  TForm2* Form2_ = nullptr;
  TWindowFrame* Frame_;
  TWebCommands* WebCommands_;
  TAboutTab* About_;
  // Destroyed before the tab page that shows its browser.
  std::unique_ptr<TAdvertTab> Advert_;

  // The folder of the last successful "Set folder" choice.
  QString BrowsedFolder_;
  // The format tab that was shown when the running conversion started.
  QPointer<QWidget> TabBeforeRun_;
  // The Delete key is down (tracked from its press and release).
  bool DeleteHeld_ = false;
  // The key press last seen and the control it was delivered to, to tell a new key
  // press from the same one travelling up to the parents of that control.
  const QEvent* LastKeyPress_ = nullptr;
  QPointer<QWidget> LastKeyReceiver_;
  // The read offset as cdr.ini gives the first drive; another value in `SpinEdit1`
  // corrects every drive of a run.
  int StoredReadOffset_ = 0;
  QPointer<QMessageBox> RunProblems_;
  // The window was asked to close while a run was going on.
  bool CloseRequested_ = false;
};
