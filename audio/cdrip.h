// Binding unit `CDRip`: the CD ripping library libcdrip.so, loaded at run time.
//
// `LoadCDRipLibrary` opens the library from the program's folder, or else through the
// standard library search path, and looks up all of its entry points at once; a
// library that lacks one counts as not loaded. Once loaded it writes the library's
// settings file cdr.ini (section "CD-ROM", "nActive" = "0"; everything else in the file
// stays as it is) and calls `CR_Init` with the file's full path. cdr.ini lives in the
// program's folder when that folder is writable, else in the user's configuration
// folder ($XDG_CONFIG_HOME/korvane, by default ~/.config/korvane).
//
// `UnloadCDRipLibrary` calls `CR_DeInit` and drops the binding's reference; the front
// ends call it when the program ends. A component that uses the library keeps its own
// reference (`CDRipLibrary`), so the module is closed when the last holder lets go.
// Loading and unloading happen on the window thread; the library's own lock guards its
// calls from the worker threads.
#pragma once

#include <memory>
#include <string>

#include "../cdrip/cdrip.h"

// The file name under which the library is loaded, and the one its message names.
extern const char* const CDRipLibraryFileName;

// clang-format off
#define KORVANE_CDRIP_ENTRY_POINTS(X)                                                 \
  X(CR_Init) X(CR_DeInit) X(CR_GetNumCDROM) X(CR_SetActiveCDROM) X(CR_IsMediaLoaded) \
  X(CR_IsAudioPlaying) X(CR_ReadToc) X(CR_GetNumTocEntries) X(CR_GetTocEntry)        \
  X(CR_OpenRipper) X(CR_RipChunk) X(CR_CloseRipper) X(CR_AddImageDrive)              \
  X(CR_GetDriveName) X(CR_GetLastError) X(CR_GetLastSessionStart)
// clang-format on

// The entry points, typed from the library's own header.
struct TCDRipFunctions {
#define KORVANE_CDRIP_POINTER(Name) decltype(&::Name) Name = nullptr;
  KORVANE_CDRIP_ENTRY_POINTS(KORVANE_CDRIP_POINTER)
#undef KORVANE_CDRIP_POINTER
};

// One loaded copy of the library: opened by the constructor, closed by the destructor.
class TCDRipLibrary {
 public:
  // Tries Folder + FileName first (when Folder is not empty), then FileName through the
  // standard search path.
  TCDRipLibrary(const std::string& Folder, const std::string& FileName);
  ~TCDRipLibrary();
  TCDRipLibrary(const TCDRipLibrary&) = delete;
  TCDRipLibrary& operator=(const TCDRipLibrary&) = delete;

  // True when the file was opened and every entry point was found.
  bool Loaded() const { return Module_ != nullptr; }
  const TCDRipFunctions& Functions() const { return Functions_; }

 private:
  bool Bind(void* Module);
  void* Module_ = nullptr;
  TCDRipFunctions Functions_;
};

// Loads the library with the program's folder ProgramFolder, writes cdr.ini and calls
// `CR_Init`, unless the library is loaded already. A failure leaves `CDRipLoaded` false.
void LoadCDRipLibrary(const std::string& ProgramFolder);
// `CR_DeInit`, then drops the binding's reference; nothing when not loaded.
void UnloadCDRipLibrary();
bool CDRipLoaded();
// The binding's current library (null when not loaded), for a component to hold.
std::shared_ptr<const TCDRipLibrary> CDRipLibrary();
// The full path of the cdr.ini that the last load wrote; empty when none was written.
std::string CDRipSettingsPath();

// For the front ends: adds a disc image (.cue, .toc, .nrg) as a drive and returns its
// drive number, or -1 when it cannot be opened or the library is not loaded.
int CDRipAddImageDrive(const std::string& Path);
// The drive's name (its device path, or the image's absolute path); empty when there
// is no such drive or the library is not loaded.
std::string CDRipDriveName(int Drive);
// The number of the drive that Name denotes, -1 when none does. Names are compared
// with their links resolved, so a link (/dev/cdrom) finds the drive of the device it
// points to (/dev/sr0), and a relative path finds the image of its absolute path.
int CDRipFindDrive(const std::string& Name);
// Why the last `CDRipAddImageDrive` failed, in a sentence that names the file.
std::string CDRipLastError();

// Changes the file name that the next `LoadCDRipLibrary` opens; an empty name restores
// the standard one. For tests that need a missing library.
void SetCDRipLibraryFileNameForTesting(const std::string& FileName);
