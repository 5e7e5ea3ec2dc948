#include "bindings/runtime_library.h"

#include <dlfcn.h>

#include <filesystem>

#include "core/audio_exception.h"

namespace {

void* OpenLibrary(const std::string& Path) { return ::dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL); }

}  // namespace

TLibraryFile::TLibraryFile(const std::string& Folder, const std::string& FileName) {
  if (!Folder.empty() && FileName.find('/') == std::string::npos)
    Handle_ = OpenLibrary((std::filesystem::path(Folder) / FileName).string());
  if (!Handle_) Handle_ = OpenLibrary(FileName);
}

TLibraryFile::~TLibraryFile() { Close(); }

void* TLibraryFile::Symbol(const char* Name) const {
  return Handle_ ? ::dlsym(Handle_, Name) : nullptr;
}

void TLibraryFile::Close() {
  if (Handle_) ::dlclose(Handle_);
  Handle_ = nullptr;
}

bool TLibraryBinding::Load(const std::string& Folder) {
  std::lock_guard<std::mutex> hold(Lock_);
  if (!Library_) Library_ = Open(Folder, FileNameOverride_.empty() ? FileName_ : FileNameOverride_);
  return Library_ != nullptr;
}

void TLibraryBinding::Unload() {
  std::lock_guard<std::mutex> hold(Lock_);
  if (!Library_) return;
  Release(*Library_);
  Library_.reset();
}

bool TLibraryBinding::Loaded() const { return Held() != nullptr; }

std::shared_ptr<const TLibraryFile> TLibraryBinding::Held() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Library_;
}

std::string TLibraryBinding::NotLoadedMessage() const {
  const char* const naming = Naming_ == TLibraryNaming::FileAndWordLibrary ? " library" : "";
  return std::string(FileName_) + naming + " could not be loaded.";
}

void TLibraryBinding::SetFileNameForTesting(const std::string& FileName) {
  std::lock_guard<std::mutex> hold(Lock_);
  FileNameOverride_ = FileName;
}

void RequireLoaded(std::initializer_list<const TLibraryBinding*> Bindings) {
  for (const TLibraryBinding* binding : Bindings)
    if (!binding->Loaded()) throw EAudioException(binding->NotLoadedMessage());
}
