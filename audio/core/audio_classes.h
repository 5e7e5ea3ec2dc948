// The audio pipeline core: sources and their pull contract, outputs and the worker
// thread that drives each of them, and the hand-off of events to the window thread.
//
// Threads: the window thread (whatever thread runs the front end's event loop) calls
// `Start`, `Abort`, `Status`, `Progress`, `SetInput`, and creates and destroys
// components. Each output owns one worker thread, which runs `WriteStep`, `Finish` and
// every `ReadData` of the chain. `OnProgress` and `OnDone` run on the window thread
// while the worker waits; `OnThreadException` runs on the thread where the failure
// happened.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/audio_exception.h"
#include "core/file_stream.h"

// "1 channel", "2 channels": for messages.
std::string ChannelText(int Channels);

class TAudioOutput;

// ---------------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------------

// The base of every source. A consumer calls `Open`, then `ReadData` until it returns
// 0, then `Close`. All sizes and positions are bytes of interleaved little-endian PCM.
class TAudioInput {
 public:
  TAudioInput() = default;
  TAudioInput(const TAudioInput&) = delete;
  TAudioInput& operator=(const TAudioInput&) = delete;
  virtual ~TAudioInput();

  // Bytes delivered since the last `Open`; written by the reading thread, read by
  // any thread to compute progress.
  std::atomic<int32_t> Position{0};
  // Bytes this read pass delivers in all; -1 when unknown; valid after `Open`.
  std::atomic<int32_t> Size{0};
  // True between `Open` and `Close`.
  std::atomic<bool> Busy{false};
  // 1-based index of the next undelivered byte of the staging buffer, and of the last
  // valid one; `BufferEnd` < `BufferStart` means the buffer is empty.
  int32_t BufferStart = 1;
  int32_t BufferEnd = 0;

  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  virtual int GetSampleRate() = 0;
  virtual int GetTotalTime() { return 0; }
  // Copies at most BufferSize bytes of the stream to Buffer; returns the count,
  // 0 at the end of data (and at every call after it until the next `Open`).
  virtual int ReadData(void* Buffer, int BufferSize) = 0;
  // Ends a read pass whatever happens: `Close`, ignoring its failure, then not busy.
  virtual void Reset();
  virtual void Open() = 0;
  virtual void Close() = 0;

  int BitsPerSample() { return GetBitsPerSample(); }
  int Channels() { return GetChannels(); }
  int SampleRate() { return GetSampleRate(); }
  int TotalTime() { return GetTotalTime(); }

 protected:
  // Marks the start of a read pass: `Size`, `Position` := 0, empty staging buffer,
  // `Busy`. Concrete `Open`s call it once their device or file is ready.
  void BeginReadPass(int32_t PassSize);

  // The staging-buffer delivery that concrete `ReadData`s share. `Produce` fills
  // `Staging` with the next block and returns its length (0 = no more data).
  template <class ProduceBlock>
  int DeliverStaged(void* Buffer, int BufferSize, const uint8_t* Staging, ProduceBlock&& Produce);

  // Empties the `Input` of every output that reads from this source. The base
  // destructor calls it; a concrete source whose reading could still be running when
  // it is destroyed calls it first in its own destructor.
  void DetachConsumers();

 private:
  friend class TAudioOutput;
  void AttachConsumer(TAudioOutput* Output);
  void DetachConsumer(TAudioOutput* Output);

  bool EndOfDataReached_ = false;
  std::mutex ConsumersLock_;
  std::vector<TAudioOutput*> Consumers_;
};

template <class ProduceBlock>
int TAudioInput::DeliverStaged(void* Buffer, int BufferSize, const uint8_t* Staging,
                               ProduceBlock&& Produce) {
  if (!Busy) throw EAudioException("The Stream is not opened");
  if (BufferEnd < BufferStart) {
    if (EndOfDataReached_) return 0;
    BufferStart = 1;
    BufferEnd = Produce();
    if (BufferEnd <= 0) {
      BufferEnd = 0;
      EndOfDataReached_ = true;
      return 0;
    }
  }
  const int32_t available = BufferEnd - BufferStart + 1;
  const int n = BufferSize < available ? BufferSize : available;
  if (n <= 0) return 0;
  std::memcpy(Buffer, Staging + (BufferStart - 1), static_cast<size_t>(n));
  BufferStart += n;
  Position += n;
  return n;
}

// ---------------------------------------------------------------------------------
// The window thread's side of the hand-off
// ---------------------------------------------------------------------------------

// Runs calls on the window thread. The front end installs one: the Qt window queues
// the call into its event loop, the command-line front end and the tests keep their
// own queue. Workers wait for each call they post, so at most one call per output is
// ever queued.
class TMainThreadDispatcher {
 public:
  virtual ~TMainThreadDispatcher() = default;
  // Queues Call to run on the window thread and returns at once.
  virtual void Post(std::function<void()> Call) = 0;
};

// The process-wide dispatcher through which workers reach the window thread. Without
// one, workers run their event handlers on their own thread.
void SetMainThreadDispatcher(TMainThreadDispatcher* Dispatcher);
TMainThreadDispatcher* MainThreadDispatcher();

// A dispatcher that keeps its own queue, run by the owner's wait loop.
class TQueueDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()> Call) override;
  // Runs every queued call on the calling thread; returns how many ran.
  int ProcessPending();
  // Waits up to Timeout for a call, then runs every queued one; returns how many ran.
  int WaitAndProcess(std::chrono::milliseconds Timeout);

 private:
  std::mutex Lock_;
  std::condition_variable Arrived_;
  std::deque<std::function<void()>> Calls_;
};

// ---------------------------------------------------------------------------------
// Outputs and their worker
// ---------------------------------------------------------------------------------

enum TAudioOutputStatus { osRunning = 0, osSuspended = 1, osIdle = 2 };
enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

using TOutputDoneEvent = std::function<void(TAudioOutput* Sender)>;
using TOutputProgressEvent = std::function<void(TAudioOutput* Sender)>;
using TThreadExceptionEvent = std::function<void(TAudioOutput* Sender, const std::exception& E)>;

// One synchronous hand-off of a call to the window thread, which the owner of the
// waiting worker can cancel (so that destroying an output never waits on a window
// thread that is busy destroying it). Always held by a shared_ptr.
class THandOff : public std::enable_shared_from_this<THandOff> {
 public:
  // Posts Call to the dispatcher and waits until it has run or the hand-off was
  // cancelled. Without a dispatcher the call runs here.
  void Run(std::function<void()> Call);
  void Cancel();

 private:
  enum Phase { Pending, Running, Ran, Cancelled };
  std::mutex Lock_;
  std::condition_variable Changed_;
  Phase Phase_ = Pending;
};

// The worker thread of one output. It is created parked; `Resume` (from `Start`)
// wakes it. All of `Execute` runs on the worker.
class TAudioThread {
 public:
  explicit TAudioThread(TAudioOutput& DrivenOutput);
  TAudioThread(const TAudioThread&) = delete;
  TAudioThread& operator=(const TAudioThread&) = delete;
  ~TAudioThread();

  TAudioOutput& Output;
  std::atomic<bool> SuspendWhenIdle{true};
  std::atomic<bool> Terminating{false};
  std::atomic<bool> AbortRequested{false};
  std::function<void(const std::exception& E)> ErrorHandler;

  // True while the worker is parked (or was never started).
  bool Suspended() const { return !Started_ || Parked_; }
  // Wakes a parked worker (starting it the first time); a worker that is about to
  // park sees the wake and goes on instead.
  void Resume();
  // Hands Call to the window thread and waits until it has run (on the worker).
  void HandOff(std::function<void()> Call);
  // Ends the worker: cancels a pending hand-off, wakes it and joins it. It finishes
  // the step it is in, if any, and stops before the next one.
  void Terminate();

 private:
  void Execute();
  bool RunRound();  // false when the round found nothing to do
  void ReportProgress();
  void EndRun();
  void Park();
  void IdleWait();

  std::thread Thread_;
  std::atomic<bool> Started_{false};
  std::atomic<bool> Parked_{false};
  std::mutex WakeLock_;
  std::condition_variable Wake_;
  bool WakePending_ = false;
  std::mutex HandOffLock_;
  std::shared_ptr<THandOff> PendingHandOff_;
};

// The carrier through which the worker hands the completion call to the window
// thread: it holds the output and its `OnDone` handler for one hand-off.
class TVerySmallThread {
 public:
  TVerySmallThread(TAudioOutput* Output, TOutputDoneEvent Handler);
  void HandOff(TAudioThread& Worker);

 private:
  TAudioOutput* Output_;
  TOutputDoneEvent Handler_;
};

// The sink at the end of a chain. Concrete outputs implement `Setup` (on the caller
// of `Start`), `WriteStep` and `Finish` (on the worker; file outputs through the steps
// of `TAudioFileOut`), and must call `StopWorker` first in their destructors, so the
// worker never runs on a half-destroyed object.
class TAudioOutput {
 public:
  TAudioOutput();
  TAudioOutput(const TAudioOutput&) = delete;
  TAudioOutput& operator=(const TAudioOutput&) = delete;
  virtual ~TAudioOutput();

  // The worker's steps do real work only while set.
  std::atomic<bool> Active{false};
  // The progress value last seen by the worker; never reset between runs.
  int LastProgress = 0;
  // True from a successful `Start` until the run has ended.
  std::atomic<bool> Busy{false};

  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

  TAudioInput* Input() const { return Input_.load(); }
  // Exchanging the input of a running chain opens the new one, swaps it in between
  // two blocks under `InputLock` and closes the old one.
  virtual void SetInput(TAudioInput* Value);

  bool SuspendWhenIdle() const { return Thread_.SuspendWhenIdle; }
  void SetSuspendWhenIdle(bool Value) { Thread_.SuspendWhenIdle = Value; }

  void Start();
  void Abort() { Thread_.AbortRequested = true; }
  TAudioOutputStatus Status() const;
  // 0..100 with halves rounded to even; -1 when the input's size is unknown.
  int Progress() const;

  // Ends a failed run: releases `InputLock`, finishes a started run (ignoring its
  // failure), clears the run flags and raises `OnThreadException`.
  void HandleRunError(const std::exception& E);

  // Used by the worker.
  virtual bool WriteStep(bool Abort) = 0;
  virtual void Finish() = 0;
  void FinishRun();
  TAudioThread& Thread() { return Thread_; }

 protected:
  virtual void Setup() = 0;
  // Called by `HandleRunError` before it finishes a failed run.
  virtual void RunFailed() {}
  // Called by `HandleRunError` after it has finished a failed run; what it returns is
  // added to the failure's message (for instance, that the file kept is incomplete).
  virtual std::string FailureNote() { return std::string(); }

  // Pulls up to BufferSize bytes from `Input` under `InputLock`; 0 when the input
  // is empty (its source was destroyed) or at its end.
  int ReadInput(void* Buffer, int BufferSize);
  // Closes `Input` if there is one (what every `Finish` does last).
  void CloseInput();
  // Stops the worker; a run it leaves unfinished is finished here, so the file is
  // complete. Safe to call more than once.
  void StopWorker();

 private:
  friend class TAudioInput;
  void InputDestroyed(TAudioInput* Source);

  std::atomic<TAudioInput*> Input_{nullptr};
  std::atomic_flag InputLock_ = ATOMIC_FLAG_INIT;
  TAudioThread Thread_;
};

// Scoped hold of an output's `InputLock`.
class TInputLockGuard {
 public:
  explicit TInputLockGuard(std::atomic_flag& Flag);
  ~TInputLockGuard() { Flag_.clear(std::memory_order_release); }
  TInputLockGuard(const TInputLockGuard&) = delete;
  TInputLockGuard& operator=(const TInputLockGuard&) = delete;

 private:
  std::atomic_flag& Flag_;
};

class TAudioStreamedOutput : public TAudioOutput {
 public:
  // The byte stream being written; created by `Setup`, freed by `Finish`.
  std::unique_ptr<TFileStream> Stream;
  // True when the stream was handed in from outside; nothing in the program does so.
  bool StreamAssigned = false;
};

// Runs steps that must all run (completing a file, closing it, closing its input) and
// keeps the failure of the first that failed, so a later failure never hides it.
class TFirstFailure {
 public:
  template <class Step>
  void Attempt(Step&& Run) {
    try {
      Run();
    } catch (...) {
      if (!First_) First_ = std::current_exception();
    }
  }
  bool Failed() const { return static_cast<bool>(First_); }
  // Raises the kept failure, if there is one.
  void Raise() {
    if (First_) std::rethrow_exception(First_);
  }

 private:
  std::exception_ptr First_;
};

// An output that writes one file per run. It owns the run's life cycle, so that a
// format supplies only its own steps (its header, its encoder):
//   `Setup` (caller's thread): `CheckSettings`; the file-name check; the stream
//     opened, rewritten or appended to as `FileMode` says; the input opened;
//     `StartFile`. A failure on the way rolls back what was taken: the stream and the
//     input are closed and `ReleaseRun` runs, so the output is idle and reusable.
//   `Finish` (worker): `CompleteFile`, the stream flushed (and `MendFile` when writes
//     were lost), the stream closed, the input closed, the file published or discarded,
//     `ReleaseRun`. Every step runs; the first failure is raised after the last.
class TAudioFileOut : public TAudioStreamedOutput {
 public:
  std::string FileName;
  TFileOutputMode FileMode() const { return FileMode_; }
  // An output that cannot append always rewrites; those that can override this.
  virtual void SetFileMode(TFileOutputMode Value);

  void Finish() final;
  // True when the last run left a file: a run cut short (failed or aborted) before its
  // file held audio that decodes leaves none (and an earlier file of that name as it
  // was).
  bool FileKept() const { return FileKept_; }
  // The name of the file the last run left: `FileName`, or for a run cut short while a
  // file of that name was there, "NAME (incomplete).EXT" beside it; empty when none.
  const std::string& KeptFileName() const { return KeptName_; }

  // The tags of the files it writes from now on, as comment lines NAME=value, named as
  // Vorbis comments are (TITLE, ARTIST, ALBUM, DATE, GENRE, TRACKNUMBER, TRACKTOTAL,
  // DISCNUMBER, DISCTOTAL, COMMENT, or any other name); a line without a name is a
  // comment. A format whose files carry no tags ignores them.
  virtual void SetTags(const std::vector<std::string>& Lines) { (void)Lines; }
  // The tags set on the output itself, as such lines.
  virtual std::vector<std::string> Tags() const { return {}; }

 protected:
  // The source is opened before the file: a track that cannot be read never creates
  // nor empties a file. A rewritten file is written under a staging name beside it
  // and put in place when its run ends well. A run cut short (a failure, an abort)
  // keeps its file only with audio in it that decodes, and never in place of an
  // existing file: beside it, as "NAME (incomplete).EXT". An existing file that the
  // user may not write is refused; one that is replaced keeps its permissions.
  void Setup() final;
  void RunFailed() override;
  std::string FailureNote() override;
  // Refuses settings before the file is touched, so that a refused run does not
  // replace an existing file by a broken one.
  virtual void CheckSettings() {}
  // With the stream and the input open: writes the header, starts the encoder.
  virtual void StartFile() = 0;
  // Ends the file while its stream is still open: the encoder's last data, header
  // fix-ups. Runs at the end of every run, also after a failure, and must find
  // nothing to do when called a second time.
  virtual void CompleteFile() = 0;
  // Frees what the format holds for one run; after every run and failed set-up.
  virtual void ReleaseRun() {}
  // After `CompleteFile`, with the stream open, when the stream lost writes (a full
  // disk): cuts the file after its last whole unit of audio and makes its headers
  // state what it holds, needing no more room on the disk. Must be safe to repeat.
  virtual void MendFile() {}
  // Whether the file, as the stream holds it after `MendFile`, has audio that decodes;
  // asked only of a failed run, whose file replaces the old one only then.
  virtual bool HoldsAudio() { return true; }

  TFileOutputMode FileMode_ = foRewrite;

 private:
  class TSetupRollback;
  void OpenStream();
  void CloseStream();
  void OpenRunInput();
  void CloseRunInput();
  void AbandonSetup() noexcept;

  bool InputDelivered();
  void SettleStream();
  bool WorthKeeping(bool RunWasWhole, bool Delivered);
  void PublishFile(bool KeepIt, bool Whole);

  bool InputOpen_ = false;  // the run opened `Input` and has not closed it yet
  std::string Staged_;      // the staging name the run writes to; empty: FileName itself
  bool Failed_ = false;     // the run failed (set before `Finish` runs)
  bool Delivered_ = false;  // the run's input has delivered audio
  std::atomic<bool> FileKept_{false};
  std::string KeptName_;  // where the last run's file was kept; empty: nowhere
};
