#include "bindings/opusenc.h"

TRuntimeBinding<TOpusEncFunctions>& OpusEncBinding() {
  static TRuntimeBinding<TOpusEncFunctions> binding("libopusenc.so.0");
  return binding;
}
