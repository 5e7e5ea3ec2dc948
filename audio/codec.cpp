#include "codec.h"

namespace {

bool BindVorbis(const TLibraryHandle& Library, TVorbisApi& Api) {
  bool all = true;
  all &= Library.Bind("vorbis_info_init", Api.vorbis_info_init);
  all &= Library.Bind("vorbis_info_clear", Api.vorbis_info_clear);
  all &= Library.Bind("vorbis_comment_init", Api.vorbis_comment_init);
  all &= Library.Bind("vorbis_comment_add_tag", Api.vorbis_comment_add_tag);
  all &= Library.Bind("vorbis_comment_clear", Api.vorbis_comment_clear);
  all &= Library.Bind("vorbis_analysis_init", Api.vorbis_analysis_init);
  all &= Library.Bind("vorbis_block_init", Api.vorbis_block_init);
  all &= Library.Bind("vorbis_block_clear", Api.vorbis_block_clear);
  all &= Library.Bind("vorbis_dsp_clear", Api.vorbis_dsp_clear);
  all &= Library.Bind("vorbis_analysis_headerout", Api.vorbis_analysis_headerout);
  all &= Library.Bind("vorbis_analysis_buffer", Api.vorbis_analysis_buffer);
  all &= Library.Bind("vorbis_analysis_wrote", Api.vorbis_analysis_wrote);
  all &= Library.Bind("vorbis_analysis_blockout", Api.vorbis_analysis_blockout);
  all &= Library.Bind("vorbis_analysis", Api.vorbis_analysis);
  all &= Library.Bind("vorbis_bitrate_addblock", Api.vorbis_bitrate_addblock);
  all &= Library.Bind("vorbis_bitrate_flushpacket", Api.vorbis_bitrate_flushpacket);
  return all;
}

TBindingUnit<TVorbisApi>& VorbisUnit() {
  static TBindingUnit<TVorbisApi> unit(BindVorbis);
  return unit;
}

}  // namespace

bool LoadVorbis(const char* FileName) { return VorbisUnit().Load(FileName); }
void UnloadVorbis() { VorbisUnit().Unload(); }
bool VorbisLoaded() { return VorbisUnit().Loaded(); }
const TVorbisApi& VorbisApi() { return VorbisUnit().Functions(); }
