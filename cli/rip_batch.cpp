// korvane-cli --batch: a ripping station. The drives are asked for a disc every half
// second (a wait that a stop signal cuts short, so that nothing spins); the discs found
// are ripped whole in one run of the engine, a reader per drive, each into a folder of
// its own; then each is ejected and the drives are watched again. A disc stays known
// until its drive is seen empty, so that a disc that could not be ejected is never
// ripped twice, nor a failed one retried.
#include <poll.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "cdrom/track_entry.h"
#include "jobs/disc_tags.h"
#include "lookup/disc_identity.h"
#include "rip_session.h"

namespace {

constexpr int PollIntervalMs = 500;
// A drive that holds a disc whose table cannot be read for this many polls in a row holds
// an unreadable disc (a drive that spins up answers within one).
constexpr int UnreadablePollsToGiveUp = 2;
const char* const UnreadableDisc = "(unreadable)";

// Waits Milliseconds, or less when a signal arrives: the stop handlers do not restart
// interrupted calls.
void Pause(int Milliseconds) { ::poll(nullptr, 0, Milliseconds); }

std::string DiscKey(const TDriveListing& Listing) {
  return MusicBrainzDiscId(Listing.Toc) + " " + FreedbDiscId(Listing.Toc);
}

// The first of Base, "Base (2)", "Base (3)", ... that is not in Folder yet.
std::string FreeFolderName(const std::string& Folder, const std::string& Base) {
  std::error_code error;
  std::string name = Base;
  for (int n = 2; std::filesystem::exists(std::filesystem::path(Folder) / name, error); ++n)
    name = Base + " (" + std::to_string(n) + ")";
  return name;
}

}  // namespace

// The drives named, or every drive the CD library lists; a source that is no drive is
// refused before any waiting.
std::vector<TRipSession::TDriveWatch> TRipSession::BatchDrives() {
  std::vector<TDriveWatch> watches;
  std::vector<int> drives;
  if (Options_.Sources.empty())
    for (int drive = 0; drive < Drives_.DriveCount(); ++drive) drives.push_back(drive);
  for (const std::string& source : Options_.Sources) {
    const int drive = SourceProblem(source) ? -1 : Drives_.DriveOfSource(source);
    if (drive < 0 || !IsBlockDevice(Drives_.DriveName(drive)))
      throw std::runtime_error(source + " is no CD drive: --batch waits on drives.");
    drives.push_back(drive);
  }
  for (int drive : drives)
    if (std::none_of(watches.begin(), watches.end(),
                     [&](const TDriveWatch& Watch) { return Watch.Drive == drive; }))
      watches.push_back(TDriveWatch{drive, Drives_.DriveName(drive), std::string(), 0});
  if (watches.empty()) throw std::runtime_error("There is no CD drive to wait on.");
  return watches;
}

int TRipSession::Batch() {
  PrintFormatWarnings();
  if (!OutputFolderUsable()) return 1;
  std::vector<TDriveWatch> watches = BatchDrives();
  std::string names;
  for (const TDriveWatch& watch : watches) names += (names.empty() ? "" : ", ") + watch.Name;
  std::fprintf(Out_, "Waiting for a disc in %s (Ctrl-C ends the batch)\n", names.c_str());
  std::fflush(Out_);
  TBatchTally tally;
  while (StopSignal == 0) {
    const std::vector<TDriveWatch*> discs = NewDiscs(watches, tally);
    if (discs.empty()) {
      Pause(PollIntervalMs);
      continue;
    }
    RipDiscs(discs, tally);
  }
  std::fprintf(Out_, "Batch: %d %s, %d failed; %s\n", tally.Discs,
               tally.Discs == 1 ? "disc" : "discs", tally.DiscsFailed,
               TallyText(tally.Done, tally.Suspicious, tally.Failed, tally.Aborted,
                         tally.Done == 1 ? "track done" : "tracks done")
                   .c_str());
  std::fflush(Out_);
  return 128 + StopSignal;
}

// The drives that hold a disc not seen before. A disc whose table cannot be read is
// reported as a failed disc and ejected.
std::vector<TRipSession::TDriveWatch*> TRipSession::NewDiscs(std::vector<TDriveWatch>& Watches,
                                                             TBatchTally& Tally) {
  std::vector<TDriveWatch*> found;
  for (TDriveWatch& watch : Watches) {
    CDIn_.SetCurrentDrive(watch.Drive);
    if (CDIn_.GetDriveState() == dsNotReady) {
      watch.Held.clear();
      watch.UnreadablePolls = 0;
      continue;
    }
    const TDriveListing listing = Drives_.List(watch.Drive);
    if (listing.Ready) {
      watch.UnreadablePolls = 0;
      if (DiscKey(listing) != watch.Held) found.push_back(&watch);
      continue;
    }
    if (watch.Held == UnreadableDisc || ++watch.UnreadablePolls < UnreadablePollsToGiveUp) continue;
    watch.Held = UnreadableDisc;
    EjectDisc(watch);
    ++Tally.Discs;
    ++Tally.DiscsFailed;
    std::fprintf(Out_, "Disc %d: %s: failed: its table of contents cannot be read\n", Tally.Discs,
                 watch.Name.c_str());
    std::fflush(Out_);
  }
  return found;
}

// Rips the discs in one run, each into its own folder, ejects each and says how it went;
// after a stop the discs stay in.
void TRipSession::RipDiscs(const std::vector<TDriveWatch*>& Discs, TBatchTally& Tally) {
  std::vector<TRunEntry> entries;
  std::vector<size_t> discOfEntry;
  for (size_t i = 0; i < Discs.size(); ++i) {
    Knowledge_.Forget(Discs[i]->Drive);
    std::vector<TRunEntry> disc;
    AddWholeDrive(Discs[i]->Drive, disc);
    if (RunOptions_.HiddenTrackOne) disc = WithHiddenTracks(Drives_, std::move(disc));
    entries.insert(entries.end(), disc.begin(), disc.end());
    discOfEntry.resize(entries.size(), i);
  }
  std::vector<TPlannedJob> all = TRunPlanner(Drives_, Knowledge_, RunOptions_).Plan(entries);
  // A disc whose folder cannot be made fails alone: it is told and ejected, and its jobs
  // are left out of the run (its folder stays empty here).
  std::vector<std::string> folders;
  for (TDriveWatch* disc : Discs) {
    const std::string folder =
        (std::filesystem::path(Options_.OutDir) / DiscFolder(Knowledge_.Of(disc->Drive))).string();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    folders.push_back(error ? std::string() : folder);
    if (!error) continue;
    disc->Held = DiscKey(Knowledge_.Of(disc->Drive).Listing);
    EjectDisc(*disc);
    ++Tally.Discs;
    ++Tally.DiscsFailed;
    std::fprintf(Out_, "Disc %d: %s: failed: its folder %s cannot be made: %s\n", Tally.Discs,
                 disc->Name.c_str(), folder.c_str(), error.message().c_str());
    std::fflush(Out_);
  }
  std::vector<TPlannedJob> planned;
  std::vector<size_t> discOfJob;
  for (size_t job = 0; job < all.size(); ++job) {
    const std::string& folder = folders[discOfEntry[job]];
    if (folder.empty()) continue;
    all[job].Folder = folder;
    planned.push_back(std::move(all[job]));
    discOfJob.push_back(discOfEntry[job]);
  }
  Observer_.SetJobBase(JobBase_);
  JobBase_ += static_cast<int>(planned.size());
  const TRunOutcome outcome = RipPlanned(planned);
  for (size_t i = 0; i < Discs.size(); ++i) {
    if (folders[i].empty()) continue;
    Discs[i]->Held = DiscKey(Knowledge_.Of(Discs[i]->Drive).Listing);
    if (outcome.Finished) EjectDisc(*Discs[i]);
  }
  for (size_t i = 0; i < Discs.size(); ++i) {
    if (folders[i].empty()) continue;
    TBatchTally disc;
    for (size_t job = 0; job < planned.size(); ++job) {
      if (discOfJob[job] != i || !outcome.Over[job]) continue;
      const TTrackEnd& end = outcome.Ends[job];
      ++(end.Suspicious()                     ? disc.Suspicious
         : end.Result == TTrackResult::Done   ? disc.Done
         : end.Result == TTrackResult::Failed ? disc.Failed
                                              : disc.Aborted);
    }
    const bool failed = disc.Failed > 0 || disc.Done + disc.Suspicious == 0;
    ++Tally.Discs;
    Tally.DiscsFailed += failed && outcome.Finished ? 1 : 0;
    Tally.Done += disc.Done;
    Tally.Suspicious += disc.Suspicious;
    Tally.Failed += disc.Failed;
    Tally.Aborted += disc.Aborted;
    std::fprintf(Out_, "Disc %d: %s: %s: %s, into %s\n", Tally.Discs, Discs[i]->Name.c_str(),
                 !outcome.Finished ? "stopped"
                 : failed          ? "failed"
                                   : "ripped",
                 TallyText(disc.Done, disc.Suspicious, disc.Failed, disc.Aborted).c_str(),
                 folders[i].c_str());
    std::fflush(Out_);
  }
}

// "Artist - Album" when the disc (or the lookup) names its album, else "Disc" and its
// freedb id; a folder of that name that is there already (an earlier disc of the same
// names) makes it "... (2)", so that no disc's files replace another's.
std::string TRipSession::DiscFolder(const TDiscFacts& Disc) {
  const TDiscInfo& info = Disc.Info;
  std::string base = info.Album.empty()    ? std::string()
                     : info.Artist.empty() ? info.Album
                                           : info.Artist + " - " + info.Album;
  base = SafeFileName(base);
  if (base.empty()) base = "Disc " + FreedbDiscId(Disc.Listing.Toc);
  return FreeFolderName(Options_.OutDir, base);
}

void TRipSession::EjectDisc(TDriveWatch& Watch) {
  CDIn_.SetCurrentDrive(Watch.Drive);
  if (CDIn_.Eject()) return;
  std::fprintf(Err_, "korvane-cli: warning: %s did not eject its disc; take it out by hand.\n",
               Watch.Name.c_str());
}
