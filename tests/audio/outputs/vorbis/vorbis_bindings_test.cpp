// The four Ogg Vorbis bindings as the output meets them: loaded once in their order,
// and checked in theirs. Each binding's own behaviour is in tests/audio/bindings/binding_test.cpp.
#include <gtest/gtest.h>

#include "outputs/audio_vorbis.h"

namespace {

const char* const AbsentFile = "libkorvane-absent.so.0";

// Every test leaves the four libraries loaded from their real names.
class VorbisLibraries : public ::testing::Test {
 protected:
  void TearDown() override {
    UnloadVorbisLibraries();
    for (TLibraryBinding* binding : std::initializer_list<TLibraryBinding*>{
             &OggBinding(), &VorbisBinding(), &VorbisEncBinding(), &VorbisFileBinding()})
      binding->SetFileNameForTesting("");
    LoadVorbisLibraries();
  }

  // Makes Binding's library missing for the loads to come.
  static void MakeMissing(TLibraryBinding& Binding) {
    Binding.Unload();
    Binding.SetFileNameForTesting(AbsentFile);
  }
};

std::string ConstructionFailure() {
  try {
    TVorbisOut output;
  } catch (const EAudioException& e) {
    return e.what();
  }
  return "";
}

TEST_F(VorbisLibraries, LoadOnceInOrderAndStayLoaded) {
  LoadVorbisLibraries();
  EXPECT_TRUE(OggBinding().Loaded() && VorbisBinding().Loaded() && VorbisEncBinding().Loaded() &&
              VorbisFileBinding().Loaded());
  const auto first = OggApi().ogg_stream_init;
  LoadVorbisLibraries();
  EXPECT_EQ(OggApi().ogg_stream_init, first);
  EXPECT_EQ(ConstructionFailure(), "");
}

TEST_F(VorbisLibraries, TheFirstMissingLibraryInCheckOrderIsReported) {
  // The checks run ogg, vorbis, vorbisfile, vorbisenc.
  MakeMissing(VorbisEncBinding());
  MakeMissing(VorbisFileBinding());
  EXPECT_EQ(ConstructionFailure(), "libvorbisfile.so.3 library could not be loaded.");
  MakeMissing(VorbisBinding());
  EXPECT_EQ(ConstructionFailure(), "libvorbis.so.0 library could not be loaded.");
}

}  // namespace
