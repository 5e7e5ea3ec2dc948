#include "jobs/drive_catalog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "bindings/cdrip_binding.h"
#include "cdrom/track_entry.h"
#include "jobs/disc_tags.h"
#include "text_case.h"

namespace {

// A disc image, or a CD device that the CD library did not list at its start: either
// is added as a drive when a track entry names it.
bool IsFileOrBlockDevice(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode));
}

}  // namespace

const char* const DriveNotReady = "The drive is not ready";

bool IsBlockDevice(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0 && S_ISBLK(info.st_mode);
}

std::vector<std::string> DiscImageExtensions() {
  std::vector<std::string> extensions;
  std::istringstream words(CDRIP_IMAGE_EXTENSIONS);
  for (std::string extension; words >> extension;) extensions.push_back(extension);
  return extensions;
}

bool IsDiscImageName(const std::string& Path) {
  const std::string extension = Lower(std::filesystem::path(Path).extension().string());
  const std::vector<std::string> known = DiscImageExtensions();
  return std::find(known.begin(), known.end(), extension) != known.end();
}

TDriveCatalog::TDriveCatalog() = default;

int TDriveCatalog::DriveCount() { return Browser_.DriveCount(); }

std::string TDriveCatalog::DriveName(int Drive) { return CDRipDriveName(Drive); }

int TDriveCatalog::FindDrive(const std::string& Name) { return CDRipFindDrive(Name); }

int TDriveCatalog::AddImageDrive(const std::string& Path) {
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(Path, error).lexically_normal().string();
  if (error) throw EAudioException(Path + ": " + error.message() + ".");
  const int existing = FindDrive(absolute);
  return existing >= 0 ? existing : CDRipAddImageDrive(absolute);
}

int TDriveCatalog::DriveOfSource(const std::string& Name) {
  const int drive = FindDrive(Name);
  if (drive >= 0) return drive;
  std::error_code error;
  if (!std::filesystem::exists(Name, error) && !error)
    throw EAudioException(Name + " does not exist.");
  return AddImageDrive(Name);
}

int TDriveCatalog::DriveOfEntry(const std::string& Entry) {
  const std::string root = TrackEntryDriveRoot(Entry);
  const int drive = FindDrive(root);
  if (drive >= 0) return drive;
  return IsFileOrBlockDevice(root) ? AddImageDrive(root) : -1;
}

int TDriveCatalog::ReadOffsetOf(int Drive) {
  Browser_.SetCurrentDrive(Drive);
  return Browser_.CurrentDrive() == Drive ? Browser_.DriveReadOffset() : 0;
}

TDriveListing TDriveCatalog::List(int Drive) {
  TDriveListing listing;
  listing.Drive = Drive;
  listing.Name = DriveName(Drive);
  Browser_.SetCurrentDrive(Drive);
  if (Browser_.CurrentDrive() != Drive || Browser_.GetDriveState() == dsNotReady) return listing;
  const int tracks = Browser_.GetTrackCount();
  if (tracks < 0) return listing;
  listing.Ready = true;
  for (int track = 1; track <= tracks; ++track)
    listing.Tracks.push_back(
        {TrackEntryPath(listing.Name, track), track, Browser_.GetTrackInfo(track), std::nullopt});
  listing.Toc = DiscTocOf(Browser_.GetTocEntries(), Browser_.GetLastSessionStart());
  listing.HiddenSectors = Browser_.HiddenAudioSectors();
  listing.Text = DiscTextOf(Browser_, tracks);
  listing.TextNote = Browser_.GetCdText(0, CR_TEXT_NOTE);
  return listing;
}

std::vector<TDriveListing> TDriveCatalog::ListAll() {
  std::vector<TDriveListing> drives;
  const int count = DriveCount();
  for (int drive = 0; drive < count; ++drive) drives.push_back(List(drive));
  return drives;
}
