// One job of a rip and what every front end does around it: point the CD source at the
// job's track, give the output its per-job tags and its file name, start it, and follow
// its end (completion, or a failure on whatever thread it happened) until the run can
// move on.
//
// Threads: everything here runs on the front end's main thread, except
// `TJobWatch::Failed`, which an output calls on the thread where its run failed.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio_cdrom.h"
#include "drive_catalog.h"

enum class TOutputFormat { Wav, Mp3, Ogg, Flac };

// ".wav", ".mp3", ".ogg" or ".flac".
const char* OutputExtension(TOutputFormat Format);

// What a run writes into each file beyond the format's own settings.
struct TRowTagRules {
  bool TitleFromName = false;         // MP3, FLAC: the title is the job's caption
  std::optional<int> FirstTrack;      // MP3, FLAC: track numbers count up from it, job by job
  std::vector<std::string> Comments;  // Ogg, FLAC: the comment lines (NAME=value) of every file
  // MP3: the ID3 fields the user gave ("title", "artist", "album", "year", "genre",
  // "track"), which what is known of the disc never replaces.
  std::set<std::string> UserMp3Fields;
};

// What is known of one track from its disc: CD-Text, a cue sheet, an online database.
// Empty texts and zero numbers are unknown.
struct TTrackTags {
  std::string Title, Artist, Album, Year, Genre;
  int Number = 0;
  int Total = 0;
};

// The output folder, "/", the caption with its path separators replaced (so that a
// renamed row never writes outside the folder), the format's extension.
std::string JobFileName(const std::string& Folder, const std::string& Caption,
                        TOutputFormat Format);

// The file names one run has given out: a later job of the run never replaces a file
// that an earlier one wrote, but gets "Track01 (2).wav", "(3)" and so on. Files that
// were there before the run are rewritten.
class TRunFileNames {
 public:
  // FileName, or the first numbered variant of it that the run has not written.
  std::string Free(const std::string& FileName) const;
  // Records that the run wrote FileName (or is writing it).
  void Written(const std::string& FileName);
  // Takes back `Written`: the run keeps no file of that name.
  void Forget(const std::string& FileName);

 private:
  std::set<std::string> Written_;  // with links and "." resolved, so one file is one name
};

// Starts the jobs of a run with the CD source that the run reads.
class TJobStarter {
 public:
  TJobStarter(TCDIn& Source, TDriveCatalog& Drives) : Source_(Source), Drives_(Drives) {}

  // Gives Output the tags of job Index (counted from 0) of the run, named Caption, and
  // what is known of its track (Disc) where the user gave no value of their own.
  static void ApplyRowTags(TAudioFileOut& Output, const TRowTagRules& Rules, int Index,
                           const std::string& Caption, const TTrackTags& Disc = {});
  // Points the source at the entry's track, adding the entry's disc image as a drive
  // when it is not one yet. Raises EAudioException when the entry's name holds no track
  // number (which ends a run); returns why the job cannot be read when the entry's
  // drive is not there, else an empty text. With no drive at all the source is left as
  // it is, and opening it decides.
  std::string SelectTrack(const std::string& Entry);
  // Connects Output to the source (or to Input, a source that reads it), names its file
  // and starts it.
  void StartOutput(TAudioFileOut& Output, const std::string& FileName);
  void StartOutput(TAudioFileOut& Output, const std::string& FileName, TAudioInput& Input);

 private:
  TCDIn& Source_;
  TDriveCatalog& Drives_;
};

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
  std::optional<std::string> TakeFailure();
  // True once the job's end is known: completion, failure, or no output started.
  bool Ended() const;

 private:
  const TAudioOutput* Output_ = nullptr;
  bool Ended_ = false;
  std::mutex FailureLock_;
  std::string Failure_;
  std::atomic<bool> FailurePending_{false};
};

// Waits for the job's end: runs the front end's events (ProcessEvents, for PollMs)
// until no output is running and the end is known. An output is idle a moment before
// its end is reported, so the wait lasts until the report is in; if none comes within
// MaxPollsWithoutEnd polls after the outputs went idle, the run goes on rather than
// wait for ever.
void WaitForJobEnd(const TJobWatch& Watch, const std::function<bool()>& AnyOutputRunning,
                   const std::function<void(int Milliseconds)>& ProcessEvents);

constexpr int PollMs = 50;
constexpr int MaxPollsWithoutEnd = 100;
