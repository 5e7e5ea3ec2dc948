#include "disc_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "disc_content.h"
#include "nrg_writer.h"
#include "wave_io.h"

namespace fs = std::filesystem;

namespace korvane::discimage {
namespace {

constexpr int64_t kWriteBlockSectors = 1024;  // 2.4 MB per write

std::string twoDigits(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", number);
  return text;
}

std::string trackName(size_t index) { return "track " + twoDigits(int(index) + 1); }

void validateTrack(const DiscSpec& disc, size_t index) {
  const TrackSpec& track = disc.tracks[index];
  if (track.sectors < 1)
    throw EDiscImageError(trackName(index) + " has no sectors: give it at least one");
  if (track.pregapSectors < 0) throw EDiscImageError(trackName(index) + " has a negative pregap");
  if (index == 0 && track.pregapSectors > 0) {
    throw EDiscImageError(
        "track 01 cannot have a pregap of its own: give the audio before it as the disc's "
        "hidden audio");
  }
  if (track.toneHz != 0 && (track.toneHz < 1 || track.toneHz > 20000)) {
    throw EDiscImageError(trackName(index) + ": a tone frequency must lie between 1 and 20000 Hz");
  }
  if (track.content == TrackContent::WaveFile && !track.waveSamples) {
    throw EDiscImageError(trackName(index) +
                          " takes its audio from a WAV file, but none was loaded");
  }
}

void validateHidden(const DiscSpec& disc) {
  if (disc.hiddenSectors < 0) throw EDiscImageError("the hidden audio cannot be negative");
  if (disc.hiddenSectors == 0) return;
  if (disc.tracks.front().isData())
    throw EDiscImageError("hidden audio goes before an audio track 01, not a data track");
  const TrackContent content = disc.hiddenContent;
  if (content != TrackContent::Tone && content != TrackContent::Noise &&
      content != TrackContent::Silence)
    throw EDiscImageError("the hidden audio is a tone, noise or silence");
}

void validateSessions(const DiscSpec& disc) {
  const TrackSpec& last = disc.tracks.back();
  if (!last.isData() || disc.tracks.size() < 2 || disc.tracks[disc.tracks.size() - 2].isData()) {
    throw EDiscImageError(
        "an enhanced CD needs audio tracks followed by one data track (the second session)");
  }
  if (last.pregapSectors != 0) {
    throw EDiscImageError(
        "the data track of the second session has no pregap in the file: "
        "the gap between the sessions stands in for it");
  }
}

const TrackPlacement& placementOf(const std::vector<TrackPlacement>& placements, int trackNumber) {
  if (trackNumber < 1 || size_t(trackNumber) > placements.size()) {
    throw EDiscImageError("there is no track " + std::to_string(trackNumber) +
                          " on this disc (it has " + std::to_string(placements.size()) + ")");
  }
  return placements[size_t(trackNumber) - 1];
}

// ---------------------------------------------------------------------------------
// The files of an image

enum class FileKind { Binary, Motorola, Wave };

struct DataFile {
  std::string nameInSheet;
  fs::path path;
  int64_t firstSector = 0;
  int64_t endSector = 0;
  FileKind kind = FileKind::Binary;
};

const char* cueFileType(FileKind kind) {
  switch (kind) {
    case FileKind::Binary: return "BINARY";
    case FileKind::Motorola: return "MOTOROLA";
    case FileKind::Wave: return "WAVE";
  }
  return "BINARY";
}

FileKind audioFileKind(AudioFileKind kind) {
  switch (kind) {
    case AudioFileKind::Binary: return FileKind::Binary;
    case AudioFileKind::Motorola: return FileKind::Motorola;
    case AudioFileKind::Wave: return FileKind::Wave;
  }
  return FileKind::Binary;
}

bool perTrackFiles(const ImageLayout& layout) {
  return layout.filePerTrack || layout.audioFiles == AudioFileKind::Wave;
}

std::vector<DataFile> planFiles(const DiscSpec& disc, const std::string& sheetPath,
                                const ImageLayout& layout) {
  const fs::path sheet(sheetPath);
  const fs::path folder = sheet.parent_path();
  const std::string stem = sheet.stem().string();
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  std::vector<DataFile> files;
  if (!perTrackFiles(layout)) {
    DataFile file;
    file.nameInSheet = layout.binName.empty() ? stem + ".bin" : layout.binName;
    file.path = folder / file.nameInSheet;
    file.endSector = placements.back().endSector;
    file.kind = audioFileKind(layout.audioFiles);
    files.push_back(file);
  } else {
    for (size_t i = 0; i < placements.size(); ++i) {
      DataFile file;
      // Data sectors are no samples: a data track always gets a BINARY file of its own.
      file.kind = disc.tracks[i].isData() ? FileKind::Binary : audioFileKind(layout.audioFiles);
      file.nameInSheet =
          stem + "-track" + twoDigits(int(i) + 1) + (file.kind == FileKind::Wave ? ".wav" : ".bin");
      file.path = folder / file.nameInSheet;
      file.firstSector = placements[i].firstSector;
      file.endSector = placements[i].endSector;
      files.push_back(file);
    }
  }
  return files;
}

// ---------------------------------------------------------------------------------
// Cue sheets

std::string cueText(const DiscSpec& disc, const std::vector<DataFile>& files) {
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  const bool oneFile = files.size() == 1;
  std::string text;
  auto fileLine = [&text](const DataFile& file) {
    text += "FILE \"" + file.nameInSheet + "\" " + cueFileType(file.kind) + "\n";
  };
  if (disc.enhanced) text += "REM SESSION 01\n";
  if (oneFile) fileLine(files.front());
  for (size_t i = 0; i < placements.size(); ++i) {
    const TrackPlacement& place = placements[i];
    if (disc.enhanced && i + 1 == placements.size()) text += "REM SESSION 02\n";
    if (!oneFile) fileLine(files[i]);
    const int64_t fileStart = oneFile ? 0 : place.firstSector;
    text += "  TRACK " + twoDigits(int(i) + 1) +
            (disc.tracks[i].isData() ? " MODE1/2352\n" : " AUDIO\n");
    if (place.index01 > place.firstSector)
      text += "    INDEX 00 " + msfText(place.firstSector - fileStart) + "\n";
    text += "    INDEX 01 " + msfText(place.index01 - fileStart) + "\n";
  }
  return text;
}

// ---------------------------------------------------------------------------------
// cdrdao .toc files: each track names its file (FILE for audio, DATAFILE for data) and
// START marks its INDEX 01 after the pregap that the file holds. In the disc's one file
// a track is given by its start and length (a data track by a byte offset); a file of
// its own is the track's to its end. Raw samples are big-endian unless SWAP says they are
// little-endian (BINARY files).

// A backslash starts an escape in a .toc string: it stands doubled for itself.
std::string tocQuoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '\\' ? std::string(2, c) : std::string(1, c);
  return quoted + "\"";
}

std::string tocFileLine(const DataFile& file, const TrackPlacement& place, bool data,
                        bool oneFile) {
  const int64_t start = oneFile ? place.firstSector : 0;
  const std::string length = oneFile ? " " + msfText(place.endSector - place.firstSector) : "";
  const std::string name = tocQuoted(file.nameInSheet);
  if (data) {
    const std::string offset = start > 0 ? " #" + std::to_string(start * kSectorBytes) : "";
    return "DATAFILE " + name + offset + length + "\n";
  }
  const std::string swap = file.kind == FileKind::Binary ? " SWAP" : "";
  return "FILE " + name + swap + " " + msfText(start) + length + "\n";
}

std::string tocText(const DiscSpec& disc, const std::vector<DataFile>& files) {
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  const bool oneFile = files.size() == 1;
  const bool anyData = std::any_of(disc.tracks.begin(), disc.tracks.end(),
                                   [](const TrackSpec& t) { return t.isData(); });
  std::string text = anyData ? "CD_ROM\n" : "CD_DA\n";
  for (size_t i = 0; i < placements.size(); ++i) {
    const TrackPlacement& place = placements[i];
    const bool data = disc.tracks[i].isData();
    text += "\n// Track " + std::to_string(i + 1) + "\n";
    text += data ? "TRACK MODE1_RAW\n" : "TRACK AUDIO\n";
    text += tocFileLine(oneFile ? files.front() : files[i], place, data, oneFile);
    if (place.index01 > place.firstSector)
      text += "START " + msfText(place.index01 - place.firstSector) + "\n";
  }
  return text;
}

// ---------------------------------------------------------------------------------
// Writing

[[noreturn]] void failWrite(const fs::path& path) {
  throw EDiscImageError("cannot write " + path.string() + ": " + std::strerror(errno));
}

void swapSampleBytes(uint8_t* data, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
}

void writeDataFile(const DiscContent& content, const DataFile& file) {
  std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
  if (!out) failWrite(file.path);
  const int64_t sectors = file.endSector - file.firstSector;
  if (file.kind == FileKind::Wave) {
    const auto header = waveHeader(uint32_t(sectors * kSectorBytes));
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
  }
  std::vector<uint8_t> block(size_t(std::min(sectors, kWriteBlockSectors)) * kSectorBytes);
  for (int64_t sector = file.firstSector; sector < file.endSector; sector += kWriteBlockSectors) {
    const int64_t count = std::min(kWriteBlockSectors, file.endSector - sector);
    const size_t bytes = size_t(count) * kSectorBytes;
    content.render(sector, count, block.data());
    if (file.kind == FileKind::Motorola) swapSampleBytes(block.data(), bytes);
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(bytes));
    if (!out) failWrite(file.path);
  }
  out.close();
  if (!out) failWrite(file.path);
}

void writeTextFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) failWrite(path);
  out << text;
  out.close();
  if (!out) failWrite(path);
}

}  // namespace

TrackSpec loadWaveTrack(const std::string& path) {
  auto samples = std::make_shared<std::vector<int16_t>>(readWaveFile(path));
  const int64_t frames = int64_t(samples->size() / 2);
  if (frames == 0) throw EDiscImageError(path + ": the WAV file holds no audio");
  if (frames > int64_t(kMaxDiscSectors) * kFramesPerSector) {
    throw EDiscImageError(path + ": the WAV file is longer than a whole disc");
  }
  TrackSpec track;
  track.content = TrackContent::WaveFile;
  track.sectors = int((frames + kFramesPerSector - 1) / kFramesPerSector);
  track.waveSamples = std::move(samples);
  return track;
}

void validateDisc(const DiscSpec& disc) {
  if (disc.tracks.empty() || disc.tracks.size() > size_t(kMaxTracks)) {
    throw EDiscImageError("a disc holds 1 to 99 tracks, not " + std::to_string(disc.tracks.size()));
  }
  validateHidden(disc);
  int64_t sectors = disc.hiddenSectors;
  for (size_t i = 0; i < disc.tracks.size(); ++i) {
    validateTrack(disc, i);
    sectors += disc.tracks[i].sectors + (i == 0 ? 0 : disc.tracks[i].pregapSectors);
  }
  if (disc.enhanced) {
    validateSessions(disc);
    sectors += kSessionGapSectors;
  }
  if (sectors > kMaxDiscSectors) {
    throw EDiscImageError("the disc would need " + std::to_string(sectors) +
                          " sectors; its addresses end at " + std::to_string(kMaxDiscSectors) +
                          " (99:59:74): make the tracks shorter");
  }
}

void validateLayout(const DiscSpec& disc, const ImageLayout& layout) {
  if (layout.sheet == SheetKind::Toc && disc.enhanced) {
    throw EDiscImageError(
        "a .toc file cannot describe a second session: write a cue sheet instead");
  }
  if (layout.binName.find_first_of("\"\r\n") != std::string::npos) {
    throw EDiscImageError("the file name \"" + layout.binName +
                          "\" cannot stand in a cue sheet: drop its quotes");
  }
  if (layout.sheet == SheetKind::Nrg && layout.nrg.trackAtOnce && disc.hiddenSectors > 0) {
    throw EDiscImageError(
        "a track-at-once .nrg image keeps no audio before track 01: drop --tao or the hidden "
        "audio");
  }
  if (perTrackFiles(layout) && !layout.binName.empty()) {
    throw EDiscImageError(
        "a file name for the whole disc does not fit an image with one file per track");
  }
}

DiscToc discToc(const DiscSpec& disc) {
  validateDisc(disc);
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  DiscToc toc;
  for (size_t i = 0; i < placements.size(); ++i) {
    TocTrack track;
    track.number = int(i) + 1;
    track.startLsn = int32_t(placements[i].index01 + placements[i].lsnOffset);
    track.data = disc.tracks[i].isData();
    track.session = placements[i].lsnOffset == 0 ? 1 : 2;
    toc.tracks.push_back(track);
  }
  toc.leadOutLsn = int32_t(placements.back().endSector + placements.back().lsnOffset);
  return toc;
}

RipRange ripRange(const DiscSpec& disc, int trackNumber) {
  validateDisc(disc);
  if (trackNumber == 0 && disc.hiddenSectors > 0) return {0, disc.hiddenSectors};
  const std::vector<TrackPlacement> placements = placeTracks(disc);
  const TrackPlacement& place = placementOf(placements, trackNumber);
  if (disc.tracks[size_t(trackNumber) - 1].isData()) {
    throw EDiscImageError("track " + twoDigits(trackNumber) +
                          " is a data track: it has no audio to rip");
  }
  int64_t end = place.endSector + place.lsnOffset;  // the last track: the lead-out
  if (size_t(trackNumber) < placements.size()) {
    const TrackPlacement& next = placements[size_t(trackNumber)];
    // Within a session the rip runs to the next INDEX 01, taking in the next pregap;
    // the last track of the first session ends with its own audio.
    if (next.lsnOffset == place.lsnOffset) end = next.index01 + next.lsnOffset;
  }
  const int64_t start = place.index01 + place.lsnOffset;
  return {int32_t(start), int32_t(end - start)};
}

void streamTrackPcm(const DiscSpec& disc, int trackNumber,
                    const std::function<void(const uint8_t*, size_t)>& sink) {
  const RipRange range = ripRange(disc, trackNumber);
  const DiscContent content(disc);
  // Audio tracks lie in the first session, where an LSN is also the image sector.
  std::vector<uint8_t> block(size_t(std::min<int64_t>(range.sectors, kWriteBlockSectors)) *
                             kSectorBytes);
  for (int64_t done = 0; done < range.sectors; done += kWriteBlockSectors) {
    const int64_t count = std::min<int64_t>(kWriteBlockSectors, range.sectors - done);
    content.render(range.startLsn + done, count, block.data());
    sink(block.data(), size_t(count) * kSectorBytes);
  }
}

std::vector<uint8_t> expectedTrackPcm(const DiscSpec& disc, int trackNumber) {
  std::vector<uint8_t> pcm;
  pcm.reserve(size_t(ripRange(disc, trackNumber).sectors) * kSectorBytes);
  streamTrackPcm(disc, trackNumber, [&pcm](const uint8_t* data, size_t size) {
    pcm.insert(pcm.end(), data, data + size);
  });
  return pcm;
}

std::string sheetText(const DiscSpec& disc, const std::string& sheetPath,
                      const ImageLayout& layout) {
  validateDisc(disc);
  validateLayout(disc, layout);
  const std::vector<DataFile> files = planFiles(disc, sheetPath, layout);
  return layout.sheet == SheetKind::Toc ? tocText(disc, files) : cueText(disc, files);
}

WrittenImage writeDiscImage(const DiscSpec& disc, const std::string& sheetPath,
                            const ImageLayout& layout) {
  if (layout.sheet == SheetKind::Nrg) return writeNrgImage(disc, sheetPath, layout);
  const std::string text = sheetText(disc, sheetPath, layout);
  const fs::path folder = fs::path(sheetPath).parent_path();
  std::error_code ignored;
  if (!folder.empty()) fs::create_directories(folder, ignored);  // a failure shows when writing
  const DiscContent content(disc);
  WrittenImage written;
  written.sheetPath = sheetPath;
  for (const DataFile& file : planFiles(disc, sheetPath, layout)) {
    writeDataFile(content, file);
    written.dataFiles.push_back(file.path.string());
  }
  writeTextFile(sheetPath, text);
  return written;
}

uint64_t fnv1a64(const uint8_t* data, size_t size, uint64_t hash) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string msfText(int64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(sectors / (60 * kSectorsPerSecond)),
                int(sectors / kSectorsPerSecond % 60), int(sectors % kSectorsPerSecond));
  return text;
}

}  // namespace korvane::discimage
