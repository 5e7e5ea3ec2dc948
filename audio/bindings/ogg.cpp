#include "bindings/ogg.h"

TRuntimeBinding<TOggApi>& OggBinding() {
  static TRuntimeBinding<TOggApi> binding("libogg.so.0");
  return binding;
}
