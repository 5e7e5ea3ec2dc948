// What a rip tells its front end, and how it waits for the outputs' events. The run
// engine (`TRipRun`) calls every method here on the thread that runs it: the window
// thread of the window, the main thread of korvane-cli. The front ends differ only in
// how they show what they hear.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/audio_classes.h"
#include "jobs/disc_reader.h"
#include "lookup/disc_lookup.h"

enum class TTrackResult { Done, Failed, Aborted };

// How one job of a run ended.
struct TTrackEnd {
  TTrackResult Result = TTrackResult::Failed;
  std::string FileName;  // the file the job kept (with its folder); empty when none
  // The job was cut short and a file of its name was there: that file stays, and what
  // was written is kept beside it as "NAME (incomplete).EXT" (FileName).
  bool KeptBeside = false;
  TProblem Failure;      // why it failed; none unless Failed
  TTrackProof Proof;     // what reading it proved (for jobs that were read)

  // Test and copy found no read that agrees with the copy the file holds: the file is
  // whole, but nothing proves its audio, so the track is not done.
  bool Suspicious() const;
  // Why it is suspicious, without the leading "suspicious: " of the proof's line.
  std::string SuspicionReason() const;
};

// The run's count of its jobs, once every disc's proof is written.
struct TRunSummary {
  int Done = 0, Failed = 0, Aborted = 0;
  int Suspicious = 0;           // whole files that no read confirms (not counted as done)
  int Accurate = 0;             // done ones that AccurateRip confirmed
  bool Stopped = false;         // an abort (or a job that ends the run) left jobs unstarted
  bool ProofUnwritten = false;  // a log or cue sheet asked for could not be written
  bool GainsUnwritten = false;  // a file's ReplayGain tags asked for could not be written
};

class TRunObserver {
 public:
  virtual ~TRunObserver() = default;

  // Job (its index in the run) begins, writing Name; a job that cannot be read is
  // told under the name it would have had (or its entry's, when that is the problem).
  virtual void TrackStarted(size_t /*Job*/, const std::string& /*Name*/) {}
  // Percent -1: the size is unknown. Bytes are of the track's PCM (176400 a second).
  virtual void TrackProgress(size_t /*Job*/, int /*Percent*/, int64_t /*BytesDone*/,
                             int64_t /*BytesTotal*/) {}
  virtual void TrackEnded(size_t /*Job*/, const TTrackEnd& /*End*/) {}
  // What the AccurateRip database says of the job's audio, once its disc is proved.
  virtual void TrackVerdict(size_t /*Job*/, const std::string& /*Verdict*/) {}
  // Something the run could not do besides its jobs (a lookup that failed, a log not
  // written); the run goes on.
  virtual void Warning(const std::string& /*Text*/) {}
  // Something worth knowing that is no fault (a database that does not know the disc).
  virtual void Notice(const std::string& /*Text*/) {}
  // A lookup found the disc (one release or several): the one to use, from 0.
  virtual size_t ChooseRelease(const std::vector<TDiscInfo>& /*Matches*/,
                               const std::string& /*Service*/) {
    return 0;
  }
  // False when the user took the job back (its row removed) before it started.
  virtual bool StillWanted(size_t /*Job*/) { return true; }
  virtual void RunEnded(const TRunSummary& /*Summary*/) {}
};

// How the run's thread waits: it runs the events that the outputs' workers hand to it
// (progress, completion) while it waits, and can be woken early.
class TEventPump {
 public:
  virtual ~TEventPump() = default;
  // Runs the thread's events for up to Milliseconds.
  virtual void Wait(int Milliseconds) = 0;
  // Ends a `Wait` early; any thread.
  virtual void Wake() = 0;
};

// The pump of a thread without a window: it runs the calls queued on its dispatcher.
class TQueuePump : public TEventPump {
 public:
  explicit TQueuePump(TQueueDispatcher& Queue) : Queue_(Queue) {}
  void Wait(int Milliseconds) override {
    Queue_.WaitAndProcess(std::chrono::milliseconds(Milliseconds));
  }
  void Wake() override {
    Queue_.Post([] {});
  }

 private:
  TQueueDispatcher& Queue_;
};
