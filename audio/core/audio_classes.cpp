#include "core/audio_classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <utility>

namespace {

// How long an idle worker that does not park waits between its idle rounds.
constexpr std::chrono::milliseconds IdleRoundPause{5};

std::atomic<TMainThreadDispatcher*> CurrentDispatcher{nullptr};

EAudioException UnknownFailure() {
  return EAudioException("An unexpected failure ended the audio run.");
}

bool FileExists(const std::string& Name) {
  struct stat info {};
  return ::stat(Name.c_str(), &info) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------
// TAudioInput
// ---------------------------------------------------------------------------------

TAudioInput::~TAudioInput() { DetachConsumers(); }

void TAudioInput::Reset() {
  try {
    Close();
  } catch (...) {
    // Reset ends the pass whatever Close thinks of it.
  }
  Busy = false;
}

void TAudioInput::BeginReadPass(int32_t PassSize) {
  Size = PassSize;
  Position = 0;
  BufferStart = 1;
  BufferEnd = 0;
  EndOfDataReached_ = false;
  Busy = true;
}

void TAudioInput::DetachConsumers() {
  std::vector<TAudioOutput*> consumers;
  {
    std::lock_guard<std::mutex> hold(ConsumersLock_);
    consumers.swap(Consumers_);
  }
  for (TAudioOutput* output : consumers) output->InputDestroyed(this);
}

void TAudioInput::AttachConsumer(TAudioOutput* Output) {
  std::lock_guard<std::mutex> hold(ConsumersLock_);
  if (std::find(Consumers_.begin(), Consumers_.end(), Output) == Consumers_.end())
    Consumers_.push_back(Output);
}

void TAudioInput::DetachConsumer(TAudioOutput* Output) {
  std::lock_guard<std::mutex> hold(ConsumersLock_);
  Consumers_.erase(std::remove(Consumers_.begin(), Consumers_.end(), Output), Consumers_.end());
}

// ---------------------------------------------------------------------------------
// Dispatchers
// ---------------------------------------------------------------------------------

void SetMainThreadDispatcher(TMainThreadDispatcher* Dispatcher) { CurrentDispatcher = Dispatcher; }

TMainThreadDispatcher* MainThreadDispatcher() { return CurrentDispatcher; }

void TQueueDispatcher::Post(std::function<void()> Call) {
  {
    std::lock_guard<std::mutex> hold(Lock_);
    Calls_.push_back(std::move(Call));
  }
  Arrived_.notify_all();
}

int TQueueDispatcher::ProcessPending() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> hold(Lock_);
    calls.swap(Calls_);
  }
  for (auto& call : calls) call();
  return static_cast<int>(calls.size());
}

int TQueueDispatcher::WaitAndProcess(std::chrono::milliseconds Timeout) {
  {
    std::unique_lock<std::mutex> hold(Lock_);
    Arrived_.wait_for(hold, Timeout, [this] { return !Calls_.empty(); });
  }
  return ProcessPending();
}

// ---------------------------------------------------------------------------------
// THandOff
// ---------------------------------------------------------------------------------

void THandOff::Run(std::function<void()> Call) {
  TMainThreadDispatcher* dispatcher = MainThreadDispatcher();
  if (!dispatcher) {
    Call();
    return;
  }
  // The posted call may outlive a cancelled hand-off in the queue, so it keeps this
  // object alive itself, and it never runs Call once the hand-off was cancelled.
  dispatcher->Post([self = shared_from_this(), Call = std::move(Call)] {
    {
      std::lock_guard<std::mutex> hold(self->Lock_);
      if (self->Phase_ != Pending) return;
      self->Phase_ = Running;
    }
    Call();
    {
      std::lock_guard<std::mutex> hold(self->Lock_);
      self->Phase_ = Ran;
    }
    self->Changed_.notify_all();
  });
  std::unique_lock<std::mutex> hold(Lock_);
  Changed_.wait(hold, [this] { return Phase_ == Ran || Phase_ == Cancelled; });
}

void THandOff::Cancel() {
  {
    std::lock_guard<std::mutex> hold(Lock_);
    if (Phase_ == Pending) Phase_ = Cancelled;
  }
  Changed_.notify_all();
}

// ---------------------------------------------------------------------------------
// TAudioThread
// ---------------------------------------------------------------------------------

TAudioThread::TAudioThread(TAudioOutput& DrivenOutput) : Output(DrivenOutput) {}

TAudioThread::~TAudioThread() { Terminate(); }

void TAudioThread::Resume() {
  {
    std::lock_guard<std::mutex> hold(WakeLock_);
    WakePending_ = true;
    if (!Started_) {
      // The first wake starts the thread; it runs straight into its first round.
      WakePending_ = false;
      Started_ = true;
      Thread_ = std::thread([this] { Execute(); });
    }
  }
  Wake_.notify_all();
}

void TAudioThread::Terminate() {
  Terminating = true;
  {
    std::lock_guard<std::mutex> hold(HandOffLock_);
    if (PendingHandOff_) PendingHandOff_->Cancel();
  }
  { std::lock_guard<std::mutex> hold(WakeLock_); }
  Wake_.notify_all();
  if (Thread_.joinable() && Thread_.get_id() != std::this_thread::get_id()) Thread_.join();
}

void TAudioThread::HandOff(std::function<void()> Call) {
  auto handOff = std::make_shared<THandOff>();
  {
    std::lock_guard<std::mutex> hold(HandOffLock_);
    if (Terminating) return;
    PendingHandOff_ = handOff;
  }
  handOff->Run(std::move(Call));
  std::lock_guard<std::mutex> hold(HandOffLock_);
  PendingHandOff_.reset();
}

void TAudioThread::Execute() {
  while (!Terminating) {
    if (!RunRound()) IdleWait();
  }
  Terminating = false;  // the acknowledgement that the loop has ended
}

// Returns whether the round had a run to work on; a round without one is idle.
bool TAudioThread::RunRound() {
  const bool runInProgress = Output.Active;
  try {
    ReportProgress();
    if (Terminating) return true;
    const bool more = Output.WriteStep(AbortRequested);
    if (AbortRequested || !more) EndRun();
  } catch (const std::exception& e) {
    AbortRequested = false;
    ErrorHandler(e);
    if (SuspendWhenIdle) Park();
    return true;
  } catch (...) {
    AbortRequested = false;
    ErrorHandler(UnknownFailure());
    if (SuspendWhenIdle) Park();
    return true;
  }
  return runInProgress;
}

void TAudioThread::ReportProgress() {
  const int progress = Output.Progress();
  if (progress == Output.LastProgress) return;
  Output.LastProgress = progress;
  if (Output.OnProgress) {
    TAudioOutput* sender = &Output;
    HandOff([sender] { sender->OnProgress(sender); });
  }
}

void TAudioThread::EndRun() {
  // An abort that reaches an idle worker ends no run, so it reports none. The request
  // is taken back once the run is finished, which tells a cut-short file by it.
  const bool runEnded = Output.Busy;
  Output.FinishRun();
  AbortRequested = false;
  if (runEnded && Output.OnDone) TVerySmallThread(&Output, Output.OnDone).HandOff(*this);
  if (SuspendWhenIdle) Park();
}

void TAudioThread::Park() {
  std::unique_lock<std::mutex> hold(WakeLock_);
  if (!WakePending_) {
    Parked_ = true;
    Wake_.wait(hold, [this] { return WakePending_ || Terminating; });
    Parked_ = false;
  }
  WakePending_ = false;
}

void TAudioThread::IdleWait() {
  std::unique_lock<std::mutex> hold(WakeLock_);
  Wake_.wait_for(hold, IdleRoundPause, [this] { return WakePending_ || Terminating; });
  WakePending_ = false;
}

// ---------------------------------------------------------------------------------
// TVerySmallThread
// ---------------------------------------------------------------------------------

TVerySmallThread::TVerySmallThread(TAudioOutput* Output, TOutputDoneEvent Handler)
    : Output_(Output), Handler_(std::move(Handler)) {}

void TVerySmallThread::HandOff(TAudioThread& Worker) {
  Worker.HandOff([this] { Handler_(Output_); });
}

// ---------------------------------------------------------------------------------
// TAudioOutput
// ---------------------------------------------------------------------------------

TInputLockGuard::TInputLockGuard(std::atomic_flag& Flag) : Flag_(Flag) {
  while (Flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

TAudioOutput::TAudioOutput() : Thread_(*this) {
  Thread_.ErrorHandler = [this](const std::exception& e) { HandleRunError(e); };
  Thread_.SuspendWhenIdle = true;
}

TAudioOutput::~TAudioOutput() {
  StopWorker();
  if (TAudioInput* input = Input_.exchange(nullptr)) input->DetachConsumer(this);
}

void TAudioOutput::StopWorker() {
  Thread_.Terminate();
  if (!Busy) return;
  // The worker stopped in the middle of a run: finish the file here.
  try {
    FinishRun();
  } catch (...) {
    Active = false;
    Busy = false;
  }
}

void TAudioOutput::SetInput(TAudioInput* Value) {
  TAudioInput* previous = Input_.load();
  if (previous == Value) return;
  if (!Busy) {
    Input_ = Value;
  } else {
    if (Value) Value->Open();
    {
      TInputLockGuard hold(InputLock_);
      Input_ = Value;
    }
    if (previous) previous->Close();
  }
  if (previous) previous->DetachConsumer(this);
  if (Value) Value->AttachConsumer(this);
}

void TAudioOutput::InputDestroyed(TAudioInput* Source) {
  TInputLockGuard hold(InputLock_);
  if (Input_ == Source) Input_ = nullptr;
}

void TAudioOutput::Start() {
  if (Busy) throw EAudioException("Component is Busy");
  if (!Input_) throw EAudioException("Input is not assigned");
  InputLock_.clear();
  try {
    Setup();
    Busy = true;
    Thread_.AbortRequested = false;
    Active = true;
    Thread_.Resume();
  } catch (const std::exception& e) {
    HandleRunError(e);
  } catch (...) {
    HandleRunError(UnknownFailure());
  }
}

TAudioOutputStatus TAudioOutput::Status() const {
  if (!Busy) return osIdle;
  return Thread_.Suspended() ? osSuspended : osRunning;
}

int TAudioOutput::Progress() const {
  TAudioInput* input = Input_.load();
  if (!input) return 0;
  const int32_t size = input->Size;
  if (size < 0) return -1;
  if (size == 0) return 0;
  // Whole percent, halves to even (the default rounding mode of nearbyint).
  const double percent = static_cast<double>(input->Position) / size * 100.0;
  return static_cast<int>(std::nearbyint(percent));
}

void TAudioOutput::FinishRun() {
  if (!Busy) return;
  Active = false;
  Finish();
  Busy = false;
}

void TAudioOutput::HandleRunError(const std::exception& E) {
  InputLock_.clear();
  std::string note;
  if (Status() != osIdle) {
    RunFailed();
    try {
      Finish();
    } catch (...) {
      // The run already failed; a failure to finish it adds nothing.
    }
    note = FailureNote();
  }
  Active = false;
  Busy = false;
  if (!OnThreadException) return;
  if (note.empty()) return OnThreadException(this, E);
  OnThreadException(this, EAudioException(std::string(E.what()) + note));
}

int TAudioOutput::ReadInput(void* Buffer, int BufferSize) {
  TInputLockGuard hold(InputLock_);
  TAudioInput* input = Input_.load();
  return input ? input->ReadData(Buffer, BufferSize) : 0;
}

void TAudioOutput::CloseInput() {
  if (TAudioInput* input = Input_.load()) input->Close();
}

// ---------------------------------------------------------------------------------
// TAudioFileOut
// ---------------------------------------------------------------------------------

// Undoes a set-up that failed part of the way, unless it was committed: `Finish` never
// runs after a failed `Setup`, so this is the only place that gives back what it took.
class TAudioFileOut::TSetupRollback {
 public:
  explicit TSetupRollback(TAudioFileOut& Output) : Output_(Output) {}
  ~TSetupRollback() {
    if (!Committed_) Output_.AbandonSetup();
  }
  TSetupRollback(const TSetupRollback&) = delete;
  TSetupRollback& operator=(const TSetupRollback&) = delete;
  void Commit() { Committed_ = true; }

 private:
  TAudioFileOut& Output_;
  bool Committed_ = false;
};

void TAudioFileOut::SetFileMode(TFileOutputMode) { FileMode_ = foRewrite; }

void TAudioFileOut::Setup() {
  CheckSettings();
  if (!StreamAssigned && FileName.empty()) throw EAudioException("File name is not assigned.");
  if (!StreamAssigned) {
    RefuseProtectedFile(FileName);
    RemoveAbandonedStagingFilesOnce(FileName);
  }
  Failed_ = Delivered_ = FileKept_ = false;
  KeptName_.clear();
  TSetupRollback rollback(*this);
  OpenRunInput();
  OpenStream();
  StartFile();
  rollback.Commit();
  // A file written directly (appended to, or a device) is there from now on.
  FileKept_ = Staged_.empty();
  if (FileKept_) KeptName_ = FileName;
}

// A run that failed or was aborted is cut short: its file is incomplete.
void TAudioFileOut::Finish() {
  const bool delivered = InputDelivered();
  const bool aborted = Thread().AbortRequested;
  TFirstFailure failure;
  failure.Attempt([this] { CompleteFile(); });
  failure.Attempt([this] { SettleStream(); });
  const bool whole = !Failed_ && !failure.Failed() && !aborted;
  const bool keep = WorthKeeping(whole, delivered);
  failure.Attempt([this] { CloseStream(); });
  failure.Attempt([this] { CloseRunInput(); });
  failure.Attempt([&] { PublishFile(keep, whole); });
  ReleaseRun();
  failure.Raise();
}

// Hands every gathered write to the system, so that what the file lacks is known; a
// file that lost writes is mended to what it holds.
void TAudioFileOut::SettleStream() {
  if (StreamAssigned || !Stream) return;
  TFirstFailure failure;
  failure.Attempt([this] { Stream->Flush(); });
  if (Stream->LostWrites()) {
    failure.Attempt([this] {
      MendFile();
      Stream->Flush();
    });
  }
  failure.Raise();
}

// A whole run keeps its file. One cut short keeps it only when it holds audio that
// decodes: an empty or broken file is worth nothing.
bool TAudioFileOut::WorthKeeping(bool RunWasWhole, bool Delivered) {
  if (RunWasWhole) return true;
  if (!Delivered || !Stream) return false;
  try {
    return HoldsAudio();
  } catch (...) {
    return false;  // a file that cannot be read back is not worth keeping either
  }
}

void TAudioFileOut::RunFailed() { Failed_ = true; }

std::string TAudioFileOut::FailureNote() {
  if (!InputDelivered() || StreamAssigned) return std::string();
  const std::string name = std::filesystem::path(FileName).filename().string();
  if (!FileKept_) return " (nothing of " + name + " could be kept)";
  if (KeptName_ == FileName) return " (" + name + " is incomplete)";
  return " (what was written is kept as " + std::filesystem::path(KeptName_).filename().string() +
         "; the earlier " + name + " stays as it was)";
}

// A stream handed in from outside is used as it is. Otherwise the file is written
// afresh under its staging name, or, when appending to a file that exists, opened and
// written at its end.
void TAudioFileOut::OpenStream() {
  if (StreamAssigned) return;
  const bool append = FileMode_ == foAppend && FileExists(FileName);
  Staged_ = append ? std::string() : StagingNameFor(FileName);
  const std::string& written = Staged_.empty() ? FileName : Staged_;
  Stream = std::make_unique<TFileStream>(
      written, append ? TFileStream::TMode::OpenReadWrite : TFileStream::TMode::Create, FileName);
  if (append) Stream->Seek(Stream->Size());
}

// Whether the run's input has delivered audio; once it has, that stays known after the
// input is closed.
bool TAudioFileOut::InputDelivered() {
  const TAudioInput* input = Input();
  Delivered_ = Delivered_ || (InputOpen_ && input && input->Position > 0);
  return Delivered_;
}

// A whole file takes its name. One cut short never takes the place of a file of that
// name: it is kept beside it, named as incomplete.
void TAudioFileOut::PublishFile(bool KeepIt, bool Whole) {
  const std::string staged = std::exchange(Staged_, std::string());
  if (staged.empty()) return;
  if (!KeepIt) return DiscardStagedFile(staged);
  if (Whole || !FileExists(FileName)) {
    PublishStagedFile(staged, FileName);
    KeptName_ = FileName;
  } else {
    KeptName_ = PublishStagedFileAsIncomplete(staged, FileName);
  }
  FileKept_ = true;
}

void TAudioFileOut::CloseStream() {
  if (StreamAssigned || !Stream) return;
  std::unique_ptr<TFileStream> stream = std::move(Stream);
  stream->Close();
}

void TAudioFileOut::OpenRunInput() {
  Input()->Open();
  InputOpen_ = true;
}

void TAudioFileOut::CloseRunInput() {
  if (!InputOpen_) return;
  InputOpen_ = false;
  CloseInput();
}

void TAudioFileOut::AbandonSetup() noexcept {
  ReleaseRun();
  // Dropping the stream closes the file; nothing of the failed run is worth a failure,
  // and its file is not worth keeping.
  if (!StreamAssigned) Stream.reset();
  if (!Staged_.empty()) DiscardStagedFile(std::exchange(Staged_, std::string()));
  try {
    CloseRunInput();
  } catch (...) {
    // The failure that ended the set-up is the one to report.
  }
}

std::string ChannelText(int Channels) {
  return std::to_string(Channels) + (Channels == 1 ? " channel" : " channels");
}
