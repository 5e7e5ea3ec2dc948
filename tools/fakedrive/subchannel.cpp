// The Q sub-channel of the disc's sectors, as a drive gives it formatted: the track and
// index each sector lies in by the image's indexes (INDEX 00 from a track's pre-gap on,
// INDEX 01 from its start), the time within the track (counting down to INDEX 01 in a
// pre-gap) and on the disc, and the CRC.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fake_drive.h"
#include "q_subchannel.h"

namespace fakedrive {
namespace {

uint8_t Bcd(int Value) { return static_cast<uint8_t>(Value / 10 * 16 + Value % 10); }

void PutMsf(uint8_t* Out, int32_t Frames) {
  Out[0] = Bcd(Frames / (60 * 75));
  Out[1] = Bcd(Frames / 75 % 60);
  Out[2] = Bcd(Frames % 75);
}

// The track whose pre-gap or content holds Lsn: the last whose pre-gap begins at or
// before it (the first, for sectors before every one).
const cdrip::TrackEntry& TrackAt(const cdrip::Toc& Toc, int32_t Lsn) {
  const cdrip::TrackEntry* at = &Toc.Tracks.front();
  for (const cdrip::TrackEntry& track : Toc.Tracks)
    if (track.StartSector - std::max(track.Pregap, 0) <= Lsn) at = &track;
  return *at;
}

}  // namespace

void FormattedQ(const cdrip::Toc& Toc, int32_t Lsn, uint8_t* Out) {
  std::memset(Out, 0, cdrip::FormattedQBytes);
  const cdrip::TrackEntry& track = TrackAt(Toc, Lsn);
  const bool leadOut = Lsn >= Toc.LeadOut;
  const int32_t start = leadOut ? Toc.LeadOut : track.StartSector;
  Out[0] = static_cast<uint8_t>((track.Flag & 0x0F) << 4 | 1);  // control, ADR 1
  Out[1] = leadOut ? 0xAA : Bcd(track.Number);
  Out[2] = Bcd(Lsn < start ? 0 : 1);
  PutMsf(Out + 3, std::abs(Lsn - start));
  PutMsf(Out + 7, Lsn + 150);
  const uint16_t crc = cdrip::QCrc(Out, cdrip::QCrcCovered);
  Out[10] = static_cast<uint8_t>(crc >> 8);
  Out[11] = static_cast<uint8_t>(crc);
}

}  // namespace fakedrive
