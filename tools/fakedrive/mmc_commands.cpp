// The MMC commands that the CD layer sends through CDROM_SEND_PACKET (or SG_IO),
// answered as a plain CD-ROM drive holding the image's disc would.
#include <algorithm>
#include <cstring>

#include "fake_drive.h"

namespace fakedrive {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Be32(const uint8_t* At) {
  return (uint32_t{At[0]} << 24) | (uint32_t{At[1]} << 16) | (uint32_t{At[2]} << 8) | At[3];
}
uint32_t Be24(const uint8_t* At) {
  return (uint32_t{At[0]} << 16) | (uint32_t{At[1]} << 8) | At[2];
}
uint16_t Be16(const uint8_t* At) { return static_cast<uint16_t>((At[0] << 8) | At[1]); }

void PutBe16(Bytes& Out, size_t At, size_t Value) {
  Out[At] = static_cast<uint8_t>(Value >> 8);
  Out[At + 1] = static_cast<uint8_t>(Value);
}

void AppendAddress(Bytes& Out, int32_t Lsn, bool AsMsf) {
  if (AsMsf) {
    const Msf msf = MsfOf(Lsn);
    Out.insert(Out.end(), {0, msf.M, msf.S, msf.F});
    return;
  }
  const auto lba = static_cast<uint32_t>(Lsn);
  Out.insert(Out.end(), {static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                         static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba)});
}

MmcResult Error(const Sense& Why) { return MmcResult{false, Why}; }

// Copies a reply into the caller's buffer, cut to its length and the command's.
MmcResult Reply(const Bytes& Data, uint8_t* Buffer, uint32_t Length) {
  if (Buffer) std::memcpy(Buffer, Data.data(), std::min<size_t>(Data.size(), Length));
  return MmcResult{};
}

// Session numbers: a track from the last session's start on is in session 2.
uint8_t SessionOf(const cdrip::Toc& Toc, const cdrip::TrackEntry& Track) {
  return Toc.LastSessionStart > 0 && Track.StartSector >= Toc.LastSessionStart ? 2 : 1;
}

// READ TOC/PMA/ATIP format 0: the tracks from the one asked on, then the lead-out.
Bytes FormattedToc(const cdrip::Toc& Toc, uint8_t FromTrack, bool AsMsf) {
  Bytes out{0, 0, Toc.Tracks.front().Number, Toc.Tracks.back().Number};
  for (const cdrip::TrackEntry& track : Toc.Tracks) {
    if (track.Number < FromTrack) continue;
    out.insert(out.end(), {0, track.Flag, track.Number, 0});
    AppendAddress(out, track.StartSector, AsMsf);
  }
  out.insert(out.end(), {0, Toc.Tracks.back().Flag, 0xAA, 0});
  AppendAddress(out, Toc.LeadOut, AsMsf);
  PutBe16(out, 0, out.size() - 2);
  return out;
}

// Format 1: the sessions, and the first track of the last one.
Bytes SessionInfo(const cdrip::Toc& Toc, bool AsMsf) {
  const uint8_t last = SessionOf(Toc, Toc.Tracks.back());
  const cdrip::TrackEntry* first = &Toc.Tracks.front();
  for (const cdrip::TrackEntry& track : Toc.Tracks)
    if (SessionOf(Toc, track) == last) {
      first = &track;
      break;
    }
  Bytes out{0, 10, 1, last, 0, first->Flag, first->Number, 0};
  AppendAddress(out, first->StartSector, AsMsf);
  return out;
}

// Format 2: the full table, as the lead-ins hold it: A0, A1, A2 and the tracks per
// session, addresses as MSF.
Bytes FullToc(const cdrip::Toc& Toc) {
  Bytes out{0, 0, 1, SessionOf(Toc, Toc.Tracks.back())};
  for (uint8_t session = 1; session <= out[3]; ++session) {
    std::vector<cdrip::TrackEntry> tracks;
    for (const cdrip::TrackEntry& track : Toc.Tracks)
      if (SessionOf(Toc, track) == session) tracks.push_back(track);
    const bool last = session == out[3];
    const int32_t leadOut =
        last ? Toc.LeadOut : Toc.LastSessionStart - cdrip::SessionGapSectors + 150;
    auto point = [&](uint8_t Flag, uint8_t Point, uint8_t M, uint8_t S, uint8_t F) {
      out.insert(out.end(), {session, Flag, 0, Point, 0, 0, 0, 0, M, S, F});
    };
    const Msf end = MsfOf(leadOut);
    point(tracks.front().Flag, 0xA0, tracks.front().Number, 0, 0);
    point(tracks.back().Flag, 0xA1, tracks.back().Number, 0, 0);
    point(tracks.back().Flag, 0xA2, end.M, end.S, end.F);
    for (const cdrip::TrackEntry& track : tracks) {
      const Msf at = MsfOf(track.StartSector);
      point(track.Flag, track.Number, at.M, at.S, at.F);
    }
  }
  PutBe16(out, 0, out.size() - 2);
  return out;
}

MmcResult ReadToc(int Drive, const uint8_t* Cdb, uint8_t* Buffer, uint32_t Length) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc || toc->Tracks.empty()) return Error(NotReady(Drive));
  const bool asMsf = Cdb[1] & 0x02;
  uint8_t format = Cdb[2] & 0x0F;
  if (format == 0) format = Cdb[9] >> 6;  // the older place of the format
  const uint32_t length = std::min<uint32_t>(Length, Be16(Cdb + 7));
  switch (format) {
    case 0:
      if (Cdb[6] > toc->Tracks.back().Number && Cdb[6] != 0xAA) return Error(BadField);
      return Reply(FormattedToc(*toc, Cdb[6], asMsf), Buffer, length);
    case 1: return Reply(SessionInfo(*toc, asMsf), Buffer, length);
    case 2: return Reply(FullToc(*toc), Buffer, length);
    case 5: {
      Bytes out{0, 0, 0, 0};
      const Bytes packs = CdTextPacks(*toc);
      out.insert(out.end(), packs.begin(), packs.end());
      PutBe16(out, 0, out.size() - 2);
      return Reply(out, Buffer, length);
    }
    default: return Error(BadField);
  }
}

// What READ CD gives of each sector beside its 2352 bytes: C2 error bits (with the
// block's error bits: 296) and sub-channel data (raw P-W and R-W: 96, formatted Q: 16).
size_t C2Bytes(const uint8_t* Cdb) {
  const uint8_t c2 = Cdb[9] & 0x06;
  return c2 == 0x02 ? 294 : c2 == 0x04 ? 296 : 0;
}
constexpr uint8_t FormattedQSelection = 2;
size_t SubchannelBytes(uint8_t Selection) {
  return Selection == 1 || Selection == 4 ? 96 : Selection == FormattedQSelection ? 16 : 0;
}

// The extras of a sector: C2 bits all clear; the Q sub-channel from the image's indexes
// (shifted by the q-shift fault, its CRC spoilt by the bad-q-crc fault), the other
// sub-channels zero.
void PutExtras(const cdrip::Toc& Toc, int32_t Lsn, const uint8_t* Cdb, uint8_t* Out) {
  const uint8_t selection = Cdb[10] & 0x07;
  std::memset(Out, 0, C2Bytes(Cdb) + SubchannelBytes(selection));
  if (selection != FormattedQSelection) return;
  uint8_t* q = Out + C2Bytes(Cdb);
  FormattedQ(Toc, Lsn + Faults().QShift, q);
  if (Faults().BadQCrc) q[11] ^= 0x5A;
}

// READ CD: 2352 bytes of each sector (audio, or the whole raw sector), then its extras
// when asked. A drive with the no-subchannel fault refuses any sub-channel.
MmcResult ReadCd(int Drive, const uint8_t* Cdb, uint8_t* Buffer, uint32_t Length) {
  const auto lba = static_cast<int32_t>(Be32(Cdb + 2));
  const auto count = static_cast<int32_t>(Be24(Cdb + 6));
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return Error(NotReady(Drive));
  if ((Cdb[10] & 0x07) != 0 && Faults().NoSubchannel) return Error(BadField);
  const size_t extra = C2Bytes(Cdb) + SubchannelBytes(Cdb[10] & 0x07);
  const size_t perSector = (Cdb[9] & 0xF8) ? cdrip::SectorBytes + extra : extra;
  if (static_cast<size_t>(count) * perSector > Length) return Error(BadField);
  if (count == 0) return MmcResult{};
  Bytes sectors(static_cast<size_t>(count) * cdrip::SectorBytes);
  const MmcResult read = ReadSectors(Drive, lba, count, sectors.data());
  if (!read.Ok) return read;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t* out = Buffer + static_cast<size_t>(i) * perSector;
    if (Cdb[9] & 0xF8) {
      std::memcpy(out, sectors.data() + static_cast<size_t>(i) * cdrip::SectorBytes,
                  cdrip::SectorBytes);
      out += cdrip::SectorBytes;
    }
    PutExtras(*toc, lba + i, Cdb, out);
  }
  return MmcResult{};
}

Bytes Inquiry() {
  Bytes out(36, 0);
  out[0] = 0x05;  // a CD/DVD device
  out[1] = 0x80;  // removable medium
  out[2] = 0x05;
  out[3] = 0x02;
  out[4] = 31;
  std::memcpy(&out[8], "KORVANE Software CD     1.00", 28);
  return out;
}

// MODE SENSE: the page asked for, behind a header of the command's size. The
// capabilities page (2Ah) says the drive reads CD-DA accurately; others are empty.
Bytes ModePage(uint8_t Page, bool TenByte) {
  Bytes page;
  if (Page == 0x2A) {
    page.assign(28, 0);
    page[0] = 0x2A;
    page[1] = 26;
    page[2] = 0x03;         // reads CD-R and CD-RW
    page[4] = 0x71;         // audio play, composite, digital ports, multi-session
    page[5] = 0x03 | 0x02;  // CD-DA commands, accurate stream
    page[6] = 0x29;         // lock, eject, tray loading mechanism
  } else {
    page = {Page, 6, 0, 0, 0, 0, 0, 0};
  }
  Bytes out(TenByte ? 8 : 4, 0);
  out.insert(out.end(), page.begin(), page.end());
  if (TenByte)
    PutBe16(out, 0, out.size() - 2);
  else
    out[0] = static_cast<uint8_t>(out.size() - 1);
  return out;
}

// GET CONFIGURATION: the header alone, current profile CD-ROM (8).
Bytes Configuration() { return Bytes{0, 0, 0, 4, 0, 0, 0, 0x08}; }

// READ SUB-CHANNEL: no audio playing (status 15h), position data zero; the disc's media
// catalogue number (format 2) and a track's ISRC (format 3), valid where the image gives
// them.
Bytes SubChannel(const cdrip::Toc& Toc, const uint8_t* Cdb) {
  Bytes out{0, 0x15, 0, 0};
  if (Cdb[2] & 0x40) {
    const uint8_t format = Cdb[3];
    Bytes data(format == 1 ? 12 : 20, 0);
    data[0] = format;
    const std::string code = format == 2   ? Toc.Text.Get(0, cdrip::TextField::Catalog)
                             : format == 3 ? Toc.Text.Get(Cdb[6], cdrip::TextField::Isrc)
                                           : std::string();
    if (!code.empty()) {
      data[2] = format == 3 ? Cdb[6] : 0;
      data[4] = 0x80;  // MCVal / TCVal
      std::copy(code.begin(), code.end(), data.begin() + 5);
    }
    out.insert(out.end(), data.begin(), data.end());
  }
  PutBe16(out, 2, out.size() - 4);
  return out;
}

const char* NameOf(uint8_t Opcode) {
  switch (Opcode) {
    case 0x00: return "TEST UNIT READY";
    case 0x03: return "REQUEST SENSE";
    case 0x12: return "INQUIRY";
    case 0x1A: return "MODE SENSE(6)";
    case 0x1B: return "START STOP UNIT";
    case 0x1E: return "PREVENT ALLOW MEDIUM REMOVAL";
    case 0x25: return "READ CAPACITY";
    case 0x42: return "READ SUB-CHANNEL";
    case 0x43: return "READ TOC/PMA/ATIP";
    case 0x46: return "GET CONFIGURATION";
    case 0x4A: return "GET EVENT STATUS NOTIFICATION";
    case 0x55: return "MODE SELECT(10)";
    case 0x5A: return "MODE SENSE(10)";
    case 0xBB: return "SET CD SPEED";
    case 0xBE: return "READ CD";
    default: return "(unknown)";
  }
}

MmcResult Run(int Drive, const uint8_t* Cdb, uint8_t* Buffer, uint32_t Length) {
  switch (Cdb[0]) {
    case 0x00:
      return DiscToc(Drive) || LoadingOf(Drive) == Loading::Unreadable ? MmcResult{}
                                                                       : Error(NotReady(Drive));
    case 0x03: return Reply(Bytes(18, 0), Buffer, std::min<uint32_t>(Length, Cdb[4]));
    case 0x12: return Reply(Inquiry(), Buffer, std::min<uint32_t>(Length, Cdb[4]));
    case 0x1A:
      return Reply(ModePage(Cdb[2] & 0x3F, false), Buffer, std::min<uint32_t>(Length, Cdb[4]));
    case 0x5A:
      return Reply(ModePage(Cdb[2] & 0x3F, true), Buffer,
                   std::min<uint32_t>(Length, Be16(Cdb + 7)));
    case 0x1B:  // START STOP UNIT: LoEj without Start ejects
      if ((Cdb[4] & 0x03) == 0x02) Eject(Drive);
      return MmcResult{};
    case 0x1E:
    case 0x55:
    case 0xBB: return MmcResult{};
    case 0x25: {
      const std::optional<cdrip::Toc> toc = DiscToc(Drive);
      if (!toc) return Error(NotReady(Drive));
      Bytes out;
      AppendAddress(out, toc->LeadOut - 1, false);
      out.insert(out.end(), {0, 0, 0x08, 0});
      return Reply(out, Buffer, Length);
    }
    case 0x42:
      if (const std::optional<cdrip::Toc> toc = DiscToc(Drive))
        return Reply(SubChannel(*toc, Cdb), Buffer, std::min<uint32_t>(Length, Be16(Cdb + 7)));
      return Error(NotReady(Drive));
    case 0x43: return ReadToc(Drive, Cdb, Buffer, Length);
    case 0x46: return Reply(Configuration(), Buffer, std::min<uint32_t>(Length, Be16(Cdb + 7)));
    case 0xBE: return ReadCd(Drive, Cdb, Buffer, Length);
    default: return Error(BadOpcode);
  }
}

}  // namespace

MmcResult RunMmc(int Drive, const uint8_t* Cdb, uint8_t* Buffer, uint32_t Length) {
  const MmcResult result = Run(Drive, Cdb, Buffer, Length);
  Log("MMC %02Xh %s [%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x] len %u: %s", Cdb[0],
      NameOf(Cdb[0]), Cdb[1], Cdb[2], Cdb[3], Cdb[4], Cdb[5], Cdb[6], Cdb[7], Cdb[8], Cdb[9],
      Cdb[10], Length, result.Ok ? "ok" : "check condition");
  return result;
}

}  // namespace fakedrive
