#include "outputs/loudness.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bindings/libebur128.h"
#include "byte_order.h"
#include "core/audio_exception.h"

namespace {

constexpr unsigned Channels = 2;
constexpr unsigned long SampleRate = 44100;
constexpr size_t PairBytes = 4;

const TEbur128Functions& Api() { return Ebur128Binding().Functions(); }

std::string Formatted(const char* Format, double Value) {
  char text[32];
  std::snprintf(text, sizeof text, Format, Value);
  return text;
}

std::string GainText(double Gain) { return Formatted("%.2f dB", Gain); }
std::string PeakText(double Peak) { return Formatted("%.6f", Peak); }

// libebur128 gives minus infinity for audio without a block above its gate.
std::optional<double> LoudnessOr(int Status, double Lufs) {
  if (Status != EBUR128_SUCCESS || !std::isfinite(Lufs)) return std::nullopt;
  return Lufs;
}

}  // namespace

TLoudnessMeter::TLoudnessMeter() {
  Ebur128Binding().Load();
  RequireLoaded({&Ebur128Binding()});
  Library_ = Ebur128Binding().Library();
  State_ = Api().ebur128_init(Channels, SampleRate, EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
  if (!State_) throw EAudioException("The loudness meter could not be set up (out of memory?).");
}

TLoudnessMeter::~TLoudnessMeter() {
  if (State_) Api().ebur128_destroy(&State_);
}

void TLoudnessMeter::Add(const void* Bytes, size_t Size) {
  const auto* bytes = static_cast<const uint8_t*>(Bytes);
  while (PartialBytes_ > 0 && Size > 0) {
    Partial_[PartialBytes_++] = *bytes++;
    --Size;
    if (PartialBytes_ == PairBytes) {
      AddPairs(Partial_, 1);
      PartialBytes_ = 0;
    }
  }
  const size_t pairs = Size / PairBytes;
  AddPairs(bytes, pairs);
  for (size_t i = pairs * PairBytes; i < Size; ++i) Partial_[PartialBytes_++] = bytes[i];
}

void TLoudnessMeter::AddPairs(const uint8_t* Bytes, size_t Pairs) {
  if (Pairs == 0) return;
  Samples_.resize(Pairs * Channels);
  int peak = Peak_;
  for (size_t i = 0; i < Samples_.size(); ++i) {
    const auto sample = static_cast<int16_t>(GetLe16(Bytes + 2 * i));
    Samples_[i] = sample;
    peak = std::max(peak, std::abs(static_cast<int>(sample)));
  }
  Peak_ = peak;
  if (Api().ebur128_add_frames_short(State_, Samples_.data(), Pairs) != EBUR128_SUCCESS)
    throw EAudioException("The loudness meter could not take the audio (out of memory?).");
}

double TLoudnessMeter::Peak() const { return Peak_ / 32768.0; }

TLoudness TLoudnessMeter::Result() const {
  double lufs = 0;
  const int status = Api().ebur128_loudness_global(State_, &lufs);
  return TLoudness{LoudnessOr(status, lufs), Peak()};
}

TLoudness TLoudnessMeter::Album(const std::vector<const TLoudnessMeter*>& Tracks) {
  TLoudness album;
  if (Tracks.empty()) return album;
  std::vector<ebur128_state*> states;
  for (const TLoudnessMeter* track : Tracks) {
    states.push_back(track->State_);
    album.Peak = std::max(album.Peak, track->Peak());
  }
  double lufs = 0;
  const int status = Api().ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
  album.Lufs = LoudnessOr(status, lufs);
  return album;
}

int R128Q78(double Lufs) {
  const double q78 = std::round(GainTo(R128Reference, Lufs) * 256.0);
  return static_cast<int>(std::clamp(q78, -32768.0, 32767.0));
}

std::vector<std::string> ReplayGainLines(const TLoudness& Track, const TLoudness& Album,
                                         bool Opus) {
  std::vector<std::string> lines;
  if (Opus) {
    if (Track.Lufs) lines.push_back("R128_TRACK_GAIN=" + std::to_string(R128Q78(*Track.Lufs)));
    if (Album.Lufs) lines.push_back("R128_ALBUM_GAIN=" + std::to_string(R128Q78(*Album.Lufs)));
    return lines;
  }
  if (Track.Lufs) {
    lines.push_back("REPLAYGAIN_TRACK_GAIN=" + GainText(GainTo(ReplayGainReference, *Track.Lufs)));
    lines.push_back("REPLAYGAIN_TRACK_PEAK=" + PeakText(Track.Peak));
  }
  if (Album.Lufs) {
    lines.push_back("REPLAYGAIN_ALBUM_GAIN=" + GainText(GainTo(ReplayGainReference, *Album.Lufs)));
    lines.push_back("REPLAYGAIN_ALBUM_PEAK=" + PeakText(Album.Peak));
  }
  return lines;
}

bool IsGainLine(const std::string& Line) {
  std::string name = Line.substr(0, Line.find('='));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.rfind("REPLAYGAIN_", 0) == 0 || name == "R128_TRACK_GAIN" ||
         name == "R128_ALBUM_GAIN";
}
