#include "fake_drive.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "drive_faults.h"
#include "image_drive.h"

namespace fakedrive {
namespace {

using Clock = std::chrono::steady_clock;

// When the drive's own file was last changed: a new mark closes an open tray.
struct FileMark {
  int64_t Seconds = 0, Nanoseconds = 0, Size = 0;
  bool operator==(const FileMark& Other) const {
    return Seconds == Other.Seconds && Nanoseconds == Other.Nanoseconds && Size == Other.Size;
  }
};

struct DriveSlot {
  std::string Path;         // as the test names it, made absolute
  std::string Image;        // empty: the drive holds no disc
  std::string Tray;         // a tray folder: Image is the disc in it, if any
  bool Unreadable = false;  // the tray's disc cannot be read
  std::unique_ptr<cdrip::Drive> Unit;
  std::unique_ptr<cdrip::SectorReader> Reader;
  uint64_t ReaderGeneration = 0;  // of the image the reader reads
  // Fault state.
  std::map<int32_t, int> FlakyReadsDone;
  bool TrayOpened = false;    // the tray-open fault has fired
  bool TrayIsOpen = false;    // and the tray has not been closed since
  FileMark MarkAtOpening;     // the drive file when the tray opened
  Clock::time_point ReadyAt;  // when a paced drive has read all it was asked
  uint64_t Noise = 0x9E3779B97F4A7C15ULL;
};

struct Drives {
  std::vector<DriveSlot> Slots;
  DriveFaults Faults;
  std::mutex Lock;  // guards the slots' contents, not the list (fixed after parsing)
};

std::string Absolute(const char* Path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(Path, error);
  return error ? std::string(Path) : absolute.lexically_normal().string();
}

// The path with every link resolved, or empty when it is not there. The C library's
// realpath asks the kernel itself, so the interposed stat calls are not re-entered.
std::string Resolved(const char* Path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(Path, nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// "path:image;path:image": the image is everything after the first ':' of an entry.
std::vector<DriveSlot> Parse(const char* Setting) {
  std::vector<DriveSlot> slots;
  std::string text = Setting ? Setting : "";
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(';', begin);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(begin, end - begin);
    const size_t colon = entry.find(':');
    const std::string path = entry.substr(0, colon);
    if (!path.empty()) {
      DriveSlot slot;
      const std::string real = Resolved(path.c_str());
      slot.Path = real.empty() ? Absolute(path.c_str()) : real;
      if (colon != std::string::npos) slot.Image = entry.substr(colon + 1);
      if (!slot.Image.empty() && slot.Image.back() == '/') slot.Tray = std::move(slot.Image);
      slots.push_back(std::move(slot));
    }
    begin = end + 1;
  }
  return slots;
}

DriveFaults FaultsFromEnvironment() {
  const char* text = std::getenv("KORVANE_FAKE_DRIVE_FAULTS");
  std::string error;
  DriveFaults faults = ParseFaults(text ? text : "", error);
  if (!error.empty()) {
    // A test that asks for a fault the drive does not know must not pass unnoticed.
    std::fprintf(stderr, "fakedrive: KORVANE_FAKE_DRIVE_FAULTS: %s\n", error.c_str());
    std::_Exit(2);
  }
  return faults;
}

// Parsed once, on the first call from the program: the environment is read then.
Drives& State() {
  static Drives* drives = [] {
    auto* made = new Drives;  // never freed: calls may come during the program's exit
    made->Slots = Parse(std::getenv("KORVANE_FAKE_DRIVE"));
    if (!made->Slots.empty()) made->Faults = FaultsFromEnvironment();
    return made;
  }();
  return *drives;
}

DriveSlot& SlotOf(int Drive) { return State().Slots.at(static_cast<size_t>(Drive)); }

// Descriptors of drives: drive index + 1 per descriptor number, 0 for others.
constexpr int MaxFds = 4096;
std::atomic<int> FdDrives[MaxFds];

bool Logging() {
  static const bool on = [] {
    const char* value = std::getenv("KORVANE_FAKE_DRIVE_LOG");
    return value && std::strcmp(value, "1") == 0;
  }();
  return on;
}

FileMark MarkOf(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return FileMark{};
  return FileMark{info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_size};
}

bool IsImageName(const std::filesystem::path& Path) {
  std::string extension = Path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".cue" || extension == ".toc" || extension == ".nrg";
}

// The disc in a tray folder: its first image by name; empty when there is none. Another
// disc than before is read afresh.
void LookInTray(DriveSlot& Slot) {
  std::string first;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Slot.Tray, error))
    if (IsImageName(entry.path()) && (first.empty() || entry.path().string() < first))
      first = entry.path().string();
  if (first == Slot.Image) return;
  Log("tray: %s", first.empty() ? "no disc" : first.c_str());
  Slot.Image = first;
  Slot.Unit.reset();
  Slot.Reader.reset();
  Slot.Unreadable = false;
}

// The drive's image as it is now; an image that cannot be opened is no disc (in a tray
// folder: a disc that cannot be read). An open tray closes when the drive's file has
// been touched since it opened. Called with the lock held.
cdrip::Drive* Loaded(DriveSlot& Slot) {
  if (!Slot.Tray.empty()) LookInTray(Slot);
  if (Slot.TrayIsOpen && !(MarkOf(Slot.Path) == Slot.MarkAtOpening)) {
    Log("tray closed");
    Slot.TrayIsOpen = false;
    Slot.Reader.reset();
  }
  if (Slot.Image.empty() || Slot.TrayIsOpen || State().Faults.NoDisc) return nullptr;
  if (!Slot.Unit) {
    try {
      Slot.Unit = cdrip::MakeImageDrive(Absolute(Slot.Image.c_str()));
    } catch (const std::exception& e) {
      Log("image %s: %s", Slot.Image.c_str(), e.what());
      Slot.Unreadable = !Slot.Tray.empty();
      return nullptr;
    }
  }
  if (!Slot.Unit->MediaLoaded()) return nullptr;
  // An image written anew is another disc: the reader of the old one's files goes.
  const std::optional<cdrip::Toc> toc = Slot.Unit->ReadToc();
  if (toc && toc->Generation != Slot.ReaderGeneration) {
    Slot.Reader.reset();
    Slot.ReaderGeneration = toc->Generation;
  }
  return Slot.Unit.get();
}

// The disc's table, with the data session that the fault adds. Called with the lock held.
std::optional<cdrip::Toc> TocOf(cdrip::Drive& Unit) {
  std::optional<cdrip::Toc> toc = Unit.ReadToc();
  if (!toc || toc->Tracks.empty() || !State().Faults.DataSession) return toc;
  const int32_t start = toc->LeadOut + cdrip::SessionGapSectors;
  const auto number = static_cast<uint8_t>(toc->Tracks.back().Number + 1);
  toc->Tracks.push_back(cdrip::TrackEntry{start, 0x14, number});
  toc->LastSessionStart = start;
  toc->LeadOut = start + AddedDataSectors;
  return toc;
}

// Sectors First .. First + Count - 1 of the image into Out; silence outside the image's
// own sectors, and where it cannot deliver them (a data track not in the image).
void ReadImage(DriveSlot& Slot, int32_t ImageEnd, int64_t First, int32_t Count, uint8_t* Out) {
  std::memset(Out, 0, static_cast<size_t>(Count) * cdrip::SectorBytes);
  const int64_t from = std::max<int64_t>(First, 0);
  const int64_t to = std::min<int64_t>(First + Count, ImageEnd);
  if (from >= to) return;
  if (!Slot.Reader) Slot.Reader = Slot.Unit->OpenReader(cdrip::ReadSettings{});
  if (!Slot.Reader) return;
  Slot.Reader->Read(Out + (from - First) * cdrip::SectorBytes, static_cast<int32_t>(from),
                    static_cast<int32_t>(to - from));
}

int64_t FloorDiv(int64_t Value, int64_t Divisor) {
  return Value >= 0 ? Value / Divisor : -((-Value + Divisor - 1) / Divisor);
}

// The drive's sectors Lsn .. Lsn + Count - 1 as its read offset places them: drive
// sample s is the disc's sample s - Offset.
void ReadShifted(DriveSlot& Slot, int32_t ImageEnd, int32_t Lsn, int32_t Count, uint8_t* Out) {
  const int64_t shiftBytes = int64_t{State().Faults.OffsetSamples} * 4;
  const int64_t firstByte = int64_t{Lsn} * cdrip::SectorBytes - shiftBytes;
  const int64_t bytes = int64_t{Count} * cdrip::SectorBytes;
  const int64_t firstSector = FloorDiv(firstByte, cdrip::SectorBytes);
  const int64_t lastSector = FloorDiv(firstByte + bytes - 1, cdrip::SectorBytes);
  const auto span = static_cast<int32_t>(lastSector - firstSector + 1);
  std::vector<uint8_t> source(static_cast<size_t>(span) * cdrip::SectorBytes);
  ReadImage(Slot, ImageEnd, firstSector, span, source.data());
  std::memcpy(Out, source.data() + (firstByte - firstSector * cdrip::SectorBytes),
              static_cast<size_t>(bytes));
}

// How many first reads of Lsn give noise: those of the first flaky range holding it.
int FlakyReadsOf(int32_t Lsn) {
  for (const FlakyRange& range : State().Faults.Flaky)
    if (range.Sectors.Holds(Lsn)) return range.Reads;
  return 0;
}

// A flaky sector's first reads give noise, different on every try.
void SpoilFlakySectors(DriveSlot& Slot, int32_t Lsn, int32_t Count, uint8_t* Out) {
  for (int32_t sector = Lsn; sector < Lsn + Count; ++sector) {
    const int noisyReads = FlakyReadsOf(sector);
    if (noisyReads == 0 || ++Slot.FlakyReadsDone[sector] > noisyReads) continue;
    uint8_t* bytes = Out + static_cast<size_t>(sector - Lsn) * cdrip::SectorBytes;
    for (int i = 0; i < cdrip::SectorBytes; ++i) {
      Slot.Noise ^= Slot.Noise << 13;
      Slot.Noise ^= Slot.Noise >> 7;
      Slot.Noise ^= Slot.Noise << 17;
      bytes[i] = static_cast<uint8_t>(Slot.Noise);
    }
  }
}

// Why a read of the disc in the drive fails before it starts: the tray opening on it (a
// read that reaches the sector of the fault), or a sector that cannot be read.
std::optional<Sense> ReadFault(DriveSlot& Slot, int32_t Lsn, int32_t Count) {
  const DriveFaults& faults = State().Faults;
  const SectorRange trayOpening{faults.TrayOpenAt, faults.TrayOpenAt};
  if (faults.TrayOpenAt >= 0 && !Slot.TrayOpened && trayOpening.Meets(Lsn, Count)) {
    Log("tray opened at sector %d", Lsn);
    Slot.TrayOpened = Slot.TrayIsOpen = true;
    Slot.MarkAtOpening = MarkOf(Slot.Path);
    return OpenTray;
  }
  for (const SectorRange& range : faults.Unreadable)
    if (range.Meets(Lsn, Count)) return MediumError;
  return std::nullopt;
}

// When a paced drive will have read Count more sectors.
Clock::time_point Pace(DriveSlot& Slot, int32_t Count) {
  const double speed = State().Faults.Speed;
  if (speed <= 0) return Clock::time_point{};
  const auto duration = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(Count / (75.0 * speed)));
  Slot.ReadyAt = std::max(Slot.ReadyAt, Clock::now()) + duration;
  return Slot.ReadyAt;
}

}  // namespace

int DriveOfPath(const char* Path, bool FollowLinks) {
  if (!Path) return -1;
  Drives& drives = State();
  if (drives.Slots.empty()) return -1;
  const std::string absolute = Absolute(Path);
  const std::string real = FollowLinks ? Resolved(Path) : std::string();
  for (size_t i = 0; i < drives.Slots.size(); ++i)
    if (drives.Slots[i].Path == absolute || drives.Slots[i].Path == real)
      return static_cast<int>(i);
  return -1;
}

int DriveOfFd(int Fd) {
  if (Fd < 0 || Fd >= MaxFds) return -1;
  return FdDrives[Fd].load() - 1;
}

void RememberFd(int Fd, int Drive) {
  if (Fd >= 0 && Fd < MaxFds) FdDrives[Fd].store(Drive + 1);
}

void ForgetFd(int Fd) {
  if (Fd >= 0 && Fd < MaxFds) FdDrives[Fd].store(0);
}

Loading LoadingOf(int Drive) {
  DriveSlot& slot = SlotOf(Drive);
  std::lock_guard<std::mutex> hold(State().Lock);
  if (Loaded(slot)) return Loading::Disc;
  if (slot.Unreadable) return Loading::Unreadable;
  return slot.TrayIsOpen ? Loading::TrayOpen : Loading::Empty;
}

void Eject(int Drive) {
  DriveSlot& slot = SlotOf(Drive);
  std::lock_guard<std::mutex> hold(State().Lock);
  slot.Reader.reset();
  slot.Unit.reset();
  if (slot.Tray.empty()) {
    Log("eject: tray opened");
    slot.TrayIsOpen = true;
    slot.MarkAtOpening = MarkOf(slot.Path);
    return;
  }
  if (slot.Image.empty()) return;
  std::error_code error;
  std::filesystem::rename(slot.Image, slot.Image + ".ejected", error);
  Log("eject: %s taken out%s", slot.Image.c_str(), error ? " (it could not be moved)" : "");
  slot.Image.clear();
  slot.Unreadable = false;
}

const DriveFaults& Faults() { return State().Faults; }

Sense NotReady(int Drive) { return LoadingOf(Drive) == Loading::TrayOpen ? OpenTray : NoDisc; }

std::optional<cdrip::Toc> DiscToc(int Drive) {
  DriveSlot& slot = SlotOf(Drive);
  std::lock_guard<std::mutex> hold(State().Lock);
  cdrip::Drive* unit = Loaded(slot);
  if (!unit) return std::nullopt;
  return TocOf(*unit);
}

MmcResult ReadSectors(int Drive, int32_t Lsn, int32_t Count, uint8_t* Out) {
  DriveSlot& slot = SlotOf(Drive);
  Clock::time_point readyAt;
  {
    std::lock_guard<std::mutex> hold(State().Lock);
    cdrip::Drive* unit = Loaded(slot);
    if (!unit) return MmcResult{false, slot.TrayIsOpen ? OpenTray : NoDisc};
    const std::optional<cdrip::Toc> toc = TocOf(*unit);
    if (!toc || Lsn < 0 || Count < 0 || Lsn + Count > toc->LeadOut)
      return MmcResult{false, BadAddress};
    if (const std::optional<Sense> fault = ReadFault(slot, Lsn, Count))
      return MmcResult{false, *fault};
    const std::optional<cdrip::Toc> image = unit->ReadToc();
    ReadShifted(slot, image->LeadOut, Lsn, Count, Out);
    SpoilFlakySectors(slot, Lsn, Count, Out);
    readyAt = Pace(slot, Count);
  }
  std::this_thread::sleep_until(readyAt);
  return MmcResult{};
}

void Log(const char* Format, ...) {
  if (!Logging()) return;
  char line[512];
  va_list arguments;
  va_start(arguments, Format);
  std::vsnprintf(line, sizeof line, Format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "fakedrive: %s\n", line);
}

}  // namespace fakedrive
