// What the drives of the CD ripping library hold, for choosing tracks and for finding
// the drive of a track entry ("<drive name>/TrackNN.cda") or of a source named on a
// command line (a device or a disc image).
//
// The catalog reads drives through a CD source of its own, so that browsing never
// changes the settings of the source a run reads (the window's `CDIn1`) nor disturbs a
// read it has open: the library's ripper keeps reading the drive it was opened on
// whichever drive is active. The front end's main thread only.
#pragma once

#include <string>
#include <vector>

#include "cdrom/audio_cdrom.h"
#include "lookup/disc_identity.h"
#include "lookup/disc_lookup.h"

struct TTrackListing {
  std::string Entry;  // its track entry
  int Track = 0;
  TCDTrackInfo Info;
  // Before its INDEX 01: left out of a listing (a drive's costs reads), asked for when
  // the disc's proof is written.
  std::optional<int32_t> Pregap;
};

struct TDriveListing {
  int Drive = -1;
  std::string Name;
  bool Ready = false;  // holds a disc whose table of contents could be read
  std::vector<TTrackListing> Tracks;
  TDiscToc Toc;  // the table, for the disc's identities
  // Sectors of audio before track 1's INDEX 01 (hidden track one audio, its track 0);
  // 0: none.
  int32_t HiddenSectors = 0;
  TDiscInfo Text;        // what the disc says of itself (CD-Text, a cue sheet's texts)
  std::string TextNote;  // what of a drive's CD-Text was left out and why; empty: nothing
};

class TDriveCatalog {
 public:
  // Raises EAudioException when the CD ripping library cannot be loaded.
  TDriveCatalog();

  int DriveCount();
  // The drive's name as the library gives it; empty when there is no such drive.
  std::string DriveName(int Drive);
  // The number of the drive that Name denotes (links resolved); -1 when there is none.
  int FindDrive(const std::string& Name);
  // Adds a disc image as a drive (or finds the drive it was added as). Raises
  // EAudioException, saying why, when it cannot be opened.
  int AddImageDrive(const std::string& Path);
  // The drive that Name denotes, a device or an image added for it. Raises
  // EAudioException, saying why, when there is none: Name is missing, or no CD drive or
  // disc image that can be read.
  int DriveOfSource(const std::string& Name);
  // The drive that a track entry belongs to: the drive named by the entry's drive root,
  // or else the disc image file (or unlisted CD device) of that name, added as a drive;
  // such an entry is never read from another drive's disc. -1 when neither is there;
  // raises EAudioException, saying why, when the root is a file that cannot be opened.
  int DriveOfEntry(const std::string& Entry);

  // The read offset that cdr.ini keeps for the drive, in samples (0 when none).
  int ReadOffsetOf(int Drive);

  TDriveListing List(int Drive);
  std::vector<TDriveListing> ListAll();

 private:
  TCDIn Browser_;
};

// The failure of a job whose drive is not there (or holds no disc).
extern const char* const DriveNotReady;

// The extensions of the disc images that the CD library opens (".cue", ...).
std::vector<std::string> DiscImageExtensions();
// True for the file names of disc images that can be added as drives, in any letter case.
bool IsDiscImageName(const std::string& Path);
// True for a block device (or a link to one): a CD drive, whether or not the CD library
// listed it.
bool IsBlockDevice(const std::string& Path);
