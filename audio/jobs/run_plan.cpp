#include "jobs/run_plan.h"

#include <algorithm>

#include "cdrom/track_entry.h"
#include "jobs/disc_proof.h"
#include "jobs/disc_tags.h"
#include "lookup/disc_identity.h"

const char* const HiddenTrackTitle = "Hidden track";

std::vector<THiddenTrackEntry> HiddenTrackEntries(TDriveCatalog& Drives,
                                                  const std::vector<TRunEntry>& Entries) {
  std::vector<THiddenTrackEntry> hidden;
  auto listed = [&](const std::string& Entry) {
    return std::any_of(Entries.begin(), Entries.end(),
                       [&](const TRunEntry& Listed) { return Listed.Entry == Entry; });
  };
  for (size_t i = 0; i < Entries.size(); ++i) {
    const std::string& entry = Entries[i].Entry;
    if (Entries[i].Problem || !HasTrackEntryExtension(entry)) continue;
    try {
      if (TrackEntryNumber(entry) != 1) continue;
      const int drive = Drives.DriveOfEntry(entry);
      if (drive < 0 || Drives.List(drive).HiddenSectors == 0) continue;
    } catch (const EAudioException&) {
      continue;  // no track, or no drive, at all: the run tells of it
    }
    const std::string track0 = TrackEntryPath(TrackEntryDriveRoot(entry), 0);
    if (listed(track0)) continue;
    hidden.push_back({i, TRunEntry{track0, TrackEntryCaption(track0), TProblem(), true}});
  }
  return hidden;
}

std::vector<TRunEntry> WithHiddenTracks(TDriveCatalog& Drives, std::vector<TRunEntry> Entries) {
  const std::vector<THiddenTrackEntry> hidden = HiddenTrackEntries(Drives, Entries);
  for (auto it = hidden.rbegin(); it != hidden.rend(); ++it)
    Entries.insert(Entries.begin() + static_cast<std::ptrdiff_t>(it->Before), it->Entry);
  return Entries;
}

std::vector<TPlannedJob> TRunPlanner::Plan(const std::vector<TRunEntry>& Entries) {
  std::vector<TPlannedJob> planned;
  planned.reserve(Entries.size());
  for (const TRunEntry& entry : Entries) planned.push_back(Plan(entry));
  return planned;
}

TPlannedJob TRunPlanner::Plan(const TRunEntry& Entry) {
  TPlannedJob job;
  job.Entry = Entry.Entry;
  job.Caption = Entry.Caption;
  job.Problem = Entry.Problem;
  job.ProblemOfEntry = static_cast<bool>(Entry.Problem);
  if (job.Problem) return job;
  try {
    job.Problem = Resolve(Entry.Entry, job.Read);
  } catch (const EAudioException& e) {
    job.Problem = TProblem(e.what());
    job.EndsRun = true;
    return job;
  }
  if (job.Problem) return job;
  job.Read.Verify = Options_.Verify;
  job.Read.Retries = Options_.Retries;
  job.Read.Prove = Options_.ProvesDiscs();
  const TDiscFacts& disc = Knowledge_.Of(job.Read.Drive);
  job.Read.Place = PlaceOf(disc.Listing, job.Read.Track);
  job.Read.AudioIndex = AudioIndexOf(disc.Listing, job.Read.Track);
  Name(job, disc, Entry.Renamable);
  return job;
}

// The entry's drive and track. An image that cannot be read says why, even when it
// would have been the only drive; an entry whose drive is not there is never read from
// another drive's disc. With no drive at all, the read itself finds that the drive is
// not ready. Raises EAudioException when the entry's name holds no track number.
TProblem TRunPlanner::Resolve(const std::string& Entry, TTrackRead& Read) {
  int drive = -1;
  try {
    drive = Drives_.DriveOfEntry(Entry);
  } catch (const EAudioException& e) {
    return TProblem(e.what());
  }
  if (Drives_.DriveCount() == 0) return TProblem();
  Read.Track = TrackEntryNumber(Entry);
  if (drive < 0) return TProblem(DriveNotReady);
  Read.Drive = drive;
  Read.Offset = Options_.Offset.value_or(Drives_.ReadOffsetOf(drive));
  return TProblem();
}

// The job's name from the template, and its tags from what is known of its disc; a disc
// that says nothing of itself adds no tags. The track total counts audio tracks only
// (an enhanced CD's data track is not one of the album's).
void TRunPlanner::Name(TPlannedJob& Job, const TDiscFacts& Disc, bool Renamable) {
  const auto audio = std::count_if(Disc.Listing.Tracks.begin(), Disc.Listing.Tracks.end(),
                                   [](const TTrackListing& Track) { return !Track.Info.IsData; });
  TTrackTags tags = TrackTagsOf(Disc.Info, Job.Read.Track, static_cast<int>(audio));
  tags.Hidden = Job.Read.Track == 0;
  if (tags.Hidden && tags.Title.empty()) tags.Title = HiddenTrackTitle;
  if (Options_.TagsFromDisc && HasText(Disc.Info)) Job.Tags = tags;
  tags.DiscId = FreedbDiscId(Disc.Listing.Toc);
  if (Renamable && !Options_.NameTemplate.empty())
    Job.Caption = NameFromTemplate(Options_.NameTemplate, tags, Job.Caption);
}
