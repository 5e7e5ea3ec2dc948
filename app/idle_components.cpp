#include "idle_components.h"

#include <string>

#include "audio_classes.h"
#include "codec.h"
#include "madlib.h"
#include "ogg.h"
#include "vorbisenc.h"
#include "vorbisfile.h"

namespace {

void RequireLibrary(bool Loaded, const char* FileName) {
  if (!Loaded) throw EAudioException(std::string(FileName) + " library could not be loaded.");
}

}  // namespace

TMP3ToWav::TMP3ToWav() { RequireLibrary(MadLoaded(), MadLibraryFileName); }

TVorbisIn::TVorbisIn() {
  RequireLibrary(OggLoaded(), OggLibraryName);
  RequireLibrary(VorbisLoaded(), VorbisLibraryName);
  RequireLibrary(VorbisFileLoaded(), VorbisFileLibraryName);
  RequireLibrary(VorbisEncLoaded(), VorbisEncLibraryName);
}
