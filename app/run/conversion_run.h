// The conversion run: `RunConversion` takes the rows of the job list, in list order,
// and rips them through the run engine that korvane-cli drives too. By default the rows
// are converted strictly one at a time; "Encode several tracks at once" lets the engine
// keep every core busy while the drive is still read once. The outputs' progress and
// completion write each row's Status cell; the run's verdicts go to the cell's tooltip,
// and the run ends with a short summary. The window stays usable while the run waits
// (`PumpMessages`), so Abort works.
//
// Threads: everything here runs on the window thread except `OutputFailed`, which an
// output calls on the thread where its run failed (its worker, or the window thread
// when its set-up failed inside `Start`). The progress and completion handlers run on
// the window thread while the output's worker waits for them.
//
// Rows are found by identity, not by index: a row that the user moves while the run
// waits keeps receiving its own status, and a row removed before its turn is passed over.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "jobs/disc_knowledge.h"
#include "jobs/rip_job.h"
#include "jobs/rip_run.h"
#include "run/job_list.h"

class TAudioFileOut;
class TAudioOutput;
class TDriveCatalog;
struct TPipelineComponents;

// The per-row switches of the tag settings window that the job starters of the formats
// with tags apply (all but Ogg Vorbis).
struct TMp3RowTags {
  bool FilenameAsTitle = false;
  bool IncrementTrack = false;
  QString TrackText;  // the "Track" box
};

// What the run needs of its window: the choices of the "General options" tab, the tag
// switches, and the controls it makes unavailable while it runs.
class TRunWindow {
 public:
  virtual ~TRunWindow() = default;
  virtual QString OutputFolder() const = 0;
  virtual TOutputFormat OutputFormat() const = 0;
  virtual bool RemoveConvertedFilenames() const = 0;
  // How the run reads, proves and names (tracks at a time, test and copy, AccurateRip,
  // the read offset, a log and cue sheet); the output folder is filled in by the run.
  virtual TRunOptions RipOptions() const { return TRunOptions{}; }
  virtual TLookupChoice Lookup() const { return TLookupChoice{}; }
  // A lookup found the disc: the release to use (from 0).
  virtual size_t ChooseRelease(const std::vector<TDiscInfo>&, const std::string&) { return 0; }
  virtual TMp3RowTags Mp3RowTags() const = 0;
  // The comment lines of every file of Format, as its tab gives them ("Use tags").
  virtual std::vector<std::string> CommentLines(TOutputFormat Format) const = 0;
  // False: "Convert" (button and action bar item) and the "General options" tab
  // disabled, the four format tabs hidden. True: all of them available again.
  virtual void SetRunControlsAvailable(bool Available) = 0;
  // Tells, once the run is over, of the rows that failed and of what else the run could
  // not do (a log not written, a lookup that failed).
  virtual void ShowRunProblem(const std::string&) {}
  // The run is over: what it did.
  virtual void ShowRunSummary(const TRunSummary&) {}
};

class TConversionRun : public QObject, private TRunObserver, private TEventPump {
  Q_OBJECT

 public:
  TConversionRun(TPipelineComponents& Components, TJobList& Jobs, TDriveCatalog& Drives,
                 TRunWindow& Window);
  ~TConversionRun() override;

  // Converts the rows listed now. An error that ends the run (a row whose name holds
  // no track number, a "Track" box without a number) is written into its row and
  // raised to the caller; the controls are restored in every case.
  void RunConversion();
  // Makes the running outputs end their files at once; the remaining rows of the run
  // are passed over.
  void Abort();
  bool Running() const { return Running_; }

  // The outputs' events.
  void OutputProgress(TAudioOutput* Sender);
  void OutputDone(TAudioOutput* Sender);
  void OutputFailed(TAudioOutput* Sender, const std::exception& E);

  // Processes window events for Milliseconds, sleeping while there are none.
  void PumpMessages(int Milliseconds);

  // The run's state.
  int RunAborted = 0;
  int JobIndex = 0;         // the job whose row the last event wrote, counted from 0
  TJobRowId StatusRow = 0;  // that row
  QString JobPath;          // the Full path of that row

 private:
  class TRunScope;

  std::vector<TRunEntry> ListedEntries(const std::vector<TJobRowId>& Rows) const;
  void AddHiddenTrackRows();
  TRunEncoders Encoders(TRipRun& Run, const TRunOptions& Options, size_t Jobs, size_t Drives,
                        std::vector<std::unique_ptr<TAudioFileOut>>& Extra);
  TRowTagRules RowTagRules() const;
  void WarnOfChangedBitRates();
  void NameRows(const std::vector<TPlannedJob>& Planned);
  void ShowProblems(const std::vector<TPlannedJob>& Planned, const TRipRun& Run);

  // TRunObserver
  void TrackStarted(size_t Job, const std::string& Name) override;
  void TrackProgress(size_t Job, int Percent, int64_t BytesDone, int64_t BytesTotal) override;
  void TrackEnded(size_t Job, const TTrackEnd& End) override;
  void TrackVerdict(size_t Job, const std::string& Verdict) override;
  void Warning(const std::string& Text) override;
  void Notice(const std::string& Text) override;
  size_t ChooseRelease(const std::vector<TDiscInfo>& Matches, const std::string& Service) override;
  bool StillWanted(size_t Job) override;
  void RunEnded(const TRunSummary& Summary) override;
  // TEventPump
  void Wait(int Milliseconds) override { PumpMessages(Milliseconds); }
  void Wake() override {}

  TPipelineComponents& Components_;
  TJobList& Jobs_;
  TDriveCatalog& Drives_;
  TRunWindow& Window_;
  std::vector<TJobRowId> RunRows_;  // the rows of the current run, by job
  std::vector<std::string> Warnings_;
  std::atomic<TRipRun*> Current_{nullptr};
  bool Running_ = false;
};

// The Status text of a failed job.
QString ErrorStatus(const std::string& Message);
