#include "nrg_image.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "image_error.h"

namespace cdrip {
namespace {

// An image holds a handful of chunks per session; more than this is no image.
constexpr int MaxChunks = 1024;
// The largest table read into memory: a cue chunk of 99 tracks with every index mark a
// track can have takes some 80 KB, the track lists a few KB.
constexpr int64_t MaxTableBytes = 128 * 1024;
constexpr size_t MaxTracks = 99;
// Track 1's pregap, before LSN 0: disc-at-once images keep it in the file.
constexpr int64_t FirstPregapSectors = 150;
constexpr int64_t ChunkHeaderBytes = 8;
constexpr size_t DaoHeaderBytes = 22;
constexpr uint8_t AudioMode = 0x07;
constexpr uint8_t AudioWithSubchannelMode = 0x10;

uint64_t BigEndian(const uint8_t* Bytes, int Count) {
  uint64_t value = 0;
  for (int i = 0; i < Count; ++i) value = value << 8 | Bytes[i];
  return value;
}

// A decimal number of two BCD digits; -1 when a digit is no decimal one.
int FromBcd(uint8_t Value) {
  const int high = Value >> 4;
  const int low = Value & 0x0F;
  return high > 9 || low > 9 ? -1 : high * 10 + low;
}

// A chunk's four-byte id for messages; bytes that are no printable letters show as '?'.
std::string ChunkName(const uint8_t* Id) {
  std::string name;
  for (int i = 0; i < 4; ++i)
    name += Id[i] >= 0x20 && Id[i] < 0x7F ? static_cast<char>(Id[i]) : '?';
  return name;
}

std::string HexByte(unsigned Value) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[(Value >> 4) & 0x0F] + digits[Value & 0x0F];
}

// The sectors of a track-at-once mode; 0 for modes we do not know.
int64_t TaoSectorBytes(uint32_t Mode) {
  switch (Mode) {
    case 0x00:  // mode 1
    case 0x02:  // mode 2 form 1
      return 2048;
    case 0x03:  // mode 2
      return 2336;
    case 0x05:  // mode 1, raw
    case 0x06:  // mode 2, raw
    case AudioMode: return 2352;
    case 0x0F:  // the raw modes with subchannel data
    case AudioWithSubchannelMode:
    case 0x11: return 2448;
    default: return 0;
  }
}

// One track as a track list gives it: byte offsets in the image of its pregap (index 0),
// its INDEX 01 and its end; where a track-at-once list puts its INDEX 01 on the disc.
struct NrgTrack {
  int64_t Index0 = 0;
  int64_t Index1 = 0;
  int64_t End = 0;
  int64_t SectorSize = SectorBytes;
  bool Audio = false;
  int Number = 0;
  int64_t DiscStart = -1;  // -1: disc-at-once, the track follows the one before
  int Session = 1;
};

// What a cue chunk says of a track: its number and whether its control bits mark data.
struct CueTrack {
  int Number = 0;
  bool Data = false;
};

struct Chunk {
  std::string Name;    // printable, for messages
  int64_t Offset = 0;  // of its header
  std::vector<uint8_t> Data;

  std::string Where() const { return "the chunk " + Name + " at byte " + std::to_string(Offset); }
};

// Reads the footer and the chunk chain, checking every offset and size against the file
// before it is used, and lays the tracks out on a disc.
class NrgReader {
 public:
  NrgReader(const std::string& Path, const FileHandle& File) : Path_(Path), File_(File) {}

  void ReadChunks();
  std::pair<std::vector<FileImage::Extent>, Toc> Layout() const;
  // The track data: the file up to its first chunk.
  int64_t TrackDataBytes() const { return ChunksStart_; }

 private:
  [[noreturn]] void Refuse(const std::string& What) const {
    throw EImageError(Path_ + ": " + What);
  }
  void ReadExactly(uint8_t* Out, int64_t Count, int64_t Offset) const;
  void ReadFooter();
  void ReadChunk(const uint8_t* Header, int64_t Offset, int64_t Size);
  std::vector<uint8_t> LoadTable(const std::string& Where, int64_t Offset, int64_t Size) const;
  void ReadCueChunk(const Chunk& Cue);
  void ReadDaoChunk(const Chunk& Dao, bool Wide);
  void ReadTaoChunk(const Chunk& Tao, bool Wide);
  void ReadSessionChunk(const Chunk& Session);
  size_t TrackCount(const Chunk& List, size_t HeaderBytes, size_t EntryBytes) const;
  int64_t TrackByte(uint64_t Offset, int Number) const;
  void CheckSectors(uint8_t Mode, int64_t Bytes, int Number) const;
  void AssignSessions();
  void CheckTracks() const;
  int64_t IndexOneLsn(size_t Track, int64_t Cursor) const;

  const std::string& Path_;
  const FileHandle& File_;
  int64_t ChunksStart_ = 0;
  int64_t FooterStart_ = 0;
  std::vector<NrgTrack> Tracks_;
  std::vector<size_t> ListStarts_;    // the first track of each track list
  std::vector<CueTrack> PendingCue_;  // from the cue chunk before the next track list
  std::vector<size_t> SessionSizes_;
};

void NrgReader::ReadExactly(uint8_t* Out, int64_t Count, int64_t Offset) const {
  if (File_.ReadAt(Out, Count, Offset) != Count)
    Refuse("the file cannot be read at byte " + std::to_string(Offset) + ".");
}

// The last 12 bytes are "NER5" and the 64-bit offset of the first chunk; images of the
// first version end in "NERO" and a 32-bit offset.
void NrgReader::ReadFooter() {
  const int64_t fileBytes = File_.Size();
  if (fileBytes < 0) Refuse("the size of the file cannot be read.");
  uint8_t tail[12] = {};
  const int64_t tailBytes = std::min<int64_t>(12, fileBytes);
  ReadExactly(tail + 12 - tailBytes, tailBytes, fileBytes - tailBytes);
  uint64_t first = 0;
  if (fileBytes >= 12 && std::memcmp(tail, "NER5", 4) == 0) {
    first = BigEndian(tail + 4, 8);
    FooterStart_ = fileBytes - 12;
  } else if (fileBytes >= 8 && std::memcmp(tail + 4, "NERO", 4) == 0) {
    first = BigEndian(tail + 8, 4);
    FooterStart_ = fileBytes - 8;
  } else {
    Refuse(
        "the file does not end in the footer of a Nero .nrg image (NER5 or NERO); it is no "
        "such image, or it was cut short.");
  }
  if (first > static_cast<uint64_t>(FooterStart_))
    Refuse("the footer puts the first chunk at byte " + std::to_string(first) +
           ", past the end of the file's chunks (byte " + std::to_string(FooterStart_) +
           "); the image is damaged.");
  ChunksStart_ = static_cast<int64_t>(first);
}

void NrgReader::ReadChunks() {
  ReadFooter();
  int64_t offset = ChunksStart_;
  for (int count = 0; count < MaxChunks; ++count) {
    if (FooterStart_ - offset < ChunkHeaderBytes)
      Refuse("the chunks run into the footer without an END! chunk; the image is damaged.");
    uint8_t header[ChunkHeaderBytes];
    ReadExactly(header, ChunkHeaderBytes, offset);
    const auto size = static_cast<int64_t>(BigEndian(header + 4, 4));
    if (size > FooterStart_ - offset - ChunkHeaderBytes)
      Refuse("the chunk " + ChunkName(header) + " at byte " + std::to_string(offset) + " claims " +
             std::to_string(size) + " bytes, more than the file holds; the image is damaged.");
    if (std::memcmp(header, "END!", 4) == 0) {
      AssignSessions();
      CheckTracks();
      return;
    }
    ReadChunk(header, offset, size);
    offset += ChunkHeaderBytes + size;
  }
  Refuse("the file holds more than " + std::to_string(MaxChunks) +
         " chunks, far more than any disc needs; the image is damaged.");
}

// The chunks that describe the tracks; the others (media type, CD-Text, ...) are skipped.
void NrgReader::ReadChunk(const uint8_t* Header, int64_t Offset, int64_t Size) {
  const std::string id(Header, Header + 4);
  const bool cue = id == "CUEX" || id == "CUES";
  const bool dao = id == "DAOX" || id == "DAOI";
  const bool tao = id == "ETN2" || id == "ETNF";
  if (!cue && !dao && !tao && id != "SINF") return;
  Chunk chunk{ChunkName(Header), Offset, {}};
  chunk.Data = LoadTable(chunk.Where(), Offset + ChunkHeaderBytes, Size);
  if (cue) ReadCueChunk(chunk);
  if (dao) ReadDaoChunk(chunk, id == "DAOX");
  if (tao) ReadTaoChunk(chunk, id == "ETN2");
  if (id == "SINF") ReadSessionChunk(chunk);
}

std::vector<uint8_t> NrgReader::LoadTable(const std::string& Where, int64_t Offset,
                                          int64_t Size) const {
  if (Size > MaxTableBytes)
    Refuse(Where + " holds " + std::to_string(Size) +
           " bytes, far more than the tables of a CD take; the image is damaged.");
  std::vector<uint8_t> data(static_cast<size_t>(Size));
  ReadExactly(data.data(), Size, Offset);
  return data;
}

// Entries of 8 bytes: control and address, track and index number in BCD, a zero byte
// and the position (an LBA in CUEX, a BCD MSF in CUES). The position is not needed: the
// track lists place every track. Track 0 is the lead-in, track AA the lead-out.
void NrgReader::ReadCueChunk(const Chunk& Cue) {
  if (Cue.Data.size() % 8 != 0)
    Refuse(Cue.Where() + " holds " + std::to_string(Cue.Data.size()) +
           " bytes, no whole number of 8-byte cue points; the image is damaged.");
  PendingCue_.clear();
  for (size_t at = 0; at < Cue.Data.size(); at += 8) {
    const uint8_t* entry = &Cue.Data[at];
    if (entry[1] == 0x00 || entry[1] == 0xAA) continue;
    const int track = FromBcd(entry[1]);
    const int index = FromBcd(entry[2]);
    if (track < 0 || index < 0)
      Refuse(Cue.Where() + " gives track " + HexByte(entry[1]) + " index " + HexByte(entry[2]) +
             ", which are no decimal (BCD) numbers; the image is damaged.");
    if (index != 1) continue;
    if (PendingCue_.size() == MaxTracks)
      Refuse(Cue.Where() + " lists more than 99 tracks; a CD holds at most 99.");
    PendingCue_.push_back(CueTrack{track, (entry[0] & 0x40) != 0});
  }
}

size_t NrgReader::TrackCount(const Chunk& List, size_t HeaderBytes, size_t EntryBytes) const {
  const size_t bytes = List.Data.size();
  if (bytes < HeaderBytes || (bytes - HeaderBytes) % EntryBytes != 0)
    Refuse(List.Where() + " holds " + std::to_string(bytes) + " bytes, no whole number of " +
           std::to_string(EntryBytes) + "-byte track entries; the image is damaged.");
  const size_t count = (bytes - HeaderBytes) / EntryBytes;
  if (count == 0) Refuse(List.Where() + " lists no track; the image is damaged.");
  if (Tracks_.size() + count > MaxTracks)
    Refuse("the image lists " + std::to_string(Tracks_.size() + count) +
           " tracks; a CD holds at most 99.");
  return count;
}

// A byte offset of a track, which must lie in the track data before the chunks.
int64_t NrgReader::TrackByte(uint64_t Offset, int Number) const {
  if (Offset > static_cast<uint64_t>(ChunksStart_))
    Refuse("track " + std::to_string(Number) + " reaches byte " + std::to_string(Offset) +
           ", past the end of the track data (byte " + std::to_string(ChunksStart_) +
           "); the image is damaged.");
  return static_cast<int64_t>(Offset);
}

// Audio is read only from plain 2352-byte sectors; audio interleaved with subchannel
// data would play as noise, so such an image is refused rather than ripped.
void NrgReader::CheckSectors(uint8_t Mode, int64_t Bytes, int Number) const {
  const std::string track = "track " + std::to_string(Number);
  if (Bytes < 2048 || Bytes > 2448)
    Refuse(track + " has sectors of " + std::to_string(Bytes) +
           " bytes; CD sectors hold 2048 to 2448 bytes. The image is damaged.");
  if (Mode == AudioWithSubchannelMode || (Mode == AudioMode && Bytes != SectorBytes))
    Refuse(track + " holds audio in " + std::to_string(Bytes) +
           "-byte sectors (with subchannel data); only audio in plain 2352-byte sectors can be "
           "read from an image.");
}

// A 22-byte header (the size again, the catalog number, the TOC type, the first and the
// last track number), then per track: ISRC, sector size, mode, three bytes, and the
// offsets of index 0, INDEX 01 and the end (64-bit in DAOX, 32-bit in DAOI). The cue
// chunk before it numbers the tracks and tells audio from data.
void NrgReader::ReadDaoChunk(const Chunk& Dao, bool Wide) {
  const int width = Wide ? 8 : 4;
  const size_t entryBytes = 18 + 3 * static_cast<size_t>(width);
  const size_t count = TrackCount(Dao, DaoHeaderBytes, entryBytes);
  if (!PendingCue_.empty() && PendingCue_.size() != count)
    Refuse("the cue chunk before " + Dao.Where() + " lists " + std::to_string(PendingCue_.size()) +
           " tracks, the chunk itself " + std::to_string(count) + "; the image is damaged.");
  ListStarts_.push_back(Tracks_.size());
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = &Dao.Data[DaoHeaderBytes + i * entryBytes];
    NrgTrack track;
    const bool cueSaysData = !PendingCue_.empty() && PendingCue_[i].Data;
    track.Number = PendingCue_.empty() ? Dao.Data[20] + static_cast<int>(i) : PendingCue_[i].Number;
    track.SectorSize = static_cast<int64_t>(BigEndian(entry + 12, 2));
    const uint8_t mode = entry[14];
    CheckSectors(mode, track.SectorSize, track.Number);
    track.Audio = mode == AudioMode && !cueSaysData;
    track.Index0 = TrackByte(BigEndian(entry + 18, width), track.Number);
    track.Index1 = TrackByte(BigEndian(entry + 18 + width, width), track.Number);
    track.End = TrackByte(BigEndian(entry + 18 + 2 * width, width), track.Number);
    Tracks_.push_back(track);
  }
  PendingCue_.clear();
}

// Entries of offset, size, mode and start LBA (and a word not used): 64-bit offset and
// size in ETN2 (32 bytes an entry), 32-bit in ETNF (20 bytes).
void NrgReader::ReadTaoChunk(const Chunk& Tao, bool Wide) {
  const int width = Wide ? 8 : 4;
  const size_t entryBytes = Wide ? 32 : 20;
  const size_t count = TrackCount(Tao, 0, entryBytes);
  ListStarts_.push_back(Tracks_.size());
  PendingCue_.clear();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = &Tao.Data[i * entryBytes];
    NrgTrack track;
    track.Number = Tracks_.empty() ? 1 : Tracks_.back().Number + 1;
    const auto mode = static_cast<uint32_t>(BigEndian(entry + 2 * width, 4));
    const uint64_t lba = BigEndian(entry + 2 * width + 4, 4);
    track.SectorSize = TaoSectorBytes(mode);
    if (track.SectorSize == 0)
      Refuse("track " + std::to_string(track.Number) + " has the unknown mode " +
             std::to_string(mode) + ", so the size of its sectors is unknown.");
    CheckSectors(static_cast<uint8_t>(mode), track.SectorSize, track.Number);
    track.Audio = mode == AudioMode;
    if (lba > static_cast<uint64_t>(MaxDiscSectors))
      Refuse("track " + std::to_string(track.Number) + " would start at sector " +
             std::to_string(lba) + ", outside the sectors a CD can address.");
    track.DiscStart = static_cast<int64_t>(lba);
    track.Index0 = track.Index1 = TrackByte(BigEndian(entry, width), track.Number);
    const uint64_t size = BigEndian(entry + width, width);
    // Compared with the room left, not added to the offset: a size near 2^64 cannot wrap.
    if (size > static_cast<uint64_t>(ChunksStart_ - track.Index1))
      Refuse("track " + std::to_string(track.Number) + " claims " + std::to_string(size) +
             " bytes from byte " + std::to_string(track.Index1) +
             " on, past the end of the track "
             "data (byte " +
             std::to_string(ChunksStart_) + "); the image is damaged.");
    track.End = track.Index1 + static_cast<int64_t>(size);
    Tracks_.push_back(track);
  }
}

// One chunk per session: the number of tracks in it.
void NrgReader::ReadSessionChunk(const Chunk& Session) {
  if (Session.Data.size() < 4)
    Refuse(Session.Where() + " is too short for a session's track count; the image is damaged.");
  const uint64_t tracks = BigEndian(Session.Data.data(), 4);
  if (tracks == 0 || tracks > MaxTracks)
    Refuse(Session.Where() + " gives a session of " + std::to_string(tracks) +
           " tracks; a CD holds 1 to 99. The image is damaged.");
  SessionSizes_.push_back(static_cast<size_t>(tracks));
}

// The session chunks split the tracks, in order; without them each track list is a
// session of its own.
void NrgReader::AssignSessions() {
  if (Tracks_.empty())
    Refuse("the image has no track list (a chunk DAOX, DAOI, ETN2 or ETNF); it cannot be read.");
  if (SessionSizes_.empty()) {
    for (size_t list = 0; list < ListStarts_.size(); ++list)
      for (size_t t = ListStarts_[list]; t < Tracks_.size(); ++t)
        Tracks_[t].Session = static_cast<int>(list) + 1;
    return;
  }
  size_t total = 0;
  for (size_t tracks : SessionSizes_) total += tracks;
  if (total != Tracks_.size())
    Refuse("the sessions hold " + std::to_string(total) + " tracks in all, but the track lists " +
           std::to_string(Tracks_.size()) + "; the image is damaged.");
  size_t track = 0;
  for (size_t session = 0; session < SessionSizes_.size(); ++session)
    for (size_t i = 0; i < SessionSizes_[session]; ++i)
      Tracks_[track++].Session = static_cast<int>(session) + 1;
}

void NrgReader::CheckTracks() const {
  int64_t previousEnd = 0;
  int previousNumber = 0;
  for (const NrgTrack& track : Tracks_) {
    const std::string name = "track " + std::to_string(track.Number);
    if (track.Number <= previousNumber || track.Number > static_cast<int>(MaxTracks))
      Refuse("the track numbers must ascend from 1 to 99, but " + name + " follows track " +
             std::to_string(previousNumber) + "; the image is damaged.");
    if (track.Index0 > track.Index1 || track.Index1 >= track.End)
      Refuse(name + " has its pregap at byte " + std::to_string(track.Index0) +
             ", INDEX 01 at byte " + std::to_string(track.Index1) + " and its end at byte " +
             std::to_string(track.End) + ", out of order; the image is damaged.");
    if (track.Index0 < previousEnd)
      Refuse(name + " begins at byte " + std::to_string(track.Index0) +
             ", before the track before it ends (byte " + std::to_string(previousEnd) +
             "); the image is damaged.");
    if ((track.Index1 - track.Index0) % track.SectorSize != 0 ||
        (track.End - track.Index1) % track.SectorSize != 0)
      Refuse(name + " holds no whole number of its " + std::to_string(track.SectorSize) +
             "-byte sectors; the image is damaged.");
    previousEnd = track.End;
    previousNumber = track.Number;
  }
}

// Where a track's INDEX 01 lies on the disc, Cursor being the end of the track before.
// Disc-at-once: right after its pregap; track 1's first 150 sectors of pregap lie before
// LSN 0. Track-at-once: where the track list puts it, the pause before it silent. The
// first track of a later session follows the gap between the sessions.
int64_t NrgReader::IndexOneLsn(size_t Track, int64_t Cursor) const {
  const NrgTrack& track = Tracks_[Track];
  const int64_t pregap = (track.Index1 - track.Index0) / track.SectorSize;
  const bool newSession = Track > 0 && track.Session != Tracks_[Track - 1].Session;
  const int64_t earliest = newSession ? Cursor + SessionGapSectors : Cursor;
  if (track.DiscStart >= 0) {
    if (track.DiscStart < Cursor)
      Refuse("track " + std::to_string(track.Number) + " would start at sector " +
             std::to_string(track.DiscStart) + ", inside the track before it (which ends at " +
             std::to_string(Cursor) + "); the image is damaged.");
    return std::max(track.DiscStart, earliest);
  }
  if (Track == 0) return std::max<int64_t>(0, pregap - FirstPregapSectors);
  return newSession ? Cursor + std::max<int64_t>(SessionGapSectors, pregap) : Cursor + pregap;
}

std::pair<std::vector<FileImage::Extent>, Toc> NrgReader::Layout() const {
  std::vector<FileImage::Extent> extents;
  Toc contents;
  int64_t cursor = 0;
  const auto emit = [&extents](int64_t Lsn, int64_t Sectors, int File, int64_t Byte,
                               int64_t Bytes) {
    if (Sectors > 0)
      extents.push_back(FileImage::Extent{static_cast<int32_t>(Lsn), static_cast<int32_t>(Sectors),
                                          File, Byte, static_cast<int32_t>(Bytes)});
  };
  for (size_t i = 0; i < Tracks_.size(); ++i) {
    const NrgTrack& track = Tracks_[i];
    const int64_t start = IndexOneLsn(i, cursor);
    const int64_t sectors = (track.End - track.Index1) / track.SectorSize;
    if (start + sectors > MaxDiscSectors)
      Refuse("the disc would last " + MsfText(start + sectors) + ", longer than a CD can hold (" +
             std::string(MaxDiscLengthText) + ").");
    const int64_t pregap =
        std::min((track.Index1 - track.Index0) / track.SectorSize, start - cursor);
    emit(cursor, start - pregap - cursor, -1, 0, SectorBytes);
    emit(start - pregap, pregap, 0, track.Index1 - pregap * track.SectorSize, track.SectorSize);
    emit(start, sectors, 0, track.Index1, track.SectorSize);
    const uint8_t flag = track.Audio ? 0x10 : 0x14;
    contents.Tracks.push_back(
        TrackEntry{static_cast<int32_t>(start), flag, static_cast<uint8_t>(track.Number),
                   static_cast<uint8_t>(track.Session), static_cast<int32_t>(pregap)});
    if (i > 0 && track.Session != Tracks_[i - 1].Session)
      contents.LastSessionStart = static_cast<int32_t>(start);
    cursor = start + sectors;
  }
  contents.LeadOut = static_cast<int32_t>(cursor);
  return {std::move(extents), std::move(contents)};
}

}  // namespace

std::shared_ptr<const FileImage> OpenNrgImage(const std::string& NrgPath) {
  FileImage::ImageFile image;
  image.Handle = FileHandle::OpenRegular(NrgPath);
  FilesStamp stamp;
  if (!stamp.Take({NrgPath}))
    throw EImageError(NrgPath + ": the image changed while it was opened.");
  NrgReader reader(NrgPath, image.Handle);
  reader.ReadChunks();
  auto layout = reader.Layout();
  image.DataBytes = reader.TrackDataBytes();
  std::vector<FileImage::ImageFile> files;
  files.push_back(std::move(image));
  return std::make_shared<const FileImage>(NrgPath, std::move(files), std::move(layout.first),
                                           std::move(layout.second), std::move(stamp));
}

}  // namespace cdrip
