// What a window run proves of the discs it reads, when "Write a rip log and cue sheet"
// is on: each job's track is read through a summing source, and once the run ends every
// disc gets its rip log and cue sheet beside the files. The rows keep their statuses.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disc_proof.h"
#include "drive_catalog.h"

class TRunProofRecorder {
 public:
  TRunProofRecorder(TCDIn& Source, TDriveCatalog& Drives) : Source_(Source), Drives_(Drives) {}

  // A new run; Recording: whether it proves its discs.
  void BeginRun(bool Recording);
  // The source the job that the source now points at reads.
  TAudioInput& InputOfJob();
  // The job's end: the file it kept (empty: none), and why it failed (empty: it did not).
  void EndJob(const std::string& FileKept, const std::string& Failure);
  // Writes every disc's log and cue sheet into Folder; returns what could not be done.
  std::vector<std::string> EndRun(const std::string& Folder);

 private:
  struct TJob {
    int Drive = 0;
    TProvedTrack Track;
  };
  const TDriveListing& ListingOf(int Drive);

  TCDIn& Source_;
  TDriveCatalog& Drives_;
  bool Recording_ = false;
  TSummingInput Summing_{Source_};
  std::map<int, TDriveListing> Listings_;
  std::vector<TJob> Jobs_;
  bool JobStarted_ = false;
};
