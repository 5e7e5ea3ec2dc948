// The conversion run: `RunConversion` takes the rows of the job list one at a time, in
// list order, points `CDIn1` at the row's track, starts the output of the chosen format
// with it, and waits for the output while the window stays usable (`WaitForOutputs`,
// `PumpMessages`). The outputs' progress and completion write the row's Status cell.
//
// Threads: everything here runs on the window thread except `OutputFailed`, which an
// output calls on the thread where its run failed (its worker, or the window thread
// when its set-up failed inside `Start`); it hands the message to the window thread.
// The progress and completion handlers run on the window thread while the output's
// worker waits for them.
//
// Rows are found by identity, not by index: a row that the user moves while the run
// waits keeps receiving its own status, and a row removed meanwhile is passed over.
#pragma once

#include <QObject>
#include <QString>

#include <exception>
#include <set>
#include <string>

#include "job_list.h"
#include "rip_job.h"
#include "run_proof.h"

class TAudioFileOut;
class TAudioOutput;
class TDriveCatalog;
struct TPipelineComponents;

// The per-row switches of the tag settings window that the MP3 and FLAC job starters
// apply.
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
  // "Write a rip log and cue sheet": each disc of the run gets both beside its files.
  virtual bool WriteRipLog() const { return false; }
  virtual TMp3RowTags Mp3RowTags() const = 0;
  // The comment lines of every FLAC file (the "Flac settings" tab's "Use tags").
  virtual std::vector<std::string> FlacComments() const = 0;
  // False: "Convert" (button and action bar item) and the "General options" tab
  // disabled, the four format tabs hidden. True: all of them available again.
  virtual void SetRunControlsAvailable(bool Available) = 0;
  // Tells of something the run could not do besides its rows (a log not written).
  virtual void ShowRunProblem(const std::string&) {}
};

class TConversionRun : public QObject {
  Q_OBJECT

 public:
  TConversionRun(TPipelineComponents& Components, TJobList& Jobs, TDriveCatalog& Drives,
                 TRunWindow& Window);

  // Converts the rows listed now, one after another. An error that ends the run (a
  // row whose name holds no track number) is written into its row and raised to the
  // caller; the controls are restored in every case.
  void RunConversion();
  // Asks the running output to end its file at its next step; the remaining rows of
  // the run are passed over.
  void Abort();
  bool Running() const { return Running_; }

  // The outputs' events.
  void OutputProgress(TAudioOutput* Sender);
  void OutputDone(TAudioOutput* Sender);
  void OutputFailed(TAudioOutput* Sender, const std::exception& E);

  // Processes window events for Milliseconds, sleeping while there are none.
  void PumpMessages(int Milliseconds);
  // Polls the three outputs every 50 ms until none is running and the job that was
  // started has reported its end.
  void WaitForOutputs();

  // The run's state.
  int RunAborted = 0;
  int JobIndex = 0;         // counts the jobs of the run from 0
  TJobRowId StatusRow = 0;  // the row that the output events write
  QString JobPath;          // the Full path of that row

 private:
  class TRunScope;

  void StartJob();
  void RecordJobFile();
  TAudioFileOut& OutputOf(TOutputFormat Format);
  TRowTagRules RowTagRules() const;
  std::string JobCaption() const;
  void ApplyPendingFailure();
  bool AnyOutputRunning() const;

  TPipelineComponents& Components_;
  TJobList& Jobs_;
  TRunWindow& Window_;
  TJobStarter Starter_;
  TJobWatch Watch_;
  TRunFileNames Names_;  // of the current run
  TRunProofRecorder Proof_;
  std::string JobFailure_;  // why the current job failed; empty when it did not
  // The current job's output and file, when it started one.
  TAudioFileOut* JobOutput_ = nullptr;
  std::string JobFile_;
  bool Running_ = false;
};

// The Status text of a failed job.
QString ErrorStatus(const std::string& Message);
