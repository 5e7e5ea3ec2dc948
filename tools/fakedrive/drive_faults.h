// The faults a software CD drive can be given, so that tests and benchmarks meet what
// real drives and discs do. KORVANE_FAKE_DRIVE_FAULTS holds a comma-separated list; each
// fault applies to every drive of KORVANE_FAKE_DRIVE:
//   unreadable=A[-B]    sectors A..B (LSN) never read: MEDIUM ERROR 3/11/00 for any read
//                       that touches them
//   flaky=A[-B][xK]     sectors A..B read as noise, different on each try, for their
//                       first K reads (default 2; each range its own), then as on the
//                       disc: a scratch that re-reads can correct
//   offset=N            the drive's read offset in samples (may be negative): drive
//                       sample s holds the disc's sample s - N; outside the disc, silence
//   speed=X             reads take as long as an X-speed drive's (75 * X sectors a second)
//   no-disc             the drive holds no disc
//   tray-open=N         the tray opens when a read reaches sector N (a read elsewhere,
//                       before or after it, leaves it shut); it
//                       closes again, with the same disc, when the drive's own file is
//                       modified (a test "puts the disc back" by touching it)
//   data-session        the disc gets a data track in a second session after its tracks
//   no-subchannel       READ CD that asks for any sub-channel is refused (ILLEGAL REQUEST)
//   bad-q-crc           the Q sub-channel comes with a wrong CRC
//   q-shift=N           READ CD gives with sector s the Q sub-channel of sector s + N, as
//                       drives whose sub-channel runs apart from their audio
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fakedrive {

struct SectorRange {
  int32_t First = 0;
  int32_t Last = 0;  // inclusive
  bool Holds(int32_t Lsn) const { return Lsn >= First && Lsn <= Last; }
  bool Meets(int32_t Lsn, int32_t Count) const { return Lsn <= Last && Lsn + Count > First; }
};

// Sectors that read as noise for their first Reads reads.
struct FlakyRange {
  SectorRange Sectors;
  int Reads = 2;
};

struct DriveFaults {
  std::vector<SectorRange> Unreadable;
  std::vector<FlakyRange> Flaky;
  int32_t OffsetSamples = 0;
  double Speed = 0;  // 0: as fast as the image reads
  bool NoDisc = false;
  int32_t TrayOpenAt = -1;  // -1: the tray stays shut
  bool DataSession = false;
  bool NoSubchannel = false;
  bool BadQCrc = false;
  int32_t QShift = 0;
};

// Reads the list; Error names the first item that is not understood (and the result is
// then of no use).
DriveFaults ParseFaults(const std::string& Text, std::string& Error);

// The data track that the data-session fault adds: its length in sectors.
constexpr int32_t AddedDataSectors = 3000;

}  // namespace fakedrive
