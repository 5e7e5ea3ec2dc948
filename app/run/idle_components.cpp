#include "idle_components.h"

#include "madlib.h"
#include "vorbisenc.h"
#include "vorbisfile.h"

TMP3ToWav::TMP3ToWav() { RequireLoaded({&MadBinding()}); }

TVorbisIn::TVorbisIn() {
  RequireLoaded({&OggBinding(), &VorbisBinding(), &VorbisFileBinding(), &VorbisEncBinding()});
}
