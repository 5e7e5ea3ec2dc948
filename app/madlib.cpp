#include "madlib.h"

#include <dlfcn.h>
#include <mad.h>

#include <memory>
#include <mutex>

const char* const MadLibraryFileName = "libmad.so.0";

namespace {

// The decoder entry points an MP3 decoder component calls, typed from the library's
// published header.
struct TMadFunctions {
  decltype(&::mad_decoder_init) mad_decoder_init = nullptr;
  decltype(&::mad_decoder_run) mad_decoder_run = nullptr;
  decltype(&::mad_decoder_finish) mad_decoder_finish = nullptr;
};

// One loaded copy of the library: opened by the constructor, closed by the destructor.
class TMadLibrary {
 public:
  explicit TMadLibrary(const std::string& FileName) {
    void* module = ::dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return;
    const bool complete = Bind(module, "mad_decoder_init", Functions_.mad_decoder_init) &&
                          Bind(module, "mad_decoder_run", Functions_.mad_decoder_run) &&
                          Bind(module, "mad_decoder_finish", Functions_.mad_decoder_finish);
    if (!complete) {
      Functions_ = TMadFunctions{};
      ::dlclose(module);
      return;
    }
    Module_ = module;
  }
  ~TMadLibrary() {
    if (Module_) ::dlclose(Module_);
  }
  TMadLibrary(const TMadLibrary&) = delete;
  TMadLibrary& operator=(const TMadLibrary&) = delete;

  bool Loaded() const { return Module_ != nullptr; }

 private:
  template <class Function>
  static bool Bind(void* Module, const char* Name, Function& Slot) {
    Slot = reinterpret_cast<Function>(::dlsym(Module, Name));
    return Slot != nullptr;
  }

  void* Module_ = nullptr;
  TMadFunctions Functions_;
};

struct TBindingState {
  std::mutex Lock;
  std::unique_ptr<TMadLibrary> Library;
  std::string FileNameOverride;
};

TBindingState& Binding() {
  static TBindingState state;
  return state;
}

}  // namespace

void LoadMadLibrary() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  if (state.Library) return;
  const std::string fileName =
      state.FileNameOverride.empty() ? MadLibraryFileName : state.FileNameOverride;
  auto library = std::make_unique<TMadLibrary>(fileName);
  if (library->Loaded()) state.Library = std::move(library);
}

void UnloadMadLibrary() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  state.Library.reset();
}

bool MadLoaded() {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  return state.Library != nullptr;
}

void SetMadLibraryFileNameForTesting(const std::string& FileName) {
  TBindingState& state = Binding();
  std::lock_guard<std::mutex> hold(state.Lock);
  state.FileNameOverride = FileName;
}
