// Binding unit `lame`: the MP3 encoder library, loaded at run time.
//
// `LoadLameLibrary` opens libmp3lame.so.0 and looks up, all at once, every entry point
// that the MP3 output calls. The library counts as loaded only when all of them were
// found; a library that lacks one is released again and `LameLoaded` stays false.
//
// The process-wide binding is a shared handle: a component that uses the library keeps
// a reference (`LameLibrary`), so unloading the binding never pulls the code from under
// a component that still encodes; the module is closed when the last holder lets go.
// Loading and unloading happen on the window thread (component creation and
// destruction); the function table is read-only once loaded.
#pragma once

#include <lame/lame.h>

#include <memory>
#include <string>

// The file name under which the library is loaded, and the one its message names.
extern const char* const LameLibraryFileName;

// The entry points the MP3 output calls, typed from the library's published header.
// clang-format off
#define KORVANE_LAME_ENTRY_POINTS(X) \
  X(lame_init)                       \
  X(lame_set_num_samples)            \
  X(lame_set_in_samplerate)          \
  X(lame_set_num_channels)           \
  X(lame_set_out_samplerate)         \
  X(lame_set_mode)                   \
  X(lame_set_copyright)              \
  X(lame_set_original)               \
  X(lame_set_error_protection)       \
  X(lame_set_brate)                  \
  X(lame_set_quality)                \
  X(lame_set_bWriteVbrTag)           \
  X(lame_set_VBR)                    \
  X(lame_set_VBR_q)                  \
  X(lame_set_VBR_min_bitrate_kbps)   \
  X(lame_set_VBR_max_bitrate_kbps)   \
  X(lame_init_params)                \
  X(lame_encode_buffer_interleaved)  \
  X(lame_encode_buffer)              \
  X(id3tag_init)                     \
  X(id3tag_set_title)                \
  X(id3tag_set_artist)               \
  X(id3tag_set_album)                \
  X(id3tag_set_year)                 \
  X(id3tag_set_track)                \
  X(id3tag_set_comment)              \
  X(id3tag_set_genre)                \
  X(lame_encode_flush)               \
  X(lame_close)                      \
  X(lame_get_out_samplerate)         \
  X(lame_get_lametag_frame)
// clang-format on

struct TLameFunctions {
#define KORVANE_LAME_POINTER(Name) decltype(&::Name) Name = nullptr;
  KORVANE_LAME_ENTRY_POINTS(KORVANE_LAME_POINTER)
#undef KORVANE_LAME_POINTER
};

// One loaded copy of the library: opened by the constructor, closed by the destructor.
class TLameLibrary {
 public:
  explicit TLameLibrary(const std::string& FileName);
  ~TLameLibrary();
  TLameLibrary(const TLameLibrary&) = delete;
  TLameLibrary& operator=(const TLameLibrary&) = delete;

  // True when the file was opened and every entry point was found.
  bool Loaded() const { return Module_ != nullptr; }
  const TLameFunctions& Functions() const { return Functions_; }

 private:
  void* Module_ = nullptr;
  TLameFunctions Functions_;
};

// Loads the library unless it is loaded already; a failure leaves `LameLoaded` false.
void LoadLameLibrary();
// Clears `LameLoaded` and drops the binding's reference to the library.
void UnloadLameLibrary();
bool LameLoaded();
// The binding's current library (null when not loaded), for a component to hold.
std::shared_ptr<const TLameLibrary> LameLibrary();

// Changes the file name that the next `LoadLameLibrary` opens; an empty name restores
// the standard one. For tests that need a missing or incomplete library.
void SetLameLibraryFileNameForTesting(const std::string& FileName);
