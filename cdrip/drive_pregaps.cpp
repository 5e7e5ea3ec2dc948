#include "drive_pregaps.h"

#include <algorithm>
#include <cstdlib>

#include "q_subchannel.h"

namespace cdrip {
namespace {

// Sectors read at each probe: a Q that carries no position (the disc's catalogue number
// or a track's ISRC, on a sector in ten or more) leaves its neighbours to tell.
constexpr int32_t ProbeSectors = 3;
// The pre-gap most discs give a track (2 s): looked at before any search.
constexpr int32_t UsualPregap = 150;
// How far the place a sector's Q gives may lie from the sector read: a drive's
// sub-channel may run a few sectors apart from its audio, no further.
constexpr int32_t SubchannelSlack = 10;
// More probes than a search within MaxSearchedPregap needs: a drive that answers so
// long without settling is not believed.
constexpr int MaxProbes = 16;

int FromBcd(uint8_t Value) {
  const int high = Value >> 4, low = Value & 0x0F;
  return high > 9 || low > 9 ? -1 : high * 10 + low;
}

// Where a track begins, as the table gives it, and where the search may read.
struct TrackStart {
  int Number = 0;
  int Previous = 0;     // the number of the track before; 0 for the first track
  int32_t Start = 0;    // its INDEX 01
  int32_t Floor = 0;    // the lowest sector searched
  int32_t End = 0;      // the next track's start (or the lead-out): reads stay before it
};

class PregapSearch {
 public:
  // Shift: how far the drive's Q ran ahead of its audio at the tracks searched before.
  PregapSearch(const QReader& Read, const TrackStart& Track, int32_t Shift)
      : Read_(Read),
        Track_(Track),
        LastBefore_(Track.Floor - 1),
        FirstInside_(Track.Start),
        Shift_(Shift) {}

  // The sectors from the track's first to its INDEX 01; nothing when the sub-channel
  // does not tell.
  std::optional<int32_t> Run() {
    // Before the first track's INDEX 01 lies only its own INDEX 00: a read that agrees
    // with the table is all it takes.
    if (Track_.Previous == 0) {
      if (!Probe(std::max(Track_.Start - 1, 0))) return std::nullopt;
      return Track_.Start;
    }
    if (!Probe(Track_.Start - 1) || !Bracketed()) return std::nullopt;
    for (int probes = 0; !Found(); ++probes) {
      const int32_t lastBefore = LastBefore_, firstInside = FirstInside_;
      const int32_t middle = LastBefore_ + (FirstInside_ - LastBefore_) / 2;
      if (probes == MaxProbes || !Probe(std::max(middle - 1, LastBefore_ + 1))) return std::nullopt;
      if (lastBefore == LastBefore_ && firstInside == FirstInside_) return std::nullopt;
    }
    return Track_.Start - FirstInside_;
  }

  // Brackets the change between the tracks within the sectors searched: the usual
  // pre-gap looked at first, then the lowest sector. False when a read fails or the
  // track before is not met (the pre-gap is longer than searched).
  bool Bracketed() {
    const int32_t usual = std::max(Track_.Start - 1 - UsualPregap, Track_.Floor);
    if (!Found() && !Probe(usual)) return false;
    if (Found() || LastBefore_ >= Track_.Floor) return true;
    return Probe(Track_.Floor) && LastBefore_ >= Track_.Floor;
  }

  // Whether any read gave a position.
  bool SawPosition() const { return SawPosition_; }
  int32_t Shift() const { return Shift_; }

 private:
  bool Found() const { return FirstInside_ - LastBefore_ == 1; }

  // Reads the Q of a few sectors from Target on (reading as far from it as the drive's
  // sub-channel was seen to run apart from its audio); false when they give no position
  // or contradict what the table or earlier reads said.
  bool Probe(int32_t Target) {
    const int32_t lsn = std::max(Target - Shift_, 0);
    const int32_t count = std::min(ProbeSectors, Track_.End - lsn);
    const std::vector<QPosition> positions =
        count > 0 ? Read_(lsn, count) : std::vector<QPosition>();
    SawPosition_ = SawPosition_ || !positions.empty();
    return !positions.empty() && std::all_of(positions.begin(), positions.end(),
                                             [this](const QPosition& Q) { return Take(Q); });
  }

  // A sector of the track is in INDEX 00 exactly when it lies before INDEX 01; it and
  // the sectors of the track before must lie on their own sides of the change.
  bool Take(const QPosition& Q) {
    if (std::abs(Q.Lsn - Q.ReadWith) > SubchannelSlack) return false;
    Shift_ = Q.Lsn - Q.ReadWith;
    if (Q.Track == Track_.Number) {
      if ((Q.Index == 0) != (Q.Lsn < Track_.Start) || Q.Lsn <= LastBefore_) return false;
      FirstInside_ = std::min(FirstInside_, Q.Lsn);
      return true;
    }
    if (Q.Track != Track_.Previous || Q.Lsn >= FirstInside_) return false;
    LastBefore_ = std::max(LastBefore_, Q.Lsn);
    return true;
  }

  const QReader& Read_;
  const TrackStart Track_;
  int32_t LastBefore_;   // the last sector seen in the track before
  int32_t FirstInside_;  // the first seen in the track
  int32_t Shift_;        // how far the drive's Q was seen to run ahead of its audio
  bool SawPosition_ = false;
};

TrackStart StartOf(const Toc& Contents, size_t At) {
  const std::vector<TrackEntry>& tracks = Contents.Tracks;
  TrackStart start;
  start.Number = tracks[At].Number;
  start.Start = tracks[At].StartSector;
  // A probe of a short track's last sectors would read the next track's.
  start.End = At + 1 < tracks.size() ? tracks[At + 1].StartSector : Contents.LeadOut;
  // The first track's INDEX 00 begins at the end of the lead-in.
  start.Floor = -150;
  if (At > 0) {
    start.Previous = tracks[At - 1].Number;
    // The sector before the longest pre-gap searched is the track before's.
    start.Floor = std::max(tracks[At - 1].StartSector, start.Start - MaxSearchedPregap - 1);
  }
  return start;
}

}  // namespace

std::optional<QPosition> DecodeFormattedQ(const uint8_t* Q) {
  if ((Q[0] & 0x0F) != 1) return std::nullopt;
  // A drive may leave the CRC out (zero): the checks of the search stand in for it.
  const int crc = (Q[10] << 8) | Q[11];
  if (crc != 0 && crc != QCrc(Q, QCrcCovered)) return std::nullopt;
  const int track = FromBcd(Q[1]), index = FromBcd(Q[2]);
  const int minutes = FromBcd(Q[7]), seconds = FromBcd(Q[8]), frames = FromBcd(Q[9]);
  if (track < 1 || index < 0 || minutes < 0 || seconds < 0 || seconds > 59 || frames < 0 ||
      frames > 74)
    return std::nullopt;
  return QPosition{(minutes * 60 + seconds) * 75 + frames - 150, track, index, 0};
}

void LearnPregaps(Toc& Contents, const QReader& Read) {
  std::vector<TrackEntry>& tracks = Contents.Tracks;
  int32_t shift = 0;
  for (size_t at = 0; at < tracks.size(); ++at) {
    const bool laterSession = at > 0 && Contents.LastSessionStart > 0 &&
                              tracks[at].StartSector == Contents.LastSessionStart;
    if (laterSession) continue;
    PregapSearch search(Read, StartOf(Contents, at), shift);
    tracks[at].Pregap = search.Run().value_or(-1);
    shift = search.Shift();
    // A drive that gives no Q at the disc's start is not asked again for every track.
    if (at == 0 && !search.SawPosition()) return;
  }
}

}  // namespace cdrip
