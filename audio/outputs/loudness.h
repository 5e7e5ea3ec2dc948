// The loudness of tracks and albums as ReplayGain 2.0 and the Opus comment header take
// it: integrated loudness (EBU R128, in LUFS), measured by libebur128, and sample peak,
// taken here as the samples go by (cheaper than the library's peak over its doubles).
//
// A meter is fed the PCM of one track as the run reads it: interleaved 16-bit stereo,
// little-endian, 44.1 kHz, in pieces of any size (a sample pair split across two calls
// included). It keeps the loudness of the blocks in a histogram, so its memory stays
// the same whatever the track's length. An album's loudness is measured over the blocks
// of all its tracks, as if they were one stream.
//
// Silence has no loudness (minus infinity): a gain for it would be infinite, so none
// is given (`TLoudness::Lufs` is empty) and no gain tag is written for it.
//
// Threads: one thread feeds a meter; the album's result is taken once its meters are
// fed.
#pragma once

#include <ebur128.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TLoudness {
  std::optional<double> Lufs;  // integrated loudness; empty for silence
  double Peak = 0;             // the largest |sample| as a share of full scale, 0..1
};

class TLoudnessMeter {
 public:
  // Loads libebur128; raises EAudioException when it is missing.
  TLoudnessMeter();
  ~TLoudnessMeter();
  TLoudnessMeter(const TLoudnessMeter&) = delete;
  TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

  void Add(const void* Bytes, size_t Size);
  TLoudness Result() const;

  // The loudness of the album of Tracks (their blocks taken together), and its peak.
  static TLoudness Album(const std::vector<const TLoudnessMeter*>& Tracks);

 private:
  void AddPairs(const uint8_t* Bytes, size_t Pairs);
  double Peak() const;

  std::shared_ptr<const void> Library_;  // keeps libebur128 loaded while the state lives
  ebur128_state* State_ = nullptr;
  uint8_t Partial_[4] = {};  // the bytes of a pair that the next call completes
  size_t PartialBytes_ = 0;
  std::vector<int16_t> Samples_;
  int Peak_ = 0;  // the largest |sample| so far, 0..32768
};

// ReplayGain 2.0's reference loudness, and the Opus header's (EBU R128).
constexpr double ReplayGainReference = -18.0;
constexpr double R128Reference = -23.0;

// The gain in dB that brings Lufs to Reference.
inline double GainTo(double Reference, double Lufs) { return Reference - Lufs; }
// The gain to -23 LUFS in Q7.8 (1/256 dB), as R128_TRACK_GAIN and R128_ALBUM_GAIN
// store it, limited to what 16 bits hold.
int R128Q78(double Lufs);

// The comment lines of a file's gains: REPLAYGAIN_TRACK_GAIN="-7.03 dB",
// REPLAYGAIN_TRACK_PEAK="0.977203", REPLAYGAIN_ALBUM_GAIN, REPLAYGAIN_ALBUM_PEAK; for
// Opus only R128_TRACK_GAIN and R128_ALBUM_GAIN. A silent track (or album) gets no
// lines of its own.
std::vector<std::string> ReplayGainLines(const TLoudness& Track, const TLoudness& Album, bool Opus);
// Whether Line (NAME=value) is one of the lines above, of any case.
bool IsGainLine(const std::string& Line);
