// Binding unit `lame`: the MP3 encoder library libmp3lame.so.0, loaded at run time.
//
// The MP3 output loads it when it is created and holds the loaded library
// (`LameBinding().Library()`) for as long as it exists; see runtime_library.h for how a
// binding loads, checks and shares its library. Loading and unloading happen on the
// window thread (component creation and destruction).
#pragma once

#include <lame/lame.h>

#include "bindings/runtime_library.h"

// The entry points the MP3 output calls, typed from the library's published header.
// clang-format off
#define KORVANE_LAME_ENTRY_POINTS(X)                                                \
  X(lame_init) X(lame_init_params) X(lame_close) X(lame_get_out_samplerate)         \
  X(lame_set_num_samples) X(lame_set_in_samplerate) X(lame_set_num_channels)        \
  X(lame_set_out_samplerate) X(lame_set_mode) X(lame_set_copyright)                 \
  X(lame_set_original) X(lame_set_error_protection) X(lame_set_brate)               \
  X(lame_set_quality) X(lame_set_bWriteVbrTag) X(lame_set_VBR) X(lame_set_VBR_q)    \
  X(lame_set_VBR_min_bitrate_kbps) X(lame_set_VBR_max_bitrate_kbps)                 \
  X(lame_encode_buffer_interleaved) X(lame_encode_buffer) X(lame_encode_flush)      \
  X(lame_get_lametag_frame) X(id3tag_init) X(id3tag_set_title) X(id3tag_set_artist) \
  X(id3tag_set_album) X(id3tag_set_year) X(id3tag_set_track) X(id3tag_set_comment)  \
  X(id3tag_set_genre)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TLameFunctions, KORVANE_LAME_ENTRY_POINTS);
using TLameLibrary = TRuntimeLibrary<TLameFunctions>;

// The process-wide binding of libmp3lame.so.0.
TRuntimeBinding<TLameFunctions>& LameBinding();
