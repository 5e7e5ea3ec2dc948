#include "conversion_run.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

#include "drive_catalog.h"
#include "pipeline_components.h"
#include "track_entry.h"

namespace {

constexpr int PollMilliseconds = 50;
// An output that has gone idle reports its end within a hand-off; if none has come
// after this many polls, the run goes on rather than wait for ever.
constexpr int MaxPollsWithoutEnd = 100;

const char* const DriveNotReady = "The drive is not ready";
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
    : Components_(Components), Jobs_(Jobs), Drives_(Drives), Window_(Window) {}

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
      }
    }
    ++JobIndex;
  }
  if (Window_.RemoveConvertedFilenames()) Jobs_.RemoveConverted();
}

void TConversionRun::StartJob() {
  JobOutput_ = nullptr;
  JobStarted_ = false;
  JobEnded_ = false;
  try {
    switch (Window_.OutputFormat()) {
      case TOutputFormat::Wav: StartWavJob(JobPath); break;
      case TOutputFormat::Mp3: StartMp3Job(JobPath); break;
      case TOutputFormat::Ogg: StartOggJob(JobPath); break;
    }
  } catch (const std::exception& e) {
    Jobs_.SetStatus(StatusRow, ErrorStatus(e.what()));
    throw;
  }
}

// Points `CDIn1` at the row's track. False (with the job's failure recorded) when the
// entry's drive is not present: it is never read from another drive's disc. With no
// drive at all, `CDIn1` is left as it is and opening it decides.
bool TConversionRun::SetupTrackSource(const QString& Path) {
  TCDIn& source = Components_.CDIn1;
  if (source.DriveCount() == 0) return true;
  const std::string entry = Path.toStdString();
  // A name that holds no track number raises here and ends the run.
  const int track = TrackEntryNumber(entry);
  const int drive = Drives_.DriveOfEntry(entry);
  if (drive < 0) {
    RecordJobFailure(DriveNotReady);
    return false;
  }
  source.SetCurrentDrive(drive);
  source.SetStartTrack(track);
  source.SetEndTrack(track);
  return true;
}

void TConversionRun::StartWavJob(const QString& Path) {
  if (!SetupTrackSource(Path)) return;
  StartOutput(Components_.WaveOut1, ".wav");
}

void TConversionRun::StartMp3Job(const QString& Path) {
  TMP3Out& output = Components_.MP3Out1;
  const TMp3RowTags tags = Window_.Mp3RowTags();
  // The encoder takes tag texts as Latin-1.
  if (tags.FilenameAsTitle) output.Id3TagTitle = JobCaption().toLatin1().toStdString();
  if (tags.IncrementTrack) {
    bool whole = false;
    const int first = tags.TrackText.trimmed().toInt(&whole);
    if (!whole)
      throw EAudioException("'" + tags.TrackText.toStdString() + "' is not a valid integer value");
    output.Id3TagTrack = std::to_string(first + JobIndex);
  }
  if (!SetupTrackSource(Path)) return;
  StartOutput(output, ".mp3");
}

// The output empties its comment list when it finishes a file, but not after a set-up
// that failed; the list is therefore set to the one line rather than appended to, so
// that every file carries the line exactly once.
void TConversionRun::StartOggJob(const QString& Path) {
  TVorbisOut& output = Components_.VorbisOut1;
  output.Comments = {OggComment};
  if (!SetupTrackSource(Path)) return;
  StartOutput(output, ".ogg");
}

void TConversionRun::StartOutput(TAudioFileOut& Output, const char* Extension) {
  Output.SetInput(&Components_.CDIn1);
  Output.FileName = JobFileName(Extension);
  JobOutput_ = &Output;
  JobStarted_ = true;
  Output.Start();
}

// The output folder as it stands, "/", the row's caption with its path separators
// replaced (so that a renamed row never writes outside the folder), the extension.
std::string TConversionRun::JobFileName(const char* Extension) const {
  return Window_.OutputFolder().toStdString() + "/" +
         SafeOutputName(JobCaption().toStdString()) + Extension;
}

QString TConversionRun::JobCaption() const {
  const int row = Jobs_.RowOf(StatusRow);
  return row >= 0 ? Jobs_.Caption(row) : QString();
}

void TConversionRun::Abort() {
  for (TAudioOutput* output : {static_cast<TAudioOutput*>(&Components_.WaveOut1),
                               static_cast<TAudioOutput*>(&Components_.VorbisOut1),
                               static_cast<TAudioOutput*>(&Components_.MP3Out1)}) {
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
  if (Sender != JobOutput_ || !Sender->Busy) return;
  Jobs_.SetStatus(StatusRow, QString::number(Sender->Progress()) + QStringLiteral("%"));
}

void TConversionRun::OutputDone(TAudioOutput* Sender) {
  if (Sender != JobOutput_) return;
  JobEnded_ = true;
  if (RunAborted != 1) Jobs_.SetStatus(StatusRow, QStringLiteral("Done"));
}

void TConversionRun::OutputFailed(TAudioOutput*, const std::exception& E) {
  RecordJobFailure(E.what());
  QMetaObject::invokeMethod(this, [this] { ApplyPendingFailure(); }, Qt::QueuedConnection);
}

void TConversionRun::RecordJobFailure(const std::string& Message) {
  {
    std::lock_guard<std::mutex> hold(FailureLock_);
    PendingFailure_ = Message;
  }
  FailurePending_ = true;
}

void TConversionRun::ApplyPendingFailure() {
  if (!FailurePending_) return;
  std::string message;
  {
    std::lock_guard<std::mutex> hold(FailureLock_);
    message.swap(PendingFailure_);
    FailurePending_ = false;
  }
  JobEnded_ = true;
  Jobs_.SetStatus(StatusRow, ErrorStatus(message));
}

// ---------------------------------------------------------------------------------
// Waiting
// ---------------------------------------------------------------------------------

bool TConversionRun::AnyOutputRunning() const {
  return Components_.VorbisOut1.Status() == osRunning ||
         Components_.WaveOut1.Status() == osRunning ||
         Components_.MP3Out1.Status() == osRunning;
}

// An output is idle a moment before its end is reported (its completion is handed
// over after the run has finished), so the wait also lasts until the report is in:
// the next job must not start while the report of this one could still land in its
// row.
bool TConversionRun::JobHasEnded() const {
  return !JobStarted_ || JobEnded_ || FailurePending_;
}

void TConversionRun::WaitForOutputs() {
  int pollsWithoutEnd = 0;
  while (true) {
    const bool running = AnyOutputRunning();
    PumpMessages(PollMilliseconds);
    if (running) continue;
    if (JobHasEnded() || ++pollsWithoutEnd > MaxPollsWithoutEnd) break;
  }
  ApplyPendingFailure();
}

void TConversionRun::PumpMessages(int Milliseconds) {
  const auto started = std::chrono::steady_clock::now();
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
  // A local event loop returns at once while the application is quitting; the rest of
  // the time is slept here, so that the poll never spins.
  const auto left = std::chrono::milliseconds(Milliseconds) -
                    (std::chrono::steady_clock::now() - started);
  if (left > std::chrono::milliseconds(1)) {
    std::this_thread::sleep_for(left);
    QCoreApplication::processEvents();
  }
}
