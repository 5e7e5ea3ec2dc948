// What a run proves of one disc, written beside its files: the AccurateRip verdict of
// each track (when the database is asked), a rip log and a cue sheet. The run engine
// hands each disc's tracks here once they are over. Any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "disc_lookup.h"
#include "disc_reader.h"
#include "drive_catalog.h"

struct TProvedTrack {
  int Track = 0;
  std::string FileName;  // the file the job kept (with its folder); empty when none
  bool Done = false;     // Done or Aborted, not Failed
  std::string Failure;
  TTrackProof Proof;
};

struct TDiscProof {
  TDriveListing Listing;
  TDiscInfo Info;  // what is known of the disc
  int ReadOffset = 0;
  std::vector<TProvedTrack> Tracks;
  bool AccurateRip = false;       // ask the database
  std::string AccurateRipServer;  // empty: its own address
  std::string Folder;             // where the files are, and the log and cue sheet go
};

// Where track Track lies among the listed disc's audio tracks, for its AccurateRip sums.
TTrackPlace PlaceOf(const TDriveListing& Listing, int Track);

// Looks the disc up when asked, writes "<artist> - <album>.log" and ".cue" (or the
// drive's name when the album is not known) into the folder, and returns each track's
// verdict text (empty without a lookup). Warn hears what could not be done.
std::vector<std::string> WriteDiscProof(const TDiscProof& Disc,
                                        const std::function<void(const std::string&)>& Warn);
