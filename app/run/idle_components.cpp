#include "run/idle_components.h"

#include "bindings/madlib.h"
#include "bindings/vorbisenc.h"
#include "bindings/vorbisfile.h"

TMP3ToWav::TMP3ToWav() { RequireLoaded({&MadBinding()}); }

TVorbisIn::TVorbisIn() {
  RequireLoaded({&OggBinding(), &VorbisBinding(), &VorbisFileBinding(), &VorbisEncBinding()});
}
