// Disc images for tests, benchmarks and the demo disc.
//
// A DiscSpec describes a disc: its tracks (generated or WAV audio, or MODE1/2352 data),
// their pregaps and whether the last track is data in a second session (an enhanced
// CD). From it this unit writes the image (a cue sheet or a cdrdao .toc and the files
// they name, or a Nero .nrg image), and computes what a CD library must report for it:
// the TOC, and for every audio track the exact PCM that ripping the track yields.
//
// Addresses: an image sector is a sector's index in the disc's data as the files hold
// it (the first sector of track 1 is 0). In the first session an image sector's LSN
// equals its index; a second session starts kSessionGapSectors after the end of the
// first, a gap the files hold no bytes for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::discimage {

constexpr int kSectorBytes = 2352;
constexpr int kFramesPerSector = 588;  // stereo 16-bit frames in one sector
constexpr int kSectorsPerSecond = 75;
constexpr int kSampleRate = 44100;
constexpr int kMaxTracks = 99;
// Lead-out of the first session (6750) + lead-in of the second (4500) + pregap (150).
constexpr int kSessionGapSectors = 11400;
// The largest address an MSF of 99:59:74 can express, counted from LSN 0 at 00:02:00.
constexpr int kMaxDiscSectors = 100 * 60 * kSectorsPerSecond - 150;

// Every failure of this unit: a bad description, an unreadable WAV, a file not written.
class EDiscImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TrackContent { Tone, Chord, Noise, Silence, Ramp, Music, WaveFile, Data };

struct TrackSpec {
  TrackContent content = TrackContent::Music;
  int sectors = 0;        // from INDEX 01 to the end of the track
  int pregapSectors = 0;  // INDEX 00 stored in the file before INDEX 01; not for track 1
  double toneHz = 0;      // Tone and Chord: the (root) frequency; 0 picks one per track
  // WaveFile: interleaved stereo samples, padded with silence to whole sectors.
  std::shared_ptr<const std::vector<int16_t>> waveSamples;

  bool isData() const { return content == TrackContent::Data; }
};

struct DiscSpec {
  std::vector<TrackSpec> tracks;
  uint32_t seed = 1;
  bool enhanced = false;  // the last track is data, alone in a second session
  // Audio before track 1's INDEX 01 (hidden track one audio): track 1's INDEX 00 starts
  // the disc, its INDEX 01 (LSN) lies hiddenSectors later. Tone (hiddenToneHz; 0 picks
  // one), Noise or Silence.
  int hiddenSectors = 0;
  TrackContent hiddenContent = TrackContent::Tone;
  double hiddenToneHz = 0;
};

enum class SheetKind { Cue, Toc, Nrg };
enum class AudioFileKind { Binary, Motorola, Wave };

// How a Nero .nrg image lists its tracks: disc at once (pregaps stored, DAOX) or track at
// once (ETN2), in the 64-bit chunks of version 2 or the 32-bit ones of version 1.
struct NrgStyle {
  bool trackAtOnce = false;
  bool version1 = false;
};

struct ImageLayout {
  SheetKind sheet = SheetKind::Cue;
  NrgStyle nrg;  // SheetKind::Nrg: one file holds the whole disc and its tables
  AudioFileKind audioFiles = AudioFileKind::Binary;  // Wave always writes one file per track
  bool filePerTrack = false;
  std::string binName;  // the disc's one file, beside the sheet; empty: sheet base + ".bin"
};

struct TocTrack {
  int number = 0;
  int32_t startLsn = 0;  // INDEX 01
  bool data = false;
  int session = 1;
};

struct DiscToc {
  std::vector<TocTrack> tracks;
  int32_t leadOutLsn = 0;
};

// The sectors a ripper reads for one audio track.
struct RipRange {
  int32_t startLsn = 0;
  int32_t sectors = 0;
};

struct WrittenImage {
  std::string sheetPath;
  std::vector<std::string> dataFiles;  // in the order the sheet names them
};

// A track loaded from a 16-bit PCM WAV file at 44100 Hz (mono is doubled to stereo).
TrackSpec loadWaveTrack(const std::string& path);

// Throws EDiscImageError saying what is wrong and what to change.
void validateDisc(const DiscSpec& disc);
void validateLayout(const DiscSpec& disc, const ImageLayout& layout);

DiscToc discToc(const DiscSpec& disc);
// Track 0: the hidden track one audio, from the disc's start to track 1's INDEX 01.
RipRange ripRange(const DiscSpec& disc, int trackNumber);

// The PCM (16-bit stereo little-endian, left first) that ripping the audio track yields:
// from its INDEX 01 to the next track's INDEX 01 (so it holds the next track's pregap),
// the last track to the lead-out, the last track of a first session to its own end.
std::vector<uint8_t> expectedTrackPcm(const DiscSpec& disc, int trackNumber);
// The same bytes, handed to sink in blocks, for tracks too long to hold in memory.
void streamTrackPcm(const DiscSpec& disc, int trackNumber,
                    const std::function<void(const uint8_t*, size_t)>& sink);

// The text of the cue sheet or .toc that writeDiscImage writes to sheetPath.
std::string sheetText(const DiscSpec& disc, const std::string& sheetPath,
                      const ImageLayout& layout);
WrittenImage writeDiscImage(const DiscSpec& disc, const std::string& sheetPath,
                            const ImageLayout& layout = {});

// FNV-1a 64, continued from `hash` so that blocks can be fed one after another.
constexpr uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
uint64_t fnv1a64(const uint8_t* data, size_t size, uint64_t hash = kFnvOffsetBasis);

// mm:ss:ff of a sector count, 75 frames to the second.
std::string msfText(int64_t sectors);

}  // namespace korvane::discimage
