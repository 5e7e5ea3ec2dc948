#include "run_proof.h"

void TRunProofRecorder::BeginRun(bool Recording) {
  Recording_ = Recording;
  Listings_.clear();
  Jobs_.clear();
}

const TDriveListing& TRunProofRecorder::ListingOf(int Drive) {
  auto listing = Listings_.find(Drive);
  if (listing == Listings_.end()) listing = Listings_.emplace(Drive, Drives_.List(Drive)).first;
  return listing->second;
}

TAudioInput& TRunProofRecorder::InputOfJob() {
  JobStarted_ = Recording_;
  if (!Recording_) return Source_;
  Summing_.SetPlace(PlaceOf(ListingOf(Source_.CurrentDrive()), Source_.StartTrack()));
  return Summing_;
}

void TRunProofRecorder::EndJob(const std::string& FileKept, const std::string& Failure) {
  if (!JobStarted_) return;
  JobStarted_ = false;
  TJob job;
  job.Drive = Source_.CurrentDrive();
  job.Track = TProvedTrack{Source_.StartTrack(), FileKept, Failure.empty(), Failure, {}};
  job.Track.Proof.Copy = Summing_.Result();
  job.Track.Proof.Reads = Source_.LastReadReport();
  Jobs_.push_back(job);
}

std::vector<std::string> TRunProofRecorder::EndRun(const std::string& Folder) {
  std::vector<std::string> problems;
  std::vector<int> drives;
  for (const TJob& job : Jobs_)
    if (std::find(drives.begin(), drives.end(), job.Drive) == drives.end())
      drives.push_back(job.Drive);
  for (int drive : drives) {
    const TDriveListing& listing = ListingOf(drive);
    TDiscProof disc{listing, listing.Text, Source_.ReadOffset(), {}, false, "", Folder};
    for (const TJob& job : Jobs_)
      if (job.Drive == drive) disc.Tracks.push_back(job.Track);
    WriteDiscProof(disc, [&problems](const std::string& Text) { problems.push_back(Text); });
  }
  Jobs_.clear();
  return problems;
}
