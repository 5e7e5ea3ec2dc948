// Binding unit `libebur128`: the EBU R128 loudness library libebur128.so.1, loaded at run
// time when a run measures loudness (see runtime_library.h for how a binding loads,
// checks and shares its library). The published header gives the types and the modes;
// no function of the library is linked.
#pragma once

#include <ebur128.h>

#include "bindings/runtime_library.h"

// The entry points the loudness meter calls.
// clang-format off
#define KORVANE_EBUR128_ENTRY_POINTS(X)                                             \
  X(ebur128_init) X(ebur128_destroy) X(ebur128_add_frames_short)                    \
  X(ebur128_loudness_global) X(ebur128_loudness_global_multiple)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TEbur128Functions, KORVANE_EBUR128_ENTRY_POINTS);

// The process-wide binding of libebur128.so.1.
TRuntimeBinding<TEbur128Functions>& Ebur128Binding();
