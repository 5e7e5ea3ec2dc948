// One invocation of korvane-cli: resolves the sources into tracks and rips them in
// order through the same run machinery the window uses (Start, Status polling, the
// OnProgress/OnDone/OnThreadException events through its own dispatcher).
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio_cdrom.h"
#include "cli_options.h"
#include "format_setup.h"
#include "progress_display.h"

// One track to rip; Problem, when set, is why it cannot be ripped.
struct TRipJob {
  std::string Entry;    // its track entry
  int Drive = -1;       // the CD library's drive number
  int Track = 0;
  std::string Problem;
};

class TRipSession {
 public:
  TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err, bool Terminal);
  ~TRipSession();

  // Rips everything; returns the exit status (0, 1 when a track failed, 128 + the
  // signal's number when aborted by one).
  int Run();
  // Prints the drives and their tracks; returns the exit status.
  int List();

  // Set from a signal handler: the number of the signal that asks to stop.
  static std::atomic<int> StopSignal;

 private:
  std::vector<TRipJob> ResolveSources();
  void AddWholeDrive(int Drive, std::vector<TRipJob>& Jobs);
  void AddTrackEntry(const std::string& Entry, std::vector<TRipJob>& Jobs);
  int FindDrive(const std::string& Name);
  int AddImageDrive(const std::string& Path);
  std::string DriveName(int Drive);
  static std::string UnreadableSourceMessage();

  // Rips one job; true when it ended "Done".
  bool RipJob(const TRipJob& Job, int Index);
  void WaitForRun();
  std::string OutputFileName(const TRipJob& Job) const;

  const TCliOptions& Options_;
  std::FILE* Out_;
  std::FILE* Err_;
  TProgressDisplay Display_;
  TQueueDispatcher Dispatcher_;
  TCDIn CDIn_;
  std::unique_ptr<TFormatSetup> Format_;
  // What the events of the current job said.
  bool JobDone_ = false;
  std::atomic<bool> JobFailed_{false};
  std::string JobFailure_;
  bool Aborted_ = false;
};
