#include "run/conversion_run.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "cdrom/track_entry.h"
#include "jobs/output_copy.h"
#include "run/pipeline_components.h"

namespace {

const char* const OggComment = "Made with Brisomel";

}  // namespace

QString ErrorStatus(const std::string& Message) {
  return QStringLiteral("Error: ") + QString::fromStdString(Message);
}

// Marks the run as going on, and restores the controls when it ends, however it ends.
class TConversionRun::TRunScope {
 public:
  explicit TRunScope(TConversionRun& Run) : Run_(Run) { Run_.Running_ = true; }
  ~TRunScope() {
    Run_.Running_ = false;
    Run_.Current_ = nullptr;
    Run_.Window_.SetRunControlsAvailable(true);
  }
  TRunScope(const TRunScope&) = delete;
  TRunScope& operator=(const TRunScope&) = delete;

 private:
  TConversionRun& Run_;
};

TConversionRun::TConversionRun(TPipelineComponents& Components, TJobList& Jobs,
                               TDriveCatalog& Drives, TRunWindow& Window)
    : Components_(Components), Jobs_(Jobs), Drives_(Drives), Window_(Window) {}

TConversionRun::~TConversionRun() = default;

// ---------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------

// The rows listed when the run starts are converted once each, in the list's order at
// that moment; their Status cells are cleared first, so that no "Done" of an earlier
// run stands on a row this run has not reached.
void TConversionRun::RunConversion() {
  if (Running_) return;
  TRunScope scope(*this);
  RunAborted = 0;
  JobIndex = 0;
  Warnings_.clear();
  // The read settings of cdr.ini that the CD library could not use, with the run's
  // other problems.
  std::istringstream settings(CDRipSettingsWarnings());
  for (std::string line; std::getline(settings, line);) Warnings_.push_back(line);
  TRunOptions options = Window_.RipOptions();
  if (options.HiddenTrackOne) AddHiddenTrackRows();
  RunRows_ = Jobs_.RowIds();
  if (RunRows_.empty()) return;
  Window_.SetRunControlsAvailable(false);
  const std::vector<TRunEntry> entries = ListedEntries(RunRows_);
  for (TJobRowId id : RunRows_) {
    const int row = Jobs_.RowOf(id);
    if (row >= 0 && !Jobs_.Status(row).isEmpty()) Jobs_.SetStatus(id, QString());
    if (row >= 0 && !Jobs_.StatusNote(row).isEmpty()) Jobs_.SetStatusNote(id, QString());
  }
  options.OutDir = Window_.OutputFolder().toStdString();
  // A folder that cannot be written stops the run before its first row, with one
  // message rather than a failure in every row.
  if (const TProblem folderProblem = OutputFolderProblem(options.OutDir))
    throw EAudioException(folderProblem.Text());
  TDiscKnowledge knowledge(Drives_, Window_.Lookup(), *this);
  const std::vector<TPlannedJob> planned = TRunPlanner(Drives_, knowledge, options).Plan(entries);
  NameRows(planned);
  std::vector<std::unique_ptr<TAudioFileOut>> extra;  // outlive the run that uses them
  TRipRun run(options, Components_.CDIn1, knowledge, *this, *this);
  const TRunEncoders encoders =
      Encoders(run, options, planned.size(), TRipRun::DrivesRead(planned), extra);
  Current_ = &run;
  run.Run(planned, encoders);
  Current_ = nullptr;
  ShowProblems(planned, run);
  if (run.EndingProblem()) throw EAudioException(run.EndingProblem().Text());
  if (Window_.RemoveConvertedFilenames()) Jobs_.RemoveConverted();
}

// Each row as the run finds it: a row still named after its entry may be named by
// what is known of its disc.
std::vector<TRunEntry> TConversionRun::ListedEntries(const std::vector<TJobRowId>& Rows) const {
  std::vector<TRunEntry> entries;
  for (TJobRowId id : Rows) {
    const int row = Jobs_.RowOf(id);
    const std::string path = Jobs_.FullPath(row).toStdString();
    const std::string caption = Jobs_.Caption(row).toStdString();
    entries.push_back({path, caption, TProblem(), caption == TrackEntryCaption(path)});
  }
  return entries;
}

// Each disc's audio before track 1 (hidden track one audio) gets a row of its own before
// track 1's, where the run engine finds it, and is converted as track 0.
void TConversionRun::AddHiddenTrackRows() {
  const std::vector<TJobRowId> rows = Jobs_.RowIds();
  const std::vector<THiddenTrackEntry> hidden = HiddenTrackEntries(Drives_, ListedEntries(rows));
  for (const THiddenTrackEntry& entry : hidden)
    Jobs_.AddEntry(QString::fromStdString(entry.Entry.Entry), QString(),
                   Jobs_.RowOf(rows[entry.Before]));
  if (!hidden.empty()) Jobs_.RefreshIcons();
}

// The run's encoders: the format's own component, and copies of it with its settings
// when several tracks are encoded at once. The tag rules are read first: a "Track" box
// that holds no number ends the run at its first row.
TRunEncoders TConversionRun::Encoders(TRipRun& Run, const TRunOptions& Options, size_t Jobs,
                                      size_t Drives,
                                      std::vector<std::unique_ptr<TAudioFileOut>>& Extra) {
  TRunEncoders encoders;
  encoders.Format = Window_.OutputFormat();
  try {
    encoders.Rules = RowTagRules();
  } catch (const std::exception& e) {
    Jobs_.SetStatus(RunRows_.front(), ErrorStatus(e.what()));
    throw;
  }
  TAudioFileOut& model = Components_.Output(encoders.Format);
  if (encoders.Format == TOutputFormat::Mp3) WarnOfChangedBitRates();
  encoders.Outputs.push_back(&model);
  const size_t count = TRipRun::EncodersFor(Options, encoders.Format, Jobs, Drives);
  while (encoders.Outputs.size() < count) {
    Extra.push_back(NewOutputLike(model));
    TRipRun::ConnectEvents(*Extra.back(), Run);
    encoders.Outputs.push_back(Extra.back().get());
  }
  return encoders;
}

// The encoder takes the nearest bit rate it has at its sample rate instead of one the
// MP3 tab asks for that it does not have; the run's message tells of it.
void TConversionRun::WarnOfChangedBitRates() {
  const TMP3Out& mp3 = Components_.MP3Out1;
  for (const TMP3Out::TBitRateChange& change : mp3.BitRateChanges()) {
    const std::string setting = std::string(change.Setting) == "BitRate"         ? "Bitrate"
                                : std::string(change.Setting) == "VBRMinBitrate" ? "VBR minimum"
                                                                                 : "VBR maximum";
    Warnings_.push_back(setting + " " + std::to_string(change.Asked) + " kbit/s became " +
                        std::to_string(change.Used) + " kbit/s: MP3 at " +
                        std::to_string(change.Hz) + " Hz " + change.Why + ".");
  }
}

// The line every Ogg Vorbis file carries; for the other formats with tags, the comment
// lines of their tabs and the tag window's two per-row switches.
TRowTagRules TConversionRun::RowTagRules() const {
  TRowTagRules rules;
  const TOutputFormat format = Window_.OutputFormat();
  if (format == TOutputFormat::Ogg) rules.Comments = {OggComment};
  if (format == TOutputFormat::Ogg || !FormatInfo(format).Tagged) return rules;
  rules.Comments = Window_.CommentLines(format);
  const TMp3RowTags tags = Window_.Mp3RowTags();
  rules.TitleFromName = tags.FilenameAsTitle;
  if (tags.IncrementTrack) {
    bool whole = false;
    rules.FirstTrack = tags.TrackText.trimmed().toInt(&whole);
    if (!whole)
      throw EAudioException("'" + tags.TrackText.toStdString() + "' is not a valid integer value");
  }
  return rules;
}

// Rows that a lookup named show their new names before the run starts.
void TConversionRun::NameRows(const std::vector<TPlannedJob>& Planned) {
  for (size_t job = 0; job < Planned.size(); ++job) {
    const int row = Jobs_.RowOf(RunRows_[job]);
    const QString caption = QString::fromStdString(Planned[job].Caption);
    if (row >= 0 && Jobs_.Caption(row) != caption) Jobs_.SetCaption(RunRows_[job], caption);
  }
}

// One message for the whole run: the tracks that failed (a screenful, the rest counted;
// a row that ended the run has a message of its own), then what else went wrong.
void TConversionRun::ShowProblems(const std::vector<TPlannedJob>& Planned, const TRipRun& Run) {
  constexpr int MaxListed = 15;
  std::vector<std::string> failures;
  for (size_t job = 0; job < Planned.size(); ++job)
    if (Run.Over(job) && Run.Ends()[job].Result == TTrackResult::Failed && !Planned[job].EndsRun)
      failures.push_back(Planned[job].Caption + ": " + Run.Ends()[job].Failure.Text());
  std::string text;
  if (!failures.empty())
    text = std::to_string(failures.size()) + (failures.size() == 1 ? " track" : " tracks") +
           " could not be converted:";
  for (size_t i = 0; i < failures.size() && i < MaxListed; ++i) text += "\n" + failures[i];
  if (failures.size() > MaxListed)
    text += "\n... and " + std::to_string(failures.size() - MaxListed) + " more";
  for (const std::string& warning : Warnings_) text += (text.empty() ? "" : "\n") + warning;
  Warnings_.clear();
  if (!text.empty()) Window_.ShowRunProblem(text);
}

void TConversionRun::Abort() {
  RunAborted = 1;
  if (TRipRun* run = Current_) run->Abort();
}

// ---------------------------------------------------------------------------------
// The outputs' events, handed to the run
// ---------------------------------------------------------------------------------

void TConversionRun::OutputProgress(TAudioOutput* Sender) {
  if (TRipRun* run = Current_) run->OutputProgress(Sender);
}

void TConversionRun::OutputDone(TAudioOutput* Sender) {
  if (TRipRun* run = Current_) run->OutputDone(Sender);
}

void TConversionRun::OutputFailed(TAudioOutput* Sender, const std::exception& E) {
  if (TRipRun* run = Current_) run->OutputFailed(Sender, E);
}

// ---------------------------------------------------------------------------------
// What the run tells: the rows' Status cells
// ---------------------------------------------------------------------------------

void TConversionRun::TrackStarted(size_t Job, const std::string&) {
  JobIndex = static_cast<int>(Job);
  StatusRow = RunRows_[Job];
  const int row = Jobs_.RowOf(StatusRow);
  JobPath = row >= 0 ? Jobs_.FullPath(row) : QString();
  Jobs_.ShowRow(StatusRow);
}

void TConversionRun::TrackProgress(size_t Job, int Percent, int64_t, int64_t) {
  Jobs_.SetStatus(RunRows_[Job], QString::number(Percent) + QStringLiteral("%"));
}

// An aborted job keeps the last percentage its row showed. A whole file that no read
// confirms is "Suspicious", not done. Either notes what test and copy found when it was
// more than a confirmed copy.
void TConversionRun::TrackEnded(size_t Job, const TTrackEnd& End) {
  const TJobRowId row = RunRows_[Job];
  if (End.Result == TTrackResult::Failed) Jobs_.SetStatus(row, ErrorStatus(End.Failure.Text()));
  if (End.Result != TTrackResult::Done || RunAborted == 1) return;
  Jobs_.SetStatus(row, End.Suspicious() ? QStringLiteral("Suspicious") : QStringLiteral("Done"));
  if (End.Suspicious() || End.Proof.Outcome == TTestCopyOutcome::Replaced)
    Jobs_.SetStatusNote(row, QString::fromStdString("Test and copy: " + End.Proof.TestCopy));
}

void TConversionRun::TrackVerdict(size_t Job, const std::string& Verdict) {
  const int row = Jobs_.RowOf(RunRows_[Job]);
  if (row < 0) return;
  const QString earlier = Jobs_.StatusNote(row);
  const QString verdict = QStringLiteral("AccurateRip: ") + QString::fromStdString(Verdict);
  Jobs_.SetStatusNote(RunRows_[Job], earlier.isEmpty() ? verdict : earlier + '\n' + verdict);
}

void TConversionRun::Warning(const std::string& Text) { Warnings_.push_back(Text); }
void TConversionRun::Notice(const std::string& Text) { Warnings_.push_back(Text); }

size_t TConversionRun::ChooseRelease(const std::vector<TDiscInfo>& Matches,
                                     const std::string& Service) {
  return Matches.size() <= 1 ? 0 : Window_.ChooseRelease(Matches, Service);
}

bool TConversionRun::StillWanted(size_t Job) { return Jobs_.RowOf(RunRows_[Job]) >= 0; }

void TConversionRun::RunEnded(const TRunSummary& Summary) { Window_.ShowRunSummary(Summary); }

// ---------------------------------------------------------------------------------
// Waiting
// ---------------------------------------------------------------------------------

void TConversionRun::PumpMessages(int Milliseconds) {
  const auto started = std::chrono::steady_clock::now();
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
  // A local event loop returns at once while the application is quitting; the rest of
  // the time is slept here, so that the poll never spins.
  const auto left =
      std::chrono::milliseconds(Milliseconds) - (std::chrono::steady_clock::now() - started);
  if (left > std::chrono::milliseconds(1)) {
    std::this_thread::sleep_for(left);
    QCoreApplication::processEvents();
  }
}
