// Unit ogg: the run-time binding of libogg.so.0, the Ogg stream and page functions.
//
// The four Ogg Vorbis libraries (ogg, Codec, VorbisEnc, VorbisFile) are loaded once,
// when the program starts (`LoadVorbisLibraries` in audio_vorbis.h loads them in their
// order), and unloaded when it ends; see runtime_library.h for how a binding loads and
// checks its library. The record layouts come from the library's published header; no
// function of it is linked.
#pragma once

#include <ogg/ogg.h>

#include "runtime_library.h"

// The libogg entry points that the Ogg Vorbis output calls.
// clang-format off
#define KORVANE_OGG_ENTRY_POINTS(X)                                                   \
  X(ogg_stream_init) X(ogg_stream_packetin) X(ogg_stream_flush) X(ogg_stream_pageout) \
  X(ogg_page_eos) X(ogg_page_checksum_set) X(ogg_stream_clear)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TOggApi, KORVANE_OGG_ENTRY_POINTS);

TRuntimeBinding<TOggApi>& OggBinding();
inline const TOggApi& OggApi() { return OggBinding().Functions(); }
