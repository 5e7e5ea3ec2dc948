#include "track_runner.h"

#include "track_entry.h"

namespace {

constexpr int64_t CdBytesPerSecond = 44100 * 4;

// "CRC 1A2B3C4D, peak 98.2 %", and the test-and-copy verdict where one was reached.
std::string ProofLine(const TTrackProof& Proof) {
  char text[64];
  std::snprintf(text, sizeof text, "CRC %08X, peak %s %%", Proof.Copy.Crc32,
                PeakPercentText(Proof.Copy.Peak).c_str());
  return Proof.TestCopy.empty() ? text : text + (", " + Proof.TestCopy);
}

}  // namespace

TTrackRunner::TTrackRunner(const TCliOptions& Options,
                           std::vector<std::unique_ptr<TFormatSetup>> Formats,
                           TProgressDisplay& Display, TQueueDispatcher& Dispatcher, TCDIn& Source,
                           const std::atomic<int>& StopSignal)
    : Options_(Options),
      Formats_(std::move(Formats)),
      Display_(Display),
      Dispatcher_(Dispatcher),
      Source_(Source),
      StopSignal_(StopSignal) {
  for (const auto& format : Formats_) {
    Slots_.push_back(std::make_unique<TSlot>());
    Slots_.back()->Format = format.get();
    ConnectEvents(*Slots_.back());
  }
}

// The reader ends before the spools it fills, the outputs before the inputs they read.
TTrackRunner::~TTrackRunner() {
  for (auto& spool : Spools_) spool->Cancel();
  Reader_.reset();
  for (auto& slot : Slots_) slot->Format->Output().SetInput(nullptr);
}

void TTrackRunner::ConnectEvents(TSlot& Slot) {
  TAudioFileOut& output = Slot.Format->Output();
  output.OnProgress = [this, &Slot](TAudioOutput* Sender) {
    if (!Slot.Watch.OwnsProgress(Sender)) return;
    TAudioInput* input = Sender->Input();
    Display_.Update(Slot.Job, Sender->Progress(), input ? input->Position.load() : 0,
                    input ? input->Size.load() : -1, CdBytesPerSecond);
  };
  output.OnDone = [&Slot](TAudioOutput* Sender) { Slot.Watch.Done(Sender); };
  output.OnThreadException = [&Slot](TAudioOutput*, const std::exception& E) {
    Slot.Watch.Failed(E.what());
  };
}

std::string TTrackRunner::FileNameOf(const TPlannedJob& Job, TOutputFormat Format) const {
  return JobFileName(Options_.OutDir, Job.Caption, Format);
}

bool TTrackRunner::Run(const std::vector<TPlannedJob>& Jobs) {
  Jobs_ = &Jobs;
  Outcomes_.assign(Jobs.size(), TJobOutcome{});
  std::vector<TTrackRead> reads;
  std::vector<TTrackSpool*> spools;
  for (const TPlannedJob& job : Jobs) {
    Spools_.push_back(std::make_unique<TTrackSpool>(Options_.OutDir));
    spools.push_back(Spools_.back().get());
    TTrackRead read = job.Read;
    read.Skip = read.Skip || !job.Problem.empty();
    reads.push_back(read);
  }
  // The reader wakes this thread when a track can start.
  Reader_ = std::make_unique<TDiscReader>(Source_, std::move(reads), std::move(spools),
                                          [this] { Dispatcher_.Post([] {}); });
  Reader_->Admit(Slots_.size() + 1);
  Reader_->Start();
  size_t next = 0;
  while (true) {
    if (StopSignal_ && !Aborted_) AbortAll();
    for (TSlot* slot; !Aborted_ && next < Jobs.size() && CanStart(next);) {
      if (!Jobs[next].Problem.empty()) {
        FailUnstarted(next++);
        continue;
      }
      if (!(slot = FreeSlot())) break;
      StartJob(next++, *slot);
    }
    if ((next == Jobs.size() || Aborted_) && !AnyRunning()) break;
    if (!Aborted_ && next < Jobs.size() && FreeSlot()) LetReaderMoveOn();
    Dispatcher_.WaitAndProcess(std::chrono::milliseconds(PollMs));
    for (auto& slot : Slots_)
      if (slot->Job >= 0 && SlotEnded(*slot)) FinishJob(*slot);
  }
  Reader_->Stop();
  return !Aborted_;
}

// An encoder is free, and the next job waits for the reader, which is still in an
// earlier track: the rest of that track may go to its spool file, so the reader moves on.
void TTrackRunner::LetReaderMoveOn() {
  for (auto& slot : Slots_)
    if (slot->Job >= 0) Spools_[static_cast<size_t>(slot->Job)]->AllowSpill();
}

TTrackRunner::TSlot* TTrackRunner::FreeSlot() {
  for (auto& slot : Slots_)
    if (slot->Job < 0) return slot.get();
  return nullptr;
}

bool TTrackRunner::CanStart(size_t Job) const {
  return !(*Jobs_)[Job].Problem.empty() || Spools_[Job]->Ready();
}

bool TTrackRunner::AnyRunning() const {
  for (const auto& slot : Slots_)
    if (slot->Job >= 0) return true;
  return false;
}

void TTrackRunner::FailUnstarted(size_t Job) {
  const TPlannedJob& job = (*Jobs_)[Job];
  const std::string name =
      job.ProblemOfEntry ? job.Entry : Names_.Free(FileNameOf(job, Formats_.front()->Format()));
  Display_.BeginTrack(static_cast<int>(Job), name);
  Display_.FailTrack(static_cast<int>(Job), job.Problem);
  Outcomes_[Job] = TJobOutcome{true, false, std::string(), job.Problem, TTrackProof{}};
  Reader_->Admit(++Ended_ + Slots_.size() + 1);
}

// The job's file name is taken for the run at once, so that jobs running side by side
// never share one; it is given back when the job keeps no file.
void TTrackRunner::StartJob(size_t Job, TSlot& Slot) {
  const std::string& caption = (*Jobs_)[Job].Caption;
  Slot.FileName = Names_.Free(FileNameOf((*Jobs_)[Job], Slot.Format->Format()));
  Names_.Written(Slot.FileName);
  Slot.Job = static_cast<int>(Job);
  Slot.PollsIdle = 0;
  Display_.BeginTrack(Slot.Job, Slot.FileName);
  TAudioFileOut& output = Slot.Format->Output();
  Slot.Watch.Begin(&output);
  try {
    TJobStarter::ApplyRowTags(output, Slot.Format->RowTags(), static_cast<int>(Job), caption,
                              (*Jobs_)[Job].Tags);
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
bool TTrackRunner::SlotEnded(TSlot& Slot) {
  if (Slot.Format->Output().Status() != osIdle) return false;
  return Slot.Watch.Ended() || ++Slot.PollsIdle > MaxPollsWithoutEnd;
}

void TTrackRunner::FinishJob(TSlot& Slot) {
  TAudioFileOut& output = Slot.Format->Output();
  if (!output.FileKept()) Names_.Forget(Slot.FileName);
  TTrackSpool& spool = *Spools_[static_cast<size_t>(Slot.Job)];
  spool.Cancel();  // an encoder that ended early leaves the rest of its track unread
  TJobOutcome& outcome = Outcomes_[static_cast<size_t>(Slot.Job)];
  outcome.Ended = true;
  outcome.FileName = output.FileKept() ? Slot.FileName : std::string();
  outcome.Proof = Reader_->ProofOf(static_cast<size_t>(Slot.Job));
  if (const std::optional<std::string> failure = Slot.Watch.TakeFailure()) {
    outcome.Failure = *failure;
    Display_.FailTrack(Slot.Job, *failure);
  } else {
    outcome.Done = true;
    Display_.EndTrack(Slot.Job, Aborted_);
    if (Options_.Log) Display_.Note(Slot.Job, ProofLine(outcome.Proof));
  }
  const TCDReadReport reads = spool.Report();
  Display_.ReportReads(Slot.Job, reads.Rereads, reads.Corrections, reads.Skips);
  output.SetInput(nullptr);
  Slot.Input.reset();
  Slot.Job = -1;
  Reader_->Admit(++Ended_ + Slots_.size() + 1);
}

// Every running encoder finishes its file as far as it got; the spools and the reader
// stop, so that an encoder waiting for the drive ends at once and nothing more is read.
void TTrackRunner::AbortAll() {
  Aborted_ = true;
  for (auto& slot : Slots_)
    if (slot->Job >= 0) slot->Format->Output().Abort();
  for (auto& spool : Spools_) spool->Cancel();
  Reader_->Stop();  // no track after the one being read is started
}
