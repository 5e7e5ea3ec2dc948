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

#include "cdrom/audio_cdrom.h"
#include "cli_options.h"
#include "jobs/disc_knowledge.h"
#include "jobs/drive_catalog.h"
#include "jobs/rip_run.h"
#include "progress_display.h"

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
  // Runs after the first number their jobs from Base on, so that the display tells
  // their tracks apart from earlier runs'.
  void SetJobBase(int Base) { JobBase_ = Base; }

 private:
  int TrackOf(size_t Job) const { return JobBase_ + static_cast<int>(Job); }

  int JobBase_ = 0;
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
  // Disc after disc from the drives named (every drive when none), until a stop
  // signal; returns 128 + its number.
  int Batch();

  // Set from a signal handler: the number of the signal that asks to stop, and whether
  // one did (which ends the lookups under way).
  static std::atomic<int> StopSignal;
  static std::atomic<bool> Stopping;

 private:
  void WarnOfOffsetOnImages();
  std::vector<TRunEntry> ResolveSources();
  void AddWholeDrive(int Drive, std::vector<TRunEntry>& Entries);
  TProblem EntryProblem(const std::string& Entry);
  TProblem SourceProblem(const std::string& Source);
  void PrintDiscKnowledge(const TDriveListing& Drive);
  void PrintFormatWarnings();
  bool OutputFolderUsable();

  // What one run of the engine left: whether it finished, and how each job ended.
  struct TRunOutcome {
    bool Finished = true;
    TRunSummary Summary;
    std::vector<TTrackEnd> Ends;
    std::vector<bool> Over;
  };
  TRunOutcome RipPlanned(const std::vector<TPlannedJob>& Planned);

  // A drive that --batch waits on.
  struct TDriveWatch {
    int Drive = -1;
    std::string Name;
    std::string Held;         // the disc still in that was ripped (or failed) last; empty: none
    int UnreadablePolls = 0;  // polls that found a disc whose table cannot be read
  };
  // The batch's tally of discs and tracks.
  struct TBatchTally {
    int Discs = 0, DiscsFailed = 0;
    int Done = 0, Suspicious = 0, Failed = 0, Aborted = 0;
  };
  std::vector<TDriveWatch> BatchDrives();
  std::vector<TDriveWatch*> NewDiscs(std::vector<TDriveWatch>& Watches, TBatchTally& Tally);
  void RipDiscs(const std::vector<TDriveWatch*>& Discs, TBatchTally& Tally);
  std::string DiscFolder(const TDiscFacts& Disc);
  void EjectDisc(TDriveWatch& Watch);
  int JobBase_ = 0;  // jobs numbered in the batch's earlier runs

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
