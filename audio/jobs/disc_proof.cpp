#include "disc_proof.h"

#include <filesystem>
#include <fstream>

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

// Written under a hidden name first and then renamed, so that a file of that name is
// replaced whole or not at all.
void WriteBeside(const std::string& Folder, const std::string& Name, const std::string& Text,
                 const std::function<void(const std::string&)>& Warn) {
  const std::filesystem::path folder(Folder);
  const std::filesystem::path staged = folder / ("." + Name + ".korvane-part");
  {
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out << Text;
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(staged, ignored);
      return Warn((folder / Name).string() + " could not be written.");
    }
  }
  std::error_code error;
  std::filesystem::rename(staged, folder / Name, error);
  if (error) Warn((folder / Name).string() + " could not be written: " + error.message() + ".");
}

TRipLogTrack LogRow(const TProvedTrack& Track) {
  TRipLogTrack row;
  row.Number = Track.Track;
  row.FileName = std::filesystem::path(Track.FileName).filename().string();
  row.Peak = Track.Proof.Copy.Peak;
  row.CopyCrc = Track.Proof.Copy.Crc32;
  row.TestCrc = Track.Proof.TestCrc;
  row.TestCopyResult = Track.Proof.TestCopy;
  row.Rereads = Track.Proof.Reads.Rereads;
  row.Corrections = Track.Proof.Reads.Corrections;
  row.SkippedSectors = Track.Proof.Reads.Skips;
  row.Error = Track.Failure;
  return row;
}

}  // namespace

TTrackPlace PlaceOf(const TDriveListing& Listing, int Track) {
  TTrackPlace place;
  int firstAudio = 0, lastAudio = 0;
  for (const TTrackListing& track : Listing.Tracks) {
    if (track.Info.IsData) continue;
    if (firstAudio == 0) firstAudio = track.Track;
    lastAudio = track.Track;
    if (track.Track == Track) place.SamplePairs = uint64_t{588} * SectorsOf(Listing, Track);
  }
  place.FirstAudioTrack = Track == firstAudio;
  place.LastAudioTrack = Track == lastAudio;
  return place;
}

std::vector<std::string> WriteDiscProof(const TDiscProof& Disc,
                                        const std::function<void(const std::string&)>& Warn) {
  TRipLog log;
  log.Drive = Disc.Listing.Name;
  log.ReadOffset = Disc.ReadOffset;
  log.ReadMode = IsDiscImageName(Disc.Listing.Name)
                     ? "disc image"
                     : "drive, through the paranoia layer as cdr.ini sets it";
  log.Artist = Disc.Info.Artist;
  log.Album = Disc.Info.Album;
  std::optional<std::vector<TAccurateRipPressing>> pressings;
  bool looked = false;
  if (Disc.AccurateRip) {
    TAccurateRipSettings settings;
    if (!Disc.AccurateRipServer.empty()) settings.Url = Disc.AccurateRipServer;
    try {
      pressings = LookupAccurateRip(Disc.Listing.Toc, settings);
      looked = true;
      if (!pressings) log.AccurateRipNote = "the disc is not in the database";
    } catch (const std::exception& e) {
      log.AccurateRipNote = std::string("the lookup failed: ") + e.what();
      Warn(Disc.Listing.Name + ": the AccurateRip lookup failed (" + e.what() + ").");
    }
  }
  std::vector<std::string> verdicts;
  TCueDisc cue{Disc.Info.Album, Disc.Info.Artist,  Disc.Info.Year,
               Disc.Info.Genre, Disc.Info.Catalog, {}};
  for (const TProvedTrack& track : Disc.Tracks) {
    TRipLogTrack row = LogRow(track);
    if (looked && track.Done)
      row.AccurateRip =
          AccurateRipVerdict(pressings, AudioIndexOf(Disc.Listing, track.Track),
                             track.Proof.Copy.AccurateRipV1, track.Proof.Copy.AccurateRipV2)
              .Text();
    verdicts.push_back(row.AccurateRip);
    log.Tracks.push_back(row);
    if (track.Done && !row.FileName.empty())
      cue.Tracks.push_back(
          TCueTrack{track.Track, row.FileName, SectorsOf(Disc.Listing, track.Track), 0,
                    At(Disc.Info.TrackTitles, track.Track), At(Disc.Info.TrackArtists, track.Track),
                    At(Disc.Info.TrackIsrcs, track.Track)});
  }
  TTrackTags names;
  names.Artist = Disc.Info.Artist;
  names.Album = Disc.Info.Album;
  const std::string stem = std::filesystem::path(Disc.Listing.Name).stem().string();
  const std::string base =
      Disc.Info.Album.empty()
          ? stem
          : NameFromTemplate(names.Artist.empty() ? "%A" : "%a - %A", names, stem);
  WriteBeside(Disc.Folder, base + ".log", RipLogText(log), Warn);
  if (!cue.Tracks.empty()) WriteBeside(Disc.Folder, base + ".cue", CueSheetText(cue), Warn);
  return verdicts;
}
