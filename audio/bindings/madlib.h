// Binding unit `MADLib`: the MP3 decoder library libmad.so.0, loaded at run time when
// the program starts and released when it ends.
//
// The window's MP3 decoder (an idle component) only checks that the library is there;
// no conversion calls it. The binding still looks up the decoder's entry points, so a
// library that lacks one counts as not loaded (see runtime_library.h). Loading and
// unloading happen on the window thread.
#pragma once

#include <mad.h>

#include "bindings/runtime_library.h"

// The decoder entry points an MP3 decoder component calls.
#define KORVANE_MAD_ENTRY_POINTS(X) X(mad_decoder_init) X(mad_decoder_run) X(mad_decoder_finish)

KORVANE_RUNTIME_FUNCTIONS(TMadFunctions, KORVANE_MAD_ENTRY_POINTS);

TRuntimeBinding<TMadFunctions>& MadBinding();
