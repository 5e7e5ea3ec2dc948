// Binding unit `opusenc`: the Ogg Opus encoder library libopusenc.so.0, loaded at run
// time.
//
// The Opus output loads it when it is created and holds the loaded library
// (`OpusEncBinding().Library()`) for as long as it exists; see runtime_library.h for how
// a binding loads, checks and shares its library. The published header gives the types
// and the option requests of `ope_encoder_ctl`; no function of the library is linked.
// Loading and unloading happen on the window thread (component creation and
// destruction).
#pragma once

#include <opus/opusenc.h>

#include "bindings/runtime_library.h"

// The entry points the Opus output calls: the comment list, and the encoder that hands
// out its Ogg pages one at a time (the pull interface, so that every page goes through
// the output's own stream).
// clang-format off
#define KORVANE_OPUSENC_ENTRY_POINTS(X)                                                  \
  X(ope_comments_create) X(ope_comments_destroy) X(ope_comments_add)                     \
  X(ope_encoder_create_pull) X(ope_encoder_destroy) X(ope_encoder_ctl)                   \
  X(ope_encoder_write) X(ope_encoder_get_page) X(ope_encoder_drain) X(ope_strerror)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TOpusEncFunctions, KORVANE_OPUSENC_ENTRY_POINTS);
using TOpusEncLibrary = TRuntimeLibrary<TOpusEncFunctions>;

// The process-wide binding of libopusenc.so.0.
TRuntimeBinding<TOpusEncFunctions>& OpusEncBinding();
