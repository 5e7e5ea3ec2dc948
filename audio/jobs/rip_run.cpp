#include "jobs/rip_run.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "core/file_stream.h"
#include "jobs/disc_proof.h"
#include "jobs/kept_audio.h"
#include "proof/rip_log.h"

bool TTrackEnd::Suspicious() const {
  return Result == TTrackResult::Done && Proof.Outcome == TTestCopyOutcome::Suspicious;
}

std::string TTrackEnd::SuspicionReason() const {
  const std::string prefix = "suspicious: ";
  const std::string& text = Proof.TestCopy;
  return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

TRipRun::TRipRun(const TRunOptions& Options, TCDIn& Source, TDiscKnowledge& Knowledge,
                 TRunObserver& Observer, TEventPump& Pump)
    : Options_(Options), Source_(Source), Knowledge_(Knowledge), Observer_(Observer), Pump_(Pump) {}

// The readers end before the spools they fill, the outputs before the inputs they read.
TRipRun::~TRipRun() {
  for (auto& spool : Spools_) spool->Cancel();
  Lanes_.clear();
  for (auto& slot : Slots_) slot->Output->SetInput(nullptr);
}

size_t TRipRun::EncodersFor(const TRunOptions& Options, TOutputFormat Format, size_t Jobs,
                            size_t Drives) {
  // A format that keeps up with reading needs one output per drive read at once.
  const bool oneEnough = FormatInfo(Format).OneOutputEnough;
  const size_t wanted = !oneEnough ? Options.TracksAtOnce : Options.TracksAtOnce > 1 ? Drives : 1;
  return std::max<size_t>(1, std::min(wanted, Jobs));
}

size_t TRipRun::DrivesRead(const std::vector<TPlannedJob>& Jobs) {
  std::vector<int> drives;
  for (const TPlannedJob& job : Jobs) {
    if (job.EndsRun) break;
    if (!job.Problem && std::find(drives.begin(), drives.end(), job.Read.Drive) == drives.end())
      drives.push_back(job.Read.Drive);
  }
  return drives.size();
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
  Rules_ = RunTagRules(Encoders.Rules, *Encoders.Outputs.front());
  Ends_.assign(Jobs.size(), TTrackEnd{});
  Verdicts_.assign(Jobs.size(), std::nullopt);
  Over_.assign(Jobs.size(), false);
  Started_.assign(Jobs.size(), false);
  ReadySince_.assign(Jobs.size(), 0);
  for (TAudioFileOut* output : Encoders.Outputs) {
    Slots_.push_back(std::make_unique<TSlot>());
    Slots_.back()->Output = output;
  }
  if (Options_.ReplayGain && FormatInfo(Encoders.Format).Tagged)
    Gains_ = std::make_unique<TReplayGainPass>(
        Jobs, [this](const std::string& Text) { Observer_.Warning(Text); });
  for (const TPlannedJob& job : Jobs)  // a disc image's sheet is never written over
    if (!job.Problem) Names_.Protect(Knowledge_.Of(job.Read.Drive).Listing.Name);
  StartReading();
  NoteHiddenAudio();
  ReserveNames();
  while (true) {
    if (AbortRequested_ && !Aborted_) AbortAll();
    StartWaitingJobs();
    if ((Next_ == Jobs.size() || Aborted_) && !AnyRunning()) break;
    if (!Aborted_ && Next_ < Jobs.size() && FreeSlot()) LetReaderMoveOn();
    Pump_.Wait(PollMs);
    for (auto& slot : Slots_)
      if (slot->Job >= 0 && SlotEnded(*slot)) FinishJob(*slot);
  }
  for (auto& lane : Lanes_) lane->Reader->Stop();
  ProveDiscs();
  Observer_.RunEnded(Summary());
  return !Aborted_;
}

// Each drive's jobs go to a reader of its own, up to the job that ends the run; the
// readers wake the run's thread when a track can start.
void TRipRun::StartReading() {
  const std::vector<TPlannedJob>& jobs = *Jobs_;
  Limit_ = jobs.size();
  for (size_t i = 0; i < jobs.size(); ++i)
    if (jobs[i].EndsRun) {
      Limit_ = i;
      break;
    }
  LaneOf_.assign(jobs.size(), 0);
  PlaceOf_.assign(jobs.size(), 0);
  for (size_t i = 0; i < jobs.size(); ++i) {
    Spools_.push_back(std::make_unique<TTrackSpool>(Options_.OutDir));
    if (i >= Limit_ || jobs[i].Problem) continue;
    auto lane = std::find_if(Lanes_.begin(), Lanes_.end(),
                             [&](const auto& Lane) { return Lane->Drive == jobs[i].Read.Drive; });
    if (lane == Lanes_.end()) {
      Lanes_.push_back(std::make_unique<TLane>());
      Lanes_.back()->Drive = jobs[i].Read.Drive;
      lane = Lanes_.end() - 1;
    }
    LaneOf_[i] = static_cast<size_t>(lane - Lanes_.begin());
    PlaceOf_[i] = (*lane)->Jobs.size();
    (*lane)->Jobs.push_back(i);
  }
  for (auto& lane : Lanes_) {
    std::vector<TTrackRead> reads;
    std::vector<TTrackSpool*> spools;
    for (size_t job : lane->Jobs) {
      reads.push_back(jobs[job].Read);
      spools.push_back(Spools_[job].get());
    }
    lane->Source = std::make_unique<TCDIn>();
    lane->Reader = std::make_unique<TDiscReader>(*lane->Source, std::move(reads), std::move(spools),
                                                 [this] { Pump_.Wake(); });
    lane->Reader->KeepReadsIn(Options_.OutDir);
    LookUpWhileReading(*lane);
    AdmitReads(*lane);
    lane->Reader->Start();
  }
}

// Each disc read that has audio before track 1 says so when the run leaves it out (a run
// that asks for it rips it with track 1); a run that asks for it hears of each disc whose
// track 1 it rips that has none.
void TRipRun::NoteHiddenAudio() {
  for (const auto& lane : Lanes_) {
    const TDriveListing& listing = Knowledge_.Of(lane->Drive).Listing;
    auto rips = [&](int Track) {
      return std::any_of(lane->Jobs.begin(), lane->Jobs.end(),
                         [&](size_t Job) { return (*Jobs_)[Job].Read.Track == Track; });
    };
    const std::string hidden = listing.Name + ": " + SectorTimeText(listing.HiddenSectors) +
                               " of hidden track one audio before track 1 is not ripped";
    if (listing.HiddenSectors > 0 && !rips(0) && !Options_.HiddenTrackOne)
      Observer_.Notice(hidden +
                       " (--htoa, or \"Rip hidden track one audio\" in the window, rips it as "
                       "track 0).");
    else if (listing.HiddenSectors > 0 && !rips(0))
      Observer_.Notice(hidden + ": it goes with track 1, which this run leaves out.");
    else if (listing.HiddenSectors == 0 && Options_.HiddenTrackOne && rips(1))
      Observer_.Notice(listing.Name +
                       ": no hidden track one audio to rip: track 1 starts the disc.");
  }
}

// The lookup runs beside the reader, which waits for its answer only once a copy is read.
void TRipRun::LookUpWhileReading(TLane& Lane) {
  if (!Options_.Verify || !Options_.AccurateRip) return;
  TAccurateRipSettings settings;
  if (!Options_.AccurateRipServer.empty()) settings.Url = Options_.AccurateRipServer;
  settings.Cancel = LookupsStopped_;
  const TDiscToc toc = Knowledge_.Of(Lane.Drive).Listing.Toc;
  try {
    Lane.Entry = std::async(std::launch::async, [toc, settings] {
                   return LookupAccurateRipKept(toc, settings);
                 }).share();
  } catch (const std::system_error&) {
    return;  // no thread to spare: every track gets its test read, the proof looks it up
  }
  Lane.Reader->UseAccurateRip(Lane.Entry);
}

// With several drives, jobs start in the order their drives deliver: the file names are
// given out in list order at the start, so that which file gets "Track01 (2)" does not
// depend on which drive is faster.
void TRipRun::ReserveNames() {
  Reserved_.assign(Jobs_->size(), std::string());
  if (Lanes_.size() < 2) return;
  for (size_t job = 0; job < Limit_; ++job) {  // the jobs that the readers read
    if ((*Jobs_)[job].Problem) continue;
    Reserved_[job] = Names_.Free(FileNameOf((*Jobs_)[job]));
    Names_.Written(Reserved_[job]);
  }
}

// A drive's reader reads ahead of its jobs that are over by as many tracks as there
// are encoders, and one more: what waits for an encoder stays bounded per drive.
void TRipRun::AdmitReads(TLane& Lane) { Lane.Reader->Admit(Lane.Ended + Slots_.size() + 1); }

// Fails the jobs that cannot be ripped once every job before them has started, starts
// the jobs whose tracks are ready while encoders are free, and ends the run at a job
// that ends it once the jobs before it are over.
void TRipRun::StartWaitingJobs() {
  while (!Aborted_) {
    FailProblemsInTurn();
    if (EndRunInTurn()) return;
    TSlot* slot = FreeSlot();
    if (!slot) return;
    const std::optional<size_t> job = NextReadyJob();
    if (!job) return;
    if (Observer_.StillWanted(*job))
      StartJob(*job, *slot);
    else
      SkipJob(*job);
  }
}

void TRipRun::FailProblemsInTurn() {
  const std::vector<TPlannedJob>& jobs = *Jobs_;
  while (Next_ < Limit_ && jobs[Next_].Problem) FailUnstarted(Next_);
}

bool TRipRun::EndRunInTurn() {
  if (Next_ != Limit_ || Limit_ == Jobs_->size() || AnyRunning()) return false;
  EndingProblem_ = (*Jobs_)[Limit_].Problem;
  FailUnstarted(Limit_);
  AbortAll();
  return true;
}

// The next job of each drive whose track is ready; of those, the one the run saw ready
// first. With one encoder, only the first job not started, so that jobs go in list order.
std::optional<size_t> TRipRun::NextReadyJob() {
  std::optional<size_t> best;
  for (auto& lane : Lanes_) {
    if (lane->Started == lane->Jobs.size()) continue;
    const size_t job = lane->Jobs[lane->Started];
    if (!Spools_[job]->Ready()) continue;
    if (ReadySince_[job] == 0) ReadySince_[job] = ++ReadyCount_;
    if (Slots_.size() == 1 && job != Next_) continue;
    if (!best || ReadySince_[job] < ReadySince_[*best]) best = job;
  }
  return best;
}

void TRipRun::MarkStarted(size_t Job) {
  Started_[Job] = true;
  if (Job < Limit_ && !(*Jobs_)[Job].Problem) ++Lanes_[LaneOf_[Job]]->Started;
  while (Next_ < Started_.size() && Started_[Next_]) ++Next_;
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

bool TRipRun::AnyRunning() const {
  for (const auto& slot : Slots_)
    if (slot->Job >= 0) return true;
  return false;
}

std::vector<std::string> TRipRun::TagsOf(size_t Job) const {
  const TPlannedJob& job = (*Jobs_)[Job];
  return JobTagLines(Rules_, static_cast<int>(Job), job.Caption, job.Tags);
}

std::string TRipRun::FileNameOf(const TPlannedJob& Job) const {
  return JobFileName(Job.Folder.empty() ? Options_.OutDir : Job.Folder, Job.Caption,
                     Encoders_->Format);
}

void TRipRun::FailUnstarted(size_t Job) {
  const TPlannedJob& job = (*Jobs_)[Job];
  MarkStarted(Job);
  Observer_.TrackStarted(Job, job.ProblemOfEntry ? job.Entry : Names_.Free(FileNameOf(job)));
  TTrackEnd end;
  end.Failure = job.Problem;
  JobOver(Job, end);
}

// A job taken back before it started: its track is not read further, and it is told
// nothing more (its row is gone).
void TRipRun::SkipJob(size_t Job) {
  MarkStarted(Job);
  Spools_[Job]->Cancel();
  ++Ended_;
  TLane& lane = *Lanes_[LaneOf_[Job]];
  ++lane.Ended;
  AdmitReads(lane);
  if (Gains_) Gains_->Ended(Job, nullptr);
}

// The job's file name is taken for the run at once, so that jobs running side by side
// never share one; it is given back when the job keeps no file.
void TRipRun::StartJob(size_t Job, TSlot& Slot) {
  const TPlannedJob& job = (*Jobs_)[Job];
  MarkStarted(Job);
  Slot.FileName = Reserved_[Job].empty() ? Names_.Free(FileNameOf(job)) : Reserved_[Job];
  Names_.Written(Slot.FileName);
  Slot.Job = static_cast<int>(Job);
  Slot.PollsIdle = 0;
  Observer_.TrackStarted(Job, Slot.FileName);
  TAudioFileOut& output = *Slot.Output;
  Slot.Watch.Begin(&output);
  try {
    output.SetTags(TagsOf(Job));
    TLoudnessMeter* meter = Gains_ ? Gains_->Started(Job, output) : nullptr;
    Slot.Input = std::make_unique<TSpoolInput>(*Spools_[Job], meter);
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
  if (Slot.Pending) return FinishEncodingAgain(Slot);
  const size_t job = static_cast<size_t>(Slot.Job);
  TAudioFileOut& output = *Slot.Output;
  const std::string& kept = output.KeptFileName();
  if (kept != Slot.FileName) Names_.Forget(Slot.FileName);
  TTrackSpool& spool = *Spools_[job];
  spool.Cancel();  // an encoder that ended early leaves the rest of its track unread
  TTrackEnd end;
  end.FileName = kept;
  end.KeptBeside = !kept.empty() && kept != Slot.FileName;
  end.Proof = Lanes_[LaneOf_[job]]->Reader->ProofOf(PlaceOf_[job]);
  end.Proof.Reads = spool.Report();
  end.Failure = Slot.Watch.TakeFailure();
  if (!end.Failure) {
    end.Result = Aborted_ ? TTrackResult::Aborted : TTrackResult::Done;
  }
  output.SetInput(nullptr);
  Slot.Input.reset();
  if (end.Proof.Agreed && end.Result == TTrackResult::Done && !end.FileName.empty() &&
      EncodeAgain(Slot, end))
    return;
  end.Proof.Agreed.reset();
  Slot.Job = -1;
  JobOver(job, end);
}

// The copy was the odd one out and two other reads agree: the job's output encodes their
// audio again, into a staging file beside the job's, which takes the job's name once it
// is whole. False when the file cannot be replaced so (it is no regular file).
bool TRipRun::EncodeAgain(TSlot& Slot, const TTrackEnd& End) {
  Slot.Staged = StagingNameFor(End.FileName);
  if (Slot.Staged.empty()) return false;
  Slot.Pending = End;
  Slot.PollsIdle = 0;
  TAudioFileOut& output = *Slot.Output;
  Slot.Watch.Begin(&output);
  try {
    output.SetTags(TagsOf(static_cast<size_t>(Slot.Job)));  // an output forgets them per file
    if (Gains_) Slot.Meter = std::make_unique<TLoudnessMeter>();
    Slot.Input =
        std::make_unique<TKeptAudioInput>(Slot.Pending->Proof.Agreed->Audio, Slot.Meter.get());
    output.SetInput(Slot.Input.get());
    output.FileName = Slot.Staged;
    output.Start();
  } catch (const std::exception& e) {
    Slot.Watch.Failed(e.what());
  }
  return true;
}

// The agreed audio replaces the copy only when its file is whole; else the copy stays,
// and with it the track's suspicion.
void TRipRun::FinishEncodingAgain(TSlot& Slot) {
  const auto job = static_cast<size_t>(Slot.Job);
  TAudioFileOut& output = *Slot.Output;
  TTrackEnd end = std::move(*Slot.Pending);
  Slot.Pending.reset();
  TProblem failure = Slot.Watch.TakeFailure();
  if (!failure && Aborted_) failure = TProblem("the run was stopped");
  if (!failure && !output.FileKept()) failure = TProblem("no file was written");
  output.SetInput(nullptr);
  Slot.Input.reset();
  if (!failure) {
    try {
      PublishStagedFile(Slot.Staged, end.FileName);
      AgreedAudioEncoded(end.Proof);
      if (Gains_) Gains_->Remeasured(job, std::move(Slot.Meter));
    } catch (const std::exception& e) {
      failure = TProblem(e.what());
    }
  }
  if (failure) {
    DiscardStagedFile(Slot.Staged);
    AgreedAudioNotEncoded(end.Proof, failure.Text());
  }
  Slot.Staged.clear();
  Slot.Meter.reset();
  Slot.Job = -1;
  JobOver(job, end);
}

void TRipRun::JobOver(size_t Job, const TTrackEnd& End) {
  Ends_[Job] = End;
  Over_[Job] = true;
  Observer_.TrackEnded(Job, End);
  ++Ended_;
  if (Gains_) Gains_->Ended(Job, &End);
  if (Job >= Limit_ || (*Jobs_)[Job].Problem) return;
  TLane& lane = *Lanes_[LaneOf_[Job]];
  ++lane.Ended;
  AdmitReads(lane);
}

void TRipRun::Abort() {
  if (Jobs_ && !Aborted_) AbortAll();
}

// Every running encoder finishes its file as far as it got; the spools and the reader
// stop, so that an encoder waiting for the drive ends at once and nothing more is read.
void TRipRun::AbortAll() {
  Aborted_ = true;
  *LookupsStopped_ = true;
  for (auto& slot : Slots_)
    if (slot->Job >= 0) slot->Output->Abort();
  for (auto& spool : Spools_) spool->Cancel();
  for (auto& lane : Lanes_) lane->Reader->Stop();  // no track after the one being read starts
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

namespace {

// What reading a track that did not end whole met on the drive, without the sums of
// its partial audio.
TTrackProof ReadsOnly(const TTrackProof& Proof) {
  TTrackProof reads;
  reads.Reads = Proof.Reads;
  reads.Messages = Proof.Messages;
  return reads;
}

}  // namespace

// An aborted or failed track is logged as such: its partial audio carries no CRC that
// could pass for the track's, and the cue sheet lists only whole tracks.
void TRipRun::ProveDiscs() {
  if (!Options_.ProvesDiscs()) return;
  const std::vector<TPlannedJob>& jobs = *Jobs_;
  std::vector<int> drives;  // in the order the run met them
  std::map<int, std::vector<size_t>> jobsOf;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].Problem || !Over_[i]) continue;
    if (jobsOf.count(jobs[i].Read.Drive) == 0) drives.push_back(jobs[i].Read.Drive);
    jobsOf[jobs[i].Read.Drive].push_back(i);
  }
  for (int drive : drives) {
    const TDiscFacts& facts = Knowledge_.Of(drive);
    const std::string& folder = jobs[jobsOf[drive].front()].Folder;
    Source_.SetCurrentDrive(drive);  // the reader has stopped: the library is the run's again
    TDiscProof disc{facts.Listing,
                    Source_.DriveModel(),
                    facts.Info,
                    jobs[jobsOf[drive].front()].Read.Offset,
                    {},
                    Options_.AccurateRip,
                    Options_.AccurateRipServer,
                    folder.empty() ? Options_.OutDir : folder,
                    Source_.DriveRevision(),
                    Source_.DriveReadMode(),
                    Options_.Verify,
                    Options_.Retries,
                    std::nullopt,
                    LookupsStopped_};
    for (const auto& lane : Lanes_)
      if (lane->Drive == drive && lane->Entry.valid()) disc.Lookup = lane->Entry.get();
    // A stopped run searches no drive's pre-gaps: the search reads around every track.
    disc.PregapsSearched = !Aborted_ || IsDiscImageName(disc.Listing.Name);
    for (TTrackListing& track : disc.Listing.Tracks)
      track.Pregap = disc.PregapsSearched ? Source_.TrackPregap(track.Track) : std::nullopt;
    for (size_t job : jobsOf[drive]) {
      const TTrackEnd& end = Ends_[job];
      const bool whole = end.Result == TTrackResult::Done;
      const TProblem failure = end.Result == TTrackResult::Aborted
                                   ? TProblem("aborted: the file holds only the start of the track")
                                   : end.Failure;
      disc.Tracks.push_back(TProvedTrack{jobs[job].Read.Track, end.FileName, whole, failure,
                                         whole ? end.Proof : ReadsOnly(end.Proof)});
    }
    const TDiscProofResult proof =
        WriteDiscProof(disc, [this](const std::string& Text) { Observer_.Warning(Text); });
    ProofUnwritten_ = ProofUnwritten_ || !proof.Written;
    const std::vector<std::optional<TAccurateRipResult>>& verdicts = proof.Verdicts;
    for (size_t i = 0; i < verdicts.size(); ++i) {
      if (!verdicts[i]) continue;
      Verdicts_[jobsOf[drive][i]] = verdicts[i];
      Observer_.TrackVerdict(jobsOf[drive][i], verdicts[i]->Text());
    }
  }
}

TRunSummary TRipRun::Summary() const {
  TRunSummary summary;
  summary.Stopped = Aborted_;
  summary.ProofUnwritten = ProofUnwritten_;
  summary.GainsUnwritten = Gains_ && Gains_->AnyUnwritten();
  for (size_t i = 0; i < Ends_.size(); ++i) {
    if (!Over_[i]) continue;
    const TTrackEnd& end = Ends_[i];
    switch (end.Result) {
      case TTrackResult::Done:
        ++(end.Suspicious() ? summary.Suspicious : summary.Done);
        if (Verdicts_[i] && Verdicts_[i]->Verdict == TAccurateRipVerdict::Accurate)
          ++summary.Accurate;
        break;
      case TTrackResult::Aborted: ++summary.Aborted; break;
      case TTrackResult::Failed: ++summary.Failed; break;
    }
  }
  return summary;
}
