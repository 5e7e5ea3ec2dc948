// Asks a CD device what a program that drives it through the CD layer's MMC functions
// would ask, and prints the answers one a line, for the software CD drive's tests:
//   inquiry VENDOR|MODEL|REVISION      (INQUIRY)
//   ready 0 | ready sense K/ASC/ASCQ   (TEST UNIT READY)
//   toc TRACK LBA ...                  (READ TOC format 0 in LBA: tracks, lead-out AA)
//   session LAST TRACK LBA             (READ TOC format 1: the last session's start)
//   discmode NAME                      (READ TOC format 2: the disc's type)
//   read LSN SECTORS FNV               (READ CD of each LSN:SECTORS argument, FNV-1a 64)
//   q LSN HEX | q LSN failed           (READ CD of each q:LSN argument: the sector's
//                                       formatted Q sub-channel alone, 16 bytes)
#include <cdio/cdio.h>
#include <cdio/mmc.h>
#include <cdio/mmc_hl_cmds.h>
#include <cdio/mmc_ll_cmds.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct CdioDeleter {
  void operator()(CdIo_t* Cdio) const { cdio_destroy(Cdio); }
};

uint64_t Fnv1a64(const std::vector<uint8_t>& Bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (uint8_t byte : Bytes) hash = (hash ^ byte) * 0x100000001b3ULL;
  return hash;
}

void PrintReady(CdIo_t* Cdio) {
  if (mmc_test_unit_ready(Cdio, 0) == DRIVER_OP_SUCCESS) {
    std::printf("ready 0\n");
    return;
  }
  cdio_mmc_request_sense_t* sense = nullptr;
  if (mmc_last_cmd_sense(Cdio, &sense) > 0 && sense)
    std::printf("ready sense %x/%02x/%02x\n", sense->sense_key, sense->asc, sense->ascq);
  else
    std::printf("ready failed\n");
  std::free(sense);
}

uint32_t Be32(const uint8_t* At) {
  return (uint32_t{At[0]} << 24) | (uint32_t{At[1]} << 16) | (uint32_t{At[2]} << 8) | At[3];
}

// READ TOC/PMA/ATIP of Format, addresses as LBA, into a buffer of the size the answer's
// header gives; empty when the command fails.
std::vector<uint8_t> ReadToc(CdIo_t* Cdio, uint8_t Format) {
  std::vector<uint8_t> buffer(804, 0);
  mmc_cdb_t cdb{};
  CDIO_MMC_SET_COMMAND(cdb.field, CDIO_MMC_GPCMD_READ_TOC);
  cdb.field[2] = Format;
  CDIO_MMC_SET_READ_LENGTH16(cdb.field, buffer.size());
  if (mmc_run_cmd(Cdio, 2000, &cdb, SCSI_MMC_DATA_READ, static_cast<unsigned>(buffer.size()),
                  buffer.data()) != DRIVER_OP_SUCCESS)
    return {};
  buffer.resize(std::min<size_t>(buffer.size(), 2 + ((buffer[0] << 8) | buffer[1])));
  return buffer;
}

void PrintToc(CdIo_t* Cdio) {
  const std::vector<uint8_t> toc = ReadToc(Cdio, CDIO_MMC_READTOC_FMT_TOC);
  std::printf("toc");
  for (size_t at = 4; at + 8 <= toc.size(); at += 8)
    std::printf(" %X %d", toc[at + 2], static_cast<int32_t>(Be32(&toc[at + 4])));
  std::printf("\n");
  const std::vector<uint8_t> sessions = ReadToc(Cdio, CDIO_MMC_READTOC_FMT_SESSION);
  if (sessions.size() >= 12)
    std::printf("session %d %d %d\n", sessions[3], sessions[6],
                static_cast<int32_t>(Be32(&sessions[8])));
}

// Reads SECTORS audio sectors from LSN on, a second at a time, as the CD layer's READ CD
// of CD-DA sectors with their 2352 bytes of user data.
void PrintRead(CdIo_t* Cdio, const std::string& Range) {
  const size_t colon = Range.find(':');
  const lsn_t lsn = std::atoi(Range.c_str());
  const int sectors = colon == std::string::npos ? 0 : std::atoi(Range.c_str() + colon + 1);
  std::vector<uint8_t> pcm(static_cast<size_t>(sectors) * CDIO_CD_FRAMESIZE_RAW);
  for (int done = 0; done < sectors;) {
    const int count = std::min(75, sectors - done);
    if (mmc_read_cd(Cdio, &pcm[static_cast<size_t>(done) * CDIO_CD_FRAMESIZE_RAW], lsn + done,
                    CDIO_MMC_READ_TYPE_CDDA, false, false, 0, true, false, false, 0,
                    CDIO_CD_FRAMESIZE_RAW, static_cast<uint32_t>(count)) != DRIVER_OP_SUCCESS) {
      std::printf("read %d %d failed at %d\n", lsn, sectors, lsn + done);
      return;
    }
    done += count;
  }
  std::printf("read %d %d %016" PRIx64 "\n", lsn, sectors, Fnv1a64(pcm));
}

void PrintQ(CdIo_t* Cdio, const std::string& Sector) {
  const lsn_t lsn = std::atoi(Sector.c_str());
  uint8_t q[16] = {};
  if (mmc_read_cd(Cdio, q, lsn, CDIO_MMC_READ_TYPE_ANY, false, false, 0, false, false, 0, 2,
                  sizeof q, 1) != DRIVER_OP_SUCCESS) {
    std::printf("q %d failed\n", lsn);
    return;
  }
  std::printf("q %d ", lsn);
  for (uint8_t byte : q) std::printf("%02x", byte);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: drive_probe DEVICE [LSN:SECTORS ...]\n");
    return 2;
  }
  std::unique_ptr<CdIo_t, CdioDeleter> cdio(cdio_open(argv[1], DRIVER_DEVICE));
  if (!cdio) {
    std::printf("no device\n");
    return 1;
  }
  cdio_hwinfo_t hardware{};
  if (mmc_get_hwinfo(cdio.get(), &hardware))
    std::printf("inquiry %s|%s|%s\n", hardware.psz_vendor, hardware.psz_model,
                hardware.psz_revision);
  PrintReady(cdio.get());
  PrintToc(cdio.get());
  std::printf("discmode %s\n", discmode2str[mmc_get_discmode(cdio.get())]);
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("q:", 0) == 0)
      PrintQ(cdio.get(), argument.substr(2));
    else
      PrintRead(cdio.get(), argument);
  }
  return 0;
}
