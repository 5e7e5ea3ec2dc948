// What a run proves of one disc, written beside its files: the AccurateRip verdict of
// each track (when the database is asked), a rip log and a cue sheet. The run engine
// hands each disc's tracks here once they are over. Any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/disc_reader.h"
#include "jobs/drive_catalog.h"
#include "lookup/disc_lookup.h"

struct TProvedTrack {
  int Track = 0;
  std::string FileName;  // the file the job kept (with its folder); empty when none
  bool Done = false;     // Done or Aborted, not Failed
  TProblem Failure;
  TTrackProof Proof;
};

struct TDiscProof {
  TDriveListing Listing;
  std::string DriveModel;  // vendor and model as the drive gives them; empty for images
  TDiscInfo Info;          // what is known of the disc
  int ReadOffset = 0;
  std::vector<TProvedTrack> Tracks;
  bool AccurateRip = false;       // ask the database
  std::string AccurateRipServer;  // empty: its own address
  std::string Folder;             // where the files are, and the log and cue sheet go
  std::string DriveRevision;      // the drive's firmware revision; empty for images
  std::string DriveReadMode;      // how the drive was read (the CD library's settings)
  bool TestAndCopy = false;       // every track read twice
  int TestAndCopyRetries = 0;     // further reads when the two differ
  // The disc's AccurateRip entry as the run looked it up while reading; none: looked up
  // here when asked.
  std::optional<TAccurateRipLookup> Lookup;
  // Set when the run was stopped: a lookup made here ends at once.
  std::shared_ptr<const std::atomic<bool>> LookupCancel = nullptr;
  // False when the tracks' pre-gaps were not asked for (a stopped run searches none).
  bool PregapsSearched = true;
};

// Where track Track lies among the listed disc's audio tracks, for its AccurateRip sums.
TTrackPlace PlaceOf(const TDriveListing& Listing, int Track);
// The track's place among the disc's audio tracks (from 0), -1 when it is none of them.
int AudioIndexOf(const TDriveListing& Listing, int Track);

struct TDiscProofResult {
  // Each track's verdict; none without a lookup.
  std::vector<std::optional<TAccurateRipResult>> Verdicts;
  bool Written = true;  // false: the log or the cue sheet could not be written
};

// Looks the disc up when asked and writes "<artist> - <album>.log" and ".cue" (or the
// drive's name when the album is not known) into the folder. A name already taken by
// any file (an earlier disc's log, the source image's own sheet) is never replaced: the
// log and sheet take the first free "<name> (2)", "<name> (3)", ... together, as tracks
// do. Warn hears what could not be done.
TDiscProofResult WriteDiscProof(const TDiscProof& Disc,
                                const std::function<void(const std::string&)>& Warn);
