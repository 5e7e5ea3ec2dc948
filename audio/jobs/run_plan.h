// Planning a rip: each entry that a front end lists (a track entry with the name its
// file gets) resolves to what to read (drive, track, read offset, how to prove it) and
// to the file's name and tags, or to why it cannot be ripped. Planning reads the drive
// catalogue and what is known of each disc, and points no CD source anywhere: once the
// run starts, its disc reader alone talks to the drives.
//
// Threads: the run's thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/problem.h"
#include "jobs/disc_knowledge.h"
#include "jobs/disc_reader.h"
#include "jobs/drive_catalog.h"
#include "jobs/rip_job.h"

// How the run reads and proves each track, and what it writes beside the files.
struct TRunOptions {
  std::string OutDir = ".";
  size_t TracksAtOnce = 1;        // encoders at a time (WAV: always one)
  bool Verify = false;            // test and copy: every track read twice, CRCs compared
  int Retries = 3;                // further reads when test and copy differ
  std::optional<int> Offset;      // the drive's read offset in samples (else cdr.ini's)
  bool AccurateRip = false;       // look the rips up in the AccurateRip database
  std::string AccurateRipServer;  // empty: the database's own address
  bool Log = false;               // a rip log and a cue sheet beside the files, per disc
  // Names the files from what is known of the disc (see NameFromTemplate); empty: the
  // entries' own names.
  std::string NameTemplate;
  // What is known of a disc reaches its files' tags (when the disc says anything).
  bool TagsFromDisc = true;
  // Each file gets ReplayGain tags (track and album) once its disc's tracks are over.
  bool ReplayGain = false;

  // Each disc gets its log and cue sheet: asked for, or implied by a check of the rip.
  bool ProvesDiscs() const { return Log || Verify || AccurateRip; }
};

// One entry as the front end lists it.
struct TRunEntry {
  std::string Entry;      // its track entry
  std::string Caption;    // its file's name, without folder and extension
  TProblem Problem;       // why it cannot be ripped, known already
  bool Renamable = true;  // the name template may name it
};

// A job as planned before the run starts (the CD library's drives are all known then).
struct TPlannedJob {
  std::string Entry;    // its track entry
  TProblem Problem;     // why it cannot be ripped
  // The failure is told under the entry's name (its source could not be resolved), not
  // under the file name the job would have written.
  bool ProblemOfEntry = false;
  // The entry's name holds no track number: the run ends at this job.
  bool EndsRun = false;
  TTrackRead Read;
  std::string Caption;  // its file's name, without folder and extension
  TTrackTags Tags;      // what is known of its track
  std::string Folder;   // where its file and its disc's proof go; empty: the run's folder
};

class TRunPlanner {
 public:
  TRunPlanner(TDriveCatalog& Drives, TDiscKnowledge& Knowledge, const TRunOptions& Options)
      : Drives_(Drives), Knowledge_(Knowledge), Options_(Options) {}

  std::vector<TPlannedJob> Plan(const std::vector<TRunEntry>& Entries);
  TPlannedJob Plan(const TRunEntry& Entry);

 private:
  TProblem Resolve(const std::string& Entry, TTrackRead& Read);
  void Name(TPlannedJob& Job, const TDiscFacts& Disc, bool Renamable);

  TDriveCatalog& Drives_;
  TDiscKnowledge& Knowledge_;
  const TRunOptions& Options_;
};
