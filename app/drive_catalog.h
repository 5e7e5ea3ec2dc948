// What the drives of the CD ripping library hold, for choosing tracks and for finding
// the drive of a track entry ("<drive name>/TrackNN.cda").
//
// The catalog reads drives through a CD source of its own, so that browsing never
// changes the settings of the window's `CDIn1` nor disturbs a read it has open: the
// library's ripper keeps reading the drive it was opened on whichever drive is active.
// Window thread only.
#pragma once

#include <string>
#include <vector>

#include "audio_cdrom.h"

struct TTrackListing {
  std::string Entry;  // its track entry
  int Track = 0;
  TCDTrackInfo Info;
};

struct TDriveListing {
  int Drive = -1;
  std::string Name;
  bool Ready = false;  // holds a disc whose table of contents could be read
  std::vector<TTrackListing> Tracks;
};

class TDriveCatalog {
 public:
  // Raises EAudioException when the CD ripping library cannot be loaded.
  TDriveCatalog();

  int DriveCount();
  // The drive's name as the library gives it; empty when there is no such drive.
  std::string DriveName(int Drive);
  // The number of the drive whose name equals Name exactly; -1 when there is none.
  int FindDrive(const std::string& Name);
  // Adds a disc image as a drive (or finds the drive it was added as); -1 when it
  // cannot be opened.
  int AddImageDrive(const std::string& Path);
  // The drive that a track entry belongs to: the drive named by the entry's drive root,
  // or else the disc image file of that name, added as a drive. -1 when neither exists:
  // such an entry is never read from another drive's disc.
  int DriveOfEntry(const std::string& Entry);

  TDriveListing List(int Drive);
  std::vector<TDriveListing> ListAll();
  // The track entries of the drive's audio tracks, in track order.
  std::vector<std::string> AudioTrackEntries(int Drive);

 private:
  TCDIn Browser_;
};

// True for the file names of disc images that can be added as drives: .cue, .toc and
// .nrg, in any letter case.
bool IsDiscImageName(const std::string& Path);
