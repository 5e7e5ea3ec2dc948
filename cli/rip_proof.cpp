#include "rip_proof.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "accuraterip.h"
#include "cue_writer.h"
#include "disc_tags.h"
#include "rip_log.h"

namespace {

// The track's place among the disc's audio tracks (from 0), -1 when it is none of them.
int AudioIndexOf(const TDriveListing& Listing, int Track) {
  int index = 0;
  for (const TTrackListing& track : Listing.Tracks) {
    if (track.Info.IsData) continue;
    if (track.Track == Track) return index;
    ++index;
  }
  return -1;
}

int32_t SectorsOf(const TDriveListing& Listing, int Track) {
  for (const TTrackListing& track : Listing.Tracks)
    if (track.Track == Track)
      return (track.Info.Minutes * 60 + track.Info.Seconds) * 75 + track.Info.Frames;
  return 0;
}

std::string At(const std::vector<std::string>& Texts, int Track) {
  const size_t index = static_cast<size_t>(Track - 1);
  return Track >= 1 && index < Texts.size() ? Texts[index] : std::string();
}

}  // namespace

void TRunProof::Prove(const std::vector<TPlannedJob>& Jobs,
                      const std::vector<TJobOutcome>& Outcomes) {
  if (!Options_.Log) return;
  Jobs_ = &Jobs;
  Outcomes_ = &Outcomes;
  std::vector<int> drives;  // in the order the run met them
  std::map<int, std::vector<size_t>> jobsOf;
  for (size_t i = 0; i < Jobs.size(); ++i) {
    if (!Jobs[i].Problem.empty() || !Outcomes[i].Ended) continue;
    if (jobsOf.count(Jobs[i].Read.Drive) == 0) drives.push_back(Jobs[i].Read.Drive);
    jobsOf[Jobs[i].Read.Drive].push_back(i);
  }
  for (int drive : drives) ProveDisc(drive, jobsOf[drive]);
}

// The database's verdicts, printed per track; the log and the cue sheet of the disc.
void TRunProof::ProveDisc(int Drive, const std::vector<size_t>& Jobs) {
  const TDiscFacts& disc = Knowledge_.Of(Drive);
  const TDriveListing& listing = disc.Listing;
  TRipLog log;
  log.Drive = listing.Name;
  log.ReadOffset = (*Jobs_)[Jobs.front()].Read.Offset;
  log.ReadMode = IsDiscImageName(listing.Name)
                     ? "disc image"
                     : "drive, through the paranoia layer as cdr.ini sets it";
  log.Artist = disc.Info.Artist;
  log.Album = disc.Info.Album;
  std::optional<std::vector<TAccurateRipPressing>> pressings;
  bool looked = false;
  if (Options_.AccurateRip) {
    TAccurateRipSettings settings;
    if (!Options_.AccurateRipServer.empty()) settings.Url = Options_.AccurateRipServer;
    try {
      pressings = LookupAccurateRip(listing.Toc, settings);
      looked = true;
      if (!pressings) log.AccurateRipNote = "the disc is not in the database";
    } catch (const std::exception& e) {
      log.AccurateRipNote = std::string("the lookup failed: ") + e.what();
      std::fprintf(Err_, "korvane-cli: warning: %s: the AccurateRip lookup failed (%s).\n",
                   listing.Name.c_str(), e.what());
    }
  }
  TCueDisc cue{disc.Info.Album, disc.Info.Artist, disc.Info.Year, disc.Info.Genre, "", {}};
  for (size_t job : Jobs) {
    const TPlannedJob& plan = (*Jobs_)[job];
    const TJobOutcome& outcome = (*Outcomes_)[job];
    const TTrackProof& proof = outcome.Proof;
    TRipLogTrack row;
    row.Number = plan.Read.Track;
    row.FileName = std::filesystem::path(outcome.FileName).filename().string();
    row.Peak = proof.Copy.Peak;
    row.CopyCrc = proof.Copy.Crc32;
    row.TestCrc = proof.TestCrc;
    row.TestCopyResult = proof.TestCopy;
    row.Rereads = proof.Reads.Rereads;
    row.Corrections = proof.Reads.Corrections;
    row.SkippedSectors = proof.Reads.Skips;
    row.Error = outcome.Failure;
    if (looked && outcome.Done) {
      row.AccurateRip = AccurateRipVerdict(pressings, AudioIndexOf(listing, plan.Read.Track),
                                           proof.Copy.AccurateRipV1, proof.Copy.AccurateRipV2)
                            .Text();
      Display_.Note(static_cast<int>(job), row.AccurateRip);
    }
    log.Tracks.push_back(row);
    if (outcome.Done && !row.FileName.empty())
      cue.Tracks.push_back(TCueTrack{plan.Read.Track, row.FileName,
                                     SectorsOf(listing, plan.Read.Track), 0,
                                     At(disc.Info.TrackTitles, plan.Read.Track),
                                     At(disc.Info.TrackArtists, plan.Read.Track), ""});
  }
  TTrackTags names;
  names.Artist = disc.Info.Artist;
  names.Album = disc.Info.Album;
  const std::string stem = std::filesystem::path(listing.Name).stem().string();
  const std::string base =
      disc.Info.Album.empty() ? stem : NameFromTemplate("%a - %A", names, stem);
  WriteBeside(base + ".log", RipLogText(log));
  if (!cue.Tracks.empty()) WriteBeside(base + ".cue", CueSheetText(cue));
}

// Written under a hidden name first and then renamed, so that a file of that name is
// replaced whole or not at all.
void TRunProof::WriteBeside(const std::string& Name, const std::string& Text) {
  const std::filesystem::path folder(Options_.OutDir);
  const std::filesystem::path staged = folder / ("." + Name + ".korvane-part");
  {
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out << Text;
    out.flush();
    if (!out) {
      std::fprintf(Err_, "korvane-cli: %s could not be written.\n", (folder / Name).c_str());
      std::error_code ignored;
      std::filesystem::remove(staged, ignored);
      return;
    }
  }
  std::error_code error;
  std::filesystem::rename(staged, folder / Name, error);
  if (error)
    std::fprintf(Err_, "korvane-cli: %s could not be written: %s.\n", (folder / Name).c_str(),
                 error.message().c_str());
}
