/* The CD ripping library: drive selection, table of contents and chunked reading of a
 * sector range, for CD drives and for disc images added as drives.
 *
 * Drive numbers 0 .. CR_GetNumCDROM() - 1 are the CD drives found at CR_Init (in the
 * order the CD layer lists them), followed by the disc images added with
 * CR_AddImageDrive. Every call after CR_SetActiveCDROM addresses the active drive.
 * Audio comes as 16-bit stereo little-endian PCM at 44100 Hz, 2352 bytes a sector.
 *
 * The library guards its state with one lock, so calls may come from several threads.
 * The active drive is chosen per thread (a thread that chose none addresses the drive
 * chosen last), and each drive has a ripper of its own: threads that choose different
 * drives read them at the same time. A ripper is read by one thread at a time. After
 * CR_OpenRipper on a CD drive a thread of the library reads the range ahead of
 * CR_RipChunk, at most CR_READ_AHEAD_CHUNKS chunks ahead, so that the drive goes on
 * streaming while the caller encodes; no call waits for that thread's read of a sector
 * except the CR_RipChunk that needs it and the calls that end the range (a read of the
 * drive in progress is interrupted between two of its commands).
 * Images read as fast as they are asked, so their chunks are read when asked for. */
#ifndef KORVANE_CDRIP_H
#define KORVANE_CDRIP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CDRIP_API __attribute__((visibility("default")))

/* One entry of the table of contents, returned by value (8 bytes). */
typedef struct {
  int32_t StartSector; /* first sector (LSN) of the track's INDEX 01; lead-out: its LSN */
  uint8_t Flag;        /* CR_FLAG_AUDIO or CR_FLAG_DATA */
  uint8_t TrackNumber; /* the track's number; CR_LEADOUT_TRACK for the lead-out */
  uint8_t Session;     /* the track's session, from 1; 0 when the drive does not tell */
  uint8_t Reserved;
} CR_TocEntry;

#define CR_FLAG_AUDIO 0x10
#define CR_FLAG_DATA 0x14
#define CR_LEADOUT_TRACK 0xAA
#define CR_SECTOR_BYTES 2352
#define CR_MAX_CHUNK_BYTES 176400 /* 75 sectors: one second of CD audio */
/* Chunks read ahead of CR_RipChunk at most: 24 of the range's chunk size, so at most
 * 24 x 176400 bytes (4.2 MB) wait in the library. A drive read through the paranoia
 * layer delivers in bursts of its cache model (1200 sectors, 16 chunks): the queue holds
 * a whole burst and more, so the next burst starts while the caller encodes the last. */
#define CR_READ_AHEAD_CHUNKS 24

/* Reads the settings file (may be NULL or missing: defaults then) and lists the CD
 * drives. Section "CD-ROM": "ParanoiaMode" = full | overlap | disable (default full),
 * "ParanoiaRetries" = re-reads of a bad sector before it is given up (default 20).
 * The environment variable KORVANE_CDRIP_READ_AHEAD=0 turns reading ahead off: each
 * chunk of a drive is then read when CR_RipChunk asks for it, on the caller's thread
 * (benchmarks compare the two); KORVANE_CDRIP_READ_AHEAD=all reads images ahead too.
 * Ends an open ripper. Returns 0. */
CDRIP_API int32_t CR_Init(const char* iniPath);
/* Ends any ripper and releases every drive, added images included. Returns 0. */
CDRIP_API int32_t CR_DeInit(void);
/* Number of drives: CD drives, then added images. */
CDRIP_API int32_t CR_GetNumCDROM(void);
/* Makes drive the active one for the calling thread (and for threads that chose none);
 * -1 (and no change) when there is no such drive. */
CDRIP_API int32_t CR_SetActiveCDROM(int32_t drive);
/* *status := 0 when the active drive holds a disc (an image whose files open), any
 * other value when it is not ready. Returns 0, or -1 without an active drive. */
CDRIP_API int32_t CR_IsMediaLoaded(int32_t* status);
/* Nonzero while the active drive plays audio (never for images). */
CDRIP_API int32_t CR_IsAudioPlaying(void);
/* Reads the active drive's table of contents; 0 = success. */
CDRIP_API int32_t CR_ReadToc(void);
/* Whether the active drive still holds the disc of the last table read (CR_ReadToc):
 * its table is read anew and compared, tracks, sessions and lead-out, and for an image
 * the state of its files (size and modification time), which a rewritten or truncated
 * image changes. The last table read stays as it was. Returns 0 when it is the same
 * disc (and when no table was read before: the one read now is kept as the last),
 * 1 when the disc changed, -1 when no table can be read. */
CDRIP_API int32_t CR_CheckDisc(void);
/* Number of tracks N of the last table read: entries 0 .. N, entry N the lead-out. */
CDRIP_API int32_t CR_GetNumTocEntries(void);
/* Entry index of the last table read; all zero when there is no such entry. */
CDRIP_API CR_TocEntry CR_GetTocEntry(int32_t index);
/* *sectors := the pre-gap of the track of entry index (0-based, as CR_GetTocEntry
 * counts): the sectors from its INDEX 00 (or the start of its PREGAP) to its INDEX 01,
 * as an image gives them or a drive's Q sub-channel shows them (searched once per disc,
 * at the first call for it: some reads per track); for the first track, the sectors from LSN 0 to its INDEX 01 (audio
 * before the track, if any). Returns 0, or -1 when it is not known (a drive that does
 * not read the sub-channel or gives one that contradicts the table, a pre-gap longer
 * than the 30 s searched, the first track of a later session, no such track). */
CDRIP_API int32_t CR_GetTrackPregap(int32_t index, int32_t* sectors);
/* Prepares reading sectors startSector .. endSector - 1 of the active drive (bounded
 * by the disc) and starts reading them ahead; an open ripper ends first. *bufferSize is
 * the caller's buffer size in bytes; chunks never exceed it nor CR_MAX_CHUNK_BYTES, and
 * it is set to the chunk size used. Returns 0, or -1 when nothing can be read. */
CDRIP_API int32_t CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector);
/* Fills buffer with the next chunk of the range and sets *byteCount (0 when the range
 * is exhausted, or *abort is nonzero, or the disc could not be read), waiting while the
 * chunk is being read. Chunks come in disc order, full but for the range's last; a
 * sector that cannot be read ends the range, the chunk before it holding the sectors up
 * to it. A nonzero *abort ends the reading: nothing more is delivered until the next
 * CR_OpenRipper. Returns 0. */
CDRIP_API int32_t CR_RipChunk(uint8_t* buffer, int32_t* byteCount, int32_t* abort);
/* What reading the range met on the disc (all zero for images). */
typedef struct {
  int32_t Rereads;     /* reads repeated because they failed or did not verify */
  int32_t Corrections; /* jitter, dropped or duplicated samples repaired */
  int32_t Skips;       /* sectors given up after the retries: the range ends before them */
  int32_t Reserved;
} CR_ReadReport;

/* Copies what reading the range of the last CR_OpenRipper has met so far; it stays
 * after CR_CloseRipper until the next CR_OpenRipper. Returns 0, or -1 when no range was
 * opened. */
CDRIP_API int32_t CR_GetReadReport(CR_ReadReport* report);
/* Asks the open range's reading to end, from any thread and without waiting: a read of
 * the drive in progress is interrupted (the drive is asked for nothing more, so a read
 * stuck on a bad spot ends within one drive command), and a CR_RipChunk waiting for a
 * chunk returns with *byteCount 0. Nothing more of the range is delivered; the range
 * stays open until CR_CloseRipper (or the next CR_OpenRipper). Returns 0. */
CDRIP_API int32_t CR_RequestStop(void);
/* *sector := the sector at which reading the range of the last CR_OpenRipper ended for
 * good: the one the drive refused, or that verification gave up after the retries
 * (a drive's range only). Returns 0, or -1 (*sector untouched) when the range did not
 * end at such a sector. */
CDRIP_API int32_t CR_GetFailedSector(int32_t* sector);
/* Copies what the CD and paranoia layers said (warnings, errors, the drive's refusals
 * of sectors, one a line) since the last CR_OpenRipper, as CR_GetDriveName copies a
 * name: for the rip log. Returns the text's full length. */
CDRIP_API int32_t CR_GetMessages(char* buffer, int32_t size);
/* Ends reading: the library's reader stops (a read of the drive in progress is
 * interrupted, as by CR_RequestStop) and lets go of the drive. Returns 0. */
CDRIP_API int32_t CR_CloseRipper(void);
/* Ejects the active drive's disc (its tray opens), ending its open ripper first; the
 * next CR_ReadToc reads the disc put in afterwards. Returns 0, or -1 when the drive
 * cannot eject (a disc image). */
CDRIP_API int32_t CR_EjectDisc(void);
/* The file name extensions of the disc images that CR_AddImageDrive opens (in any letter
 * case), separated by spaces: a cue sheet, a cdrdao TOC file, a Nero image. */
#define CDRIP_IMAGE_EXTENSIONS ".cue .toc .nrg"
/* Adds a disc image (CDRIP_IMAGE_EXTENSIONS) as a drive; returns its drive number (the
 * existing one when the image was added before), or -1, with nothing added, when it
 * cannot be opened: CR_GetLastError then tells why. A path that is a block device is
 * added as a CD drive, for devices that the CD layer does not list at CR_Init. */
CDRIP_API int32_t CR_AddImageDrive(const char* path);
/* The read offset that the settings file gives a drive, in samples, from -44100 to
 * 44100, section "ReadOffsets": an offset belongs to a drive model, so the key is first
 * the drive's vendor and model as CR_GetDriveModel gives them ("PLEXTOR DVDR PX-716A=30",
 * without regard to case); for a drive that gives no model (and images), its name as
 * CR_GetDriveName gives it, or any path that leads to the same file once links are
 * resolved (/dev/cdrom for /dev/sr0). 0 when it gives none. Returns 0, or -1 when there
 * is no such drive. */
CDRIP_API int32_t CR_GetReadOffset(int32_t drive, int32_t* samples);
/* Copies the drive's vendor and model, as its INQUIRY answers them and separated by a
 * space (each trimmed), as CR_GetDriveName copies a name; empty for images and drives
 * that give none. Returns the text's full length, or -1 when there is no such drive. */
CDRIP_API int32_t CR_GetDriveModel(int32_t drive, char* buffer, int32_t size);
/* Copies the drive's firmware revision as its INQUIRY answers it (trimmed), as
 * CR_GetDriveName copies a name; empty for images and drives that give none. Returns the
 * text's full length, or -1 when there is no such drive. */
CDRIP_API int32_t CR_GetDriveRevision(int32_t drive, char* buffer, int32_t size);
/* Copies how CD drives are read, as the settings file sets it (section "CD-ROM",
 * ParanoiaMode and ParanoiaRetries): "paranoia full (verify, overlap, repair), a sector
 * given up after 20 failed reads", as CR_GetDriveName copies a name. Images are read
 * as they are. Returns the text's full length. */
CDRIP_API int32_t CR_GetReadMode(char* buffer, int32_t size);
/* Copies what CR_Init found wrong in those settings, a line each, naming the value used
 * instead ("ParanoiaRetries=abc in cdr.ini is no whole number from 1 to 1000; 20 is
 * used."), as CR_GetDriveName copies a name; empty when nothing. Returns the text's full
 * length. */
CDRIP_API int32_t CR_GetSettingsWarnings(char* buffer, int32_t size);
/* Texts of the disc (track 0) and of its tracks: a drive's CD-Text (and its catalogue
 * number and ISRCs), or a cue sheet's TITLE, PERFORMER, SONGWRITER, REM GENRE, REM DATE,
 * CATALOG and ISRC. */
#define CR_TEXT_TITLE 0
#define CR_TEXT_PERFORMER 1
#define CR_TEXT_SONGWRITER 2
#define CR_TEXT_GENRE 3
#define CR_TEXT_DATE 4
#define CR_TEXT_CATALOG 5 /* the disc's media catalogue number (track 0) */
#define CR_TEXT_ISRC 6    /* a track's ISRC */
/* (track 0) what of a drive's CD-Text was left out and why: damaged packs, a character
 * set not read (MS-JIS); empty when nothing was */
#define CR_TEXT_NOTE 7
/* Copies a text of the last table read, in UTF-8, as CR_GetDriveName copies a name.
 * Returns the text's full length (0 when there is none), or -1 when no table was read
 * or the field is unknown. */
CDRIP_API int32_t CR_GetCdText(int32_t track, int32_t field, char* buffer, int32_t size);
/* Copies the drive's name (device path, or the image's absolute path) into buffer,
 * truncated to size - 1 bytes and terminated. Returns the name's full length, or -1
 * when there is no such drive. */
CDRIP_API int32_t CR_GetDriveName(int32_t drive, char* buffer, int32_t size);

/* Copies the reason why the last CR_AddImageDrive failed (a sentence naming the file,
 * and the line where there is one; empty after a success), as CR_GetDriveName copies
 * a name. Returns the text's full length. */
CDRIP_API int32_t CR_GetLastError(char* buffer, int32_t size);
/* The drive's answer to which session is last: *sector := the first sector of the last
 * session's first track as of the last table read, 0 on a disc of one session (images:
 * as their sheet says). Returns 0, or -1 when no table was read. */
CDRIP_API int32_t CR_GetLastSessionStart(int32_t* sector);

#ifdef __cplusplus
}
#endif

#endif
