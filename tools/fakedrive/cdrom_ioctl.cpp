// The CD-ROM ioctls of the kernel's CD driver and the SCSI ones the CD layer asks,
// answered from the drive's disc image.
#include <linux/cdrom.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fake_drive.h"

namespace fakedrive {
namespace {

int Fail(int Error) {
  errno = Error;
  return -1;
}

void Address(cdrom_addr& Out, uint8_t Format, int32_t Lsn) {
  if (Format == CDROM_LBA) {
    Out.lba = Lsn;
    return;
  }
  const Msf msf = MsfOf(Lsn);
  Out.msf.minute = msf.M;
  Out.msf.second = msf.S;
  Out.msf.frame = msf.F;
}

int TocHeader(int Drive, cdrom_tochdr* Header) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return Fail(ENOMEDIUM);
  Header->cdth_trk0 = toc->Tracks.front().Number;
  Header->cdth_trk1 = toc->Tracks.back().Number;
  return 0;
}

int TocEntry(int Drive, cdrom_tocentry* Entry) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return Fail(ENOMEDIUM);
  if (Entry->cdte_track == CDROM_LEADOUT) {
    const uint8_t flag = toc->Tracks.back().Flag;
    Entry->cdte_adr = flag >> 4;
    Entry->cdte_ctrl = flag & 0x0F;
    Entry->cdte_datamode = 0;
    Address(Entry->cdte_addr, Entry->cdte_format, toc->LeadOut);
    return 0;
  }
  for (const cdrip::TrackEntry& track : toc->Tracks) {
    if (track.Number != Entry->cdte_track) continue;
    Entry->cdte_adr = track.Flag >> 4;
    Entry->cdte_ctrl = track.Flag & 0x0F;
    Entry->cdte_datamode = (track.Flag & 0x04) ? 1 : 0;
    Address(Entry->cdte_addr, Entry->cdte_format, track.StartSector);
    return 0;
  }
  return Fail(EINVAL);
}

// Where the last session begins; a disc of one session answers address 0, as the
// kernel does.
int MultiSession(int Drive, cdrom_multisession* Info) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return Fail(ENOMEDIUM);
  Info->xa_flag = toc->LastSessionStart > 0 ? 1 : 0;
  if (Info->addr_format == CDROM_LBA)
    Info->addr.lba = toc->LastSessionStart;
  else
    Address(Info->addr, CDROM_MSF, toc->LastSessionStart);
  return 0;
}

int DiscStatus(int Drive) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return CDS_NO_DISC;
  bool audio = false, data = false;
  for (const cdrip::TrackEntry& track : toc->Tracks) ((track.Flag & 0x04) ? data : audio) = true;
  return data ? (audio ? CDS_MIXED : CDS_DATA_1) : CDS_AUDIO;
}

int ReadAudio(int Drive, cdrom_read_audio* Request) {
  int32_t lsn = Request->addr.lba;
  if (Request->addr_format == CDROM_MSF)
    lsn = (Request->addr.msf.minute * 60 + Request->addr.msf.second) * 75 +
          Request->addr.msf.frame - 150;
  if (Request->nframes <= 0 || Request->nframes > 75) return Fail(EINVAL);
  const MmcResult read = ReadSectors(Drive, lsn, Request->nframes, Request->buf);
  if (read.Ok) return 0;
  return Fail(read.Error.Key == NoDisc.Key ? ENOMEDIUM : EIO);
}

int DriveStatus(int Drive) {
  switch (LoadingOf(Drive)) {
    case Loading::Disc:
    case Loading::Unreadable: return CDS_DISC_OK;
    case Loading::TrayOpen: return CDS_TRAY_OPEN;
    default: return CDS_NO_DISC;
  }
}

// The disc's media catalogue number; thirteen zeros when it has none, as drives answer.
int CatalogNumber(int Drive, cdrom_mcn* Mcn) {
  const std::optional<cdrip::Toc> toc = DiscToc(Drive);
  if (!toc) return Fail(ENOMEDIUM);
  std::string code = toc->Text.Get(0, cdrip::TextField::Catalog);
  if (code.size() != 13) code = std::string(13, '0');
  std::memcpy(Mcn->medium_catalog_number, code.c_str(), 14);
  return 0;
}

void FillSense(uint8_t* Out, size_t Size, const Sense& Error) {
  uint8_t sense[18] = {0x70, 0, Error.Key, 0, 0, 0, 0, 10, 0, 0, 0, 0, Error.Asc, Error.Ascq};
  std::memcpy(Out, sense, std::min(Size, sizeof sense));
}

int SendPacket(int Drive, cdrom_generic_command* Command) {
  const MmcResult result = RunMmc(Drive, Command->cmd, Command->buffer, Command->buflen);
  if (result.Ok) {
    Command->stat = 0;
    return 0;
  }
  Command->stat = 0x02;  // CHECK CONDITION
  if (Command->sense)
    FillSense(reinterpret_cast<uint8_t*>(Command->sense), sizeof(request_sense), result.Error);
  return Fail(EIO);
}

int SgIo(int Drive, sg_io_hdr_t* Header) {
  const MmcResult result =
      RunMmc(Drive, Header->cmdp, static_cast<uint8_t*>(Header->dxferp), Header->dxfer_len);
  Header->resid = 0;
  Header->host_status = 0;
  Header->driver_status = 0;
  Header->info = 0;
  if (result.Ok) {
    Header->status = 0;
    Header->masked_status = 0;
    Header->sb_len_wr = 0;
    return 0;
  }
  Header->status = 0x02;
  Header->masked_status = CHECK_CONDITION;
  Header->driver_status = 0x08;  // sense data follows
  Header->info = SG_INFO_CHECK;
  Header->sb_len_wr = std::min<unsigned char>(Header->mx_sb_len, 18);
  if (Header->sbp) FillSense(Header->sbp, Header->sb_len_wr, result.Error);
  return 0;  // the command's failure is in the header; the ioctl itself succeeded
}

constexpr int Capabilities = CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED |
                             CDC_MULTI_SESSION | CDC_MCN | CDC_MEDIA_CHANGED | CDC_PLAY_AUDIO |
                             CDC_RESET | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET;

const char* NameOf(unsigned long Request) {
  switch (Request) {
    case CDROMREADTOCHDR: return "CDROMREADTOCHDR";
    case CDROMREADTOCENTRY: return "CDROMREADTOCENTRY";
    case CDROMMULTISESSION: return "CDROMMULTISESSION";
    case CDROM_DRIVE_STATUS: return "CDROM_DRIVE_STATUS";
    case CDROM_DISC_STATUS: return "CDROM_DISC_STATUS";
    case CDROM_GET_CAPABILITY: return "CDROM_GET_CAPABILITY";
    case CDROM_MEDIA_CHANGED: return "CDROM_MEDIA_CHANGED";
    case CDROMREADAUDIO: return "CDROMREADAUDIO";
    case CDROM_GET_MCN: return "CDROM_GET_MCN";
    case CDROMSUBCHNL: return "CDROMSUBCHNL";
    case CDROM_SEND_PACKET: return "CDROM_SEND_PACKET";
    case CDROMEJECT: return "CDROMEJECT";
    case SG_IO: return "SG_IO";
    case SCSI_IOCTL_GET_BUS_NUMBER: return "SCSI_IOCTL_GET_BUS_NUMBER";
    case SCSI_IOCTL_GET_IDLUN: return "SCSI_IOCTL_GET_IDLUN";
    default: return nullptr;
  }
}

int Answer(int Drive, unsigned long Request, void* Argument) {
  switch (Request) {
    case CDROMREADTOCHDR: return TocHeader(Drive, static_cast<cdrom_tochdr*>(Argument));
    case CDROMREADTOCENTRY: return TocEntry(Drive, static_cast<cdrom_tocentry*>(Argument));
    case CDROMMULTISESSION: return MultiSession(Drive, static_cast<cdrom_multisession*>(Argument));
    case CDROM_DRIVE_STATUS: return DriveStatus(Drive);
    case CDROM_DISC_STATUS: return DiscStatus(Drive);
    case CDROM_GET_CAPABILITY: return Capabilities;
    case CDROM_MEDIA_CHANGED: return 0;
    case CDROMREADAUDIO: return ReadAudio(Drive, static_cast<cdrom_read_audio*>(Argument));
    case CDROM_GET_MCN: return CatalogNumber(Drive, static_cast<cdrom_mcn*>(Argument));
    case CDROMSUBCHNL: {
      auto* subchannel = static_cast<cdrom_subchnl*>(Argument);
      if (!DiscToc(Drive)) return Fail(ENOMEDIUM);
      subchannel->cdsc_audiostatus = CDROM_AUDIO_NO_STATUS;
      return 0;
    }
    case CDROM_SEND_PACKET: return SendPacket(Drive, static_cast<cdrom_generic_command*>(Argument));
    case CDROMEJECT: Eject(Drive); return 0;
    case SG_IO: return SgIo(Drive, static_cast<sg_io_hdr_t*>(Argument));
    case SCSI_IOCTL_GET_BUS_NUMBER: *static_cast<int*>(Argument) = 0; return 0;
    case SCSI_IOCTL_GET_IDLUN: {
      // Host 0, channel 0, target = the drive's place, lun 0.
      auto* idLun = static_cast<int*>(Argument);
      idLun[0] = Drive & 0xFF;
      idLun[1] = 0;
      return 0;
    }
    default: return Fail(ENOTTY);
  }
}

}  // namespace

int DriveIoctl(int Drive, unsigned long Request, void* Argument) {
  const int result = Answer(Drive, Request, Argument);
  const char* name = NameOf(Request);
  if (name)
    Log("ioctl %s = %d", name, result);
  else
    Log("ioctl 0x%lx (unanswered)", Request);
  return result;
}

}  // namespace fakedrive
