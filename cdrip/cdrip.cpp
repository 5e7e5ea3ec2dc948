// The library's entry points. One lock guards all state: the front end's window thread,
// an output's worker thread and the readers of several drives call in. Each drive has
// its own open range, read ahead on a thread of its own (read_ahead.h); that thread
// never takes the library's lock, and no call holds the lock while it waits for a chunk
// or for the reader to stop. The active drive is chosen per thread, so that threads
// reading different drives at once each address their own.
#include "cdrip.h"

#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cdio_drives.h"
#include "drive.h"
#include "image_drive.h"
#include "image_error.h"
#include "ini_file.h"
#include "read_ahead.h"
#include "text_case.h"

namespace cdrip {
namespace {

static_assert(sizeof(CR_TocEntry) == 8, "a table entry is 8 bytes");
static_assert(CR_MAX_CHUNK_BYTES == MaxChunkSectors * SectorBytes, "a chunk is 75 sectors");

constexpr const char* SettingsSection = "CD-ROM";
constexpr int MaxParanoiaRetries = 1000;
constexpr long MaxReadOffset = 44100;  // samples: a second either way

// Which ranges are read ahead: none, those of CD drives (images read as fast as they
// are asked), or all.
enum class ReadAheadMode { Off, Drives, All };

// A drive's open range and what its last one met. The range is shared with a
// CR_RipChunk that waits for its next chunk without the lock, so that ending the range
// cannot pull it away from under that call.
struct DriveRange {
  std::shared_ptr<ReadAhead> Ripper;
  uint64_t Serial = 0;                   // counts the ranges opened
  std::optional<ReadReport> LastReport;  // of the range last opened
  std::string OpenMessages;              // what the layers said opening it
  std::string LastMessages;              // and reading it, once it ended
};

struct DriveSlot {
  std::unique_ptr<Drive> Unit;
  std::optional<Toc> Contents;  // as the last CR_ReadToc found it
  bool PregapsSought = false;   // Contents' pre-gaps were asked of the drive
  DriveRange Range;

  void SetContents(std::optional<Toc> Read) {
    Contents = std::move(Read);
    PregapsSought = false;
  }
};

// The drive a thread chose, valid while the library's drive list is the one it was
// chosen from (CR_Init and CR_DeInit make a new list).
struct ThreadChoice {
  uint64_t List = 0;
  int32_t Drive = -1;
};
thread_local ThreadChoice ChosenDrive;

struct Library {
  std::mutex Lock;
  std::vector<DriveSlot> Drives;  // devices first, then images
  size_t DeviceCount = 0;
  int32_t Active = -1;  // the last drive chosen, for threads that chose none
  uint64_t ListSerial = 1;
  ReadSettings Settings;
  IniFile SettingsFile;  // as CR_Init read it
  std::string SettingsWarnings;  // what CR_Init found wrong in it, a line each
  ReadAheadMode ReadsAhead = ReadAheadMode::Drives;
  std::string LastError;  // why the last CR_AddImageDrive failed
  bool LogSilenced = false;
  cdio_log_handler_t PreviousLogHandler = nullptr;

  int32_t ActiveDrive() const {
    return ChosenDrive.List == ListSerial ? ChosenDrive.Drive : Active;
  }
  DriveSlot* ActiveSlot() {
    const int32_t drive = ActiveDrive();
    if (drive < 0 || static_cast<size_t>(drive) >= Drives.size()) return nullptr;
    return &Drives[static_cast<size_t>(drive)];
  }
  // The active drive's range; a placeholder without an active drive.
  DriveRange& ActiveRange() {
    static DriveRange none;
    DriveSlot* slot = ActiveSlot();
    return slot ? slot->Range : none;
  }
};

Library& State() {
  static Library library;
  return library;
}

// What the CD layer said since the last range opened, for the rip log. Its handler may
// run under the library's lock or on the reading thread, so it has a lock of its own.
struct LayerLog {
  static constexpr size_t MaxBytes = 16384;
  std::mutex Lock;
  std::string Text;
};

LayerLog& CdLayerLog() {
  static LayerLog log;
  return log;
}

std::string TakeCdLayerLog() {
  LayerLog& log = CdLayerLog();
  std::lock_guard<std::mutex> hold(log.Lock);
  return std::exchange(log.Text, std::string());
}

// The CD layer reports to the terminal unless given a handler: its warnings and errors
// are kept for the log instead, its chatter left out.
void KeepLogMessage(cdio_log_level_t Level, const char* Message) {
  if (Level < CDIO_LOG_WARN || !Message) return;
  LayerLog& log = CdLayerLog();
  std::lock_guard<std::mutex> hold(log.Lock);
  if (log.Text.size() + std::strlen(Message) + 1 > LayerLog::MaxBytes) return;
  log.Text += Message;
  if (log.Text.empty() || log.Text.back() != '\n') log.Text += '\n';
}

void SilenceCdLayer(Library& Lib) {
  if (Lib.LogSilenced) return;
  Lib.PreviousLogHandler = cdio_log_set_handler(KeepLogMessage);
  Lib.LogSilenced = true;
}

void RestoreCdLayerLog(Library& Lib) {
  if (!Lib.LogSilenced) return;
  cdio_log_set_handler(Lib.PreviousLogHandler);
  Lib.LogSilenced = false;
}

// full (the default): verification and repair, giving up a sector after the retries;
// overlap: overlap checking only; disable: plain reads through the paranoia layer. A
// value that is none of these, or retries that are no whole number from 1 to
// MaxParanoiaRetries, leave the default (or the nearest number) and a line in Warnings.
ReadSettings SettingsFrom(const IniFile& Ini, std::string& Warnings) {
  ReadSettings settings;
  settings.ParanoiaMode = PARANOIA_MODE_FULL & ~PARANOIA_MODE_NEVERSKIP;
  const std::string mode = Lower(Ini.Value(SettingsSection, "ParanoiaMode").value_or("full"));
  if (mode == "overlap") settings.ParanoiaMode = PARANOIA_MODE_OVERLAP;
  if (mode == "disable") settings.ParanoiaMode = PARANOIA_MODE_DISABLE;
  if (mode != "full" && mode != "overlap" && mode != "disable")
    Warnings += "ParanoiaMode=" + mode + " in cdr.ini is none of full, overlap and disable; full " +
                "is used.\n";
  if (auto retries = Ini.Value(SettingsSection, "ParanoiaRetries")) {
    const bool digits = !retries->empty() && retries->size() <= 9 &&
                        retries->find_first_not_of("0123456789") == std::string::npos;
    const int value = digits ? std::atoi(retries->c_str()) : 0;
    if (value >= 1) settings.ParanoiaRetries = std::min(value, MaxParanoiaRetries);
    if (value < 1 || value > MaxParanoiaRetries)
      Warnings += "ParanoiaRetries=" + *retries + " in cdr.ini is no whole number from 1 to " +
                  std::to_string(MaxParanoiaRetries) + "; " +
                  std::to_string(settings.ParanoiaRetries) + " is used.\n";
  }
  return settings;
}

// The settings as the log names them: the mode as cdr.ini names it, the checks it turns
// on, and the retries.
std::string ReadModeText(const ReadSettings& Settings) {
  const int mode = Settings.ParanoiaMode;
  std::string text = "paranoia ";
  if (mode == PARANOIA_MODE_DISABLE) return text + "disabled (plain reads)";
  text += (mode & PARANOIA_MODE_VERIFY) ? "full (verify, overlap, repair)" : "overlap";
  if (mode & PARANOIA_MODE_NEVERSKIP) return text + ", a bad sector never given up";
  return text + ", a sector given up after " + std::to_string(Settings.ParanoiaRetries) +
         " failed reads";
}

void ListDevices(Library& Lib) {
  Lib.Drives.erase(Lib.Drives.begin(),
                   Lib.Drives.begin() + static_cast<std::ptrdiff_t>(Lib.DeviceCount));
  std::vector<DriveSlot> devices;
  for (const std::string& device : ListCdDevices())
    devices.push_back(DriveSlot{MakeDeviceDrive(device), std::nullopt, false, {}});
  Lib.DeviceCount = devices.size();
  Lib.Drives.insert(Lib.Drives.begin(), std::make_move_iterator(devices.begin()),
                    std::make_move_iterator(devices.end()));
  Lib.Active = Lib.Drives.empty() ? -1 : 0;
}

std::optional<RipRange> OpenRange(Library& Lib, int32_t* BufferSize, int32_t Start, int32_t End) {
  DriveSlot* slot = Lib.ActiveSlot();
  if (!slot || !BufferSize) return std::nullopt;
  const int32_t chunkSectors = std::min(MaxChunkSectors, *BufferSize / SectorBytes);
  if (chunkSectors < 1) return std::nullopt;
  if (!slot->Contents) slot->SetContents(slot->Unit->ReadToc());
  if (!slot->Contents) return std::nullopt;
  // The CD layer reports success for reads past the lead-out, so the range is bounded
  // here, once, by the disc.
  const int32_t first = std::max<int32_t>(Start, 0);
  const int32_t last = std::min(End, slot->Contents->LeadOut);
  if (first >= last) return std::nullopt;
  std::unique_ptr<SectorReader> reader = slot->Unit->OpenReader(Lib.Settings);
  slot->Range.OpenMessages = TakeCdLayerLog() + slot->Unit->TakeMessages();
  if (!reader) return std::nullopt;
  reader->Limit(first, last);
  *BufferSize = chunkSectors * SectorBytes;
  return RipRange{std::move(reader), first, last, chunkSectors};
}

// A drive named by path: a block device is read as a CD device (one the CD layer did not
// list, such as a drive under a name of its own), anything else as a disc image.
std::unique_ptr<Drive> MakeAddedDrive(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) return MakeDeviceDrive(Path);
  return MakeImageDrive(Path);
}

// A read offset as the settings file writes it; nothing when it is no number of samples
// within a second either way.
std::optional<int32_t> ParseReadOffset(const std::string& Value) {
  char* end = nullptr;
  const long offset = std::strtol(Value.c_str(), &end, 10);
  if (end == Value.c_str() || *end != '\0' || offset < -MaxReadOffset || offset > MaxReadOffset)
    return std::nullopt;
  return static_cast<int32_t>(offset);
}

// The path with its links resolved (/dev/cdrom to /dev/sr0); as it is when it cannot be.
std::string ResolvedName(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(Path, error);
  return error ? Path : resolved.string();
}

// The read offset that section "ReadOffsets" gives a drive: an offset belongs to the
// drive's model (its INQUIRY vendor and model, as peers key them), so that key comes
// first; a drive that names no model is found by its path, exactly or with the links of
// both resolved.
std::optional<int32_t> ReadOffsetOf(const IniFile& Ini, Drive& Unit) {
  constexpr const char* Section = "ReadOffsets";
  const std::string model = Unit.Model();
  if (!model.empty())
    if (const auto value = Ini.Value(Section, model)) return ParseReadOffset(*value);
  if (const auto value = Ini.Value(Section, Unit.Name())) return ParseReadOffset(*value);
  const std::string resolved = ResolvedName(Unit.Name());
  for (const auto& [key, value] : Ini.Entries(Section))
    if (!key.empty() && key.front() == '/' && ResolvedName(key) == resolved)
      return ParseReadOffset(value);
  return std::nullopt;
}

// Copies Text into Buffer, truncated to Size - 1 bytes and terminated; returns its
// full length.
int32_t CopyText(const std::string& Text, char* Buffer, int32_t Size) {
  if (Buffer && Size > 0) {
    const size_t copied = std::min(Text.size(), static_cast<size_t>(Size - 1));
    std::memcpy(Buffer, Text.data(), copied);
    Buffer[copied] = '\0';
  }
  return static_cast<int32_t>(Text.size());
}

// Runs Body under the library's lock; no exception crosses the C interface.
template <class Result, class Body>
Result Guarded(Result Failure, Body&& Run) {
  try {
    Library& lib = State();
    std::lock_guard<std::mutex> hold(lib.Lock);
    return Run(lib);
  } catch (...) {
    return Failure;
  }
}

// KORVANE_CDRIP_READ_AHEAD: 0 reads each chunk when it is asked for (benchmarks compare
// the two), "all" reads images ahead too (tests run them through the reading thread).
ReadAheadMode ReadAheadFromEnvironment() {
  const char* setting = std::getenv("KORVANE_CDRIP_READ_AHEAD");
  if (setting && std::strcmp(setting, "0") == 0) return ReadAheadMode::Off;
  if (setting && std::strcmp(setting, "all") == 0) return ReadAheadMode::All;
  return ReadAheadMode::Drives;
}

// How many chunks the active drive's ranges are read ahead: 0 reads each when it is asked.
int ReadAheadDepth(Library& Lib) {
  const DriveSlot* slot = Lib.ActiveSlot();
  const bool ahead = Lib.ReadsAhead == ReadAheadMode::All ||
                     (Lib.ReadsAhead == ReadAheadMode::Drives && slot && slot->Unit->Streams());
  return ahead ? CR_READ_AHEAD_CHUNKS : 0;
}

// Ends the active drive's open range: it leaves the library under the lock, and its
// reader is stopped after the lock is let go, so no other call waits for the read in
// progress. Its final counts are kept unless another range was opened meanwhile.
void EndRange() {
  std::shared_ptr<ReadAhead> range;
  uint64_t serial = 0;
  int32_t drive = -1;
  Guarded<int>(0, [&](Library& lib) {
    DriveRange& open = lib.ActiveRange();
    if (open.Ripper) open.LastReport = open.Ripper->Report();
    if (open.Ripper) open.LastMessages = open.Ripper->Messages();
    range = std::move(open.Ripper);
    serial = open.Serial;
    drive = lib.ActiveDrive();
    return 0;
  });
  if (!range) return;
  range->Stop();
  Guarded<int>(0, [&](Library& lib) {
    if (drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return 0;
    DriveRange& ended = lib.Drives[static_cast<size_t>(drive)].Range;
    if (ended.Serial == serial && ended.LastReport) {
      ended.LastReport = range->Report();
      ended.LastMessages = range->Messages();
    }
    return 0;
  });
}

// Takes the active drive's open range out of the library, under its lock, with the
// range's report: a new range starts, or none. The range is stopped with StopDisplaced.
std::shared_ptr<ReadAhead> DisplaceRange(Library& Lib) {
  DriveRange& open = Lib.ActiveRange();
  ++open.Serial;
  open.LastReport.reset();
  open.OpenMessages.clear();
  open.LastMessages.clear();
  return std::move(open.Ripper);
}

// Takes every drive's open range out of the library (the drive list is made anew).
std::vector<std::shared_ptr<ReadAhead>> DisplaceAllRanges(Library& Lib) {
  std::vector<std::shared_ptr<ReadAhead>> ranges;
  for (DriveSlot& slot : Lib.Drives)
    if (slot.Range.Ripper) ranges.push_back(std::move(slot.Range.Ripper));
  ++Lib.ListSerial;
  return ranges;
}

// Stops a range that a call found still open after EndRange (another thread opened it
// meanwhile), once that call has let go of the lock.
void StopDisplaced(const std::shared_ptr<ReadAhead>& Range) {
  if (Range) Range->Stop();
}

void StopDisplaced(const std::vector<std::shared_ptr<ReadAhead>>& Ranges) {
  for (const auto& range : Ranges) StopDisplaced(range);
}

}  // namespace
}  // namespace cdrip

using cdrip::Library;

extern "C" {

int32_t CR_Init(const char* iniPath) {
  std::vector<std::shared_ptr<cdrip::ReadAhead>> displaced;
  const int32_t result = cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    cdrip::SilenceCdLayer(lib);
    lib.SettingsFile = iniPath ? cdrip::IniFile::Load(iniPath) : cdrip::IniFile();
    lib.SettingsWarnings.clear();
    lib.Settings = cdrip::SettingsFrom(lib.SettingsFile, lib.SettingsWarnings);
    lib.ReadsAhead = cdrip::ReadAheadFromEnvironment();
    displaced = cdrip::DisplaceAllRanges(lib);
    cdrip::ListDevices(lib);
    return 0;
  });
  cdrip::StopDisplaced(displaced);
  return result;
}

int32_t CR_DeInit(void) {
  std::vector<std::shared_ptr<cdrip::ReadAhead>> displaced;
  const int32_t result = cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    displaced = cdrip::DisplaceAllRanges(lib);
    lib.Drives.clear();
    lib.DeviceCount = 0;
    lib.Active = -1;
    cdrip::RestoreCdLayerLog(lib);
    return 0;
  });
  cdrip::StopDisplaced(displaced);
  return result;
}

int32_t CR_GetNumCDROM(void) {
  return cdrip::Guarded<int32_t>(
      0, [](Library& lib) { return static_cast<int32_t>(lib.Drives.size()); });
}

int32_t CR_SetActiveCDROM(int32_t drive) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return -1;
    lib.Active = drive;
    cdrip::ChosenDrive = cdrip::ThreadChoice{lib.ListSerial, drive};
    return 0;
  });
}

int32_t CR_IsMediaLoaded(int32_t* status) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (!status) return -1;
    *status = 1;
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot) return -1;
    if (slot->Unit->MediaLoaded()) *status = 0;
    return 0;
  });
}

int32_t CR_IsAudioPlaying(void) {
  return cdrip::Guarded<int32_t>(0, [](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    return slot && slot->Unit->AudioPlaying() ? 1 : 0;
  });
}

int32_t CR_ReadToc(void) {
  return cdrip::Guarded<int32_t>(-1, [](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot) return -1;
    slot->SetContents(slot->Unit->ReadToc());
    return slot->Contents ? 0 : -1;
  });
}

int32_t CR_CheckDisc(void) {
  return cdrip::Guarded<int32_t>(-1, [](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot) return -1;
    std::optional<cdrip::Toc> now = slot->Unit->ReadToc();
    if (!now) return -1;
    if (!slot->Contents) {
      slot->SetContents(std::move(now));
      return 0;
    }
    return cdrip::SameDisc(*slot->Contents, *now) ? 0 : 1;
  });
}

int32_t CR_GetNumTocEntries(void) {
  return cdrip::Guarded<int32_t>(0, [](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot || !slot->Contents) return 0;
    return static_cast<int32_t>(slot->Contents->Tracks.size());
  });
}

int32_t CR_GetTrackPregap(int32_t index, int32_t* sectors) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!sectors || !slot || !slot->Contents || index < 0) return -1;
    if (!slot->PregapsSought) {
      slot->Unit->FindPregaps(*slot->Contents);
      slot->PregapsSought = true;
    }
    const std::vector<cdrip::TrackEntry>& tracks = slot->Contents->Tracks;
    const size_t at = static_cast<size_t>(index);
    if (at >= tracks.size() || tracks[at].Pregap < 0) return -1;
    *sectors = tracks[at].Pregap;
    return 0;
  });
}

CR_TocEntry CR_GetTocEntry(int32_t index) {
  return cdrip::Guarded<CR_TocEntry>(CR_TocEntry{}, [&](Library& lib) {
    CR_TocEntry entry{};
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot || !slot->Contents || index < 0) return entry;
    const std::vector<cdrip::TrackEntry>& tracks = slot->Contents->Tracks;
    const size_t at = static_cast<size_t>(index);
    if (at < tracks.size()) {
      entry.StartSector = tracks[at].StartSector;
      entry.Flag = tracks[at].Flag;
      entry.TrackNumber = tracks[at].Number;
      entry.Session = tracks[at].Session;
    } else if (at == tracks.size() && !tracks.empty()) {
      // The lead-out carries the control flags of the track before it.
      entry.StartSector = slot->Contents->LeadOut;
      entry.Flag = tracks.back().Flag;
      entry.TrackNumber = CR_LEADOUT_TRACK;
    }
    return entry;
  });
}

int32_t CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
  // The old range's reader stops before the new one starts reading the drive.
  cdrip::EndRange();
  std::shared_ptr<cdrip::ReadAhead> displaced;
  const int32_t result = cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    displaced = cdrip::DisplaceRange(lib);
    std::optional<cdrip::RipRange> range =
        cdrip::OpenRange(lib, bufferSize, startSector, endSector);
    if (!range) return -1;
    cdrip::DriveRange& open = lib.ActiveRange();
    open.Ripper = std::make_shared<cdrip::ReadAhead>(std::move(*range), cdrip::ReadAheadDepth(lib));
    open.LastReport = cdrip::ReadReport{};
    return 0;
  });
  cdrip::StopDisplaced(displaced);
  return result;
}

// Waits for the chunk on the range's own lock, not the library's.
int32_t CR_RipChunk(uint8_t* buffer, int32_t* byteCount, int32_t* abort) {
  if (!byteCount) return -1;
  *byteCount = 0;
  const std::shared_ptr<cdrip::ReadAhead> range = cdrip::Guarded<std::shared_ptr<cdrip::ReadAhead>>(
      nullptr, [](Library& lib) { return lib.ActiveRange().Ripper; });
  if (!buffer || !range) return -1;
  try {
    if (abort && *abort) {
      range->Stop();
      return 0;
    }
    *byteCount = range->Next(buffer);
  } catch (...) {
    return -1;
  }
  return 0;
}

int32_t CR_GetReadReport(CR_ReadReport* report) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    const cdrip::DriveRange& range = lib.ActiveRange();
    if (!report || !range.LastReport) return -1;
    const cdrip::ReadReport read = range.Ripper ? range.Ripper->Report() : *range.LastReport;
    *report = CR_ReadReport{read.Rereads, read.Corrections, read.Skips, 0};
    return 0;
  });
}

int32_t CR_RequestStop(void) {
  const std::shared_ptr<cdrip::ReadAhead> range = cdrip::Guarded<std::shared_ptr<cdrip::ReadAhead>>(
      nullptr, [](Library& lib) { return lib.ActiveRange().Ripper; });
  if (range) range->RequestStop();
  return 0;
}

int32_t CR_GetFailedSector(int32_t* sector) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    const cdrip::DriveRange& range = lib.ActiveRange();
    if (!sector || !range.LastReport) return -1;
    const cdrip::ReadReport read = range.Ripper ? range.Ripper->Report() : *range.LastReport;
    if (read.FailedSector < 0) return -1;
    *sector = read.FailedSector;
    return 0;
  });
}

int32_t CR_GetMessages(char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    cdrip::DriveRange& range = lib.ActiveRange();
    range.OpenMessages += cdrip::TakeCdLayerLog();
    const std::string read = range.Ripper ? range.Ripper->Messages() : range.LastMessages;
    return cdrip::CopyText(range.OpenMessages + read, buffer, size);
  });
}

int32_t CR_CloseRipper(void) {
  cdrip::EndRange();
  return 0;
}

int32_t CR_EjectDisc(void) {
  cdrip::EndRange();
  return cdrip::Guarded<int32_t>(-1, [](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot || !slot->Unit->Eject()) return -1;
    slot->Contents.reset();
    return 0;
  });
}

int32_t CR_AddImageDrive(const char* path) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    lib.LastError.clear();
    if (!path || !*path) {
      lib.LastError = "No disc image was named.";
      return -1;
    }
    cdrip::SilenceCdLayer(lib);
    const std::string name = std::filesystem::absolute(path).lexically_normal().string();
    for (size_t i = lib.DeviceCount; i < lib.Drives.size(); ++i)
      if (lib.Drives[i].Unit->Name() == name) return static_cast<int32_t>(i);
    try {
      lib.Drives.push_back(cdrip::DriveSlot{cdrip::MakeAddedDrive(name), std::nullopt, false, {}});
    } catch (const std::exception& e) {
      lib.LastError = e.what();
      return -1;
    }
    if (lib.Active < 0) lib.Active = 0;
    return static_cast<int32_t>(lib.Drives.size() - 1);
  });
}

int32_t CR_GetLastError(char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(
      -1, [&](Library& lib) { return cdrip::CopyText(lib.LastError, buffer, size); });
}

int32_t CR_GetLastSessionStart(int32_t* sector) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!sector || !slot || !slot->Contents) return -1;
    *sector = slot->Contents->LastSessionStart;
    return 0;
  });
}

int32_t CR_GetCdText(int32_t track, int32_t field, char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    cdrip::DriveSlot* slot = lib.ActiveSlot();
    if (!slot || !slot->Contents || field < 0 || field >= cdrip::TextFieldCount) return -1;
    const auto text = slot->Contents->Text.Get(track, static_cast<cdrip::TextField>(field));
    return cdrip::CopyText(text, buffer, size);
  });
}

int32_t CR_GetReadOffset(int32_t drive, int32_t* samples) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (!samples || drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return -1;
    *samples = cdrip::ReadOffsetOf(lib.SettingsFile, *lib.Drives[static_cast<size_t>(drive)].Unit)
                   .value_or(0);
    return 0;
  });
}

int32_t CR_GetDriveModel(int32_t drive, char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return -1;
    return cdrip::CopyText(lib.Drives[static_cast<size_t>(drive)].Unit->Model(), buffer, size);
  });
}

int32_t CR_GetDriveRevision(int32_t drive, char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return -1;
    return cdrip::CopyText(lib.Drives[static_cast<size_t>(drive)].Unit->Revision(), buffer, size);
  });
}

int32_t CR_GetReadMode(char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    return cdrip::CopyText(cdrip::ReadModeText(lib.Settings), buffer, size);
  });
}

int32_t CR_GetSettingsWarnings(char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(
      -1, [&](Library& lib) { return cdrip::CopyText(lib.SettingsWarnings, buffer, size); });
}

int32_t CR_GetDriveName(int32_t drive, char* buffer, int32_t size) {
  return cdrip::Guarded<int32_t>(-1, [&](Library& lib) {
    if (drive < 0 || static_cast<size_t>(drive) >= lib.Drives.size()) return -1;
    return cdrip::CopyText(lib.Drives[static_cast<size_t>(drive)].Unit->Name(), buffer, size);
  });
}

}  // extern "C"
