// What a run of korvane-cli knows of each drive's disc: what the disc says of itself
// (CD-Text, a cue sheet's texts) and, when --lookup asks for it, what an online
// database knows, which takes precedence. A lookup that fails, or finds nothing, is
// told on the error stream and the run goes on with what the disc says; several
// matches are listed, and --release picks one (else the first).
#pragma once

#include <cstdio>
#include <map>
#include <optional>

#include "cli_options.h"
#include "disc_lookup.h"
#include "drive_catalog.h"

struct TDiscFacts {
  TDiscInfo Info;         // what is known, the lookup's answer first
  TDriveListing Listing;  // the drive's listing: the table, the tracks, the disc's own texts
};

class TDiscKnowledge {
 public:
  TDiscKnowledge(const TCliOptions& Options, TDriveCatalog& Drives, std::FILE* Err)
      : Options_(Options), Drives_(Drives), Err_(Err) {}

  // What is known of the disc in Drive; the drive is listed (and looked up) once.
  const TDiscFacts& Of(int Drive);

 private:
  std::optional<TDiscInfo> LookUp(const TDriveListing& Listing);
  const TDiscInfo& Choose(const std::vector<TDiscInfo>& Matches, const std::string& Service);

  const TCliOptions& Options_;
  TDriveCatalog& Drives_;
  std::FILE* Err_;
  std::map<int, TDiscFacts> Known_;
};

// Info with the gaps filled from Fallback, field by field and track by track.
TDiscInfo FilledFrom(TDiscInfo Info, const TDiscInfo& Fallback);
