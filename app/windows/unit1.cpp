#include "windows/unit1.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>

#include "bindings/cdrip_binding.h"
#include "core/program_files.h"
#include "jobs/disc_knowledge.h"
#include "jobs/drive_catalog.h"
#include "run/job_list.h"
#include "run/offset_search.h"
#include "run/pipeline_components.h"
#include "settings/flac_settings.h"
#include "settings/mp3_settings.h"
#include "settings/ogg_settings.h"
#include "settings/opus_settings.h"
#include "settings/unit2.h"
#include "settings/wav_settings.h"
#include "shell/about_tab.h"
#include "shell/advert_tab.h"
#include "shell/desktop_entry.h"
#include "shell/web_commands.h"
#include "text_case.h"
#include "widgets/action_bar.h"
#include "widgets/focus_style.h"
#include "widgets/page_control.h"
#include "widgets/window_frame.h"
#include "windows/track_chooser.h"

namespace {

const QString ApplicationTitle = QStringLiteral("Korvane");

QPushButton* Button(const QString& Caption, QWidget* Parent, const QRect& Place) {
  auto* button = new QPushButton(Caption, Parent);
  button->setGeometry(Place);
  return button;
}

QWidget* Placeholder(QTabWidget* Tabs, const QString& Caption, const QString& Name) {
  auto* sheet = new QWidget(Tabs);
  sheet->setObjectName(Name);
  Tabs->addTab(sheet, Caption);
  return sheet;
}

}  // namespace

TForm1::TForm1(QWidget* Parent)
    : QWidget(Parent),
      Components_(std::make_unique<TPipelineComponents>()),
      Drives_(std::make_unique<TDriveCatalog>()) {
  UseFocusStyle();
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Korvane version 1.00"));
  QFont windowFont = font();
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);
  Frame_ = new TWindowFrame(this, QSize(629, 519));
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(StartPosition(screen->availableGeometry(), size()));
  else
    move(HomePosition);

  CreateControls();
  Run_ = std::make_unique<TConversionRun>(*Components_, *JobList_, *Drives_,
                                          static_cast<TRunWindow&>(*this));
  OpenDialog1 = new TTrackChooser(*Drives_, this);
  ConnectCommands();
  ConnectComponentEvents();
  // Key preview: the window sees the key presses of every one of its controls.
  qApp->installEventFilter(this);
  FormCreate();
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  // The outputs' workers end here, while the dispatcher is still installed and before
  // the job list and the run that their handlers use.
  Components_.reset();
}

// The window stands where it always starts, unless more than a frame's width of it would
// then be off the screen's available area (a small screen, a high scale factor): then it
// is moved to fit, its top left corner kept in view first.
QPoint TForm1::StartPosition(const QRect& Available, const QSize& Size) {
  constexpr int Slack = 16;
  const QRect place(HomePosition, Size);
  if (Available.adjusted(-Slack, -Slack, Slack, Slack).contains(place)) return HomePosition;
  const int x =
      std::max(Available.left(), std::min(HomePosition.x(), Available.right() + 1 - Size.width()));
  const int y =
      std::max(Available.top(), std::min(HomePosition.y(), Available.bottom() + 1 - Size.height()));
  return QPoint(x, y);
}

QTreeWidget* TForm1::ListView1() const { return JobList_->ListView1; }

QWidget* TForm1::Client() const { return Frame_->Client(); }

void TForm1::FormCreate() {
  setAcceptDrops(true);
  Edit1->setText(DefaultOutputFolder());
}

void TForm1::FormClose() {}

// Run from where it was built, `korvane-output/` in the folder it was started from, the
// folder that the command-line front end rips into from there too (the run makes it);
// installed, the user's music folder.
QString TForm1::DefaultOutputFolder() {
  if (!ProgramFiles().OwnFolder().empty())
    return QDir::current().filePath(QStringLiteral("korvane-output")) + QLatin1Char('/');
  QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (music.isEmpty()) music = QDir::homePath();
  return music + QLatin1Char('/');
}

// ---------------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------------

void TForm1::CreateControls() {
  CreateActionBar();
  WebCommands_ = new TWebCommands(Client());
  Label1 = new QLabel(Client());
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(10, 204, 126, 32);
  Label1->setWordWrap(true);
  JvXPButton5 = Button(QStringLiteral("+"), Client(), QRect(8, 240, 60, 25));
  JvXPButton6 = Button(QStringLiteral("-"), Client(), QRect(72, 240, 60, 25));
  JvXPButton4 = Button(QStringLiteral("Convert"), Client(), QRect(8, 272, 60, 25));
  JvXPButton1 = Button(QStringLiteral("Abort"), Client(), QRect(72, 272, 60, 25));
  CreatePageControl();
  CreateJobListGroup();
}

void TForm1::CreateActionBar() {
  JvXPBar1 = new TActionBar(QStringLiteral("Actions"), Client());
  JvXPBar1->setGeometry(8, 8, 129, 143);
  for (const char* caption :
       {"Add files", "Remove files", "Convert", "Clear all", "Install software"})
    JvXPBar1->AddItem(QString::fromLatin1(caption));
}

// Seven tabs; the settings of the formats, "About" and the advertisement fill theirs
// with their own controls.
void TForm1::CreatePageControl() {
  JvPageControl1 = new TPageControl(Client());
  JvPageControl1->setGeometry(145, 64, 478, 233);
  TabSheet1 =
      Placeholder(JvPageControl1, QStringLiteral("General options"), QStringLiteral("TabSheet1"));
  for (const TOutputFormatInfo& format : OutputFormats()) CreateFormatTab(format);
  TabSheet5 = Placeholder(JvPageControl1, QStringLiteral("About"), QStringLiteral("TabSheet5"));
  TabSheet6 = Placeholder(JvPageControl1, QStringLiteral(" Online  Advertissement "),
                          QStringLiteral("TabSheet6"));
  CreateGeneralOptions();
  About_ = new TAboutTab(TabSheet5);
  // The local page lies beside the program, or in the installed data folder.
  Advert_ = std::make_unique<TAdvertTab>(JvPageControl1, TabSheet6,
                                         QString::fromStdString(ProgramFiles().DataFolder));
  JvPageControl1->setCurrentWidget(TabSheet1);
}

void TForm1::CreateGeneralOptions() {
  auto* folderLabel = new QLabel(QStringLiteral("Output folder"), TabSheet1);
  folderLabel->setGeometry(8, 8, 200, 16);
  Edit1 = new QLineEdit(TabSheet1);
  Edit1->setGeometry(8, 26, 340, 22);
  Button1 = Button(QStringLiteral("Set folder"), TabSheet1, QRect(356, 25, 100, 24));
  CheckBox1 = new QCheckBox(QStringLiteral("Remove converted filenames"), TabSheet1);
  CheckBox1->setGeometry(8, 58, 210, 20);
  CreateRipOptions();
  auto* group = new QGroupBox(QStringLiteral("Output format"), TabSheet1);
  group->setGeometry(8, 86, 200, 124);
  int top = 20;
  for (const TOutputFormatInfo& format : OutputFormats()) {
    auto* button = new QRadioButton(QString::fromUtf8(format.Caption), group);
    button->setGeometry(12, top, 170, 20);
    top += 20;
    FormatButtons_.emplace_back(format.Format, button);
  }
  RadioButton1 = FormatButton(TOutputFormat::Wav);
  RadioButton2 = FormatButton(TOutputFormat::Mp3);
  RadioButton3 = FormatButton(TOutputFormat::Ogg);
  RadioButton4 = FormatButton(TOutputFormat::Flac);
  RadioButton5 = FormatButton(TOutputFormat::Opus);
  RadioButton1->setChecked(true);
}

QRadioButton* TForm1::FormatButton(TOutputFormat Format) const {
  for (const auto& [format, button] : FormatButtons_)
    if (format == Format) return button;
  return nullptr;
}

// How tracks are read, proved and named: a column beside the output format, every
// option off at the start (the rows are then converted one at a time, as read).
void TForm1::CreateRipOptions() {
  int top = 50;
  const auto option = [this, &top](const char* Caption) {
    auto* box = new QCheckBox(QString::fromUtf8(Caption), TabSheet1);
    box->setGeometry(224, top, 240, 17);
    top += 16;
    return box;
  };
  CheckBox2 = option("Track names from the disc");
  CheckBox3 = option("Write a rip log and cue sheet");
  CheckBox4 = option("Encode several tracks at once");
  CheckBox5 = option("Verify each track (test and copy)");
  CheckBox6 = option("Check each track in AccurateRip");
  CheckBox7 = option("Write ReplayGain tags");
  CheckBox8 = option("Rip hidden track one audio");
  CheckBox8->setToolTip(
      QStringLiteral("Audio before track 1 (hidden track one audio) gets a row of its own and "
                     "is ripped as track 0"));
  auto* lookupLabel = new QLabel(QStringLiteral("Look the disc up online"), TabSheet1);
  lookupLabel->setGeometry(226, 164, 140, 20);
  ComboBox7 = new QComboBox(TabSheet1);
  ComboBox7->addItems(
      {QStringLiteral("none"), QStringLiteral("MusicBrainz"), QStringLiteral("gnudb")});
  ComboBox7->setGeometry(368, 163, 96, 22);
  auto* offsetLabel = new QLabel(QStringLiteral("Read offset (samples)"), TabSheet1);
  offsetLabel->setGeometry(226, 187, 140, 20);
  SpinEdit1 = new QSpinBox(TabSheet1);
  SpinEdit1->setRange(-44100, 44100);
  if (Drives_->DriveCount() > 0) StoredReadOffset_ = Drives_->ReadOffsetOf(0);
  SpinEdit1->setValue(StoredReadOffset_);
  SpinEdit1->setToolTip(
      QStringLiteral("The first drive's read offset as cdr.ini keeps it; another value "
                     "corrects every drive of the next runs"));
  SpinEdit1->setGeometry(368, 186, 60, 22);
  Button2 = Button(QStringLiteral("Find…"), TabSheet1, QRect(430, 185, 40, 24));
  Button2->setToolTip(
      QStringLiteral("Finds the first drive's read offset with a disc that the AccurateRip "
                     "database knows"));
}

// A format's tab, with its settings, which write straight into its output when they
// change.
void TForm1::CreateFormatTab(const TOutputFormatInfo& Format) {
  QWidget* tab = Placeholder(JvPageControl1, QString::fromUtf8(Format.SettingsTab), QString());
  FormatTabs_.push_back(tab);
  switch (Format.Format) {
    case TOutputFormat::Wav:
      TabSheet2 = tab;
      WavSettings = new TWavSettings(tab, Components_->WaveOut1);
      break;
    case TOutputFormat::Mp3:
      TabSheet3 = tab;
      Mp3Settings = new TMp3Settings(tab, Components_->MP3Out1);
      break;
    case TOutputFormat::Ogg:
      TabSheet4 = tab;
      OggSettings = new TOggSettings(tab, Components_->VorbisOut1);
      break;
    case TOutputFormat::Flac:
      TabSheet7 = tab;
      FlacSettings = new TFlacSettings(tab, Components_->FlacOut1);
      break;
    case TOutputFormat::Opus:
      TabSheet8 = tab;
      OpusSettings = new TOpusSettings(tab, Components_->OpusOut1);
      break;
  }
}

void TForm1::SetTagSettingsWindow(TForm2* Form2) {
  Form2_ = Form2;
  Mp3Settings->SetTagSettingsWindow(Form2);
  FlacSettings->SetTagSettingsWindow(Form2);
  OpusSettings->SetTagSettingsWindow(Form2);
}

void TForm1::CreateJobListGroup() {
  JvGroupBox1 = new QGroupBox(QStringLiteral("Files to converts"), Client());
  JvGroupBox1->setGeometry(5, 312, 620, 201);
  // The list takes the room that a larger window gives.
  Frame_->Anchor(JvGroupBox1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);
  JobList_ = std::make_unique<TJobList>(JvGroupBox1, *Drives_);
  auto* layout = new QVBoxLayout(JvGroupBox1);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->addWidget(JobList_->ListView1);
  // Rows listed before (a disc named at the start, tracks added one by one) are named too.
  connect(CheckBox2, &QCheckBox::toggled, this, [this](bool Checked) {
    JobList_->NamesFromDisc = Checked;
    if (Checked) JobList_->NameRowsFromDisc();
  });
  JobList_->OnDiscText = [this](const TDiscInfo& Disc) { FillTagsFromDisc(Disc); };
}

// What a disc says of itself fills the tag window's boxes that the user left empty, and
// every format's files get what the tag window then shows.
void TForm1::FillTagsFromDisc(const TDiscInfo& Disc) {
  if (!Form2_) return;
  auto fill = [](QLineEdit* Box, const std::string& Value) {
    if (Box->text().isEmpty()) Box->setText(QString::fromStdString(Value));
  };
  fill(Form2_->Edit2, Disc.Artist);
  fill(Form2_->Edit1, Disc.Album);
  fill(Form2_->Edit5, YearOfDate(Disc.Year));
  if (Form2_->ComboBox1->currentText().isEmpty() && !Disc.Genre.empty())
    Form2_->ComboBox1->setCurrentText(QString::fromStdString(Disc.Genre));
  // As the tag window's Close does: the MP3 output takes what the window now shows.
  Mp3Settings->ApplyTagSwitch();
}

void TForm1::ConnectCommands() {
  connect(JvXPBar1->Item(0), &QAction::triggered, this, [this] { JvXPBar1Items0Click(); });
  connect(JvXPBar1->Item(1), &QAction::triggered, this, [this] { JvXPBar1Items1Click(); });
  connect(JvXPBar1->Item(2), &QAction::triggered, this, [this] { JvXPBar1Items2Click(); });
  connect(JvXPBar1->Item(3), &QAction::triggered, this, [this] { JvXPBar1Items3Click(); });
  connect(JvXPBar1->Item(4), &QAction::triggered, this, [this] { JvXPBar1Items4Click(); });
  connect(JvXPButton4, &QPushButton::clicked, this, [this] { JvXPButton4Click(); });
  connect(JvXPButton1, &QPushButton::clicked, this, [this] { JvXPButton1Click(); });
  connect(JvXPButton5, &QPushButton::clicked, this, [this] { JvXPButton5Click(); });
  connect(JvXPButton6, &QPushButton::clicked, this, [this] { JvXPButton6Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(JobList_->Addfile1, &QAction::triggered, this, [this] { Addfile1Click(); });
  connect(JobList_->Remove1, &QAction::triggered, this, [this] { Remove1Click(); });
  connect(JobList_->Removeall1, &QAction::triggered, this, [this] { Removeall1Click(); });
  connect(JobList_->Editoutputname1, &QAction::triggered, this, [this] { Editoutputname1Click(); });
  connect(ListView1()->header(), &QHeaderView::sectionClicked, this,
          [this](int Column) { ListView1ColumnClick(Column); });
}

void TForm1::ConnectComponentEvents() {
  TPipelineComponents& c = *Components_;
  c.WaveOut1.OnProgress = [this](TAudioOutput* Sender) { WaveOut1Progress(Sender); };
  c.WaveOut1.OnDone = [this](TAudioOutput* Sender) { WaveOut1Done(Sender); };
  c.MP3Out1.OnProgress = [this](TAudioOutput* Sender) { MP3Out1Progress(Sender); };
  c.MP3Out1.OnDone = [this](TAudioOutput* Sender) { MP3Out1Done(Sender); };
  c.VorbisOut1.OnProgress = [this](TAudioOutput* Sender) { VorbisOut1Progress(Sender); };
  c.VorbisOut1.OnDone = [this](TAudioOutput* Sender) { VorbisOut1Done(Sender); };
  c.FlacOut1.OnProgress = [this](TAudioOutput* Sender) { FlacOut1Progress(Sender); };
  c.FlacOut1.OnDone = [this](TAudioOutput* Sender) { FlacOut1Done(Sender); };
  c.OpusOut1.OnProgress = [this](TAudioOutput* Sender) { OpusOut1Progress(Sender); };
  c.OpusOut1.OnDone = [this](TAudioOutput* Sender) { OpusOut1Done(Sender); };
  const auto failed = [this](TAudioOutput* Sender, const std::exception& E) {
    OutputThreadException(Sender, E);
  };
  c.WaveOut1.OnThreadException = failed;
  c.MP3Out1.OnThreadException = failed;
  c.VorbisOut1.OnThreadException = failed;
  c.FlacOut1.OnThreadException = failed;
  c.OpusOut1.OnThreadException = failed;
}

// ---------------------------------------------------------------------------------
// Job list commands
// ---------------------------------------------------------------------------------

void TForm1::JvXPBar1Items0Click() { JobList_->AddChosenFiles(OpenDialog1->Execute()); }
void TForm1::Addfile1Click() { JvXPBar1Items0Click(); }
void TForm1::WMDropFiles(const QStringList& Paths) {
  ShowUnreadableImages(JobList_->AddDroppedFiles(Paths));
}
void TForm1::JvXPBar1Items1Click() { JobList_->RemoveSelected(); }
void TForm1::Remove1Click() { JobList_->RemoveSelected(); }
void TForm1::Removeall1Click() { JobList_->RemoveAll(); }
void TForm1::JvXPBar1Items3Click() { JobList_->RemoveAll(); }
void TForm1::Editoutputname1Click() { JobList_->EditSelectedName(); }
void TForm1::ListView1ColumnClick(int Column) { JobList_->SortByColumn(Column); }
void TForm1::JvXPButton5Click() { JobList_->MoveSelectedUp(); }
void TForm1::JvXPButton6Click() { JobList_->MoveSelectedDown(); }

// A desktop entry for the program as it stands now, where it stands.
void TForm1::JvXPBar1Items4Click() {
  const QString failure =
      WriteDesktopEntry(DesktopFolder(), QCoreApplication::applicationFilePath());
  if (!failure.isEmpty()) {
    ShowError(failure);
    return;
  }
  QMessageBox message(QMessageBox::NoIcon, ApplicationTitle, ShortcutAddedMessage, QMessageBox::Ok,
                      this);
  message.exec();
}

// Removes the selected rows while Delete is held, unless text is being edited: typing
// in the output-folder box or editing a name in place must not delete rows.
void TForm1::FormKeyDown(QObject* Receiver, QKeyEvent*) {
  if (!DeleteHeld_ || IsTextEditor(Receiver) || JobList_->IsEditingName()) return;
  JobList_->RemoveSelected();
}

// Enter and the keypad's Enter press the focused button, as Space does.
bool TForm1::PressFocusedButton(QObject* Receiver, QKeyEvent* Key) {
  auto* button = qobject_cast<QAbstractButton*>(Receiver);
  if (!button || !button->isEnabled() || Key->modifiers() & ~Qt::KeypadModifier) return false;
  if (Key->key() != Qt::Key_Return && Key->key() != Qt::Key_Enter) return false;
  button->click();
  return true;
}

bool TForm1::IsTextEditor(QObject* Receiver) {
  if (qobject_cast<QLineEdit*>(Receiver) || qobject_cast<QTextEdit*>(Receiver) ||
      qobject_cast<QPlainTextEdit*>(Receiver) || qobject_cast<QAbstractSpinBox*>(Receiver))
    return true;
  const auto* combo = qobject_cast<QComboBox*>(Receiver);
  return combo && combo->isEditable();
}

void TForm1::dragEnterEvent(QDragEnterEvent* Event) {
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* Event) {
  QStringList paths;
  for (const QUrl& url : Event->mimeData()->urls())
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  Event->acceptProposedAction();
  // The program the files were dragged from waits until the drop has been handled, so
  // the reasons for refused images are shown once it is over.
  const QStringList unreadable = JobList_->AddDroppedFiles(paths);
  if (!unreadable.isEmpty())
    QTimer::singleShot(0, this, [this, unreadable] { ShowUnreadableImages(unreadable); });
}

// One message box for all the disc images of a drop that could not be read, each
// reason naming its file.
void TForm1::ShowUnreadableImages(const QStringList& Reasons) {
  if (Reasons.isEmpty()) return;
  QString text = Reasons.join(QStringLiteral("\n\n"));
  if (Reasons.size() > 1)
    text.prepend(QStringLiteral("%1 disc images cannot be read.\n\n").arg(Reasons.size()));
  QMessageBox::warning(this, ApplicationTitle, text);
}

// A key press reaches the application's filters once for its control and again for
// each parent it travels up to; only the first delivery is a new key press.
bool TForm1::IsFirstDelivery(QObject* Watched, QEvent* Event) {
  if (Event->type() != QEvent::KeyPress) {
    LastKeyPress_ = nullptr;
    return true;
  }
  auto* widget = static_cast<QWidget*>(Watched);
  QWidget* last = LastKeyReceiver_.data();
  const bool travelling = Event == LastKeyPress_ && last && widget->isAncestorOf(last);
  LastKeyPress_ = Event;
  LastKeyReceiver_ = widget;
  return !travelling;
}

bool TForm1::eventFilter(QObject* Watched, QEvent* Event) {
  const QEvent::Type type = Event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* widget = qobject_cast<QWidget*>(Watched);
    if (widget && widget->window() == this && IsFirstDelivery(Watched, Event)) {
      auto* key = static_cast<QKeyEvent*>(Event);
      if (type == QEvent::KeyPress) {
        if (key->key() == Qt::Key_Delete) DeleteHeld_ = true;
        if (PressFocusedButton(Watched, key)) return true;
        FormKeyDown(Watched, key);
      } else if (key->key() == Qt::Key_Delete && !key->isAutoRepeat()) {
        DeleteHeld_ = false;
      }
    }
  } else if (type == QEvent::WindowDeactivate && Watched == this) {
    DeleteHeld_ = false;
  }
  return QWidget::eventFilter(Watched, Event);
}

// ---------------------------------------------------------------------------------
// The conversion run
// ---------------------------------------------------------------------------------

void TForm1::JvXPButton4Click() { Convert(); }
void TForm1::JvXPBar1Items2Click() { Convert(); }
void TForm1::JvXPButton1Click() { Run_->Abort(); }

void TForm1::Convert() {
  try {
    Run_->RunConversion();
  } catch (const std::exception& e) {
    ShowError(QString::fromStdString(e.what()));
  }
  if (CloseRequested_) {
    CloseRequested_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

void TForm1::ShowError(const QString& Message) {
  QMessageBox::critical(this, ApplicationTitle, Message);
}

// The browser opens at the folder of its last successful choice (at first, the one the
// box names). A cancelled browse leaves the output folder as it was, so a run never
// falls back to the root folder; a chosen folder is shown without a trailing separator.
void TForm1::Button1Click() {
  const QString start = BrowsedFolder_.isEmpty() ? Edit1->text() : BrowsedFolder_;
  const QString chosen =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Set folder"), start);
  if (chosen.isEmpty()) return;
  BrowsedFolder_ = QDir::cleanPath(chosen);
  Edit1->setText(BrowsedFolder_);
}

void TForm1::WaveOut1Progress(TAudioOutput* Sender) { Run_->OutputProgress(Sender); }
void TForm1::MP3Out1Progress(TAudioOutput* Sender) { Run_->OutputProgress(Sender); }
void TForm1::VorbisOut1Progress(TAudioOutput* Sender) { Run_->OutputProgress(Sender); }
void TForm1::FlacOut1Progress(TAudioOutput* Sender) { Run_->OutputProgress(Sender); }
void TForm1::OpusOut1Progress(TAudioOutput* Sender) { Run_->OutputProgress(Sender); }
void TForm1::WaveOut1Done(TAudioOutput* Sender) { Run_->OutputDone(Sender); }
void TForm1::MP3Out1Done(TAudioOutput* Sender) { Run_->OutputDone(Sender); }
void TForm1::VorbisOut1Done(TAudioOutput* Sender) { Run_->OutputDone(Sender); }
void TForm1::FlacOut1Done(TAudioOutput* Sender) { Run_->OutputDone(Sender); }
void TForm1::OpusOut1Done(TAudioOutput* Sender) { Run_->OutputDone(Sender); }

// May run on an output's worker: the run hands the message to the window thread.
void TForm1::OutputThreadException(TAudioOutput* Sender, const std::exception& E) {
  Run_->OutputFailed(Sender, E);
}

// Closing while a run is going on aborts it; the window closes once the current file
// has been finished and the run has ended.
void TForm1::closeEvent(QCloseEvent* Event) {
  if (Run_->Running()) {
    CloseRequested_ = true;
    JvXPButton1Click();
    Event->ignore();
    return;
  }
  FormClose();
  Event->accept();
}

// ---------------------------------------------------------------------------------
// What the run reads of the window
// ---------------------------------------------------------------------------------

QString TForm1::OutputFolder() const { return Edit1->text(); }

TOutputFormat TForm1::OutputFormat() const {
  for (const auto& [format, button] : FormatButtons_)
    if (button->isChecked()) return format;
  return TOutputFormat::Wav;
}

bool TForm1::RemoveConvertedFilenames() const { return CheckBox1->isChecked(); }
// With "Look the disc up online", rows still named after their entries take the
// tracks' titles and the files their tags.
// The offset found corrects the next runs at once; cdr.ini keeps it when the user agrees.
void TForm1::Button2Click() {
  if (Drives_->DriveCount() == 0)
    return ShowError(QStringLiteral("There is no CD drive whose read offset could be found."));
  TProblem problem;
  const std::optional<TFoundOffset> found = SearchReadOffset(this, 0, AccurateRipServer, problem);
  if (!found) {
    if (problem) ShowError(QString::fromStdString(problem.Text()));
    return;
  }
  SpinEdit1->setValue(found->Offset);
  const QString text = QStringLiteral(
                           "The drive's read offset is %1 samples: %2 of %3 tracks read match the "
                           "AccurateRip database at it (confidence %4).\n\nKeep it in cdr.ini for "
                           "this drive?")
                           .arg(QString::asprintf("%+d", found->Offset))
                           .arg(found->TracksMatched)
                           .arg(found->TracksRead)
                           .arg(found->Confidence);
  const bool keep = KeepOffsetDialog
                        ? KeepOffsetDialog(text)
                        : QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
  if (!keep) return;
  try {
    CDRipKeepReadOffset(0, found->Offset);
    StoredReadOffset_ = found->Offset;
  } catch (const std::exception& e) {
    ShowError(QString::fromStdString(e.what()));
  }
}

TRunOptions TForm1::RipOptions() const {
  TRunOptions options;
  options.TracksAtOnce =
      CheckBox4->isChecked() ? std::max(1u, std::thread::hardware_concurrency()) : 1;
  options.Verify = CheckBox5->isChecked();
  options.AccurateRip = CheckBox6->isChecked();
  options.AccurateRipServer = AccurateRipServer;
  options.Log = CheckBox3->isChecked();
  options.ReplayGain = CheckBox7->isChecked();
  options.HiddenTrackOne = CheckBox8->isChecked();
  if (SpinEdit1->value() != StoredReadOffset_) options.Offset = SpinEdit1->value();
  const bool lookup = ComboBox7->currentIndex() > 0;
  options.NameTemplate = lookup ? "%t" : "";
  options.TagsFromDisc = lookup;
  return options;
}

TLookupChoice TForm1::Lookup() const {
  const char* const services[] = {"none", "musicbrainz", "gnudb"};
  return TLookupChoice{services[std::clamp(ComboBox7->currentIndex(), 0, 2)], LookupServer,
                       std::string()};  // CDDB is greeted with the login and host
}

size_t TForm1::ChooseRelease(const std::vector<TDiscInfo>& Matches, const std::string&) {
  QStringList releases;
  for (const TDiscInfo& match : Matches)
    releases.append(QString::fromStdString(ReleaseDescription(match)));
  return ReleaseDialog ? ReleaseDialog(releases) : ReleaseFromDialog(releases);
}

// A small modal list; cancelling keeps the first release.
size_t TForm1::ReleaseFromDialog(const QStringList& Releases) {
  bool chosen = false;
  const QString release = QInputDialog::getItem(
      this, ApplicationTitle, QStringLiteral("Several releases match the disc. Which is it?"),
      Releases, 0, false, &chosen);
  const qsizetype index = Releases.indexOf(release);
  return chosen && index >= 0 ? static_cast<size_t>(index) : 0;
}

// The box does not hold the window: the user reads it while the list is there to see.
void TForm1::ShowRunProblem(const std::string& Problem) {
  if (RunProblems_) RunProblems_->close();
  RunProblems_ = new QMessageBox(QMessageBox::Warning, ApplicationTitle,
                                 QString::fromStdString(Problem), QMessageBox::Ok, this);
  RunProblems_->setAttribute(Qt::WA_DeleteOnClose);
  RunProblems_->open();
}

// "5 done, 1 failed", then what was proved when anything was.
void TForm1::ShowRunSummary(const TRunSummary& Summary) {
  QString text = QStringLiteral("%1 done, %2 failed").arg(Summary.Done).arg(Summary.Failed);
  if (Summary.Aborted > 0) text += QStringLiteral(", %1 aborted").arg(Summary.Aborted);
  if (CheckBox5->isChecked() || CheckBox6->isChecked())
    text += QStringLiteral("\n%1 suspicious, %2 accurate")
                .arg(Summary.Suspicious)
                .arg(Summary.Accurate);
  Label1->setText(text);
}

TMp3RowTags TForm1::Mp3RowTags() const { return Form2_ ? Form2_->RowTags() : TMp3RowTags{}; }

std::vector<std::string> TForm1::CommentLines(TOutputFormat Format) const {
  if (Format == TOutputFormat::Flac) return FlacSettings->Comments();
  if (Format == TOutputFormat::Opus) return OpusSettings->Comments();
  return {};
}

// A run started from a format tab shows "General options" while that tab is hidden
// (rather than whichever tab follows it), and returns to it afterwards.
void TForm1::SetRunControlsAvailable(bool Available) {
  JvXPButton4->setEnabled(Available);
  JvXPBar1->Item(2)->setEnabled(Available);
  TabSheet1->setEnabled(Available);
  QWidget* current = JvPageControl1->currentWidget();
  const bool formatTabShown =
      std::find(FormatTabs_.begin(), FormatTabs_.end(), current) != FormatTabs_.end();
  if (!Available && formatTabShown) {
    TabBeforeRun_ = current;
    JvPageControl1->setCurrentWidget(TabSheet1);
  }
  for (QWidget* sheet : FormatTabs_)
    JvPageControl1->setTabVisible(JvPageControl1->indexOf(sheet), Available);
  if (Available && TabBeforeRun_) {
    JvPageControl1->setCurrentWidget(TabBeforeRun_);
    TabBeforeRun_ = nullptr;
  }
}
