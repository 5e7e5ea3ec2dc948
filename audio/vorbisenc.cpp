#include "vorbisenc.h"

namespace {

bool BindVorbisEnc(const TLibraryHandle& Library, TVorbisEncApi& Api) {
  bool all = true;
  all &= Library.Bind("vorbis_encode_init", Api.vorbis_encode_init);
  all &= Library.Bind("vorbis_encode_setup_vbr", Api.vorbis_encode_setup_vbr);
  all &= Library.Bind("vorbis_encode_setup_init", Api.vorbis_encode_setup_init);
  return all;
}

TBindingUnit<TVorbisEncApi>& VorbisEncUnit() {
  static TBindingUnit<TVorbisEncApi> unit(BindVorbisEnc);
  return unit;
}

}  // namespace

bool LoadVorbisEnc(const char* FileName) { return VorbisEncUnit().Load(FileName); }
void UnloadVorbisEnc() { VorbisEncUnit().Unload(); }
bool VorbisEncLoaded() { return VorbisEncUnit().Loaded(); }
const TVorbisEncApi& VorbisEncApi() { return VorbisEncUnit().Functions(); }
