// The run engine that both front ends drive: it rips the planned jobs several at a
// time, one encoder (an output of the run's format) per running job, each fed from its
// job's spool. Each drive that the jobs name (a disc image is a drive of its own) has a
// disc reader of its own, which fills the spools of that drive's jobs track after
// track in the order of the jobs (each drive read once, front to back), at the drive's
// own pace. As encoders become free, the jobs whose tracks are ready start, the one
// that waited longest first, so the drives share the encoders; with one encoder the
// jobs go in list order. Jobs of several drives may therefore start and end out of list
// order; the observer hears each by its index. With test and copy and the AccurateRip
// check, each drive's disc is looked up as its reading starts, so that a track the
// database confirms needs no test read. When test and copy finds the copy to be the odd
// one out, two other reads agreeing, the job's encoder encodes their audio again before
// the job ends, and that file replaces the first. Each job's end goes to the observer
// (done, failed with the reason, aborted, with what reading proved). Once the jobs are
// over, every disc gets its proof (AccurateRip verdicts, rip log, cue sheet) when the
// run asks for it, and the observer hears the run's summary. An abort makes every
// running encoder finish its file as far as it got and skips the jobs not started.
//
// Threads: `Run`, the outputs' events and every call to the observer happen on the
// run's thread, which the event pump keeps serving the outputs' hand-offs while it
// waits. `RequestAbort` may come from any thread (a signal's flag, an Abort button).
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cdrom/audio_cdrom.h"
#include "jobs/disc_knowledge.h"
#include "jobs/disc_reader.h"
#include "jobs/replay_gain_pass.h"
#include "jobs/rip_job.h"
#include "jobs/run_observer.h"
#include "jobs/run_plan.h"
#include "jobs/track_spool.h"

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

  // How many encoders a run of Jobs jobs in Format uses, Drives of them read at once: a
  // WAV file is written as fast as the disc is read, so a second writer per drive would
  // only make its reader spool.
  static size_t EncodersFor(const TRunOptions& Options, TOutputFormat Format, size_t Jobs,
                            size_t Drives = 1);
  // How many drives the planned jobs read (each a reader of its own).
  static size_t DrivesRead(const std::vector<TPlannedJob>& Jobs);
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
  const TProblem& EndingProblem() const { return EndingProblem_; }
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
  // One drive's reader, with its own source, and the jobs it reads in their order.
  struct TLane {
    int Drive = 0;
    std::unique_ptr<TCDIn> Source;
    std::unique_ptr<TDiscReader> Reader;
    std::vector<size_t> Jobs;
    // With test and copy and the AccurateRip check: the disc's entry, looked up while
    // the drive is read (its reader proves tracks with it, the proof uses it too).
    std::shared_future<TAccurateRipLookup> Entry;
    size_t Started = 0;  // of Jobs: started or taken back; Jobs[Started] is next
    size_t Ended = 0;    // of Jobs: over or taken back
  };

  struct TSlot {
    TAudioFileOut* Output = nullptr;
    TJobWatch Watch;
    int Job = -1;  // the job it runs, -1 when free
    std::string FileName;
    // While the job's file is encoded again from the audio that two reads agree on: the
    // job's end as its first encoding left it, the file the new one is written to, and
    // the new audio's loudness (with ReplayGain), which counts once the new file does.
    std::optional<TTrackEnd> Pending;
    std::string Staged;
    std::unique_ptr<TLoudnessMeter> Meter;
    std::unique_ptr<TAudioInput> Input;  // the job's source, which may feed Meter
    int PollsIdle = 0;
  };

  void StartReading();
  void NoteHiddenAudio();
  void LookUpWhileReading(TLane& Lane);
  void StartWaitingJobs();
  void FailProblemsInTurn();
  bool EndRunInTurn();
  std::optional<size_t> NextReadyJob();
  void MarkStarted(size_t Job);
  void AdmitReads(TLane& Lane);
  void ReserveNames();
  TSlot* FreeSlot();
  TSlot* SlotOf(const TAudioOutput* Output);
  void LetReaderMoveOn();
  void StartJob(size_t Job, TSlot& Slot);
  void SkipJob(size_t Job);
  void FailUnstarted(size_t Job);
  bool SlotEnded(TSlot& Slot);
  void FinishJob(TSlot& Slot);
  bool EncodeAgain(TSlot& Slot, const TTrackEnd& End);
  void FinishEncodingAgain(TSlot& Slot);
  void JobOver(size_t Job, const TTrackEnd& End);
  void AbortAll();
  bool AnyRunning() const;
  std::string FileNameOf(const TPlannedJob& Job) const;
  // The tag lines of Job's file, as every encoding of it carries them.
  std::vector<std::string> TagsOf(size_t Job) const;
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
  std::vector<std::unique_ptr<TLane>> Lanes_;
  std::vector<size_t> LaneOf_, PlaceOf_;  // per job: its lane, its index there
  std::vector<bool> Started_;             // per job: started, failed or taken back
  std::vector<uint64_t> ReadySince_;      // per job: when the run saw it ready (0: not yet)
  uint64_t ReadyCount_ = 0;
  std::vector<std::string> Reserved_;  // per job: its file's name, given out at the start
  size_t Limit_ = 0;  // the job that ends the run, or the count: none from it on is read
  std::unique_ptr<TReplayGainPass> Gains_;  // when the run writes ReplayGain
  TRunFileNames Names_;
  std::vector<TTrackEnd> Ends_;
  std::vector<bool> Over_;
  std::vector<std::optional<TAccurateRipResult>> Verdicts_;
  TProblem EndingProblem_;
  size_t Next_ = 0;   // the first job not started
  size_t Ended_ = 0;  // jobs over
  bool Aborted_ = false;
  bool ProofUnwritten_ = false;  // a disc's log or cue sheet could not be written
  std::atomic<bool> AbortRequested_{false};
  // Set by an abort: the run's AccurateRip lookups under way end at once.
  const std::shared_ptr<std::atomic<bool>> LookupsStopped_ =
      std::make_shared<std::atomic<bool>>(false);
};
