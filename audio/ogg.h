// Unit ogg: the run-time binding of libogg, the Ogg stream and page functions.
//
// Also holds what the four Ogg Vorbis bindings (ogg, Codec, VorbisEnc, VorbisFile)
// share: a library handle that closes itself and the state of one binding unit (its
// library, its table of entry points and its loaded flag).
//
// Each library is loaded once, when the program starts (`LoadVorbisLibraries` in
// audio_vorbis.h loads the four in their order), and unloaded when it ends. The
// record layouts come from the library's published header; no function of it is
// linked.
#pragma once

#include <ogg/ogg.h>

#include <atomic>
#include <mutex>

// A shared library opened with dlopen and closed when the handle is closed or goes.
class TLibraryHandle {
 public:
  TLibraryHandle() = default;
  ~TLibraryHandle() { Close(); }
  TLibraryHandle(const TLibraryHandle&) = delete;
  TLibraryHandle& operator=(const TLibraryHandle&) = delete;

  // Opens FileName through the standard library search path; false when it cannot.
  bool Open(const char* FileName);
  void Close();

  // Looks Name up and stores it in Slot; false (and Slot null) when it is missing.
  template <class Function>
  bool Bind(const char* Name, Function& Slot) const {
    Slot = reinterpret_cast<Function>(Symbol(Name));
    return Slot != nullptr;
  }

 private:
  void* Symbol(const char* Name) const;
  void* Handle_ = nullptr;
};

// One binding unit: a library, its entry points (Api, a struct of typed function
// pointers) and its loaded flag. `Load` tries the library once; until `Unload`,
// further calls change nothing. A library that lacks one of the entry points the
// binding needs counts as not loaded, so no caller ever meets a null entry point.
template <class Api>
class TBindingUnit {
 public:
  // Fills every entry point of Api from the library; false when one is missing.
  using TBinder = bool (*)(const TLibraryHandle& Library, Api& Functions);

  explicit TBindingUnit(TBinder Binder) : Binder_(Binder) {}

  bool Load(const char* FileName) {
    std::lock_guard<std::mutex> hold(Lock_);
    if (Tried_) return Loaded_;
    Tried_ = true;
    Api functions{};
    if (!Library_.Open(FileName)) return false;
    if (!Binder_(Library_, functions)) {
      Library_.Close();
      return false;
    }
    Functions_ = functions;
    Loaded_ = true;
    return true;
  }

  void Unload() {
    std::lock_guard<std::mutex> hold(Lock_);
    Loaded_ = false;
    Functions_ = Api{};
    Library_.Close();
    Tried_ = false;
  }

  bool Loaded() const { return Loaded_; }
  // The entry points; valid while `Loaded`.
  const Api& Functions() const { return Functions_; }

 private:
  TBinder Binder_;
  std::mutex Lock_;
  TLibraryHandle Library_;
  Api Functions_{};
  std::atomic<bool> Loaded_{false};
  bool Tried_ = false;
};

constexpr const char* OggLibraryName = "libogg.so.0";

// The libogg entry points that the Ogg Vorbis output calls.
struct TOggApi {
  decltype(&::ogg_stream_init) ogg_stream_init = nullptr;
  decltype(&::ogg_stream_packetin) ogg_stream_packetin = nullptr;
  decltype(&::ogg_stream_flush) ogg_stream_flush = nullptr;
  decltype(&::ogg_stream_pageout) ogg_stream_pageout = nullptr;
  decltype(&::ogg_page_eos) ogg_page_eos = nullptr;
  decltype(&::ogg_stream_clear) ogg_stream_clear = nullptr;
};

// Loads libogg once (FileName is replaceable for tests); true when it is loaded.
bool LoadOgg(const char* FileName = OggLibraryName);
void UnloadOgg();
bool OggLoaded();
const TOggApi& OggApi();
