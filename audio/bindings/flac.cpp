#include "bindings/flac.h"

TRuntimeBinding<TFlacFunctions>& FlacBinding() {
  static TRuntimeBinding<TFlacFunctions> binding("libFLAC.so.12");
  return binding;
}
