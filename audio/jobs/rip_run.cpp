#include "rip_run.h"

#include <algorithm>
#include <map>

#include "disc_proof.h"

bool TTrackEnd::Suspicious() const { return Proof.TestCopy.rfind("suspicious", 0) == 0; }

TRipRun::TRipRun(const TRunOptions& Options, TCDIn& Source, TDiscKnowledge& Knowledge,
                 TRunObserver& Observer, TEventPump& Pump)
    : Options_(Options), Source_(Source), Knowledge_(Knowledge), Observer_(Observer), Pump_(Pump) {}

// The reader ends before the spools it fills, the outputs before the inputs they read.
TRipRun::~TRipRun() {
  for (auto& spool : Spools_) spool->Cancel();
  Reader_.reset();
  for (auto& slot : Slots_) slot->Output->SetInput(nullptr);
}

size_t TRipRun::EncodersFor(const TRunOptions& Options, TOutputFormat Format, size_t Jobs) {
  if (Format == TOutputFormat::Wav) return 1;
  return std::max<size_t>(1, std::min(Options.TracksAtOnce, Jobs));
}

void TRipRun::ConnectEvents(TAudioFileOut& Output, TRipRun& Run) {
  Output.OnProgress = [&Run](TAudioOutput* Sender) { Run.OutputProgress(Sender); };
  Output.OnDone = [&Run](TAudioOutput* Sender) { Run.OutputDone(Sender); };
  Output.OnThreadException = [&Run](TAudioOutput* Sender, const std::exception& E) {
    Run.OutputFailed(Sender, E);
  };
}

// ---------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------

bool TRipRun::Run(const std::vector<TPlannedJob>& Jobs, const TRunEncoders& Encoders) {
  Jobs_ = &Jobs;
  Encoders_ = &Encoders;
  Rules_ = RunTagRules(Encoders.Rules, Options_.TagsFromDisc, *Encoders.Outputs.front());
  Ends_.assign(Jobs.size(), TTrackEnd{});
  Verdicts_.assign(Jobs.size(), std::string());
  Over_.assign(Jobs.size(), false);
  for (TAudioFileOut* output : Encoders.Outputs) {
    Slots_.push_back(std::make_unique<TSlot>());
    Slots_.back()->Output = output;
  }
  for (const TPlannedJob& job : Jobs)  // a disc image's sheet is never written over
    if (job.Problem.empty()) Names_.Protect(Knowledge_.Of(job.Read.Drive).Listing.Name);
  StartReading();
  while (true) {
    if (AbortRequested_ && !Aborted_) AbortAll();
    StartWaitingJobs();
    if ((Next_ == Jobs.size() || Aborted_) && !AnyRunning()) break;
    if (!Aborted_ && Next_ < Jobs.size() && FreeSlot()) LetReaderMoveOn();
    Pump_.Wait(PollMs);
    for (auto& slot : Slots_)
      if (slot->Job >= 0 && SlotEnded(*slot)) FinishJob(*slot);
  }
  Reader_->Stop();
  ProveDiscs();
  Observer_.RunEnded(Summary());
  return !Aborted_;
}

// The reader wakes the run's thread when a track can start.
void TRipRun::StartReading() {
  std::vector<TTrackRead> reads;
  std::vector<TTrackSpool*> spools;
  for (const TPlannedJob& job : *Jobs_) {
    Spools_.push_back(std::make_unique<TTrackSpool>(Options_.OutDir));
    spools.push_back(Spools_.back().get());
    TTrackRead read = job.Read;
    read.Skip = read.Skip || !job.Problem.empty();
    reads.push_back(read);
  }
  Reader_ = std::make_unique<TDiscReader>(Source_, std::move(reads), std::move(spools),
                                          [this] { Pump_.Wake(); });
  Reader_->Admit(Slots_.size() + 1);
  Reader_->Start();
}

// Starts the jobs whose turn has come, in order, while encoders are free. A job that
// ends the run waits until the jobs before it are over.
void TRipRun::StartWaitingJobs() {
  const std::vector<TPlannedJob>& jobs = *Jobs_;
  while (!Aborted_ && Next_ < jobs.size() && CanStart(Next_)) {
    const TPlannedJob& job = jobs[Next_];
    if (job.EndsRun) {
      if (AnyRunning()) return;
      EndingProblem_ = job.Problem;
      FailUnstarted(Next_++);
      AbortAll();
      return;
    }
    if (!job.Problem.empty()) {
      FailUnstarted(Next_++);
    } else if (!Observer_.StillWanted(Next_)) {
      SkipJob(Next_++);
    } else if (TSlot* slot = FreeSlot()) {
      StartJob(Next_++, *slot);
    } else {
      return;
    }
  }
}

// An encoder is free, and the next job waits for the reader, which is still in an
// earlier track: the rest of that track may go to its spool file, so the reader moves on.
void TRipRun::LetReaderMoveOn() {
  for (auto& slot : Slots_)
    if (slot->Job >= 0) Spools_[static_cast<size_t>(slot->Job)]->AllowSpill();
}

TRipRun::TSlot* TRipRun::FreeSlot() {
  for (auto& slot : Slots_)
    if (slot->Job < 0) return slot.get();
  return nullptr;
}

TRipRun::TSlot* TRipRun::SlotOf(const TAudioOutput* Output) {
  for (auto& slot : Slots_)
    if (slot->Output == Output) return slot.get();
  return nullptr;
}

bool TRipRun::CanStart(size_t Job) const {
  return !(*Jobs_)[Job].Problem.empty() || Spools_[Job]->Ready();
}

bool TRipRun::AnyRunning() const {
  for (const auto& slot : Slots_)
    if (slot->Job >= 0) return true;
  return false;
}

std::string TRipRun::FileNameOf(const TPlannedJob& Job) const {
  return JobFileName(Options_.OutDir, Job.Caption, Encoders_->Format);
}

void TRipRun::FailUnstarted(size_t Job) {
  const TPlannedJob& job = (*Jobs_)[Job];
  Observer_.TrackStarted(Job, job.ProblemOfEntry ? job.Entry : Names_.Free(FileNameOf(job)));
  TTrackEnd end;
  end.Failure = job.Problem;
  JobOver(Job, end);
}

// A job taken back before it started: its track is not read further, and it is told
// nothing more (its row is gone).
void TRipRun::SkipJob(size_t Job) {
  Spools_[Job]->Cancel();
  Reader_->Admit(++Ended_ + Slots_.size() + 1);
}

// The job's file name is taken for the run at once, so that jobs running side by side
// never share one; it is given back when the job keeps no file.
void TRipRun::StartJob(size_t Job, TSlot& Slot) {
  const TPlannedJob& job = (*Jobs_)[Job];
  Slot.FileName = Names_.Free(FileNameOf(job));
  Names_.Written(Slot.FileName);
  Slot.Job = static_cast<int>(Job);
  Slot.PollsIdle = 0;
  Observer_.TrackStarted(Job, Slot.FileName);
  TAudioFileOut& output = *Slot.Output;
  Slot.Watch.Begin(&output);
  try {
    ApplyRowTags(output, Rules_, static_cast<int>(Job), job.Caption, job.Tags);
    Slot.Input = std::make_unique<TSpoolInput>(*Spools_[Job]);
    output.SetInput(Slot.Input.get());
    output.FileName = Slot.FileName;
    output.Start();
  } catch (const std::exception& e) {
    Slot.Watch.Failed(e.what());
  }
}

// An output is idle a moment before its end is reported; if no report comes within
// MaxPollsWithoutEnd polls after it went idle, the job counts as ended all the same.
bool TRipRun::SlotEnded(TSlot& Slot) {
  if (Slot.Output->Status() != osIdle) return false;
  return Slot.Watch.Ended() || ++Slot.PollsIdle > MaxPollsWithoutEnd;
}

void TRipRun::FinishJob(TSlot& Slot) {
  const size_t job = static_cast<size_t>(Slot.Job);
  TAudioFileOut& output = *Slot.Output;
  if (!output.FileKept()) Names_.Forget(Slot.FileName);
  TTrackSpool& spool = *Spools_[job];
  spool.Cancel();  // an encoder that ended early leaves the rest of its track unread
  TTrackEnd end;
  end.FileName = output.FileKept() ? Slot.FileName : std::string();
  end.Proof = Reader_->ProofOf(job);
  end.Proof.Reads = spool.Report();
  if (const std::optional<std::string> failure = Slot.Watch.TakeFailure()) {
    end.Failure = *failure;
  } else {
    end.Result = Aborted_ ? TTrackResult::Aborted : TTrackResult::Done;
  }
  output.SetInput(nullptr);
  Slot.Input.reset();
  Slot.Job = -1;
  JobOver(job, end);
}

void TRipRun::JobOver(size_t Job, const TTrackEnd& End) {
  Ends_[Job] = End;
  Over_[Job] = true;
  Observer_.TrackEnded(Job, End);
  Reader_->Admit(++Ended_ + Slots_.size() + 1);
}

void TRipRun::Abort() {
  if (Reader_ && !Aborted_) AbortAll();
}

// Every running encoder finishes its file as far as it got; the spools and the reader
// stop, so that an encoder waiting for the drive ends at once and nothing more is read.
void TRipRun::AbortAll() {
  Aborted_ = true;
  for (auto& slot : Slots_)
    if (slot->Job >= 0) slot->Output->Abort();
  for (auto& spool : Spools_) spool->Cancel();
  Reader_->Stop();  // no track after the one being read is started
}

// ---------------------------------------------------------------------------------
// The outputs' events
// ---------------------------------------------------------------------------------

// Only the output of a running job writes progress: the Ogg Vorbis output's worker keeps
// looping when idle and reports the progress it sees on whatever input it last had.
void TRipRun::OutputProgress(TAudioOutput* Sender) {
  TSlot* slot = SlotOf(Sender);
  if (!slot || slot->Job < 0 || !slot->Watch.OwnsProgress(Sender)) return;
  TAudioInput* input = Sender->Input();
  Observer_.TrackProgress(static_cast<size_t>(slot->Job), Sender->Progress(),
                          input ? input->Position.load() : 0, input ? input->Size.load() : -1);
}

void TRipRun::OutputDone(TAudioOutput* Sender) {
  if (TSlot* slot = SlotOf(Sender)) slot->Watch.Done(Sender);
}

// The slots are fixed before the run starts, so a worker may look them up.
void TRipRun::OutputFailed(TAudioOutput* Sender, const std::exception& E) {
  if (TSlot* slot = SlotOf(Sender)) slot->Watch.Failed(E.what());
  Pump_.Wake();
}

// ---------------------------------------------------------------------------------
// The proof of each disc
// ---------------------------------------------------------------------------------

// An aborted or failed track is logged as such: its partial audio carries no CRC that
// could pass for the track's, and the cue sheet lists only whole tracks.
void TRipRun::ProveDiscs() {
  if (!Options_.ProvesDiscs()) return;
  const std::vector<TPlannedJob>& jobs = *Jobs_;
  std::vector<int> drives;  // in the order the run met them
  std::map<int, std::vector<size_t>> jobsOf;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (!jobs[i].Problem.empty() || !Over_[i]) continue;
    if (jobsOf.count(jobs[i].Read.Drive) == 0) drives.push_back(jobs[i].Read.Drive);
    jobsOf[jobs[i].Read.Drive].push_back(i);
  }
  for (int drive : drives) {
    const TDiscFacts& facts = Knowledge_.Of(drive);
    Source_.SetCurrentDrive(drive);  // the reader has stopped: the library is the run's again
    TDiscProof disc{facts.Listing,
                    Source_.DriveModel(),
                    facts.Info,
                    jobs[jobsOf[drive].front()].Read.Offset,
                    {},
                    Options_.AccurateRip,
                    Options_.AccurateRipServer,
                    Options_.OutDir,
                    Source_.DriveRevision(),
                    Source_.DriveReadMode(),
                    Options_.Verify,
                    Options_.Retries};
    for (size_t job : jobsOf[drive]) {
      const TTrackEnd& end = Ends_[job];
      const bool whole = end.Result == TTrackResult::Done;
      const std::string failure = end.Result == TTrackResult::Aborted
                                      ? "aborted: the file holds only the start of the track"
                                      : end.Failure;
      disc.Tracks.push_back(TProvedTrack{jobs[job].Read.Track, end.FileName, whole, failure,
                                         whole ? end.Proof : TTrackProof{}});
    }
    const TDiscProofResult proof =
        WriteDiscProof(disc, [this](const std::string& Text) { Observer_.Warning(Text); });
    ProofUnwritten_ = ProofUnwritten_ || !proof.Written;
    const std::vector<std::string>& verdicts = proof.Verdicts;
    for (size_t i = 0; i < verdicts.size(); ++i) {
      if (verdicts[i].empty()) continue;
      Verdicts_[jobsOf[drive][i]] = verdicts[i];
      Observer_.TrackVerdict(jobsOf[drive][i], verdicts[i]);
    }
  }
}

TRunSummary TRipRun::Summary() const {
  TRunSummary summary;
  summary.Stopped = Aborted_;
  summary.ProofUnwritten = ProofUnwritten_;
  for (size_t i = 0; i < Ends_.size(); ++i) {
    if (!Over_[i]) continue;
    const TTrackEnd& end = Ends_[i];
    switch (end.Result) {
      case TTrackResult::Done:
        ++summary.Done;
        if (end.Suspicious()) ++summary.Suspicious;
        if (Verdicts_[i].rfind("accurately", 0) == 0) ++summary.Accurate;
        break;
      case TTrackResult::Aborted: ++summary.Aborted; break;
      case TTrackResult::Failed: ++summary.Failed; break;
    }
  }
  return summary;
}
