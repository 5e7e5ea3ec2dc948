// Unit VorbisEnc: the run-time binding of libvorbisenc.so.2, the encoder set-up
// functions (quality-based and managed bit rate). Loaded once when the program starts,
// after libvorbis.
#pragma once

#include <vorbis/vorbisenc.h>

#include "bindings/codec.h"

// The libvorbisenc entry points that the Ogg Vorbis output calls.
#define KORVANE_VORBISENC_ENTRY_POINTS(X) \
  X(vorbis_encode_init) X(vorbis_encode_setup_vbr) X(vorbis_encode_setup_init)

KORVANE_RUNTIME_FUNCTIONS(TVorbisEncApi, KORVANE_VORBISENC_ENTRY_POINTS);

TRuntimeBinding<TVorbisEncApi>& VorbisEncBinding();
inline const TVorbisEncApi& VorbisEncApi() { return VorbisEncBinding().Functions(); }
