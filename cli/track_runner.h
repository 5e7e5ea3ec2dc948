// Runs the jobs of a rip several at a time: one encoder (an output of the chosen format)
// per running job, fed from the job's spool, which the disc reader fills track after
// track in the order of the jobs. Jobs start in order as encoders become free; each
// ends as the display tells (Done, Failed, Aborted, with what reading it met). A stop
// signal aborts every running encoder, which finishes its file as far as it got, and
// skips the jobs not started.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "audio_cdrom.h"
#include "cli_options.h"
#include "disc_reader.h"
#include "format_setup.h"
#include "progress_display.h"
#include "rip_job.h"
#include "track_spool.h"

// A job as planned before the run starts (the CD library's drives are all known then).
struct TPlannedJob {
  std::string Entry;    // its track entry
  std::string Problem;  // why it cannot be ripped; empty when it can
  // The failure is told under the entry's name (its source could not be resolved), not
  // under the file name the job would have written.
  bool ProblemOfEntry = false;
  TTrackRead Read;
  std::string Caption;  // its file's name, without folder and extension
  TTrackTags Tags;      // what is known of its track
};

// How a job ended, for what the run proves afterwards.
struct TJobOutcome {
  bool Ended = false;
  bool Done = false;     // Done or Aborted, not Failed
  std::string FileName;  // the file the job kept; empty when none
  std::string Failure;
  TTrackProof Proof;  // what reading it proved (for jobs that were read)
};

class TTrackRunner {
 public:
  // Formats: one configured output per job that may run at once (at least one).
  TTrackRunner(const TCliOptions& Options, std::vector<std::unique_ptr<TFormatSetup>> Formats,
               TProgressDisplay& Display, TQueueDispatcher& Dispatcher, TCDIn& Source,
               const std::atomic<int>& StopSignal);
  ~TTrackRunner();

  // Rips every job; returns false when a stop signal ended the run.
  bool Run(const std::vector<TPlannedJob>& Jobs);
  // How each job of the last run ended, by index.
  const std::vector<TJobOutcome>& Outcomes() const { return Outcomes_; }

 private:
  struct TSlot {
    TFormatSetup* Format = nullptr;
    TJobWatch Watch;
    int Job = -1;  // the job it runs, -1 when free
    std::string FileName;
    std::unique_ptr<TSpoolInput> Input;
    int PollsIdle = 0;
  };

  void ConnectEvents(TSlot& Slot);
  std::string FileNameOf(const TPlannedJob& Job, TOutputFormat Format) const;
  TSlot* FreeSlot();
  void LetReaderMoveOn();
  bool CanStart(size_t Job) const;
  void StartJob(size_t Job, TSlot& Slot);
  void FailUnstarted(size_t Job);
  bool SlotEnded(TSlot& Slot);
  void FinishJob(TSlot& Slot);
  void AbortAll();
  bool AnyRunning() const;

  const TCliOptions& Options_;
  std::vector<std::unique_ptr<TFormatSetup>> Formats_;
  std::vector<std::unique_ptr<TSlot>> Slots_;
  TProgressDisplay& Display_;
  TQueueDispatcher& Dispatcher_;
  TCDIn& Source_;
  const std::atomic<int>& StopSignal_;
  const std::vector<TPlannedJob>* Jobs_ = nullptr;
  std::vector<std::unique_ptr<TTrackSpool>> Spools_;
  std::unique_ptr<TDiscReader> Reader_;
  TRunFileNames Names_;  // the whole invocation is one run
  std::vector<TJobOutcome> Outcomes_;
  size_t Ended_ = 0;
  bool Aborted_ = false;
};
