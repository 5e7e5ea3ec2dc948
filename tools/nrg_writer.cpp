#include "nrg_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "disc_content.h"

namespace fs = std::filesystem;

namespace korvane::discimage {
namespace {

// Track 1's pregap lies before LSN 0; a disc-at-once image stores it all the same.
constexpr int64_t kFirstPregapSectors = 150;
constexpr int64_t kWriteBlockSectors = 1024;
constexpr uint8_t kModeAudio = 0x07;
constexpr uint8_t kModeMode1Raw = 0x05;  // MODE1 sectors with sync and header, 2352 bytes
constexpr uint8_t kControlAudio = 0x01;
constexpr uint8_t kControlData = 0x41;

using Bytes = std::vector<uint8_t>;

void putBig(Bytes& out, uint64_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

uint8_t bcd(int64_t value) { return uint8_t((value / 10) << 4 | (value % 10)); }

void putChunk(Bytes& out, const char* id, const Bytes& data) {
  out.insert(out.end(), id, id + 4);
  putBig(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
}

// A track as the image stores it: byte offsets of its index 0, INDEX 01 and end in the
// file, and the disc positions (LSN) of its index 0 and INDEX 01.
struct StoredTrack {
  int64_t index0 = 0;
  int64_t index1 = 0;
  int64_t end = 0;
  int64_t index0Lsn = 0;
  int64_t index1Lsn = 0;
  int64_t endLsn = 0;
  int session = 1;
  bool data = false;
};

// Disc at once: the first track's pregap of silence, then the disc's sectors as they
// follow each other, every pregap stored before its INDEX 01. Track at once: no pregaps;
// a track runs from its INDEX 01 to the next one in its session, so that the next track's
// pregap is heard at the end of the track before, as on the disc.
std::vector<StoredTrack> storeTracks(const DiscSpec& disc, bool trackAtOnce) {
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  const int64_t base = trackAtOnce ? 0 : kFirstPregapSectors * kSectorBytes;
  std::vector<StoredTrack> tracks;
  for (size_t i = 0; i < placements.size(); ++i) {
    const TrackPlacement& place = placements[i];
    StoredTrack track;
    track.session = place.lsnOffset == 0 ? 1 : 2;
    track.data = disc.tracks[i].isData();
    track.index1Lsn = place.index01 + place.lsnOffset;
    track.endLsn = place.endSector + place.lsnOffset;
    track.index1 = base + place.index01 * kSectorBytes;
    const bool nextInSession =
        i + 1 < placements.size() && placements[i + 1].lsnOffset == place.lsnOffset;
    const int64_t lastSector =
        trackAtOnce && nextInSession ? placements[i + 1].index01 : place.endSector;
    track.end = base + lastSector * kSectorBytes;
    const int64_t firstSector = trackAtOnce ? place.index01 : place.firstSector;
    track.index0 = i == 0 ? 0 : base + firstSector * kSectorBytes;
    track.index0Lsn = i == 0 ? -kFirstPregapSectors : firstSector + place.lsnOffset;
    tracks.push_back(track);
  }
  return tracks;
}

void putCuePoint(Bytes& out, bool version1, uint8_t control, uint8_t track, uint8_t index,
                 int64_t lsn) {
  out.insert(out.end(), {control, track, index, 0});
  if (!version1) {
    putBig(out, uint32_t(int32_t(lsn)), 4);
    return;
  }
  const int64_t msf = lsn + kFirstPregapSectors;  // CUES gives absolute BCD MSF
  out.insert(out.end(), {0, bcd(msf / 4500), bcd(msf / 75 % 60), bcd(msf % 75)});
}

// The cue points of one session: its lead-in, index 0 and INDEX 01 of every track (both
// even when they coincide), and its lead-out.
Bytes cueChunk(const std::vector<StoredTrack>& tracks, size_t first, size_t end, bool version1) {
  Bytes out;
  const auto control = [&](size_t i) { return tracks[i].data ? kControlData : kControlAudio; };
  putCuePoint(out, version1, control(first), 0x00, 0x00, tracks[first].index0Lsn);
  for (size_t i = first; i < end; ++i) {
    putCuePoint(out, version1, control(i), bcd(int64_t(i) + 1), 0x00, tracks[i].index0Lsn);
    putCuePoint(out, version1, control(i), bcd(int64_t(i) + 1), 0x01, tracks[i].index1Lsn);
  }
  putCuePoint(out, version1, control(end - 1), 0xAA, 0x01, tracks[end - 1].endLsn);
  return out;
}

// A 22-byte header (size, catalog number, TOC type, first and last track), then per
// track: ISRC, sector size, mode, three bytes, and the offsets of index 0, INDEX 01, end.
Bytes daoChunk(const std::vector<StoredTrack>& tracks, size_t first, size_t end, int width) {
  Bytes out;
  const size_t entryBytes = 18 + 3 * size_t(width);
  putBig(out, 22 + (end - first) * entryBytes, 4);
  out.insert(out.end(), 14, 0);  // catalog number and a pad byte
  putBig(out, 0, 2);
  out.push_back(uint8_t(first + 1));
  out.push_back(uint8_t(end));
  for (size_t i = first; i < end; ++i) {
    out.insert(out.end(), 12, 0);  // no ISRC
    putBig(out, kSectorBytes, 2);
    out.insert(out.end(), {tracks[i].data ? kModeMode1Raw : kModeAudio, 0, 0, 1});
    putBig(out, uint64_t(tracks[i].index0), width);
    putBig(out, uint64_t(tracks[i].index1), width);
    putBig(out, uint64_t(tracks[i].end), width);
  }
  return out;
}

// Per track: offset, size, mode, start LSN and a word left zero.
Bytes taoChunk(const std::vector<StoredTrack>& tracks, size_t first, size_t end, int width) {
  Bytes out;
  for (size_t i = first; i < end; ++i) {
    putBig(out, uint64_t(tracks[i].index1), width);
    putBig(out, uint64_t(tracks[i].end - tracks[i].index1), width);
    putBig(out, tracks[i].data ? kModeMode1Raw : kModeAudio, 4);
    putBig(out, uint64_t(tracks[i].index1Lsn), 4);
    putBig(out, 0, width);
  }
  return out;
}

Bytes tableChunks(const std::vector<StoredTrack>& tracks, const NrgStyle& style) {
  const int width = style.version1 ? 4 : 8;
  Bytes out;
  for (size_t first = 0; first < tracks.size();) {
    size_t end = first;
    while (end < tracks.size() && tracks[end].session == tracks[first].session) ++end;
    if (style.trackAtOnce) {
      putChunk(out, style.version1 ? "ETNF" : "ETN2", taoChunk(tracks, first, end, width));
    } else {
      putChunk(out, style.version1 ? "CUES" : "CUEX", cueChunk(tracks, first, end, style.version1));
      putChunk(out, style.version1 ? "DAOI" : "DAOX", daoChunk(tracks, first, end, width));
    }
    Bytes session;
    putBig(session, end - first, 4);
    putChunk(out, "SINF", session);
    first = end;
  }
  Bytes mediaType;
  putBig(mediaType, 1, 4);
  putChunk(out, "MTYP", mediaType);
  putChunk(out, "END!", {});
  return out;
}

[[noreturn]] void failWrite(const std::string& path) {
  throw EDiscImageError("cannot write " + path + ": " + std::strerror(errno));
}

void writeBytes(std::ofstream& out, const std::string& path, const uint8_t* data, size_t size) {
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  if (!out) failWrite(path);
}

void writeSectors(std::ofstream& out, const std::string& path, const DiscSpec& disc,
                  bool leadingPregap) {
  const DiscContent content(disc);
  std::vector<uint8_t> block(size_t(kWriteBlockSectors) * kSectorBytes, 0);
  if (leadingPregap)
    writeBytes(out, path, block.data(), size_t(kFirstPregapSectors) * kSectorBytes);
  const int64_t total = content.totalSectors();
  for (int64_t sector = 0; sector < total; sector += kWriteBlockSectors) {
    const int64_t count = std::min(kWriteBlockSectors, total - sector);
    content.render(sector, count, block.data());
    writeBytes(out, path, block.data(), size_t(count) * kSectorBytes);
  }
}

void validateNrgLayout(const ImageLayout& layout) {
  const bool oneFile = !layout.filePerTrack && layout.audioFiles == AudioFileKind::Binary;
  if (!oneFile || !layout.binName.empty()) {
    throw EDiscImageError(
        "a .nrg image is one file holding the whole disc: drop the file per "
        "track, WAVE or MOTOROLA files and the name of a separate file");
  }
}

}  // namespace

WrittenImage writeNrgImage(const DiscSpec& disc, const std::string& path,
                           const ImageLayout& layout) {
  validateDisc(disc);
  validateNrgLayout(layout);
  const NrgStyle& style = layout.nrg;
  const std::vector<StoredTrack> tracks = storeTracks(disc, style.trackAtOnce);
  const int64_t chunksStart = tracks.back().end;
  if (style.version1 && chunksStart > int64_t(UINT32_MAX)) {
    throw EDiscImageError("a version 1 .nrg image addresses at most 4 GiB: write version 2");
  }
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ignored;
  if (!folder.empty()) fs::create_directories(folder, ignored);  // a failure shows when writing
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) failWrite(path);
  writeSectors(out, path, disc, !style.trackAtOnce);
  Bytes tail = tableChunks(tracks, style);
  const char* footer = style.version1 ? "NERO" : "NER5";
  tail.insert(tail.end(), footer, footer + 4);
  putBig(tail, uint64_t(chunksStart), style.version1 ? 4 : 8);
  writeBytes(out, path, tail.data(), tail.size());
  out.close();
  if (!out) failWrite(path);
  return WrittenImage{path, {path}};
}

}  // namespace korvane::discimage
