// What a run knows of each drive's disc: what the disc says of itself (CD-Text, a cue
// sheet's texts) and, when the run asks for a lookup, what an online database knows,
// which takes precedence. A lookup that fails, or finds nothing, is told to the run's
// observer and the run goes on with what the disc says; of several matches the
// observer chooses one.
//
// Threads: the run's thread (it lists drives through the drive catalogue).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "jobs/drive_catalog.h"
#include "jobs/run_observer.h"
#include "lookup/disc_lookup.h"

// Which database a run asks, and where.
struct TLookupChoice {
  std::string Service = "none";  // none, musicbrainz, gnudb
  std::string Server;            // empty: the service's own address
  std::string CddbUser;          // the e-mail a CDDB server is greeted with; empty: the login
  // Once it holds true (a stop), a lookup under way ends at once.
  std::shared_ptr<const std::atomic<bool>> Cancel = nullptr;
};

struct TDiscFacts {
  TDiscInfo Info;         // what is known, the lookup's answer first
  TDriveListing Listing;  // the drive's listing: the table, the tracks, the disc's own texts
};

class TDiscKnowledge {
 public:
  TDiscKnowledge(TDriveCatalog& Drives, TLookupChoice Lookup, TRunObserver& Observer)
      : Drives_(Drives), Lookup_(std::move(Lookup)), Observer_(Observer) {}

  // What is known of the disc in Drive; the drive is listed (and looked up) once.
  const TDiscFacts& Of(int Drive);
  // Another disc went into Drive: what was known of the last one goes.
  void Forget(int Drive) { Known_.erase(Drive); }

 private:
  std::optional<TDiscInfo> LookUp(const TDriveListing& Listing);
  std::string CddbEmail(const std::string& Source);

  TDriveCatalog& Drives_;
  const TLookupChoice Lookup_;
  TRunObserver& Observer_;
  std::map<int, TDiscFacts> Known_;
  bool CddbUserNamed_ = false;  // a cdr.ini CddbUser that is no address was named
};

// Info with the gaps filled from Fallback, field by field and track by track.
TDiscInfo FilledFrom(TDiscInfo Info, const TDiscInfo& Fallback);
// One line for a release found by a lookup: "Artist - Album (Year), N tracks [source]",
// with ", CD 2 of 2" after the year for a medium of several.
std::string ReleaseDescription(const TDiscInfo& Info);
