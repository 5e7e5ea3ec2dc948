#include "fake_drive.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "image_drive.h"

namespace fakedrive {
namespace {

struct DriveSlot {
  std::string Path;   // as the test names it, made absolute
  std::string Image;  // empty: the drive holds no disc
  std::unique_ptr<cdrip::Drive> Unit;
  std::unique_ptr<cdrip::SectorReader> Reader;
};

struct Drives {
  std::vector<DriveSlot> Slots;
  std::mutex Lock;  // guards the images and readers, not the list (fixed after parsing)
};

std::string Absolute(const char* Path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(Path, error);
  return error ? std::string(Path) : absolute.lexically_normal().string();
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
      slot.Path = Absolute(path.c_str());
      if (colon != std::string::npos) slot.Image = entry.substr(colon + 1);
      slots.push_back(std::move(slot));
    }
    begin = end + 1;
  }
  return slots;
}

// Parsed once, on the first call from the program: the environment is read then.
Drives& State() {
  static Drives* drives = [] {
    auto* made = new Drives;  // never freed: calls may come during the program's exit
    made->Slots = Parse(std::getenv("KORVANE_FAKE_DRIVE"));
    return made;
  }();
  return *drives;
}

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

// The drive's image as it is now; an image that cannot be opened is no disc. Called
// with the lock held.
cdrip::Drive* Loaded(DriveSlot& Slot) {
  if (Slot.Image.empty()) return nullptr;
  if (!Slot.Unit) {
    try {
      Slot.Unit = cdrip::MakeImageDrive(Absolute(Slot.Image.c_str()));
    } catch (const std::exception& e) {
      Log("image %s: %s", Slot.Image.c_str(), e.what());
      return nullptr;
    }
  }
  return Slot.Unit->MediaLoaded() ? Slot.Unit.get() : nullptr;
}

}  // namespace

int DriveOfPath(const char* Path) {
  if (!Path) return -1;
  Drives& drives = State();
  if (drives.Slots.empty()) return -1;
  const std::string absolute = Absolute(Path);
  for (size_t i = 0; i < drives.Slots.size(); ++i)
    if (drives.Slots[i].Path == absolute) return static_cast<int>(i);
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

std::optional<cdrip::Toc> DiscToc(int Drive) {
  DriveSlot& slot = State().Slots.at(static_cast<size_t>(Drive));
  std::lock_guard<std::mutex> hold(State().Lock);
  cdrip::Drive* unit = Loaded(slot);
  if (!unit) return std::nullopt;
  return unit->ReadToc();
}

bool ReadSectors(int Drive, int32_t Lsn, int32_t Count, uint8_t* Out) {
  DriveSlot& slot = State().Slots.at(static_cast<size_t>(Drive));
  std::lock_guard<std::mutex> hold(State().Lock);
  cdrip::Drive* unit = Loaded(slot);
  if (!unit) return false;
  const std::optional<cdrip::Toc> contents = unit->ReadToc();
  if (!contents || Lsn < 0 || Count < 0 || Lsn + Count > contents->LeadOut) return false;
  if (!slot.Reader) slot.Reader = unit->OpenReader(cdrip::ReadSettings{});
  return slot.Reader && slot.Reader->Read(Out, Lsn, Count) == Count;
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
