#include "bindings/codec.h"

TRuntimeBinding<TVorbisApi>& VorbisBinding() {
  static TRuntimeBinding<TVorbisApi> binding("libvorbis.so.0");
  return binding;
}
