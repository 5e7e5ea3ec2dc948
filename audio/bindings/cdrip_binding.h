// Binding unit `CDRip`: the CD ripping library libcdrip.so, loaded at run time.
//
// `CDRipBinding().Load(ProgramFolder)` opens the library from the program's folder, or
// else through the standard library search path (see runtime_library.h for how a
// binding loads, checks and shares its library). Once all entry points are found it
// writes the library's settings file cdr.ini (section "CD-ROM", "nActive" = "0";
// everything else in the file stays as it is) and calls `CR_Init` with the file's full
// path. cdr.ini lives in the program's folder when that folder is writable, else in the
// user's configuration folder ($XDG_CONFIG_HOME/korvane, by default ~/.config/korvane).
//
// `Unload` calls `CR_DeInit` and drops the binding's reference; the front ends call it
// when the program ends. A component that uses the library keeps its own reference
// (`Library`), so the module is closed when the last holder lets go. Loading and
// unloading happen on the window thread; the library's own lock guards its calls from
// the worker threads.
#pragma once

#include <string>

#include "bindings/runtime_library.h"
#include "cdrip.h"

// The entry points, typed from the library's own header.
// clang-format off
#define KORVANE_CDRIP_ENTRY_POINTS(X)                                                 \
  X(CR_Init) X(CR_DeInit) X(CR_GetNumCDROM) X(CR_SetActiveCDROM) X(CR_IsMediaLoaded) \
  X(CR_IsAudioPlaying) X(CR_ReadToc) X(CR_GetNumTocEntries) X(CR_GetTocEntry)        \
  X(CR_OpenRipper) X(CR_RipChunk) X(CR_CloseRipper) X(CR_AddImageDrive)              \
  X(CR_GetDriveName) X(CR_GetLastError) X(CR_GetLastSessionStart)      \
  X(CR_GetReadReport) X(CR_GetCdText) X(CR_GetReadOffset) X(CR_RequestStop)         \
  X(CR_GetFailedSector) X(CR_GetMessages) X(CR_GetDriveModel) X(CR_CheckDisc)       \
  X(CR_EjectDisc) X(CR_GetDriveRevision) X(CR_GetReadMode) X(CR_GetTrackPregap)   \
  X(CR_GetSettingsWarnings)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TCDRipFunctions, KORVANE_CDRIP_ENTRY_POINTS);
using TCDRipLibrary = TRuntimeLibrary<TCDRipFunctions>;

// The process-wide binding of libcdrip.so; its message reads
// "libcdrip.so could not be loaded.".
TRuntimeBinding<TCDRipFunctions>& CDRipBinding();
// The full path of the cdr.ini that the last load wrote; empty when none was written.
std::string CDRipSettingsPath();
// What the library found wrong in that cdr.ini's read settings, one line each, naming
// the value used instead; empty when nothing, or when the library is not loaded.
std::string CDRipSettingsWarnings();
// The value of Key in Section of that cdr.ini (names matched without regard to case, the
// value trimmed); empty when the file, the section or the key is not there.
std::string CDRipSetting(const std::string& Section, const std::string& Key);

// For the front ends: adds a disc image (.cue, .toc, .nrg) as a drive and returns its
// drive number. Raises EAudioException, with the library's reason that names the file,
// when it cannot be opened or the library is not loaded.
int CDRipAddImageDrive(const std::string& Path);
// The drive's name (its device path, or the image's absolute path); empty when there
// is no such drive or the library is not loaded.
std::string CDRipDriveName(int Drive);
// Keeps Samples as the drive's read offset in cdr.ini, section "ReadOffsets", under the
// drive's model (else its name), where the library looks first; the library reads it at
// its next start. Raises EAudioException, saying why, when the file cannot be written.
void CDRipKeepReadOffset(int Drive, int Samples);
// The number of the drive that Name denotes, -1 when none does. Names are compared
// with their links resolved, so a link (/dev/cdrom) finds the drive of the device it
// points to (/dev/sr0), and a relative path finds the image of its absolute path.
int CDRipFindDrive(const std::string& Name);
