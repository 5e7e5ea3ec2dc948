// Unit VorbisFile: the run-time binding of libvorbisfile.so.3, the Ogg Vorbis file
// decoder. Loaded once when the program starts, after libvorbisenc. The encoding output
// does not call it; it only checks that the library is present.
#pragma once

// The header's own stdio callbacks would be compiled into every user; we bind the
// callback-based opening instead.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "bindings/codec.h"

// The libvorbisfile entry points that a decoder of Ogg Vorbis files needs.
#define KORVANE_VORBISFILE_ENTRY_POINTS(X) \
  X(ov_open_callbacks) X(ov_clear) X(ov_info) X(ov_comment) X(ov_pcm_total) X(ov_read)

KORVANE_RUNTIME_FUNCTIONS(TVorbisFileApi, KORVANE_VORBISFILE_ENTRY_POINTS);

TRuntimeBinding<TVorbisFileApi>& VorbisFileBinding();
