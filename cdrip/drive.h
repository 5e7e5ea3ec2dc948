// What the library's entry points need from a drive, whatever it reads from: a CD
// device, a cue sheet and the files it names, or an image that the CD layer opens.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cdrip {

constexpr int32_t SectorBytes = 2352;
constexpr int32_t MaxChunkSectors = 75;
// From the end of one session's last track to the first track of the next on a
// multi-session disc: lead-out (6750), next lead-in (4500) and pregap (150).
constexpr int32_t SessionGapSectors = 11400;
// The sectors a CD can address: MSF 00:00:00 to 99:59:74, of which the first 150 lie
// before LSN 0. No disc, and so no track, may reach past the last.
constexpr int32_t MaxDiscSectors = (99 * 60 + 59) * 75 + 74 + 1 - 150;
// The longest a disc can last from its first track on, as messages give it (MaxDiscSectors
// as minutes, seconds and sectors).
constexpr const char* MaxDiscLengthText = "99:58:00";

struct TrackEntry {
  int32_t StartSector = 0;
  uint8_t Flag = 0;
  uint8_t Number = 0;
  uint8_t Session = 0;  // 1-based; 0 when the source does not tell (a real drive)
  // Sectors of the track's pre-gap, from its INDEX 00 (or the start of its PREGAP) to
  // its INDEX 01, as an image gives them or a drive's Q sub-channel shows them; -1 where
  // not known.
  int32_t Pregap = -1;
};

// Texts of the disc (track 0) and of its tracks, as a drive's CD-Text and sub-channel
// carry them or a cue sheet gives them; UTF-8. Catalog is the disc's media catalogue
// number, Isrc a track's recording code; Note (the disc's) what of a drive's CD-Text was
// left out and why.
enum class TextField { Title, Performer, Songwriter, Genre, Date, Catalog, Isrc, Note };
constexpr int TextFieldCount = 8;

struct DiscText {
  std::map<int, std::array<std::string, TextFieldCount>> Entries;

  void Set(int Track, TextField Field, std::string Value) {
    if (!Value.empty()) Entries[Track][static_cast<size_t>(Field)] = std::move(Value);
  }
  std::string Get(int Track, TextField Field) const {
    const auto entry = Entries.find(Track);
    return entry == Entries.end() ? std::string() : entry->second[static_cast<size_t>(Field)];
  }
};

struct Toc {
  std::vector<TrackEntry> Tracks;
  int32_t LeadOut = 0;
  // The first sector of the last session's first track: what a drive answers when asked
  // for the disc's sessions. 0 on a disc of one session.
  int32_t LastSessionStart = 0;
  DiscText Text;
  // Images: counts the times the image's files were found changed (size, time) and read
  // anew; a drive's disc is known by its table alone.
  uint64_t Generation = 0;
};

// Whether two tables are of one disc: the same tracks, sessions and lead-out, from the
// same state of an image's files.
inline bool SameDisc(const Toc& A, const Toc& B) {
  auto sameTrack = [](const TrackEntry& X, const TrackEntry& Y) {
    return X.StartSector == Y.StartSector && X.Flag == Y.Flag && X.Number == Y.Number;
  };
  return A.LeadOut == B.LeadOut && A.LastSessionStart == B.LastSessionStart &&
         A.Generation == B.Generation && A.Tracks.size() == B.Tracks.size() &&
         std::equal(A.Tracks.begin(), A.Tracks.end(), B.Tracks.begin(), sameTrack);
}

// How real drives are read; images ignore it.
struct ReadSettings {
  int ParanoiaMode = 0;  // a combination of the paranoia layer's mode flags
  int ParanoiaRetries = 20;
};

// What reading a range met on the disc, as the paranoia layer reports it (images: none).
struct ReadReport {
  int32_t Rereads = 0;      // reads repeated because they failed or did not verify
  int32_t Corrections = 0;  // jitter, dropped or duplicated samples repaired
  int32_t Skips = 0;        // sectors given up after the retries
  // Where delivery ended for good: the sector the drive refused (or that verification
  // gave up) at the end of the range's sectors delivered; -1 while there is none.
  int32_t FailedSector = -1;
};

// Delivers audio sectors of one disc. Reads are sequential in practice; a reader
// repositions itself when they are not.
class SectorReader {
 public:
  virtual ~SectorReader() = default;
  // Fills Out with Count sectors from Lsn on; returns how many it delivered (fewer
  // only when the disc could not be read).
  virtual int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) = 0;
  // What the reads so far met.
  virtual ReadReport Report() const { return ReadReport{}; }
  // The range the reads will stay within, sectors First .. End - 1: a reader that reads
  // ahead of what is asked never reads, nor fails, outside it. Called before any Read.
  virtual void Limit(int32_t /*First*/, int32_t /*End*/) {}
  // Ends a read in progress soon, from any thread: the drive is asked for nothing more,
  // and Read (now or later) returns what it delivered before. Not undone.
  virtual void Interrupt() {}
  // What the layers below said while reading (warnings, errors, each on its own line),
  // taken: a second call returns only what came after the first.
  virtual std::string TakeMessages() { return std::string(); }
};

class Drive {
 public:
  virtual ~Drive() = default;
  // The device path, or the image's absolute path.
  virtual const std::string& Name() const = 0;
  virtual bool MediaLoaded() = 0;
  virtual bool AudioPlaying() = 0;
  // The disc's table of contents, read anew; nothing when it cannot be read.
  virtual std::optional<Toc> ReadToc() = 0;
  // A reader over the disc as of the last ReadToc; nothing when it cannot be read.
  virtual std::unique_ptr<SectorReader> OpenReader(const ReadSettings& Settings) = 0;
  // True for a drive that reads at a pace of its own (a CD device): its ranges are read
  // ahead, so that it keeps streaming while the caller encodes. An image reads as fast as
  // it is asked, and reading ahead would only add a copy.
  virtual bool Streams() const { return false; }
  // The drive's vendor and model as its INQUIRY answers them ("VENDOR Model", each
  // trimmed); empty for images and drives that do not say.
  virtual std::string Model() { return std::string(); }
  // The drive's firmware revision as its INQUIRY answers it (trimmed); empty for images.
  virtual std::string Revision() { return std::string(); }
  // What the layers below said when a reader could not be opened, taken.
  virtual std::string TakeMessages() { return std::string(); }
  // Ejects the disc; false when the drive cannot (an image) or refuses.
  virtual bool Eject() { return false; }
  // Fills in the pre-gaps of Contents (the table the last ReadToc gave) that the table
  // itself leaves unknown: a drive searches its sub-channel, which takes some reads per
  // track, so this is asked only of a disc whose pre-gaps someone wants.
  virtual void FindPregaps(Toc& /*Contents*/) {}
};

}  // namespace cdrip
