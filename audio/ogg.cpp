#include "ogg.h"

#include <dlfcn.h>

bool TLibraryHandle::Open(const char* FileName) {
  Close();
  Handle_ = ::dlopen(FileName, RTLD_NOW | RTLD_LOCAL);
  return Handle_ != nullptr;
}

void TLibraryHandle::Close() {
  if (Handle_) ::dlclose(Handle_);
  Handle_ = nullptr;
}

void* TLibraryHandle::Symbol(const char* Name) const {
  return Handle_ ? ::dlsym(Handle_, Name) : nullptr;
}

namespace {

bool BindOgg(const TLibraryHandle& Library, TOggApi& Api) {
  bool all = true;
  all &= Library.Bind("ogg_stream_init", Api.ogg_stream_init);
  all &= Library.Bind("ogg_stream_packetin", Api.ogg_stream_packetin);
  all &= Library.Bind("ogg_stream_flush", Api.ogg_stream_flush);
  all &= Library.Bind("ogg_stream_pageout", Api.ogg_stream_pageout);
  all &= Library.Bind("ogg_page_eos", Api.ogg_page_eos);
  all &= Library.Bind("ogg_stream_clear", Api.ogg_stream_clear);
  return all;
}

TBindingUnit<TOggApi>& OggUnit() {
  static TBindingUnit<TOggApi> unit(BindOgg);
  return unit;
}

}  // namespace

bool LoadOgg(const char* FileName) { return OggUnit().Load(FileName); }
void UnloadOgg() { OggUnit().Unload(); }
bool OggLoaded() { return OggUnit().Loaded(); }
const TOggApi& OggApi() { return OggUnit().Functions(); }
