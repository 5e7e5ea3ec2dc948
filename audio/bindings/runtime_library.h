// The one shape of the pipeline's run-time library bindings.
//
// The pipeline links none of the libraries it calls: each binding unit opens its
// library with dlopen and looks up every entry point it needs at once. A unit is
//   - an X-macro list of the entry points,
//   - the function table made from that list by `KORVANE_RUNTIME_FUNCTIONS`, each
//     pointer typed from the library's own header,
//   - one process-wide `TRuntimeBinding` of that table.
// A library counts as loaded only when every entry point was found; one that lacks any
// is closed again, so no caller ever meets a null entry point.
//
// The binding holds the loaded library through a shared reference, and a component
// that calls the library may hold one too (`Library`): unloading the binding then never
// pulls the code from under that component, and the file is closed when the last
// holder lets go. Every member of a binding takes its lock, so loading is safe from any
// thread.
#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

// Declares the function table Struct: one pointer per entry point of the X-macro list
// EntryPoints, typed with decltype from the library's header, and `ForEach`, which
// hands each pointer with its symbol name to a visitor.
#define KORVANE_ENTRY_POINT_SLOT(Name) decltype(&::Name) Name = nullptr;
#define KORVANE_ENTRY_POINT_VISIT(Name) Visit(#Name, Name);
#define KORVANE_RUNTIME_FUNCTIONS(Struct, EntryPoints)             \
  struct Struct {                                                  \
    EntryPoints(KORVANE_ENTRY_POINT_SLOT) template <class Visitor> \
    void ForEach(Visitor&& Visit) {                                \
      EntryPoints(KORVANE_ENTRY_POINT_VISIT)                       \
    }                                                              \
  }

// How the message about a missing library names it: most as "<file> library", our own
// CD library by its file name alone.
enum class TLibraryNaming { FileAndWordLibrary, FileNameOnly };

// One opened library file, closed by the destructor.
class TLibraryFile {
 public:
  // Opens Folder/FileName when Folder is given and FileName is a bare name; else, or
  // when that is not there, FileName through the standard library search path.
  TLibraryFile(const std::string& Folder, const std::string& FileName);
  ~TLibraryFile();
  TLibraryFile(const TLibraryFile&) = delete;
  TLibraryFile& operator=(const TLibraryFile&) = delete;

  bool Loaded() const { return Handle_ != nullptr; }

 protected:
  // The address of the symbol Name; null when the file lacks it or is not open.
  void* Symbol(const char* Name) const;
  void Close();

 private:
  void* Handle_ = nullptr;
};

// One loaded copy of a library with its function table Api.
template <class Api>
class TRuntimeLibrary : public TLibraryFile {
 public:
  TRuntimeLibrary(const std::string& Folder, const std::string& FileName)
      : TLibraryFile(Folder, FileName) {
    if (Loaded() && !BindAll()) {
      Functions_ = Api{};
      Close();
    }
  }

  const Api& Functions() const { return Functions_; }

 private:
  bool BindAll() {
    bool complete = true;
    Functions_.ForEach([&](const char* Name, auto& Slot) {
      Slot = reinterpret_cast<std::remove_reference_t<decltype(Slot)>>(Symbol(Name));
      complete = complete && Slot != nullptr;
    });
    return complete;
  }

  Api Functions_{};
};

// What every binding offers whatever its entry points, so that code can load, check
// and report several libraries alike.
class TLibraryBinding {
 public:
  TLibraryBinding(const char* FileName, TLibraryNaming Naming)
      : FileName_(FileName), Naming_(Naming) {}
  virtual ~TLibraryBinding() = default;
  TLibraryBinding(const TLibraryBinding&) = delete;
  TLibraryBinding& operator=(const TLibraryBinding&) = delete;

  // Opens the library unless it is loaded already, from Folder first when one is given;
  // true when it is loaded afterwards. A failed load is tried again by the next call.
  bool Load(const std::string& Folder = std::string());
  // Drops the binding's reference; a component that holds the library keeps it.
  void Unload();
  bool Loaded() const;

  // The standard file name: the one opened, and the one the message names.
  const char* FileName() const { return FileName_; }
  // "<file> library could not be loaded." (or "<file> could not be loaded.").
  std::string NotLoadedMessage() const;

  // Changes the file that the next `Load` opens; an empty name restores the standard
  // one. For tests that need a missing or incomplete library.
  void SetFileNameForTesting(const std::string& FileName);

 protected:
  std::shared_ptr<const TLibraryFile> Held() const;

 private:
  // One bound copy of the library, null when it is missing or incomplete. Runs under
  // the binding's lock.
  virtual std::shared_ptr<const TLibraryFile> Open(const std::string& Folder,
                                                   const std::string& FileName) const = 0;
  // Runs under the lock just before the binding drops its loaded copy.
  virtual void Release(const TLibraryFile& Copy) const = 0;

  const char* const FileName_;
  const TLibraryNaming Naming_;
  mutable std::mutex Lock_;
  std::shared_ptr<const TLibraryFile> Library_;
  std::string FileNameOverride_;
};

// Raises EAudioException with the message of the first of Bindings that is not loaded.
void RequireLoaded(std::initializer_list<const TLibraryBinding*> Bindings);

// The binding of a library with the function table Api. Start runs once a fresh copy
// has all its entry points, before anyone else sees it (with the folder given to
// `Load`); Stop runs before `Unload` drops a loaded copy.
template <class Api>
class TRuntimeBinding final : public TLibraryBinding {
 public:
  using TLibrary = TRuntimeLibrary<Api>;
  using TStartHook = void (*)(const Api& Functions, const std::string& Folder);
  using TStopHook = void (*)(const Api& Functions);

  explicit TRuntimeBinding(const char* FileName,
                           TLibraryNaming Naming = TLibraryNaming::FileAndWordLibrary,
                           TStartHook Start = nullptr, TStopHook Stop = nullptr)
      : TLibraryBinding(FileName, Naming), Start_(Start), Stop_(Stop) {}

  // The loaded library (null when not loaded), for a component to hold.
  std::shared_ptr<const TLibrary> Library() const {
    return std::static_pointer_cast<const TLibrary>(Held());
  }
  // The loaded library's entry points, valid until `Unload`; all null when not loaded.
  const Api& Functions() const {
    static const Api none{};
    const std::shared_ptr<const TLibrary> library = Library();
    return library ? library->Functions() : none;
  }

 private:
  std::shared_ptr<const TLibraryFile> Open(const std::string& Folder,
                                           const std::string& FileName) const override {
    auto library = std::make_shared<const TLibrary>(Folder, FileName);
    if (!library->Loaded()) return nullptr;
    if (Start_) Start_(library->Functions(), Folder);
    return library;
  }
  void Release(const TLibraryFile& Copy) const override {
    if (Stop_) Stop_(static_cast<const TLibrary&>(Copy).Functions());
  }

  const TStartHook Start_;
  const TStopHook Stop_;
};
