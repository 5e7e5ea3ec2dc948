#include "disc_content.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace korvane::discimage {
namespace {

// ---------------------------------------------------------------------------------
// Deterministic numbers

uint64_t splitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

uint64_t trackKey(uint32_t seed, int track, uint64_t salt) {
  return splitMix64(splitMix64(seed) ^ (uint64_t(track) << 40) ^ salt);
}

// ---------------------------------------------------------------------------------
// Oscillators and envelopes. Tables with linear interpolation keep the generator fast
// and make every sample a function of integers only (phase = frame × step, modulo 2^32).

class SineTable {
 public:
  static const SineTable& instance() {
    static const SineTable table;
    return table;
  }
  float at(uint32_t phase) const {
    const uint32_t index = phase >> kFractionBits;
    const float fraction = float(phase & kFractionMask) * (1.0f / float(kFractionMask + 1));
    return values_[index] + (values_[index + 1] - values_[index]) * fraction;
  }

 private:
  static constexpr int kIndexBits = 12;
  static constexpr int kFractionBits = 32 - kIndexBits;
  static constexpr uint32_t kFractionMask = (1u << kFractionBits) - 1;
  static constexpr int kSize = 1 << kIndexBits;

  SineTable() {
    const double turn = 2.0 * std::acos(-1.0);
    for (int i = 0; i <= kSize; ++i) values_[i] = float(std::sin(turn * i / kSize));
  }
  std::array<float, kSize + 1> values_{};
};

// exp(-x) for x >= 0.
class DecayTable {
 public:
  static const DecayTable& instance() {
    static const DecayTable table;
    return table;
  }
  float at(float x) const {
    if (x >= kRange) return 0.0f;
    const float position = x * kStepsPerUnit;
    const int index = int(position);
    const float fraction = position - float(index);
    return values_[index] + (values_[index + 1] - values_[index]) * fraction;
  }

 private:
  static constexpr int kRange = 16;
  static constexpr int kStepsPerUnit = 256;
  static constexpr int kSize = kRange * kStepsPerUnit;

  DecayTable() {
    for (int i = 0; i <= kSize; ++i) values_[i] = float(std::exp(-double(i) / kStepsPerUnit));
  }
  std::array<float, kSize + 1> values_{};
};

uint32_t phaseStep(double hz) { return uint32_t(std::llround(hz / kSampleRate * 4294967296.0)); }

float sineAt(int64_t frame, uint32_t step) {
  return SineTable::instance().at(uint32_t(uint64_t(frame) * step));
}

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// A fourth higher (folded into one octave) from track to track, so neighbours differ.
double defaultToneHz(int track) { return 440.0 * std::pow(2.0, ((track - 1) * 5 % 12) / 12.0); }

int16_t toSample(float value) {
  const float clamped = std::min(1.0f, std::max(-1.0f, value)) * 32767.0f;
  return int16_t(clamped >= 0 ? clamped + 0.5f : clamped - 0.5f);
}

void putFrame(uint8_t* out, uint16_t left, uint16_t right) {
  out[0] = uint8_t(left);
  out[1] = uint8_t(left >> 8);
  out[2] = uint8_t(right);
  out[3] = uint8_t(right >> 8);
}

void putFrame(uint8_t* out, float left, float right) {
  putFrame(out, uint16_t(toSample(left)), uint16_t(toSample(right)));
}

// ---------------------------------------------------------------------------------
// Audio tracks: frames are counted from the track's first sector (its INDEX 00).

class AudioRenderer : public TrackRenderer {
 public:
  void render(int64_t firstSector, int count, uint8_t* out) const override {
    renderFrames(firstSector * kFramesPerSector, int64_t(count) * kFramesPerSector, out);
  }

 protected:
  // Writes `count` stereo frames (4 bytes each) starting with frame `first`.
  virtual void renderFrames(int64_t first, int64_t count, uint8_t* out) const = 0;
};

class SilenceRenderer : public AudioRenderer {
 protected:
  void renderFrames(int64_t, int64_t count, uint8_t* out) const override {
    std::memset(out, 0, size_t(count) * 4);
  }
};

// A sine; the right channel lags a quarter period so that swapped channels show.
class ToneRenderer : public AudioRenderer {
 public:
  explicit ToneRenderer(double hz) : step_(phaseStep(hz)) {}

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    const SineTable& sine = SineTable::instance();
    for (int64_t i = 0; i < count; ++i) {
      const uint32_t phase = uint32_t(uint64_t(first + i) * step_);
      putFrame(out + 4 * i, 0.5f * sine.at(phase), 0.5f * sine.at(phase - 0x40000000u));
    }
  }

 private:
  uint32_t step_;
};

// A major triad on the root, balanced differently on the two channels.
class ChordRenderer : public AudioRenderer {
 public:
  explicit ChordRenderer(double rootHz)
      : steps_{phaseStep(rootHz), phaseStep(rootHz * std::pow(2.0, 4 / 12.0)),
               phaseStep(rootHz * std::pow(2.0, 7 / 12.0))} {}

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    for (int64_t i = 0; i < count; ++i) {
      const int64_t frame = first + i;
      const float root = sineAt(frame, steps_[0]);
      const float third = sineAt(frame, steps_[1]);
      const float fifth = sineAt(frame, steps_[2]);
      putFrame(out + 4 * i, 0.30f * root + 0.24f * third + 0.18f * fifth,
               0.18f * root + 0.24f * third + 0.30f * fifth);
    }
  }

 private:
  std::array<uint32_t, 3> steps_;
};

// White noise at half scale, independent on both channels.
class NoiseRenderer : public AudioRenderer {
 public:
  explicit NoiseRenderer(uint64_t key) : key_(key) {}

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    for (int64_t i = 0; i < count; ++i) {
      const uint64_t bits = splitMix64(key_ + uint64_t(first + i));
      const int16_t left = int16_t(int16_t(uint16_t(bits >> 48)) / 2);
      const int16_t right = int16_t(int16_t(uint16_t(bits >> 16)) / 2);
      putFrame(out + 4 * i, uint16_t(left), uint16_t(right));
    }
  }

 private:
  uint64_t key_;
};

// A count of the disc's frames: left holds the low 16 bits of the frame's index in the
// image, right the high 16 bits mixed with the complement of the low ones. Every frame
// of a disc is distinct, so a lost, doubled or misplaced sector never compares equal.
class RampRenderer : public AudioRenderer {
 public:
  RampRenderer(int64_t firstImageFrame, uint32_t seed) : base_(uint32_t(firstImageFrame) + seed) {}

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    for (int64_t i = 0; i < count; ++i) {
      const uint32_t index = base_ + uint32_t(first + i);
      putFrame(out + 4 * i, uint16_t(index), uint16_t((index >> 16) ^ ~index));
    }
  }

 private:
  uint32_t base_;
};

// Audio from a WAV file, after a silent pregap and padded with silence.
class WaveRenderer : public AudioRenderer {
 public:
  WaveRenderer(std::shared_ptr<const std::vector<int16_t>> samples, int64_t pregapFrames)
      : samples_(std::move(samples)), pregapFrames_(pregapFrames) {}

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    const int64_t available = samples_ ? int64_t(samples_->size() / 2) : 0;
    for (int64_t i = 0; i < count; ++i) {
      const int64_t frame = first + i - pregapFrames_;
      if (frame < 0 || frame >= available) {
        putFrame(out + 4 * i, uint16_t(0), uint16_t(0));
      } else {
        putFrame(out + 4 * i, uint16_t((*samples_)[2 * frame]),
                 uint16_t((*samples_)[2 * frame + 1]));
      }
    }
  }

 private:
  std::shared_ptr<const std::vector<int16_t>> samples_;
  int64_t pregapFrames_;
};

// ---------------------------------------------------------------------------------
// Generated music: a four-chord progression played as a soft pad with a plucked bass
// on the half notes and a melody of eighth notes built from a few repeated motifs.
// Key, mode, tempo, progression and motifs come from the seed and the track number,
// so consecutive tracks sound recognisably different. Voices are normalised and their
// levels add up to less than full scale: the sum never clips.

constexpr int8_t kRest = -100;
constexpr int8_t kTie = -101;
constexpr int kSlotsPerBar = 8;
constexpr int kBarsPerProgression = 4;

using Motif = std::array<int8_t, kSlotsPerBar>;

struct MusicPlan {
  int tonic = 60;  // MIDI note
  bool minor = false;
  int64_t slotFrames = 0;                              // one eighth note
  std::array<int, kBarsPerProgression> progression{};  // scale degrees of the chords
  std::array<Motif, 4> motifs{};
};

// Which motif each bar of an eight-bar period plays: A A B A, A A B C.
constexpr std::array<int, 8> kMotifOfBar = {0, 0, 1, 0, 0, 0, 1, 2};

int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int degreeSemitones(int degree, bool minor) {
  static constexpr std::array<int, 7> kMajor = {0, 2, 4, 5, 7, 9, 11};
  static constexpr std::array<int, 7> kMinor = {0, 2, 3, 5, 7, 8, 10};
  const int octave = floorDiv(degree, 7);
  const int step = degree - 7 * octave;
  return 12 * octave + (minor ? kMinor : kMajor)[size_t(step)];
}

// Moves a note by octaves into [low, low + 12).
int foldInto(int note, int low) { return low + ((note - low) % 12 + 12) % 12; }

Motif makeMotif(uint64_t key, bool closing) {
  static constexpr std::array<const char*, 8> kRhythms = {"x-x-x-x-", "x-xxx-x-", "xxx-x---",
                                                          "x-x-x-.x", "x--xx-x-", "xxxxx-x-",
                                                          "x-.xx-x-", "x---x-xx"};
  const char* rhythm = closing ? "x-x-x---" : kRhythms[key % kRhythms.size()];
  static constexpr std::array<int, 6> kSteps = {-2, -1, 1, 2, -1, 1};
  Motif motif{};
  int degree = int((key >> 8) % 3) * 2;  // start on a chord tone
  uint64_t bits = splitMix64(key);
  for (int slot = 0; slot < kSlotsPerBar; ++slot) {
    const char symbol = rhythm[slot];
    if (symbol == '-') {
      motif[size_t(slot)] = kTie;
    } else if (symbol == '.') {
      motif[size_t(slot)] = kRest;
    } else {
      motif[size_t(slot)] = int8_t(degree);
      degree = std::clamp(degree + kSteps[bits % kSteps.size()], -2, 7);
      bits = splitMix64(bits);
    }
  }
  if (closing) motif[4] = 0;  // a closing motif lands on the chord's root
  return motif;
}

MusicPlan planMusic(uint32_t seed, int track) {
  static constexpr std::array<int, 8> kTempos = {76, 104, 88, 120, 96, 132, 84, 112};
  static constexpr std::array<std::array<int, 4>, 4> kMajorProgressions = {
      {{0, 4, 5, 3}, {0, 5, 3, 4}, {5, 3, 0, 4}, {0, 3, 5, 4}}};
  static constexpr std::array<std::array<int, 4>, 3> kMinorProgressions = {
      {{0, 5, 2, 6}, {0, 3, 6, 2}, {0, 5, 3, 4}}};
  const uint64_t discKey = splitMix64(seed);
  const uint64_t key = trackKey(seed, track, 0x6d75736963ULL);
  MusicPlan plan;
  // Stepping by fifths and by three tempos keeps neighbouring tracks apart.
  plan.tonic = 55 + int((uint64_t(track) * 7 + discKey % 12) % 12);
  plan.minor = (uint64_t(track) + (discKey >> 16)) % 3 == 2;
  const int bpm = kTempos[(uint64_t(track) * 3 + (discKey >> 8)) % kTempos.size()];
  plan.slotFrames = std::llround(kSampleRate * 60.0 / bpm / 2.0);
  plan.progression = plan.minor ? kMinorProgressions[key % kMinorProgressions.size()]
                                : kMajorProgressions[key % kMajorProgressions.size()];
  for (size_t i = 0; i < plan.motifs.size(); ++i) {
    plan.motifs[i] = makeMotif(splitMix64(key + i + 1), i + 1 == plan.motifs.size());
  }
  return plan;
}

// One note: a few harmonics under an attack, decay and release envelope.
struct Note {
  uint32_t step = 0;
  int64_t start = 0;
  int64_t length = 0;
  float attackRate = 0;   // 1 / attack frames
  float decayRate = 0;    // 1 / decay time constant in frames
  float sustain = 0;      // level the decay approaches
  float releaseRate = 0;  // 1 / release frames
  float second = 0;       // level of the 2nd harmonic
  float third = 0;        // level of the 3rd harmonic
  float gain = 0;         // level / (1 + second + third): the note never exceeds its level

  float at(int64_t frame) const {
    const int64_t t = frame - start;
    if (t < 0 || t >= length) return 0.0f;
    const float attack = std::min(1.0f, float(t) * attackRate);
    const float release = std::min(1.0f, float(length - t) * releaseRate);
    const float decay =
        sustain + (1.0f - sustain) * DecayTable::instance().at(float(t) * decayRate);
    const float tone = sineAt(t, step) + second * sineAt(t, 2 * step) + third * sineAt(t, 3 * step);
    return gain * attack * decay * release * tone;
  }
};

Note makeNote(int midi, int64_t start, int64_t length, double attackSeconds, double decaySeconds,
              float sustain, double releaseSeconds, float second, float third, float level) {
  Note note;
  note.step = phaseStep(midiHz(midi));
  note.start = start;
  note.length = length;
  note.attackRate = float(1.0 / (attackSeconds * kSampleRate));
  note.decayRate = float(1.0 / (decaySeconds * kSampleRate));
  note.sustain = sustain;
  note.releaseRate = float(1.0 / (releaseSeconds * kSampleRate));
  note.second = second;
  note.third = third;
  note.gain = level / (1.0f + second + third);
  return note;
}

// What sounds during one eighth-note slot.
struct SlotVoices {
  std::array<Note, 3> pad;  // root, third and fifth of the bar's chord
  Note bass;
  Note melody;  // length 0 during a rest
};

class MusicRenderer : public AudioRenderer {
 public:
  MusicRenderer(uint32_t seed, int track, int64_t pregapFrames, int64_t bodyFrames)
      : plan_(planMusic(seed, track)), pregapFrames_(pregapFrames), bodyFrames_(bodyFrames) {
    fadeInFrames_ = kSampleRate / 40;
    fadeOutFrames_ = std::max<int64_t>(1, std::min<int64_t>(kSampleRate * 5 / 2, bodyFrames / 3));
  }

 protected:
  void renderFrames(int64_t first, int64_t count, uint8_t* out) const override {
    int64_t cachedSlot = -1;
    SlotVoices voices;
    for (int64_t i = 0; i < count; ++i) {
      const int64_t time = first + i - pregapFrames_;  // the pregap stays silent
      if (time < 0 || time >= bodyFrames_) {
        putFrame(out + 4 * i, uint16_t(0), uint16_t(0));
        continue;
      }
      const int64_t slot = time / plan_.slotFrames;
      if (slot != cachedSlot) {
        voices = voicesOfSlot(slot);
        cachedSlot = slot;
      }
      const float root = voices.pad[0].at(time);
      const float third = voices.pad[1].at(time);
      const float fifth = voices.pad[2].at(time);
      const float bass = voices.bass.at(time);
      const float melody = voices.melody.at(time);
      const float gain = 0.85f * fade(time);
      const float left = root + 0.75f * third + 0.5f * fifth + bass + 0.7f * melody;
      const float right = 0.5f * root + 0.75f * third + fifth + bass + 0.9f * melody;
      putFrame(out + 4 * i, gain * left, gain * right);
    }
  }

 private:
  float fade(int64_t time) const {
    const float in = std::min(1.0f, float(time) / float(fadeInFrames_));
    const float out = std::min(1.0f, float(bodyFrames_ - time) / float(fadeOutFrames_));
    return in * out;
  }

  SlotVoices voicesOfSlot(int64_t slot) const {
    const int64_t barFrames = kSlotsPerBar * plan_.slotFrames;
    const int64_t bar = slot / kSlotsPerBar;
    const int position = int(slot % kSlotsPerBar);
    const int chord = plan_.progression[size_t(bar % kBarsPerProgression)];
    const int64_t barStart = bar * barFrames;
    SlotVoices voices;
    for (int tone = 0; tone < 3; ++tone) {
      const int note =
          foldInto(plan_.tonic + degreeSemitones(chord + 2 * tone, plan_.minor), plan_.tonic - 3);
      voices.pad[size_t(tone)] =
          makeNote(note, barStart, barFrames, 0.12, 1.5, 0.55f, 0.25, 0.3f, 0.0f, 0.11f);
    }
    const int64_t halfFrames = barFrames / 2;
    const int64_t halfStart = barStart + (position >= kSlotsPerBar / 2 ? halfFrames : 0);
    const int bassNote =
        foldInto(plan_.tonic + degreeSemitones(chord, plan_.minor), plan_.tonic - 24);
    voices.bass =
        makeNote(bassNote, halfStart, halfFrames, 0.008, 0.9, 0.0f, 0.06, 0.25f, 0.1f, 0.26f);
    voices.melody = melodyNote(bar, position, chord, barStart);
    return voices;
  }

  Note melodyNote(int64_t bar, int position, int chord, int64_t barStart) const {
    const Motif& motif =
        plan_.motifs[size_t(kMotifOfBar[size_t(bar % int64_t(kMotifOfBar.size()))])];
    int start = position;
    while (start > 0 && motif[size_t(start)] == kTie) --start;
    if (motif[size_t(start)] == kRest || motif[size_t(start)] == kTie) return Note{};
    int end = start + 1;
    while (end < kSlotsPerBar && motif[size_t(end)] == kTie) ++end;
    const int note = plan_.tonic + 12 + degreeSemitones(chord + motif[size_t(start)], plan_.minor);
    return makeNote(note, barStart + start * plan_.slotFrames, (end - start) * plan_.slotFrames,
                    0.01, 0.45, 0.15f, 0.05, 0.4f, 0.15f, 0.30f);
  }

  MusicPlan plan_;
  int64_t pregapFrames_;
  int64_t bodyFrames_;
  int64_t fadeInFrames_ = 1;
  int64_t fadeOutFrames_ = 1;
};

// ---------------------------------------------------------------------------------
// Data tracks: MODE1/2352 sectors with the sync pattern, a header holding the sector's
// address and mode 1, and 2048 bytes of user data that depend on the seed and address.

uint8_t bcd(int value) { return uint8_t((value / 10) << 4 | (value % 10)); }

class DataRenderer : public TrackRenderer {
 public:
  DataRenderer(uint64_t key, int64_t firstLsn) : key_(key), firstLsn_(firstLsn) {}

  void render(int64_t firstSector, int count, uint8_t* out) const override {
    for (int i = 0; i < count; ++i)
      writeSector(firstLsn_ + firstSector + i, out + size_t(i) * kSectorBytes);
  }

 private:
  void writeSector(int64_t lsn, uint8_t* sector) const {
    std::memset(sector, 0, kSectorBytes);
    std::memset(sector + 1, 0xFF, 10);
    const int64_t address = lsn + 150;
    sector[12] = bcd(int(address / (60 * kSectorsPerSecond)));
    sector[13] = bcd(int(address / kSectorsPerSecond % 60));
    sector[14] = bcd(int(address % kSectorsPerSecond));
    sector[15] = 0x01;
    uint64_t bits = splitMix64(key_ ^ uint64_t(lsn));
    for (int offset = 16; offset < 16 + 2048; offset += 8) {
      for (int byte = 0; byte < 8; ++byte) sector[offset + byte] = uint8_t(bits >> (8 * byte));
      bits = splitMix64(bits);
    }
  }

  uint64_t key_;
  int64_t firstLsn_;
};

std::unique_ptr<TrackRenderer> makeRenderer(const DiscSpec& disc, size_t index,
                                            const TrackPlacement& place) {
  const TrackSpec& track = disc.tracks[index];
  const int number = int(index) + 1;
  const int64_t pregapFrames = (place.index01 - place.firstSector) * kFramesPerSector;
  const bool chord = track.content == TrackContent::Chord;
  const double hz = track.toneHz > 0 ? track.toneHz : defaultToneHz(number) / (chord ? 2 : 1);
  switch (track.content) {
    case TrackContent::Tone: return std::make_unique<ToneRenderer>(hz);
    case TrackContent::Chord: return std::make_unique<ChordRenderer>(hz);
    case TrackContent::Noise:
      return std::make_unique<NoiseRenderer>(trackKey(disc.seed, number, 0x6e6f697365ULL));
    case TrackContent::Silence: return std::make_unique<SilenceRenderer>();
    case TrackContent::Ramp:
      return std::make_unique<RampRenderer>(place.firstSector * kFramesPerSector, disc.seed);
    case TrackContent::Music:
      return std::make_unique<MusicRenderer>(disc.seed, number, pregapFrames,
                                             int64_t(track.sectors) * kFramesPerSector);
    case TrackContent::WaveFile:
      return std::make_unique<WaveRenderer>(track.waveSamples, pregapFrames);
    case TrackContent::Data:
      return std::make_unique<DataRenderer>(trackKey(disc.seed, number, 0x64617461ULL),
                                            place.firstSector + place.lsnOffset);
  }
  return std::make_unique<SilenceRenderer>();
}

// Track 1 with the disc's hidden audio before its INDEX 01: the hidden audio's own
// renderer up to there, the track's from there on.
class HiddenAudioRenderer : public TrackRenderer {
 public:
  HiddenAudioRenderer(std::unique_ptr<TrackRenderer> hidden, std::unique_ptr<TrackRenderer> track,
                      int64_t hiddenSectors)
      : hidden_(std::move(hidden)), track_(std::move(track)), hiddenSectors_(hiddenSectors) {}

  void render(int64_t firstSector, int count, uint8_t* out) const override {
    const int before = int(std::clamp<int64_t>(hiddenSectors_ - firstSector, 0, count));
    if (before > 0) hidden_->render(firstSector, before, out);
    if (count > before)
      track_->render(firstSector + before, count - before, out + int64_t(before) * kSectorBytes);
  }

 private:
  std::unique_ptr<TrackRenderer> hidden_;
  std::unique_ptr<TrackRenderer> track_;
  int64_t hiddenSectors_;
};

std::unique_ptr<TrackRenderer> makeHiddenRenderer(const DiscSpec& disc) {
  switch (disc.hiddenContent) {
    case TrackContent::Noise:
      return std::make_unique<NoiseRenderer>(trackKey(disc.seed, 0, 0x6e6f697365ULL));
    case TrackContent::Silence: return std::make_unique<SilenceRenderer>();
    default: return std::make_unique<ToneRenderer>(disc.hiddenToneHz > 0 ? disc.hiddenToneHz : 330);
  }
}

}  // namespace

std::vector<TrackPlacement> placeTracks(const DiscSpec& disc) {
  std::vector<TrackPlacement> placements;
  int64_t position = 0;
  for (size_t i = 0; i < disc.tracks.size(); ++i) {
    const TrackSpec& track = disc.tracks[i];
    TrackPlacement place;
    place.firstSector = position;
    place.index01 = position + (i == 0 ? disc.hiddenSectors : track.pregapSectors);
    place.endSector = place.index01 + track.sectors;
    const bool secondSession = disc.enhanced && i + 1 == disc.tracks.size();
    place.lsnOffset = secondSession ? kSessionGapSectors : 0;
    placements.push_back(place);
    position = place.endSector;
  }
  return placements;
}

DiscContent::DiscContent(const DiscSpec& disc) : placements_(placeTracks(disc)) {
  for (size_t i = 0; i < disc.tracks.size(); ++i)
    renderers_.push_back(makeRenderer(disc, i, placements_[i]));
  if (disc.hiddenSectors > 0)
    renderers_.front() = std::make_unique<HiddenAudioRenderer>(
        makeHiddenRenderer(disc), std::move(renderers_.front()), disc.hiddenSectors);
}

DiscContent::~DiscContent() = default;

int64_t DiscContent::totalSectors() const {
  return placements_.empty() ? 0 : placements_.back().endSector;
}

void DiscContent::render(int64_t firstSector, int64_t count, uint8_t* out) const {
  constexpr int64_t kMaxPiece = 1 << 16;
  size_t track = 0;
  while (count > 0) {
    while (track < placements_.size() && placements_[track].endSector <= firstSector) ++track;
    if (track == placements_.size()) {  // beyond the disc: nothing there
      std::memset(out, 0, size_t(count) * kSectorBytes);
      return;
    }
    const TrackPlacement& place = placements_[track];
    const int64_t piece = std::min({count, place.endSector - firstSector, kMaxPiece});
    renderers_[track]->render(firstSector - place.firstSector, int(piece), out);
    out += piece * kSectorBytes;
    firstSector += piece;
    count -= piece;
  }
}

}  // namespace korvane::discimage
