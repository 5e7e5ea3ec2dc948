// One job of a rip: the output's per-job tags, its file name (unique within the run),
// and the watch over its end (completion, or a failure on whatever thread it happened).
//
// Threads: everything here runs on the run's thread, except `TJobWatch::Failed`, which
// an output calls on the thread where its run failed.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cdrom/audio_cdrom.h"
#include "core/problem.h"
#include "jobs/output_formats.h"

// What a run writes into each file beyond the format's own settings.
struct TRowTagRules {
  bool TitleFromName = false;     // the title is the job's caption
  std::optional<int> FirstTrack;  // track numbers count up from it, job by job
  // The comment lines (NAME=value) that the user gave for every file, which what is
  // known of the disc never replaces.
  std::vector<std::string> Comments;
  // The tags the run's output held when the run started (the window's tag fields): every
  // file carries them where neither the user's lines nor the disc say otherwise.
  std::vector<std::string> BaseLines;
};

// What is known of one track from its disc: CD-Text, a cue sheet, an online database.
// Empty texts and zero numbers are unknown.
struct TTrackTags {
  std::string Title, Artist, Album, Year, Genre;
  std::string Date;  // the disc's whole date; Year is its year (YearOfDate)
  int Number = 0;
  int Total = 0;        // the disc's audio tracks
  int Disc = 0;         // the disc's place in its release
  int Discs = 0;        // the release's media
  std::string DiscId;   // the disc's freedb id, for names (no tag carries it)
  bool Hidden = false;  // the audio before track 1 (hidden track one audio): track 0
};

// The output folder, "/", the caption made safe as a file name (SafeFileName; "_" when
// nothing of it is left), the format's extension.
std::string JobFileName(const std::string& Folder, const std::string& Caption,
                        TOutputFormat Format);

// The file names one run has given out: a later job of the run never replaces a file
// that an earlier one wrote, but gets "Track01 (2).wav", "(3)" and so on. Files that
// were there before the run are rewritten.
//
// Nor does a run ever write over a file it reads: a disc image's sheet (named through
// `Protect`) and any file the process holds open for reading (the audio files of the
// images the CD library reads) count as taken, by device and inode, so that a rip into
// the image's own folder never replaces its source.
class TRunFileNames {
 public:
  // FileName, or the first numbered variant of it that the run has not written and
  // that is no source of the run.
  std::string Free(const std::string& FileName) const;
  // Records that the run wrote FileName (or is writing it).
  void Written(const std::string& FileName);
  // Takes back `Written`: the run keeps no file of that name.
  void Forget(const std::string& FileName);
  // Path is a file the run reads (a disc image's sheet); nothing when it is no file.
  void Protect(const std::string& Path);

 private:
  bool IsSource(const std::string& FileName) const;

  std::set<std::string> Written_;  // with links and "." resolved, so one file is one name
  std::set<std::pair<uint64_t, uint64_t>> Sources_;  // device and inode
};

// Makes the output folder (with its parents) when it is missing; the problem why files
// cannot be written into it, if any.
TProblem OutputFolderProblem(const std::string& Folder);

// Rules for a run: Rules, with the tags of Model (the run's output) as they are before
// its first job.
TRowTagRules RunTagRules(const TRowTagRules& Rules, const TAudioFileOut& Model);

// The tag lines of job Index (counted from 0) of the run, named Caption: the user's lines
// with the job's own title and track number, then what is known of its track (Disc) and
// the run's base lines for the names still missing.
std::vector<std::string> JobTagLines(const TRowTagRules& Rules, int Index,
                                     const std::string& Caption, const TTrackTags& Disc = {});

// Follows the end of the job a run started: its output's completion, or a failure
// reported by the output (from any thread) or by the run before the output started.
class TJobWatch {
 public:
  // A new job, written by Output (null: it has not started an output).
  void Begin(TAudioOutput* Output);
  // True when Sender's progress belongs to the job: its output, while its run is on.
  bool OwnsProgress(const TAudioOutput* Sender) const;
  // The output's completion; true when it was the job's.
  bool Done(const TAudioOutput* Sender);
  // A failure of the job; any thread.
  void Failed(const std::string& Message);
  // The failure reported since the last call, once.
  TProblem TakeFailure();
  // True once the job's end is known: completion, failure, or no output started.
  bool Ended() const;

 private:
  const TAudioOutput* Output_ = nullptr;
  bool Ended_ = false;
  std::mutex FailureLock_;
  TProblem Failure_;
  std::atomic<bool> FailurePending_{false};
};

// How often a run looks at its outputs, and how many looks after an output went idle
// it waits for the report of its end before it goes on without one.
constexpr int PollMs = 50;
constexpr int MaxPollsWithoutEnd = 100;
