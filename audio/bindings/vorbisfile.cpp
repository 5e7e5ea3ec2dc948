#include "bindings/vorbisfile.h"

TRuntimeBinding<TVorbisFileApi>& VorbisFileBinding() {
  static TRuntimeBinding<TVorbisFileApi> binding("libvorbisfile.so.3");
  return binding;
}
