// The run-time library bindings, all nine alike: a missing or incomplete library is
// not loaded and is named in its message, a binding loads again after it was unloaded,
// and a copy that a component holds outlives the binding's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "bindings/madlib.h"
#include "cdrom/audio_cdrom.h"
#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "temp_dir.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

struct TBindingCase {
  const char* Name;
  TLibraryBinding* Binding;
  const char* Installed;  // the file that holds the real library; empty: the standard name
  void (*Create)();       // makes the pipeline component that needs it; null: none does
  const char* Message;
};

void PrintTo(const TBindingCase& Case, std::ostream* Out) { *Out << Case.Name; }

const TBindingCase Bindings[] = {
    {"lame", &LameBinding(), "", [] { TMP3Out output; },
     "libmp3lame.so.0 library could not be loaded."},
    {"CDRip", &CDRipBinding(), KORVANE_BIN_DIR "/libcdrip.so", [] { TCDIn source; },
     "libcdrip.so could not be loaded."},
    {"ogg", &OggBinding(), "", [] { TVorbisOut output; },
     "libogg.so.0 library could not be loaded."},
    {"Codec", &VorbisBinding(), "", [] { TVorbisOut output; },
     "libvorbis.so.0 library could not be loaded."},
    {"VorbisEnc", &VorbisEncBinding(), "", [] { TVorbisOut output; },
     "libvorbisenc.so.2 library could not be loaded."},
    {"VorbisFile", &VorbisFileBinding(), "", [] { TVorbisOut output; },
     "libvorbisfile.so.3 library could not be loaded."},
    {"MADLib", &MadBinding(), "", nullptr, "libmad.so.0 library could not be loaded."},
    {"flac", &FlacBinding(), "", [] { TFlacOut output; },
     "libFLAC.so.12 library could not be loaded."},
    {"opusenc", &OpusEncBinding(), "", [] { TOpusOut output; },
     "libopusenc.so.0 library could not be loaded."},
};

bool Mapped(const char* FileName) {
  std::ifstream maps("/proc/self/maps");
  const std::string text(std::istreambuf_iterator<char>(maps), {});
  return text.find(FileName) != std::string::npos;
}

// Each test starts with every binding unloaded (a library one binding loads may load
// another's as its dependency) and leaves them unloaded with their standard names.
class RuntimeBindingTest : public ::testing::TestWithParam<TBindingCase> {
 protected:
  void SetUp() override { UnloadAll(); }
  void TearDown() override {
    Binding().SetFileNameForTesting("");
    UnloadAll();
  }
  static void UnloadAll() {
    for (const TBindingCase& binding : Bindings) binding.Binding->Unload();
  }
  TLibraryBinding& Binding() const { return *GetParam().Binding; }
  // Loads File as from a program in the test's own folder, where cdr.ini goes.
  bool LoadFrom(const char* File) {
    Binding().SetFileNameForTesting(File);
    return Binding().Load(Program.Path().string());
  }

  TTempDir Program;
};

TEST_P(RuntimeBindingTest, AMissingOrIncompleteLibraryIsNotLoadedAndNamedInItsMessage) {
  for (const char* file : {"libkorvane-absent.so", INCOMPLETE_LIBRARY}) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(LoadFrom(file));
    EXPECT_FALSE(Binding().Loaded());
    EXPECT_EQ(Binding().NotLoadedMessage(), GetParam().Message);
    if (GetParam().Create) {
      EXPECT_THAT(GetParam().Create, ThrowsMessage<EAudioException>(StrEq(GetParam().Message)));
    }
  }
  EXPECT_FALSE(Mapped(INCOMPLETE_LIBRARY)) << "a library found wanting is closed again";
}

TEST_P(RuntimeBindingTest, LoadsAgainAfterUnload) {
  ASSERT_TRUE(LoadFrom(GetParam().Installed));
  Binding().Unload();
  EXPECT_FALSE(Binding().Loaded());
  EXPECT_TRUE(Binding().Load(Program.Path().string()));
  EXPECT_TRUE(Binding().Loaded());
}

INSTANTIATE_TEST_SUITE_P(Each, RuntimeBindingTest, ::testing::ValuesIn(Bindings),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Threads that load, hold and unload one binding at once: a copy a thread holds stays
// callable whatever the others do to the binding.
TEST(RuntimeBindingThreads, AHeldCopyStaysCallableWhileOthersUnload) {
  std::vector<std::thread> threads;
  for (int count = 0; count < 4; ++count)
    threads.emplace_back([] {
      for (int round = 0; round < 50; ++round) {
        OggBinding().Load();
        const std::shared_ptr<const TRuntimeLibrary<TOggApi>> held = OggBinding().Library();
        OggBinding().Unload();
        unsigned char header[27] = {};
        ogg_page page{header, sizeof header, nullptr, 0};
        if (held) {
          EXPECT_EQ(held->Functions().ogg_page_eos(&page), 0);
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
}

}  // namespace
