// Unit Codec: the run-time binding of libvorbis.so.0, the Vorbis info, comment,
// analysis and bit-rate functions. Loaded once when the program starts, after libogg.
#pragma once

#include <vorbis/codec.h>

#include "bindings/ogg.h"

// The libvorbis entry points that the Ogg Vorbis output calls.
// clang-format off
#define KORVANE_VORBIS_ENTRY_POINTS(X)                                                   \
  X(vorbis_info_init) X(vorbis_info_clear)                                               \
  X(vorbis_comment_init) X(vorbis_comment_add_tag) X(vorbis_comment_clear)               \
  X(vorbis_analysis_init) X(vorbis_block_init) X(vorbis_block_clear) X(vorbis_dsp_clear) \
  X(vorbis_analysis_headerout) X(vorbis_analysis_buffer) X(vorbis_analysis_wrote)        \
  X(vorbis_analysis_blockout) X(vorbis_analysis)                                         \
  X(vorbis_bitrate_addblock) X(vorbis_bitrate_flushpacket)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TVorbisApi, KORVANE_VORBIS_ENTRY_POINTS);

TRuntimeBinding<TVorbisApi>& VorbisBinding();
inline const TVorbisApi& VorbisApi() { return VorbisBinding().Functions(); }
