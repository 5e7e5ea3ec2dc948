// Unit VorbisFile: the run-time binding of libvorbisfile, the Ogg Vorbis file decoder.
// Loaded once when the program starts, after libvorbisenc. The encoding output does
// not call it; it only checks that the library is present.
#pragma once

// The header's own stdio callbacks would be compiled into every user; we bind the
// callback-based opening instead.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "codec.h"

constexpr const char* VorbisFileLibraryName = "libvorbisfile.so.3";

// The libvorbisfile entry points that a decoder of Ogg Vorbis files needs.
struct TVorbisFileApi {
  decltype(&::ov_open_callbacks) ov_open_callbacks = nullptr;
  decltype(&::ov_clear) ov_clear = nullptr;
  decltype(&::ov_info) ov_info = nullptr;
  decltype(&::ov_comment) ov_comment = nullptr;
  decltype(&::ov_pcm_total) ov_pcm_total = nullptr;
  decltype(&::ov_read) ov_read = nullptr;
};

// Loads libvorbisfile once (FileName is replaceable for tests); true when loaded.
bool LoadVorbisFile(const char* FileName = VorbisFileLibraryName);
void UnloadVorbisFile();
bool VorbisFileLoaded();
const TVorbisFileApi& VorbisFileApi();
