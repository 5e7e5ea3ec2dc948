#include "conversion_run.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

#include "pipeline_components.h"

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
    Run_.Window_.SetRunControlsAvailable(true);
  }
  TRunScope(const TRunScope&) = delete;
  TRunScope& operator=(const TRunScope&) = delete;

 private:
  TConversionRun& Run_;
};

TConversionRun::TConversionRun(TPipelineComponents& Components, TJobList& Jobs,
                               TDriveCatalog& Drives, TRunWindow& Window)
    : Components_(Components),
      Jobs_(Jobs),
      Window_(Window),
      Starter_(Components.CDIn1, Drives),
      Proof_(Components.CDIn1, Drives) {}

// ---------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------

// The rows listed when the run starts are converted once each. Each job takes the
// topmost of them not yet taken, so the order is the list's order at the moment the
// job starts, and a row removed meanwhile is simply not there to take.
void TConversionRun::RunConversion() {
  if (Running_) return;
  TRunScope scope(*this);
  RunAborted = 0;
  Names_ = TRunFileNames();
  Proof_.BeginRun(Window_.WriteRipLog());
  const std::vector<TJobRowId> listed = Jobs_.RowIds();
  std::set<TJobRowId> waiting(listed.begin(), listed.end());
  const int count = static_cast<int>(listed.size());
  JobIndex = 0;
  for (int job = 0; job < count; ++job) {
    Window_.SetRunControlsAvailable(false);
    const int row = Jobs_.FirstRowAmong(waiting);
    if (row >= 0) {
      StatusRow = Jobs_.RowId(row);
      waiting.erase(StatusRow);
      JobPath = Jobs_.FullPath(row);
      if (RunAborted == 0) {
        StartJob();
        WaitForOutputs();
        RecordJobFile();
      }
    }
    ++JobIndex;
  }
  for (const std::string& problem : Proof_.EndRun(Window_.OutputFolder().toStdString()))
    Window_.ShowRunProblem(problem);
  if (Window_.RemoveConvertedFilenames()) Jobs_.RemoveConverted();
}

// Per-row tags first (a "Track" box that holds no number ends the run), then the
// row's track; a job whose drive is not there fails without starting its output.
void TConversionRun::StartJob() {
  Watch_.Begin(nullptr);
  JobOutput_ = nullptr;
  JobFailure_.clear();
  const TOutputFormat format = Window_.OutputFormat();
  TAudioFileOut& output = OutputOf(format);
  try {
    const std::string caption = JobCaption();
    TJobStarter::ApplyRowTags(output, RowTagRules(), JobIndex, caption);
    const std::string problem = Starter_.SelectTrack(JobPath.toStdString());
    if (!problem.empty()) return Watch_.Failed(problem);
    Watch_.Begin(&output);
    JobFile_ = Names_.Free(JobFileName(Window_.OutputFolder().toStdString(), caption, format));
    JobOutput_ = &output;
    Starter_.StartOutput(output, JobFile_, Proof_.InputOfJob());
  } catch (const std::exception& e) {
    Jobs_.SetStatus(StatusRow, ErrorStatus(e.what()));
    throw;
  }
}

// A file that the job left is the run's: no later job of the run replaces it.
void TConversionRun::RecordJobFile() {
  const bool kept = JobOutput_ && JobOutput_->FileKept();
  if (kept) Names_.Written(JobFile_);
  Proof_.EndJob(kept ? JobFile_ : std::string(), JobFailure_);
}

TAudioFileOut& TConversionRun::OutputOf(TOutputFormat Format) {
  switch (Format) {
    case TOutputFormat::Mp3: return Components_.MP3Out1;
    case TOutputFormat::Ogg: return Components_.VorbisOut1;
    case TOutputFormat::Flac: return Components_.FlacOut1;
    case TOutputFormat::Wav: break;
  }
  return Components_.WaveOut1;
}

// The tag window's two per-row switches (MP3, FLAC), the line every Ogg Vorbis file
// carries, and the comment lines of the FLAC files.
TRowTagRules TConversionRun::RowTagRules() const {
  TRowTagRules rules;
  const TOutputFormat format = Window_.OutputFormat();
  rules.Comments =
      format == TOutputFormat::Flac ? Window_.FlacComments() : std::vector<std::string>{OggComment};
  if (format != TOutputFormat::Mp3 && format != TOutputFormat::Flac) return rules;
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

std::string TConversionRun::JobCaption() const {
  const int row = Jobs_.RowOf(StatusRow);
  return row >= 0 ? Jobs_.Caption(row).toStdString() : std::string();
}

void TConversionRun::Abort() {
  for (TAudioOutput* output : {static_cast<TAudioOutput*>(&Components_.WaveOut1),
                               static_cast<TAudioOutput*>(&Components_.VorbisOut1),
                               static_cast<TAudioOutput*>(&Components_.MP3Out1),
                               static_cast<TAudioOutput*>(&Components_.FlacOut1)}) {
    if (output->Status() == osRunning) output->Abort();
    if (output->Status() == osSuspended) output->Abort();
  }
  RunAborted = 1;
}

// ---------------------------------------------------------------------------------
// The outputs' events
// ---------------------------------------------------------------------------------

// Only the output of the current job, while its run is on, writes the row: the Ogg
// Vorbis output's worker keeps looping when idle and reports the progress it sees on
// its input (0 once the source is closed, or another output's job on the same source).
void TConversionRun::OutputProgress(TAudioOutput* Sender) {
  if (!Watch_.OwnsProgress(Sender)) return;
  Jobs_.SetStatus(StatusRow, QString::number(Sender->Progress()) + QStringLiteral("%"));
}

void TConversionRun::OutputDone(TAudioOutput* Sender) {
  if (Watch_.Done(Sender) && RunAborted != 1) Jobs_.SetStatus(StatusRow, QStringLiteral("Done"));
}

void TConversionRun::OutputFailed(TAudioOutput*, const std::exception& E) {
  Watch_.Failed(E.what());
  QMetaObject::invokeMethod(
      this, [this] { ApplyPendingFailure(); }, Qt::QueuedConnection);
}

void TConversionRun::ApplyPendingFailure() {
  if (const std::optional<std::string> failure = Watch_.TakeFailure()) {
    JobFailure_ = *failure;
    Jobs_.SetStatus(StatusRow, ErrorStatus(*failure));
  }
}

// ---------------------------------------------------------------------------------
// Waiting
// ---------------------------------------------------------------------------------

bool TConversionRun::AnyOutputRunning() const {
  return Components_.VorbisOut1.Status() == osRunning ||
         Components_.WaveOut1.Status() == osRunning || Components_.MP3Out1.Status() == osRunning ||
         Components_.FlacOut1.Status() == osRunning;
}

void TConversionRun::WaitForOutputs() {
  WaitForJobEnd(
      Watch_, [this] { return AnyOutputRunning(); },
      [this](int Milliseconds) { PumpMessages(Milliseconds); });
  ApplyPendingFailure();
}

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
