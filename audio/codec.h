// Unit Codec: the run-time binding of libvorbis, the Vorbis info, comment, analysis
// and bit-rate functions. Loaded once when the program starts, after libogg.
#pragma once

#include <vorbis/codec.h>

#include "ogg.h"

constexpr const char* VorbisLibraryName = "libvorbis.so.0";

// The libvorbis entry points that the Ogg Vorbis output calls.
struct TVorbisApi {
  decltype(&::vorbis_info_init) vorbis_info_init = nullptr;
  decltype(&::vorbis_info_clear) vorbis_info_clear = nullptr;
  decltype(&::vorbis_comment_init) vorbis_comment_init = nullptr;
  decltype(&::vorbis_comment_add_tag) vorbis_comment_add_tag = nullptr;
  decltype(&::vorbis_comment_clear) vorbis_comment_clear = nullptr;
  decltype(&::vorbis_analysis_init) vorbis_analysis_init = nullptr;
  decltype(&::vorbis_block_init) vorbis_block_init = nullptr;
  decltype(&::vorbis_block_clear) vorbis_block_clear = nullptr;
  decltype(&::vorbis_dsp_clear) vorbis_dsp_clear = nullptr;
  decltype(&::vorbis_analysis_headerout) vorbis_analysis_headerout = nullptr;
  decltype(&::vorbis_analysis_buffer) vorbis_analysis_buffer = nullptr;
  decltype(&::vorbis_analysis_wrote) vorbis_analysis_wrote = nullptr;
  decltype(&::vorbis_analysis_blockout) vorbis_analysis_blockout = nullptr;
  decltype(&::vorbis_analysis) vorbis_analysis = nullptr;
  decltype(&::vorbis_bitrate_addblock) vorbis_bitrate_addblock = nullptr;
  decltype(&::vorbis_bitrate_flushpacket) vorbis_bitrate_flushpacket = nullptr;
};

// Loads libvorbis once (FileName is replaceable for tests); true when it is loaded.
bool LoadVorbis(const char* FileName = VorbisLibraryName);
void UnloadVorbis();
bool VorbisLoaded();
const TVorbisApi& VorbisApi();
