#include "bindings/vorbisenc.h"

TRuntimeBinding<TVorbisEncApi>& VorbisEncBinding() {
  static TRuntimeBinding<TVorbisEncApi> binding("libvorbisenc.so.2");
  return binding;
}
