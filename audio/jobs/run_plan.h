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
  // Audio before track 1 (hidden track one audio) is ripped as track 0, into a file of
  // its own, where the run rips track 1 (see WithHiddenTracks).
  bool HiddenTrackOne = false;

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

// A track-0 entry that a run with HiddenTrackOne rips: Entry goes before entry Before.
struct THiddenTrackEntry {
  size_t Before = 0;
  TRunEntry Entry;
};

// The entries of hidden track one audio ("<drive>/Track00.cda") for the entries of track 1
// whose disc has audio before track 1 and whose track 0 the entries do not list already;
// in the entries' order. A front end that shows its entries lists them too.
std::vector<THiddenTrackEntry> HiddenTrackEntries(TDriveCatalog& Drives,
                                                  const std::vector<TRunEntry>& Entries);
// Entries with the hidden track entries in their places.
std::vector<TRunEntry> WithHiddenTracks(TDriveCatalog& Drives, std::vector<TRunEntry> Entries);
// The title of a track 0 that the disc names not: its file's name from a template.
extern const char* const HiddenTrackTitle;

// A job as planned before the run starts (the CD library's drives are all known then).
struct TPlannedJob {
  std::string Entry;  // its track entry
  TProblem Problem;   // why it cannot be ripped
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
