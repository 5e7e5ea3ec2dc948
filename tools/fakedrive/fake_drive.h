// A software CD drive for the tests: preloaded into a program, it makes the paths named
// in KORVANE_FAKE_DRIVE ("/dir/sr0:/path/disc.cue", several separated by ';') look to
// the CD layer and the paranoia layer like CD drives holding those disc images. The
// paths themselves are ordinary (empty) files; the stat calls report them as block
// devices, their descriptors are real ones of those files, and the CD-ROM ioctls on
// such a descriptor are answered here from the image, read with our own image readers.
// KORVANE_FAKE_DRIVE_LOG=1 logs every call on a drive to standard error, and
// KORVANE_FAKE_DRIVE_FAULTS gives the drives faults (see drive_faults.h).
//
// An image part that ends in "/" names a tray folder ("/dir/sr0:/dir/tray0/"): the
// drive holds the first disc image in it (.cue, .toc or .nrg, in name order) and none
// while it holds none, so a disc is put in while the program runs by writing an image
// there (its sheet last, or renamed into place). An image there that cannot be read is
// a disc the drive cannot read: ready, with no table of contents. The drive answers an
// eject (CDROMEJECT, START STOP UNIT with LoEj): the disc of a tray folder is taken out,
// its sheet renamed "NAME.ejected"; a drive of one image opens its tray, which closes
// when the drive's file is touched.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive.h"
#include "drive_faults.h"

namespace fakedrive {

// MMC sense data: key, additional sense code and qualifier.
struct Sense {
  uint8_t Key = 0;
  uint8_t Asc = 0;
  uint8_t Ascq = 0;
};
constexpr Sense NoDisc{0x02, 0x3A, 0x00};       // NOT READY, medium not present
constexpr Sense BadOpcode{0x05, 0x20, 0x00};    // ILLEGAL REQUEST, invalid command
constexpr Sense BadAddress{0x05, 0x21, 0x00};   // ILLEGAL REQUEST, LBA out of range
constexpr Sense BadField{0x05, 0x24, 0x00};     // ILLEGAL REQUEST, invalid field in CDB
constexpr Sense OpenTray{0x02, 0x3A, 0x02};     // NOT READY, medium not present, tray open
constexpr Sense MediumError{0x03, 0x11, 0x00};  // MEDIUM ERROR, unrecovered read error

// The index of the drive whose path this is, or -1. Relative paths are taken from the
// working directory; links to a drive lead to it unless FollowLinks is false (lstat).
int DriveOfPath(const char* Path, bool FollowLinks = true);
// The drive a descriptor was opened on, or -1.
int DriveOfFd(int Fd);
void RememberFd(int Fd, int Drive);
void ForgetFd(int Fd);

// What the drive holds: a disc, nothing, or its tray is open.
enum class Loading { Disc, Empty, TrayOpen, Unreadable };
Loading LoadingOf(int Drive);
// The sense of a drive without a disc to read: tray open, or no medium.
Sense NotReady(int Drive);

// Ejects the drive's disc (see above).
void Eject(int Drive);

// The table of the disc in the drive, read anew from its image; nothing without a disc.
std::optional<cdrip::Toc> DiscToc(int Drive);

// The faults of every drive (KORVANE_FAKE_DRIVE_FAULTS).
const DriveFaults& Faults();

// The formatted Q sub-channel (16 bytes) of sector Lsn of the disc into Out.
void FormattedQ(const cdrip::Toc& Toc, int32_t Lsn, uint8_t* Out);

// Logs one line to standard error when KORVANE_FAKE_DRIVE_LOG is 1.
void Log(const char* Format, ...) __attribute__((format(printf, 1, 2)));

// The answer to an MMC command: the bytes moved (for data-in commands) or the sense.
struct MmcResult {
  bool Ok = true;
  Sense Error;
};
// Copies Count sectors of 2352 bytes from Lsn on into Out, as the drive reads them
// (with its faults); the sense when it cannot.
MmcResult ReadSectors(int Drive, int32_t Lsn, int32_t Count, uint8_t* Out);

// Runs the command block Cdb on the drive; data-in commands fill at most Length bytes
// of Buffer (the rest of the buffer is left as it is).
MmcResult RunMmc(int Drive, const uint8_t* Cdb, uint8_t* Buffer, uint32_t Length);

// The disc's texts as the CD-Text packs of its lead-in; none when it has no text.
std::vector<uint8_t> CdTextPacks(const cdrip::Toc& Toc);

// Answers a CD-ROM or SCSI ioctl on a drive's descriptor as the kernel would: the
// return value, with errno set when it is -1.
int DriveIoctl(int Drive, unsigned long Request, void* Argument);

// Addresses: MSF counts 150 sectors before LSN 0.
struct Msf {
  uint8_t M, S, F;
};
inline Msf MsfOf(int32_t Lsn) {
  const int32_t at = Lsn + 150;
  return Msf{static_cast<uint8_t>(at / (60 * 75)), static_cast<uint8_t>(at / 75 % 60),
             static_cast<uint8_t>(at % 75)};
}

}  // namespace fakedrive
