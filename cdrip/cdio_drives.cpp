#include "cdio_drives.h"

#include <cdio/cdio.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <utility>

#include "cd_text_packs.h"
#include "drive_pregaps.h"
#include "paranoia_reader.h"
#include "q_subchannel.h"

namespace cdrip {
namespace {

struct CdioDeleter {
  void operator()(CdIo_t* Cdio) const { cdio_destroy(Cdio); }
};
using CdioHandle = std::shared_ptr<CdIo_t>;

CdioHandle Share(CdIo_t* Cdio) { return Cdio ? CdioHandle(Cdio, CdioDeleter()) : CdioHandle(); }

// A table that a damaged disc or a confused drive returns is not passed on: starts must
// ascend within the addresses of a CD.
bool Plausible(const Toc& Contents) {
  int32_t previous = -1;
  for (const TrackEntry& track : Contents.Tracks) {
    if (track.StartSector <= previous) return false;
    previous = track.StartSector;
  }
  return Contents.Tracks.size() <= 99 && Contents.LeadOut > previous &&
         Contents.LeadOut <= MaxDiscSectors;
}

// The disc's media catalogue number and its tracks' ISRCs, which the drive reads from
// the sub-channel; none where the disc has none.
void AddCodes(CdIo_t* Cdio, track_t First, track_t Count, DiscText& Text) {
  auto take = [](char* Code) {
    std::string value = Code ? Code : "";
    cdio_free(Code);
    const bool blank = value.find_first_not_of("0 ") == std::string::npos;
    return blank ? std::string() : value;
  };
  Text.Set(0, TextField::Catalog, take(cdio_get_mcn(Cdio)));
  for (track_t track = First; track < First + Count; ++track)
    if (cdio_get_track_format(Cdio, track) == TRACK_FORMAT_AUDIO)
      Text.Set(track, TextField::Isrc, take(cdio_get_track_isrc(Cdio, track)));
}

// READ TOC/PMA/ATIP format 5 (CD-Text) into Reply, of which the drive fills at most all.
bool ReadCdTextReply(CdIo_t* Cdio, std::vector<uint8_t>& Reply) {
  mmc_cdb_t cdb{};
  CDIO_MMC_SET_COMMAND(cdb.field, CDIO_MMC_GPCMD_READ_TOC);
  cdb.field[2] = CDIO_MMC_READTOC_FMT_CDTEXT;
  CDIO_MMC_SET_READ_LENGTH16(cdb.field, Reply.size());
  return mmc_run_cmd(Cdio, 0, &cdb, SCSI_MMC_DATA_READ, static_cast<unsigned>(Reply.size()),
                     Reply.data()) == DRIVER_OP_SUCCESS;
}

// The drive's CD-Text packs, without the reply's header: its size first, then the whole;
// none when the disc has none or the drive cannot read them.
std::vector<uint8_t> CdTextPacksOf(CdIo_t* Cdio) {
  constexpr size_t HeaderBytes = 4;
  std::vector<uint8_t> reply(HeaderBytes);
  if (!ReadCdTextReply(Cdio, reply)) return {};
  // The command's allocation length has 16 bits.
  const size_t size = std::min<size_t>(CDIO_MMC_GET_LEN16(reply.data()) + 2u, 0xFFFF);
  if (size <= HeaderBytes) return {};
  reply.assign(size, 0);
  if (!ReadCdTextReply(Cdio, reply)) return {};
  const size_t given = std::min<size_t>(size, CDIO_MMC_GET_LEN16(reply.data()) + 2u);
  if (given <= HeaderBytes) return {};
  return std::vector<uint8_t>(reply.begin() + HeaderBytes, reply.begin() + given);
}

// The disc's CD-Text and codes; the texts are read from the drive's packs by the
// library's own parser (UTF-8 out), and what of them was left out is the disc's note.
DiscText CdTextOf(CdIo_t* Cdio, track_t First, track_t Count) {
  const std::vector<uint8_t> packs = CdTextPacksOf(Cdio);
  CdTextReading reading = ParseCdTextPacks(packs.data(), packs.size());
  DiscText& text = reading.Text;
  text.Set(0, TextField::Note, reading.Note);
  for (auto entry = text.Entries.begin(); entry != text.Entries.end();) {
    const int track = entry->first;
    const bool onDisc = track == 0 || (track >= First && track < First + Count);
    entry = onDisc ? std::next(entry) : text.Entries.erase(entry);
  }
  AddCodes(Cdio, First, Count, text);
  return text;
}

std::optional<Toc> TocOf(CdIo_t* Cdio) {
  const track_t first = cdio_get_first_track_num(Cdio);
  const track_t count = cdio_get_num_tracks(Cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) return std::nullopt;
  Toc contents;
  for (track_t track = first; track < first + count; ++track) {
    const lsn_t start = cdio_get_track_lsn(Cdio, track);
    if (start == CDIO_INVALID_LSN) return std::nullopt;
    const bool audio = cdio_get_track_format(Cdio, track) == TRACK_FORMAT_AUDIO;
    contents.Tracks.push_back(
        TrackEntry{start, static_cast<uint8_t>(audio ? 0x10 : 0x14), static_cast<uint8_t>(track)});
  }
  contents.LeadOut = cdio_get_track_lsn(Cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (contents.LeadOut == CDIO_INVALID_LSN || !Plausible(contents)) return std::nullopt;
  contents.Text = CdTextOf(Cdio, first, count);
  // The drive's multisession answer: where the last session begins (0: one session).
  lsn_t lastSession = 0;
  if (cdio_get_last_session(Cdio, &lastSession) == DRIVER_OP_SUCCESS && lastSession > 0)
    contents.LastSessionStart = lastSession;
  return contents;
}

// The Q sub-channel of Count sectors from Lsn on, read with the sectors' 2352 bytes (READ
// CD of any sector type, formatted Q); none when the drive refuses.
std::vector<QPosition> QPositionsOf(CdIo_t* Cdio, int32_t Lsn, int32_t Count) {
  constexpr int32_t BlockBytes = SectorBytes + FormattedQBytes;
  constexpr uint8_t AllHeaders = 3, NoC2 = 0, FormattedQ = 2;
  std::vector<uint8_t> blocks(static_cast<size_t>(BlockBytes) * static_cast<size_t>(Count));
  if (mmc_read_cd(Cdio, blocks.data(), Lsn, CDIO_MMC_READ_TYPE_ANY, false, true, AllHeaders, true,
                  true, NoC2, FormattedQ, BlockBytes,
                  static_cast<uint32_t>(Count)) != DRIVER_OP_SUCCESS)
    return {};
  std::vector<QPosition> positions;
  for (int32_t sector = 0; sector < Count; ++sector) {
    const size_t at = static_cast<size_t>(sector) * BlockBytes + SectorBytes;
    if (std::optional<QPosition> q = DecodeFormattedQ(&blocks[at])) {
      q->ReadWith = Lsn + sector;
      positions.push_back(*q);
    }
  }
  return positions;
}

// ---------------------------------------------------------------------------------
// CD devices
// ---------------------------------------------------------------------------------

std::string Trimmed(const char* Text) {
  std::string text(Text);
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct Inquiry {
  std::string Model;  // "VENDOR Model"; empty when the drive gives none
  std::string Revision;
};

// The drive's INQUIRY answer; empty fields when it gives none.
Inquiry InquiryOf(const std::string& Device) {
  const CdioHandle cdio = Share(cdio_open(Device.c_str(), DRIVER_DEVICE));
  cdio_hwinfo_t info{};
  if (!cdio || !cdio_get_hwinfo(cdio.get(), &info)) return Inquiry{};
  const std::string vendor = Trimmed(info.psz_vendor), model = Trimmed(info.psz_model);
  if (model.empty()) return Inquiry{};
  return Inquiry{vendor.empty() ? model : vendor + " " + model, Trimmed(info.psz_revision)};
}

class DeviceDrive : public Drive {
 public:
  explicit DeviceDrive(std::string Device) : Device_(std::move(Device)) {}

  const std::string& Name() const override { return Device_; }
  bool Streams() const override { return true; }

  // A device opens without a disc; the drive's own answer to TEST UNIT READY tells.
  bool MediaLoaded() override {
    Status_ = Share(cdio_open(Device_.c_str(), DRIVER_DEVICE));
    if (!Status_) return false;
    const driver_return_code_t ready = mmc_test_unit_ready(Status_.get(), 0);
    if (ready == DRIVER_OP_SUCCESS) return true;
    if (ready != DRIVER_OP_UNSUPPORTED && ready != DRIVER_OP_UNINIT) return false;
    return TocOf(Status_.get()).has_value();
  }

  bool AudioPlaying() override {
    if (!Status_) Status_ = Share(cdio_open(Device_.c_str(), DRIVER_DEVICE));
    cdio_subchannel_t subchannel{};
    return Status_ && cdio_audio_read_subchannel(Status_.get(), &subchannel) == DRIVER_OP_SUCCESS &&
           subchannel.audio_status == CDIO_MMC_READ_SUB_ST_PLAY;
  }

  // A fresh handle each time: the CD layer keeps the first table it read per handle,
  // and the disc may have changed since.
  std::optional<Toc> ReadToc() override {
    Status_ = Share(cdio_open(Device_.c_str(), DRIVER_DEVICE));
    if (!Status_) return std::nullopt;
    return TocOf(Status_.get());
  }

  std::unique_ptr<SectorReader> OpenReader(const ReadSettings& Settings) override {
    std::string messages;
    std::unique_ptr<SectorReader> reader = OpenParanoiaReader(Device_, Settings, messages);
    OpenMessages_ += messages;
    return reader;
  }

  std::string TakeMessages() override { return std::exchange(OpenMessages_, std::string()); }

  // The kernel's eject, on a descriptor of its own (opened without waiting for a disc):
  // the CD layer's handles stay as they are, and the next listing opens a fresh one.
  bool Eject() override {
    Status_.reset();
    const int fd = ::open(Device_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ejected = ::ioctl(fd, CDROMEJECT) == 0;
    ::close(fd);
    return ejected;
  }

  // Asked once: a drive's model does not change.
  std::string Model() override { return Inquired().Model; }
  std::string Revision() override { return Inquired().Revision; }
  void FindPregaps(Toc& Contents) override { AddPregaps(Contents); }

 private:
  std::string Device_;
  CdioHandle Status_;
  std::string OpenMessages_;  // what the layers said when a reader could not be opened
  const Inquiry& Inquired() {
    if (!Inquiry_) Inquiry_ = InquiryOf(Device_);
    return *Inquiry_;
  }
  std::optional<Inquiry> Inquiry_;

  // The pre-gaps are searched once per disc: a table read again of the same disc takes
  // those found before.
  void AddPregaps(Toc& Contents) {
    if (!Learned_ || !SameDisc(*Learned_, Contents)) {
      if (!Status_) return;  // ejected since: the pre-gaps stay unknown
      CdIo_t* cdio = Status_.get();
      LearnPregaps(Contents,
                   [cdio](int32_t Lsn, int32_t Count) { return QPositionsOf(cdio, Lsn, Count); });
      Learned_ = Contents;
      return;
    }
    for (size_t at = 0; at < Contents.Tracks.size(); ++at)
      Contents.Tracks[at].Pregap = Learned_->Tracks[at].Pregap;
  }
  std::optional<Toc> Learned_;  // the last disc whose pre-gaps were searched
};

}  // namespace

std::vector<std::string> ListCdDevices() {
  std::vector<std::string> devices;
  char** list = cdio_get_devices(DRIVER_DEVICE);
  if (!list) return devices;
  // The CD layer may list one drive under several names (a link and its device): the
  // first name of each device stands for it.
  std::vector<std::string> resolved;
  for (char** device = list; *device; ++device) {
    std::error_code error;
    std::string real = std::filesystem::weakly_canonical(*device, error).string();
    if (error) real = *device;
    if (std::find(resolved.begin(), resolved.end(), real) != resolved.end()) continue;
    resolved.push_back(real);
    devices.emplace_back(*device);
  }
  cdio_free_device_list(list);
  return devices;
}

std::unique_ptr<Drive> MakeDeviceDrive(const std::string& Device) {
  return std::make_unique<DeviceDrive>(Device);
}

}  // namespace cdrip
