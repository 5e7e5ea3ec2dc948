// The run engine that both front ends drive: it rips the planned jobs several at a
// time, one encoder (an output of the run's format) per running job, each fed from its
// job's spool, which the disc reader fills track after track in the order of the jobs
// (each drive read once, front to back). Jobs start in order as encoders become free;
// each job's end goes to the observer (done, failed with the reason, aborted, with what
// reading proved). Once the jobs are over, every disc gets its proof (AccurateRip
// verdicts, rip log, cue sheet) when the run asks for it, and the observer hears the
// run's summary. An abort makes every running encoder finish its file as far as it got
// and skips the jobs not started.
//
// Threads: `Run`, the outputs' events and every call to the observer happen on the
// run's thread, which the event pump keeps serving the outputs' hand-offs while it
// waits. `RequestAbort` may come from any thread (a signal's flag, an Abort button).
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_cdrom.h"
#include "disc_knowledge.h"
#include "disc_reader.h"
#include "replay_gain_pass.h"
#include "rip_job.h"
#include "run_observer.h"
#include "run_plan.h"
#include "track_spool.h"

// The configured outputs a run encodes with: all of one format, with the same settings.
struct TRunEncoders {
  TOutputFormat Format = TOutputFormat::Wav;
  std::vector<TAudioFileOut*> Outputs;  // at least one
  TRowTagRules Rules;                   // what every job's file carries beyond them
};

class TRipRun {
 public:
  TRipRun(const TRunOptions& Options, TCDIn& Source, TDiscKnowledge& Knowledge,
          TRunObserver& Observer, TEventPump& Pump);
  ~TRipRun();
  TRipRun(const TRipRun&) = delete;
  TRipRun& operator=(const TRipRun&) = delete;

  // How many encoders a run of Jobs jobs in Format uses: a WAV file is written as
  // fast as the disc is read, so a second writer would only make the reader spool.
  static size_t EncodersFor(const TRunOptions& Options, TOutputFormat Format, size_t Jobs);
  // Connects Output's events to Run, for outputs without handlers of their own.
  static void ConnectEvents(TAudioFileOut& Output, TRipRun& Run);

  // Rips every job with Encoders, then proves the discs. Returns false when an abort
  // (or a job that ends the run) left jobs unstarted.
  bool Run(const std::vector<TPlannedJob>& Jobs, const TRunEncoders& Encoders);
  // Aborts at once; on the run's thread (a handler run while the run waits).
  void Abort();
  // Asks the run to abort at its next poll; any thread.
  void RequestAbort() { AbortRequested_ = true; }
  // How the run went, as its observer heard at its end.
  TRunSummary Summary() const;
  // The failure of the job that ended the run (an entry that is not a track), if any.
  const std::optional<std::string>& EndingProblem() const { return EndingProblem_; }
  // How each job of the run ended, by index; Over: whether it ended (a job not
  // started, or taken back, did not).
  const std::vector<TTrackEnd>& Ends() const { return Ends_; }
  bool Over(size_t Job) const { return Job < Over_.size() && Over_[Job]; }

  // The outputs' events, on the run's thread.
  void OutputProgress(TAudioOutput* Sender);
  void OutputDone(TAudioOutput* Sender);
  // Any thread.
  void OutputFailed(TAudioOutput* Sender, const std::exception& E);

 private:
  struct TSlot {
    TAudioFileOut* Output = nullptr;
    TJobWatch Watch;
    int Job = -1;  // the job it runs, -1 when free
    std::string FileName;
    std::unique_ptr<TSpoolInput> Input;
    int PollsIdle = 0;
  };

  void StartReading();
  void StartWaitingJobs();
  TSlot* FreeSlot();
  TSlot* SlotOf(const TAudioOutput* Output);
  void LetReaderMoveOn();
  bool CanStart(size_t Job) const;
  void StartJob(size_t Job, TSlot& Slot);
  void SkipJob(size_t Job);
  void FailUnstarted(size_t Job);
  bool SlotEnded(TSlot& Slot);
  void FinishJob(TSlot& Slot);
  void JobOver(size_t Job, const TTrackEnd& End);
  void AbortAll();
  bool AnyRunning() const;
  std::string FileNameOf(const TPlannedJob& Job) const;
  void ProveDiscs();

  const TRunOptions& Options_;
  TCDIn& Source_;
  TDiscKnowledge& Knowledge_;
  TRunObserver& Observer_;
  TEventPump& Pump_;
  const std::vector<TPlannedJob>* Jobs_ = nullptr;
  const TRunEncoders* Encoders_ = nullptr;
  TRowTagRules Rules_;  // the encoders' rules, as this run applies them
  std::vector<std::unique_ptr<TSlot>> Slots_;
  std::vector<std::unique_ptr<TTrackSpool>> Spools_;
  std::unique_ptr<TDiscReader> Reader_;
  std::unique_ptr<TReplayGainPass> Gains_;  // when the run writes ReplayGain
  TRunFileNames Names_;
  std::vector<TTrackEnd> Ends_;
  std::vector<bool> Over_;
  std::vector<std::string> Verdicts_;
  std::optional<std::string> EndingProblem_;
  size_t Next_ = 0;   // the next job to start
  size_t Ended_ = 0;  // jobs over
  bool Aborted_ = false;
  bool ProofUnwritten_ = false;  // a disc's log or cue sheet could not be written
  std::atomic<bool> AbortRequested_{false};
};
