#include "cdrom/track_entry.h"

#include <cstdio>

#include "core/audio_exception.h"

std::string TrackEntryPath(const std::string& DriveName, int Track) {
  char name[32];
  std::snprintf(name, sizeof name, "/Track%02d.cda", Track);
  return DriveName + name;
}

std::string TrackEntryDriveRoot(const std::string& Entry) {
  const size_t slash = Entry.rfind('/');
  return slash == std::string::npos ? std::string() : Entry.substr(0, slash);
}

std::string TrackEntryFileName(const std::string& Entry) {
  const size_t slash = Entry.rfind('/');
  return slash == std::string::npos ? Entry : Entry.substr(slash + 1);
}

std::string TrackEntryCaption(const std::string& Entry) {
  const std::string name = TrackEntryFileName(Entry);
  return name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
}

bool HasTrackEntryExtension(const std::string& Entry) {
  return Entry.size() >= 4 && Entry.compare(Entry.size() - 4, 4, ".cda") == 0;
}

int TrackEntryNumber(const std::string& Entry) {
  const std::string name = TrackEntryFileName(Entry);
  const std::string digits = name.size() > 9 ? name.substr(5, name.size() - 9) : std::string();
  bool valid = !digits.empty() && digits.size() <= 9;
  for (char c : digits) valid = valid && c >= '0' && c <= '9';
  if (!valid)
    throw EAudioException("'" + name + "' is not a track entry: its name holds no track number.");
  return std::stoi(digits);
}
