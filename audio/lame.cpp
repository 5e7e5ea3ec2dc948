#include "lame.h"

#include <dlfcn.h>

#include <mutex>

const char* const LameLibraryFileName = "libmp3lame.so.0";

namespace {

struct TBindingState {
  std::mutex Lock;
  std::shared_ptr<const TLameLibrary> Library;
  std::string FileNameOverride;
};

TBindingState& Binding() {
  static TBindingState state;
  return state;
}

}  // namespace

TLameLibrary::TLameLibrary(const std::string& FileName) {
  void* module = ::dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return;
  bool complete = true;
  // Each pointer takes the type of its declaration in the published header.
#define KORVANE_LAME_LOOKUP(Name)                                              \
  Functions_.Name = reinterpret_cast<decltype(Functions_.Name)>(::dlsym(module, #Name)); \
  complete = complete && Functions_.Name != nullptr;
  KORVANE_LAME_ENTRY_POINTS(KORVANE_LAME_LOOKUP)
#undef KORVANE_LAME_LOOKUP
  if (!complete) {
    // A library without all of its entry points is treated as one that did not load.
    Functions_ = TLameFunctions{};
    ::dlclose(module);
    return;
  }
  Module_ = module;
}

TLameLibrary::~TLameLibrary() {
  if (Module_) ::dlclose(Module_);
}

void LoadLameLibrary() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  if (state.Library) return;
  const std::string fileName =
      state.FileNameOverride.empty() ? LameLibraryFileName : state.FileNameOverride;
  auto library = std::make_shared<const TLameLibrary>(fileName);
  if (library->Loaded()) state.Library = std::move(library);
}

void UnloadLameLibrary() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  state.Library.reset();
}

bool LameLoaded() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  return state.Library != nullptr;
}

std::shared_ptr<const TLameLibrary> LameLibrary() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  return state.Library;
}

void SetLameLibraryFileNameForTesting(const std::string& FileName) {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  state.FileNameOverride = FileName;
}
