// Unit ogg: the run-time binding of libogg.so.0, the Ogg stream and page functions.
//
// The four Ogg Vorbis libraries (ogg, Codec, VorbisEnc, VorbisFile) are loaded once,
// when the program starts (`LoadVorbisLibraries` in audio_vorbis.h loads them in their
// order), and unloaded when it ends; see runtime_library.h for how a binding loads and
// checks its library. The record layouts come from the library's published header; no
// function of it is linked.
#pragma once

#include <ogg/ogg.h>

#include "bindings/runtime_library.h"

// The libogg entry points that the Ogg Vorbis output calls, and those that the tag
// rewrite of finished Ogg files reads their pages and packets with (tag_rewrite.h).
// clang-format off
#define KORVANE_OGG_ENTRY_POINTS(X)                                                   \
  X(ogg_stream_init) X(ogg_stream_packetin) X(ogg_stream_flush) X(ogg_stream_pageout) \
  X(ogg_page_eos) X(ogg_page_checksum_set) X(ogg_stream_clear)                        \
  X(ogg_sync_init) X(ogg_sync_clear) X(ogg_sync_buffer) X(ogg_sync_wrote)             \
  X(ogg_sync_pageout) X(ogg_stream_pagein) X(ogg_stream_packetout)                    \
  X(ogg_page_serialno) X(ogg_page_bos) X(ogg_page_continued)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TOggApi, KORVANE_OGG_ENTRY_POINTS);

TRuntimeBinding<TOggApi>& OggBinding();
inline const TOggApi& OggApi() { return OggBinding().Functions(); }
