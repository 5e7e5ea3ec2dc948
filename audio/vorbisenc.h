// Unit VorbisEnc: the run-time binding of libvorbisenc, the encoder set-up functions
// (quality-based and managed bit rate). Loaded once when the program starts, after
// libvorbis.
#pragma once

#include <vorbis/vorbisenc.h>

#include "codec.h"

constexpr const char* VorbisEncLibraryName = "libvorbisenc.so.2";

// The libvorbisenc entry points that the Ogg Vorbis output calls.
struct TVorbisEncApi {
  decltype(&::vorbis_encode_init) vorbis_encode_init = nullptr;
  decltype(&::vorbis_encode_setup_vbr) vorbis_encode_setup_vbr = nullptr;
  decltype(&::vorbis_encode_setup_init) vorbis_encode_setup_init = nullptr;
};

// Loads libvorbisenc once (FileName is replaceable for tests); true when loaded.
bool LoadVorbisEnc(const char* FileName = VorbisEncLibraryName);
void UnloadVorbisEnc();
bool VorbisEncLoaded();
const TVorbisEncApi& VorbisEncApi();
