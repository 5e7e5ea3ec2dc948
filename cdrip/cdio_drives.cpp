#include "cdio_drives.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/mmc_ll_cmds.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>

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

// The disc's CD-Text, first block (the CD layer hands it as UTF-8); none when the disc
// has none or the drive cannot read it.
DiscText CdTextOf(CdIo_t* Cdio, track_t First, track_t Count) {
  DiscText text;
  AddCodes(Cdio, First, Count, text);
  cdtext_t* cdtext = cdio_get_cdtext(Cdio);
  if (!cdtext) return text;
  const std::pair<cdtext_field_t, TextField> fields[] = {
      {CDTEXT_FIELD_TITLE, TextField::Title},
      {CDTEXT_FIELD_PERFORMER, TextField::Performer},
      {CDTEXT_FIELD_SONGWRITER, TextField::Songwriter},
      {CDTEXT_FIELD_GENRE, TextField::Genre}};
  for (int track = 0; track < First + Count; ++track) {
    if (track != 0 && track < First) continue;
    for (const auto& [field, ours] : fields)
      if (const char* value = cdtext_get_const(cdtext, field, static_cast<track_t>(track)))
        text.Set(track, ours, value);
  }
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

// ---------------------------------------------------------------------------------
// CD devices
// ---------------------------------------------------------------------------------

// What the paranoia layer told of a read: its events by kind, and the first sector it
// gave up (it reports positions in 16-bit words).
struct ParanoiaEvents {
  std::array<int32_t, PARANOIA_CB_FINISHED + 1> Count{};
  int32_t FirstSkipped = INT32_MAX;
  // Without verification the layer does not tell whether it recovered what a failed
  // read missed (it reports giving up further on, where it resumed): the failed read's
  // first sector counts as given up.
  bool Verifying = true;
  bool GaveUp = false;  // delivery ended before a sector given up
};

// The layer's callback carries no context: the reader that reads on this thread takes
// the events.
thread_local ParanoiaEvents* CurrentEvents = nullptr;

void CountParanoiaEvent(long int Position, paranoia_cb_mode_t Mode) {
  if (!CurrentEvents || Mode < 0 || Mode > PARANOIA_CB_FINISHED) return;
  ++CurrentEvents->Count[Mode];
  if (Mode == PARANOIA_CB_SKIP || (Mode == PARANOIA_CB_READERR && !CurrentEvents->Verifying)) {
    const long sector = Position / CD_FRAMEWORDS;
    CurrentEvents->FirstSkipped =
        static_cast<int32_t>(std::clamp<long>(sector, 0, CurrentEvents->FirstSkipped));
  }
}

// Sets the thread's event counts for the length of a read.
class EventScope {
 public:
  explicit EventScope(ParanoiaEvents& Events) { CurrentEvents = &Events; }
  ~EventScope() { CurrentEvents = nullptr; }
  EventScope(const EventScope&) = delete;
  EventScope& operator=(const EventScope&) = delete;
};

// Failed reads are repeated (or, without verification, given up). With verification on,
// the layer verifies the start of a range once in any case, and every further
// verification is a stretch read again because reads did not agree; without it, it
// reports every block verified, which says nothing of the disc. Cache errors concern
// the drive's cache, not the disc, and are left out.
ReadReport ReportOf(const ParanoiaEvents& Logged) {
  const auto& events = Logged.Count;
  ReadReport report;
  report.Rereads = events[PARANOIA_CB_READERR];
  if (Logged.Verifying) report.Rereads += std::max(0, events[PARANOIA_CB_VERIFY] - 1);
  for (paranoia_cb_mode_t fix :
       {PARANOIA_CB_FIXUP_EDGE, PARANOIA_CB_FIXUP_ATOM, PARANOIA_CB_FIXUP_DROPPED,
        PARANOIA_CB_FIXUP_DUPED, PARANOIA_CB_DRIFT, PARANOIA_CB_REPAIR, PARANOIA_CB_SCRATCH})
    report.Corrections += events[fix];
  report.Skips = Logged.GaveUp ? 1 : 0;
  return report;
}

struct CddaCloser {
  void operator()(cdrom_drive_t* Drive) const { cdio_cddap_close(Drive); }
};
struct ParanoiaFreer {
  void operator()(cdrom_paranoia_t* Paranoia) const { cdio_paranoia_free(Paranoia); }
};

// Reads a device through the paranoia layer, which verifies what it reads and re-reads
// what does not match, up to the settings' number of retries per sector; with
// never-skip off it then gives up the sector rather than hang on a scratch. The range
// then ends before that sector, so the job fails naming it.
class ParanoiaReader : public SectorReader {
 public:
  ParanoiaReader(std::unique_ptr<cdrom_drive_t, CddaCloser> Cdda,
                 std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer> Paranoia, int Mode, int Retries)
      : Cdda_(std::move(Cdda)), Paranoia_(std::move(Paranoia)), Retries_(Retries) {
    Events_.Verifying = (Mode & PARANOIA_MODE_VERIFY) != 0;
  }

  int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) override {
    if (Lsn != Next_) {
      cdio_paranoia_seek(Paranoia_.get(), Lsn, SEEK_SET);
      Next_ = Lsn;
    }
    EventScope scope(Events_);
    for (int32_t i = 0; i < Count; ++i) {
      // The layer hands out a sector it gave up as if it were audio, and may give up a
      // sector ahead of the one it returns: delivery ends before the first given up.
      const int16_t* samples =
          Next_ < Events_.FirstSkipped
              ? cdio_paranoia_read_limited(Paranoia_.get(), CountParanoiaEvent, Retries_)
              : nullptr;
      if (!samples || Next_ >= Events_.FirstSkipped) {
        Events_.GaveUp = true;
        Next_ = -1;  // the layer's position is past the sector now
        return i;
      }
      StoreLittleEndian(Out + static_cast<size_t>(i) * SectorBytes, samples);
      ++Next_;
    }
    return Count;
  }

  ReadReport Report() const override { return ReportOf(Events_); }

 private:
  // The paranoia layer hands samples in the machine's byte order.
  static void StoreLittleEndian(uint8_t* Out, const int16_t* Samples) {
    for (int i = 0; i < SectorBytes / 2; ++i) {
      const auto sample = static_cast<uint16_t>(Samples[i]);
      Out[2 * i] = static_cast<uint8_t>(sample & 0xFF);
      Out[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }

  std::unique_ptr<cdrom_drive_t, CddaCloser> Cdda_;
  std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer> Paranoia_;
  int Retries_;
  int32_t Next_ = -1;
  ParanoiaEvents Events_{};
};

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
    std::unique_ptr<cdrom_drive_t, CddaCloser> cdda(
        cdio_cddap_identify(Device_.c_str(), CDDA_MESSAGE_FORGETIT, nullptr));
    if (!cdda) return nullptr;
    cdio_cddap_verbose_set(cdda.get(), CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    if (cdio_cddap_open(cdda.get()) != 0) return nullptr;
    std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer> paranoia(cdio_paranoia_init(cdda.get()));
    if (!paranoia) return nullptr;
    cdio_paranoia_modeset(paranoia.get(), Settings.ParanoiaMode);
    return std::make_unique<ParanoiaReader>(std::move(cdda), std::move(paranoia),
                                            Settings.ParanoiaMode, Settings.ParanoiaRetries);
  }

 private:
  std::string Device_;
  CdioHandle Status_;
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
