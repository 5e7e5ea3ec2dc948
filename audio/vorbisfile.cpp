#include "vorbisfile.h"

namespace {

bool BindVorbisFile(const TLibraryHandle& Library, TVorbisFileApi& Api) {
  bool all = true;
  all &= Library.Bind("ov_open_callbacks", Api.ov_open_callbacks);
  all &= Library.Bind("ov_clear", Api.ov_clear);
  all &= Library.Bind("ov_info", Api.ov_info);
  all &= Library.Bind("ov_comment", Api.ov_comment);
  all &= Library.Bind("ov_pcm_total", Api.ov_pcm_total);
  all &= Library.Bind("ov_read", Api.ov_read);
  return all;
}

TBindingUnit<TVorbisFileApi>& VorbisFileUnit() {
  static TBindingUnit<TVorbisFileApi> unit(BindVorbisFile);
  return unit;
}

}  // namespace

bool LoadVorbisFile(const char* FileName) { return VorbisFileUnit().Load(FileName); }
void UnloadVorbisFile() { VorbisFileUnit().Unload(); }
bool VorbisFileLoaded() { return VorbisFileUnit().Loaded(); }
const TVorbisFileApi& VorbisFileApi() { return VorbisFileUnit().Functions(); }
