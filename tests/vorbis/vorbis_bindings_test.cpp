// The four loading units and the constructor's library checks.
#include <gtest/gtest.h>

#include <functional>

#include "audio_vorbis.h"

namespace {

struct LibraryCase {
  const char* Name;
  std::function<bool(const char*)> Load;  // with a replaced file name
  std::function<void()> Unload;
  std::function<bool()> Loaded;
  const char* Message;
};

const LibraryCase Libraries[] = {
    {"ogg", [](const char* F) { return LoadOgg(F); }, UnloadOgg, OggLoaded,
     "libogg.so.0 library could not be loaded."},
    {"vorbis", [](const char* F) { return LoadVorbis(F); }, UnloadVorbis, VorbisLoaded,
     "libvorbis.so.0 library could not be loaded."},
    {"vorbisenc", [](const char* F) { return LoadVorbisEnc(F); }, UnloadVorbisEnc,
     VorbisEncLoaded, "libvorbisenc.so.2 library could not be loaded."},
    {"vorbisfile", [](const char* F) { return LoadVorbisFile(F); }, UnloadVorbisFile,
     VorbisFileLoaded, "libvorbisfile.so.3 library could not be loaded."},
};

// Every test leaves the four libraries loaded from their real names.
class VorbisLibraries : public ::testing::TestWithParam<LibraryCase> {
 protected:
  void TearDown() override {
    UnloadVorbisLibraries();
    LoadVorbisLibraries();
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
  EXPECT_TRUE(OggLoaded() && VorbisLoaded() && VorbisEncLoaded() && VorbisFileLoaded());
  const auto first = OggApi().ogg_stream_init;
  LoadVorbisLibraries();
  EXPECT_EQ(OggApi().ogg_stream_init, first);
  EXPECT_EQ(ConstructionFailure(), "");
}

TEST_P(VorbisLibraries, AMissingLibraryNamesItself) {
  GetParam().Unload();
  EXPECT_FALSE(GetParam().Load("libkorvane-absent.so.0"));
  EXPECT_FALSE(GetParam().Loaded());
  // The constructor loads what was never tried, but does not retry a failed load.
  EXPECT_EQ(ConstructionFailure(), GetParam().Message);
}

TEST_P(VorbisLibraries, ALibraryWithoutTheEntryPointsCountsAsMissing) {
  GetParam().Unload();
  EXPECT_FALSE(GetParam().Load("libm.so.6"));
  EXPECT_EQ(ConstructionFailure(), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(Each, VorbisLibraries, ::testing::ValuesIn(Libraries),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(VorbisLibraries, TheFirstMissingLibraryInCheckOrderIsReported) {
  // The checks run ogg, vorbis, vorbisfile, vorbisenc.
  UnloadVorbisEnc();
  LoadVorbisEnc("libkorvane-absent.so.0");
  UnloadVorbisFile();
  LoadVorbisFile("libkorvane-absent.so.0");
  EXPECT_EQ(ConstructionFailure(), "libvorbisfile.so.3 library could not be loaded.");
  UnloadVorbis();
  LoadVorbis("libkorvane-absent.so.0");
  EXPECT_EQ(ConstructionFailure(), "libvorbis.so.0 library could not be loaded.");
}

}  // namespace
