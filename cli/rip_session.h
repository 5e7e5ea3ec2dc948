// One invocation of korvane-cli: resolves the sources into track entries and rips them
// through the run engine the window uses too (planning, the disc reader, the encoders,
// the proof of each disc), showing what the run tells as lines on the terminal and
// running the outputs' events through its own dispatcher.
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
#include "progress_display.h"
#include "rip_run.h"

// What a run tells, as korvane-cli shows it: the progress display's lines, warnings and
// the choice among a lookup's matches on the error stream.
class TCliObserver : public TRunObserver {
 public:
  TCliObserver(const TCliOptions& Options, TProgressDisplay& Display, std::FILE* Err)
      : Options_(Options), Display_(Display), Err_(Err) {}

  void TrackStarted(size_t Job, const std::string& Name) override;
  void TrackProgress(size_t Job, int Percent, int64_t BytesDone, int64_t BytesTotal) override;
  void TrackEnded(size_t Job, const TTrackEnd& End) override;
  void TrackVerdict(size_t Job, const std::string& Verdict) override;
  void Warning(const std::string& Text) override;
  void Notice(const std::string& Text) override;
  size_t ChooseRelease(const std::vector<TDiscInfo>& Matches, const std::string& Service) override;

 private:
  const TCliOptions& Options_;
  TProgressDisplay& Display_;
  std::FILE* Err_;
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
  // Finds the read offset of the drive named (or the first) and prints it; returns the
  // exit status (1 when none was found or the search failed).
  int FindOffset();

  // Set from a signal handler: the number of the signal that asks to stop.
  static std::atomic<int> StopSignal;

 private:
  void WarnOfOffsetOnImages();
  std::vector<TRunEntry> ResolveSources();
  void AddWholeDrive(int Drive, std::vector<TRunEntry>& Entries);
  std::string EntryProblem(const std::string& Entry);
  void PrintDiscKnowledge(const TDriveListing& Drive);

  const TCliOptions& Options_;
  std::FILE* Out_;
  std::FILE* Err_;
  const TRunOptions RunOptions_;
  TProgressDisplay Display_;
  TCliObserver Observer_{Options_, Display_, Err_};
  TQueueDispatcher Dispatcher_;
  TDriveCatalog Drives_;
  TCDIn CDIn_;
  TDiscKnowledge Knowledge_;
};
