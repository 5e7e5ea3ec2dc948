#include "jobs/disc_proof.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "core/file_stream.h"
#include "jobs/disc_tags.h"
#include "proof/accuraterip.h"
#include "proof/cue_writer.h"
#include "proof/rip_log.h"

namespace {

int32_t SectorsOf(const TDriveListing& Listing, int Track) {
  for (const TTrackListing& track : Listing.Tracks)
    if (track.Track == Track)
      return (track.Info.Minutes * 60 + track.Info.Seconds) * 75 + track.Info.Frames;
  return 0;
}

// The track's pre-gap, when the source gives it.
std::optional<int32_t> PregapOf(const TDriveListing& Listing, int Track) {
  for (const TTrackListing& track : Listing.Tracks)
    if (track.Track == Track) return track.Pregap;
  return std::nullopt;
}

// The gap the sheet gives a track so that it describes the source disc: the disc's first
// track starts where the source's does (the silence before it, PREGAP); any other keeps
// its pre-gap at the end of the previous track's file, when that file is the sheet's.
int32_t SheetGap(const TDriveListing& Listing, const TCueDisc& Sheet, int Track) {
  if (Sheet.Tracks.empty()) {
    for (const TDiscTocTrack& entry : Listing.Toc.Tracks)
      if (entry.Number == Track)
        return Track == Listing.Toc.Tracks.front().Number ? entry.Start : 0;
    return 0;
  }
  const TCueTrack& previous = Sheet.Tracks.back();
  const int32_t gap = PregapOf(Listing, Track).value_or(0);
  return previous.Number == Track - 1 && gap < previous.Sectors ? gap : 0;
}

std::string At(const std::vector<std::string>& Texts, int Track) {
  const size_t index = static_cast<size_t>(Track - 1);
  return Track >= 1 && index < Texts.size() ? Texts[index] : std::string();
}

// A file descriptor closed when it goes out of scope.
class TFileHandle {
 public:
  explicit TFileHandle(int Fd) : Fd_(Fd) {}
  ~TFileHandle() {
    if (Fd_ >= 0) ::close(Fd_);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int Get() const { return Fd_; }
  // Closes now, for the error a close can report.
  bool Close() {
    const int fd = Fd_;
    Fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int Fd_;
};

// Writes Text whole into a new file under a staging name beside Path (which a later run
// removes when this one is killed meanwhile) and returns that name; empty, with Error
// saying why, when it could not be written.
std::string WriteStaged(const std::filesystem::path& Path, const std::string& Text,
                        std::string& Error) {
  RemoveAbandonedStagingFilesOnce(Path.string());
  const std::string staged = StagingNameFor(Path.string());
  if (staged.empty()) {
    Error = "it is not a regular file";
    return staged;
  }
  TFileHandle file(::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.Get() < 0) {
    Error = std::strerror(errno);
    return std::string();
  }
  for (size_t done = 0; done < Text.size();) {
    const ssize_t wrote = ::write(file.Get(), Text.data() + done, Text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      Error = wrote < 0 ? std::strerror(errno) : "nothing could be written";
      DiscardStagedFile(staged);
      return std::string();
    }
    done += static_cast<size_t>(wrote);
  }
  if (::fsync(file.Get()) != 0 || !file.Close()) {
    Error = std::strerror(errno);
    DiscardStagedFile(staged);
    return std::string();
  }
  return staged;
}

// Gives the staged file the name Path unless a file has that name (never a replacement,
// even of a file that appears meanwhile): 0, or the error.
int PlaceStaged(const std::string& Staged, const std::filesystem::path& Path) {
  if (::renameat2(AT_FDCWD, Staged.c_str(), AT_FDCWD, Path.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without that rename: a second name, then the staging name goes.
  if (::link(Staged.c_str(), Path.c_str()) != 0) return errno;
  DiscardStagedFile(Staged);
  return 0;
}

// "disc" for the first, "disc (2)" for the second, as tracks are numbered.
std::string NumberedName(const std::string& Base, int Number) {
  return Number == 1 ? Base : Base + " (" + std::to_string(Number) + ")";
}

constexpr int MaxNumber = 9999;

// The first number at which none of the disc's files (Base + each extension) exists, so
// that the log and the sheet share their name.
int FreeNumber(const std::filesystem::path& Folder, const std::string& Base,
               const std::vector<std::string>& Extensions) {
  for (int number = 1; number < MaxNumber; ++number) {
    std::error_code ignored;
    const bool taken =
        std::any_of(Extensions.begin(), Extensions.end(), [&](const std::string& Extension) {
          return std::filesystem::exists(Folder / (NumberedName(Base, number) + Extension),
                                         ignored);
        });
    if (!taken) return number;
  }
  return MaxNumber;
}

// Writes Base + Extension at number From or, when a file took that name meanwhile, the
// next free one; the file appears under its name only once it is whole. False (and a
// warning) when it could not be written.
bool WriteNewBeside(const std::filesystem::path& Folder, const std::string& Base, int From,
                    const std::string& Extension, const std::string& Text,
                    const std::function<void(const std::string&)>& Warn) {
  const std::filesystem::path first = Folder / (NumberedName(Base, From) + Extension);
  std::string error;
  const std::string staged = WriteStaged(first, Text, error);
  if (staged.empty()) {
    Warn(first.string() + " could not be written: " + error + ".");
    return false;
  }
  for (int number = From; number <= MaxNumber; ++number) {
    const std::filesystem::path path = Folder / (NumberedName(Base, number) + Extension);
    const int placed = PlaceStaged(staged, path);
    if (placed == EEXIST) continue;
    if (placed == 0) return true;
    DiscardStagedFile(staged);
    Warn(path.string() + " could not be written: " + std::strerror(placed) + ".");
    return false;
  }
  DiscardStagedFile(staged);
  Warn((Folder / (Base + Extension)).string() + " could not be written: every name is taken.");
  return false;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

// "dBAR-003-0001b6a2-0004a59f-1d0b9b03": the entry's name, which holds every id.
std::string AccurateRipIdOf(const TDiscToc& Toc) {
  const std::string path = AccurateRipPath(AccurateRipDiscIdsOf(Toc));
  const size_t name = path.rfind('/') + 1;
  return path.substr(name, path.size() - name - 4);
}

TRipLogTrack LogRow(const TProvedTrack& Track) {
  TRipLogTrack row;
  row.Number = Track.Track;
  row.FileName = std::filesystem::path(Track.FileName).filename().string();
  row.Peak = Track.Proof.Copy.Peak;
  row.CopyCrc = Track.Proof.Copy.Crc32;
  row.TestCrc = Track.Proof.TestCrc;
  row.TestCopyResult = Track.Proof.TestCopy;
  row.Suspicious = Track.Proof.Outcome == TTestCopyOutcome::Suspicious;
  row.Rereads = Track.Proof.Reads.Rereads;
  row.Corrections = Track.Proof.Reads.Corrections;
  row.SkippedSectors = Track.Proof.Reads.Skips;
  row.Messages = Track.Proof.Messages;
  row.Error = Track.Failure;
  if (Track.Done) {
    row.AccurateRipV1 = Track.Proof.Copy.AccurateRipV1;
    row.AccurateRipV2 = Track.Proof.Copy.AccurateRipV2;
  }
  return row;
}

// What became of the audio before track 1: ripped as track 0 (and whether it is all
// digital silence), or not.
std::string HiddenAudioNote(const std::vector<TProvedTrack>& Tracks) {
  for (const TProvedTrack& track : Tracks) {
    if (track.Track != 0) continue;
    if (!track.Done || track.FileName.empty()) return "its rip as track 00 failed";
    return track.Proof.Copy.Peak == 0 ? "ripped as track 00 (digital silence)"
                                      : "ripped as track 00";
  }
  return "not ripped";
}

}  // namespace

int AudioIndexOf(const TDriveListing& Listing, int Track) {
  int index = 0;
  for (const TTrackListing& track : Listing.Tracks) {
    if (track.Info.IsData) continue;
    if (track.Track == Track) return index;
    ++index;
  }
  return -1;
}

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

namespace {

// How the tracks were read: the drive's settings (an image is read as it is), and test and
// copy or a single read.
std::string ReadModeOf(const TDiscProof& Disc) {
  std::string mode = IsDiscImageName(Disc.Listing.Name) ? "disc image" : Disc.DriveReadMode;
  if (mode.empty()) mode = "drive";
  if (!Disc.TestAndCopy) return mode + "; one read of each track";
  mode += "; test and copy, up to " + std::to_string(Disc.TestAndCopyRetries) +
          " further reads when they differ";
  if (!Disc.AccurateRip) return mode;
  return mode + "; a track that AccurateRip confirms with confidence " +
         std::to_string(ProvingConfidence) + " or more is read once";
}

// Which proof a track of a disc read with test and copy had.
std::string ProofOf(const TTrackProof& Proof) {
  if (Proof.ProvenBy > 0)
    return "AccurateRip (confidence " + std::to_string(Proof.ProvenBy) + "), one read";
  return "test and copy, " + std::to_string(Proof.Passes) + " reads";
}

// Why the log gives no pre-gap for some audio tracks, and which; empty when it gives
// each. A drive's come from its Q sub-channel, which it may refuse or give damaged.
std::string PregapNoteOf(const TDiscProof& Disc) {
  if (!Disc.PregapsSearched) return "not searched: the run was stopped";
  std::string unknown;
  int audio = 0, missing = 0;
  for (const TTrackListing& track : Disc.Listing.Tracks) {
    if (track.Info.IsData) continue;
    ++audio;
    if (track.Pregap) continue;
    ++missing;
    unknown += (unknown.empty() ? "" : ", ") + std::to_string(track.Track);
  }
  if (missing == 0) return std::string();
  const std::string why =
      "the drive's Q sub-channel was refused, damaged or at odds with the table";
  if (missing == audio) return "not detected: " + why;
  return "not detected for track" + std::string(missing == 1 ? " " : "s ") + unknown + ": " + why +
         " there";
}

// The disc's entry: the one the run found while reading, or looked up now.
TAccurateRipLookup LookupOf(const TDiscProof& Disc) {
  if (Disc.Lookup) return *Disc.Lookup;
  TAccurateRipSettings settings;
  if (!Disc.AccurateRipServer.empty()) settings.Url = Disc.AccurateRipServer;
  settings.Cancel = Disc.LookupCancel;
  return LookupAccurateRipKept(Disc.Listing.Toc, settings);
}

}  // namespace

TDiscProofResult WriteDiscProof(const TDiscProof& Disc,
                                const std::function<void(const std::string&)>& Warn) {
  TRipLog log;
  log.Date = UtcNow();
  log.Drive = Disc.Listing.Name;
  log.DriveModel = Disc.DriveModel;
  for (const TDiscTocTrack& track : Disc.Listing.Toc.Tracks)
    log.Toc.push_back({track.Number, track.Start, SectorsOf(Disc.Listing, track.Number)});
  if (!Disc.Listing.Toc.Tracks.empty()) {
    log.MusicBrainzId = MusicBrainzDiscId(Disc.Listing.Toc);
    log.FreedbId = FreedbDiscId(Disc.Listing.Toc);
    log.AccurateRipId = AccurateRipIdOf(Disc.Listing.Toc);
  }
  log.ReadOffset = Disc.ReadOffset;
  log.DriveRevision = Disc.DriveRevision;
  log.ReadMode = ReadModeOf(Disc);
  log.PregapNote = PregapNoteOf(Disc);
  log.Artist = Disc.Info.Artist;
  log.Album = Disc.Info.Album;
  std::optional<std::vector<TAccurateRipPressing>> pressings;
  bool looked = false;
  if (Disc.AccurateRip) {
    const TAccurateRipLookup lookup = LookupOf(Disc);
    if (!lookup.Failure) {
      pressings = lookup.Pressings;
      looked = true;
      if (!pressings) log.AccurateRipNote = "the disc is not in the database";
    } else {
      log.AccurateRipNote = "the lookup failed: " + lookup.Failure.Text();
      Warn(Disc.Listing.Name + ": the AccurateRip lookup failed (" + lookup.Failure.Text() + ").");
    }
  }
  TDiscProofResult result;
  TCueDisc cue{Disc.Info.Album,
               Disc.Info.Artist,
               Disc.Info.Year,
               Disc.Info.Genre,
               Disc.Info.Catalog,
               {},
               {}};
  std::vector<const TProvedTrack*> inDiscOrder;
  for (const TProvedTrack& track : Disc.Tracks) inDiscOrder.push_back(&track);
  // The run's order may be any; a sheet lists the disc's tracks in order.
  std::sort(inDiscOrder.begin(), inDiscOrder.end(),
            [](const TProvedTrack* A, const TProvedTrack* B) { return A->Track < B->Track; });
  for (const TProvedTrack* whole : inDiscOrder) {
    if (!whole->Done || whole->FileName.empty()) continue;
    if (whole->Track == 0) {  // track 1's INDEX 00, in a file of its own
      cue.HiddenFileName = std::filesystem::path(whole->FileName).filename().string();
      continue;
    }
    cue.Tracks.push_back(
        TCueTrack{whole->Track, std::filesystem::path(whole->FileName).filename().string(),
                  SectorsOf(Disc.Listing, whole->Track), SheetGap(Disc.Listing, cue, whole->Track),
                  At(Disc.Info.TrackTitles, whole->Track), At(Disc.Info.TrackArtists, whole->Track),
                  At(Disc.Info.TrackIsrcs, whole->Track)});
  }
  log.HiddenSectors = Disc.Listing.HiddenSectors;
  log.HiddenNote = HiddenAudioNote(Disc.Tracks);
  for (const TProvedTrack& track : Disc.Tracks) {
    TRipLogTrack row = LogRow(track);
    row.PregapSectors = PregapOf(Disc.Listing, track.Track);
    if (Disc.TestAndCopy && track.Done) row.Proof = ProofOf(track.Proof);
    if (looked && track.Done)
      row.AccurateRip =
          AccurateRipVerdict(pressings, AudioIndexOf(Disc.Listing, track.Track),
                             track.Proof.Copy.AccurateRipV1, track.Proof.Copy.AccurateRipV2);
    result.Verdicts.push_back(row.AccurateRip);
    log.Tracks.push_back(row);
  }
  TTrackTags names;
  names.Artist = Disc.Info.Artist;
  names.Album = Disc.Info.Album;
  const std::string stem = std::filesystem::path(Disc.Listing.Name).stem().string();
  const std::string base =
      Disc.Info.Album.empty()
          ? stem
          : NameFromTemplate(names.Artist.empty() ? "%A" : "%a - %A", names, stem);
  const bool withCue = !cue.Tracks.empty();
  const std::filesystem::path folder(Disc.Folder);
  const int number = FreeNumber(
      folder, base,
      withCue ? std::vector<std::string>{".log", ".cue"} : std::vector<std::string>{".log"});
  result.Written = WriteNewBeside(folder, base, number, ".log", RipLogText(log), Warn);
  if (withCue)
    result.Written =
        WriteNewBeside(folder, base, number, ".cue", CueSheetText(cue), Warn) && result.Written;
  return result;
}
