// One invocation of korvane-cli: resolves the sources into tracks and rips them through
// the job layer the window uses too (the drive catalogue, the start of a job, the watch
// over its end), several tracks at a time (TTrackRunner), running the outputs' events
// through its own dispatcher.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio_cdrom.h"
#include "cli_options.h"
#include "disc_knowledge.h"
#include "drive_catalog.h"
#include "format_setup.h"
#include "progress_display.h"
#include "rip_job.h"
#include "track_runner.h"

// One track to rip; Problem, when set, is why it cannot be ripped.
struct TRipJob {
  std::string Entry;  // its track entry
  std::string Problem;
};

class TRipSession {
 public:
  TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err, bool Terminal);
  ~TRipSession();

  // Rips everything; returns the exit status (0, 1 when a track failed, 128 + the
  // signal's number when aborted by one).
  int Run();
  // Prints the drives and their tracks; returns the exit status (1 when a source
  // named could not be read).
  int List();

  // Set from a signal handler: the number of the signal that asks to stop.
  static std::atomic<int> StopSignal;

 private:
  std::vector<TRipJob> ResolveSources();
  void AddWholeDrive(int Drive, std::vector<TRipJob>& Jobs);
  std::string EntryProblem(const std::string& Entry);

  std::vector<TPlannedJob> Plan(const std::vector<TRipJob>& Jobs);
  void PrintDiscKnowledge(const TDriveListing& Drive);
  void Name(TPlannedJob& Plan, const TDiscFacts& Disc);

  const TCliOptions& Options_;
  std::FILE* Out_;
  std::FILE* Err_;
  TProgressDisplay Display_;
  TQueueDispatcher Dispatcher_;
  TDriveCatalog Drives_;
  TCDIn CDIn_;
  TJobStarter Starter_{CDIn_, Drives_};
  TDiscKnowledge Knowledge_{Options_, Drives_, Err_};
};
