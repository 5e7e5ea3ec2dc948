#include "bindings/lame.h"

TRuntimeBinding<TLameFunctions>& LameBinding() {
  static TRuntimeBinding<TLameFunctions> binding("libmp3lame.so.0");
  return binding;
}
