// The program's start: the windows and their defaults, and a missing library, which
// stops the start with its message and a non-zero exit status.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QRadioButton>

#include "app_test_support.h"
#include "bindings/cdrip_binding.h"
#include "bindings/codec.h"
#include "bindings/flac.h"
#include "bindings/lame.h"
#include "bindings/madlib.h"
#include "bindings/ogg.h"
#include "bindings/vorbisenc.h"
#include "bindings/vorbisfile.h"
#include "run/pipeline_components.h"
#include "settings/unit2.h"
#include "windows/korvane_program.h"

namespace {

const char* const MissingFile = "libkorvane-missing.so";

using StartupTest = WindowTest;

TEST_F(StartupTest, TheWindowsOpenWithTheStoredDefaults) {
  EXPECT_EQ(Form->windowTitle(), "Korvane version 1.00");
  QTabWidget* tabs = Form->JvPageControl1;
  const QStringList captions = {
      "General options", "Wav settings", "Mp3 settings", "Ogg settings",
      "Flac settings",   "Opus",         "About",        " Online  Advertissement "};
  ASSERT_EQ(tabs->count(), captions.size());
  for (int tab = 0; tab < captions.size(); ++tab) EXPECT_EQ(tabs->tabText(tab), captions[tab]);
  EXPECT_EQ(tabs->currentWidget(), Form->TabSheet1);

  // Run from the build, the output folder is korvane-output/ in the current folder (not
  // the build's program folder, which `make clean` removes with the rips in it).
  TForm1 fresh;
  EXPECT_EQ(fresh.Edit1->text(), QDir::current().filePath("korvane-output") + "/");
  EXPECT_TRUE(fresh.acceptDrops());
  EXPECT_TRUE(fresh.RadioButton1->isChecked());
  EXPECT_FALSE(fresh.CheckBox1->isChecked());
  EXPECT_FALSE(fresh.JobList().Remove1->isEnabled());
  EXPECT_FALSE(fresh.JobList().Removeall1->isEnabled());

  QTreeWidget* list = fresh.ListView1();
  EXPECT_EQ(list->headerItem()->text(0), "Name");
  EXPECT_EQ(list->headerItem()->text(1), "Status");
  EXPECT_EQ(list->headerItem()->text(2), "Full path");
  EXPECT_EQ(list->columnWidth(0), 200);
  EXPECT_EQ(list->columnWidth(1), 50);
  EXPECT_EQ(list->columnWidth(2), 339);

  TPipelineComponents& components = fresh.Components();
  EXPECT_TRUE(components.WaveOut1.SuspendWhenIdle());
  EXPECT_TRUE(components.MP3Out1.SuspendWhenIdle());
  EXPECT_FALSE(components.VorbisOut1.SuspendWhenIdle());
  EXPECT_EQ(components.MP3Out1.Id3TagYear.Get(), "");  // no year that nobody gave
  EXPECT_EQ(components.WaveOut1.WavType(), wtPCM);

  TForm2 form2;
  EXPECT_EQ(form2.windowTitle(), "Mp3 tag settings");
}

// One library made missing for the start, and its message.
struct TMissingLibrary {
  const char* Name;
  TLibraryBinding* Binding;
  const char* Message;
  friend void PrintTo(const TMissingLibrary& Case, std::ostream* Out) { *Out << Case.Name; }
};

class MissingLibraryTest : public ::testing::TestWithParam<TMissingLibrary> {
 protected:
  void TearDown() override {
    GetParam().Binding->SetFileNameForTesting("");
    LoadVorbisLibraries();
    MadBinding().Load();
  }
};

TEST_P(MissingLibraryTest, StopsTheStartWithItsMessageAndANonZeroStatus) {
  GetParam().Binding->Unload();
  GetParam().Binding->SetFileNameForTesting(MissingFile);
  TMessageBoxCatcher messageBox;
  const int status = RunKorvane(*qApp, {});
  EXPECT_NE(status, 0);
  EXPECT_TRUE(messageBox.Shown());
  EXPECT_EQ(messageBox.Text, QString::fromLatin1(GetParam().Message));
  for (QWidget* window : QApplication::topLevelWidgets())
    EXPECT_EQ(qobject_cast<TForm1*>(window), nullptr);
}

// Started only to be checked (--quit-after-start), the program names the library on
// standard error: nobody may be at the screen to close a message box.
TEST_P(MissingLibraryTest, IsNamedOnStandardErrorWhenStartedToBeChecked) {
  GetParam().Binding->Unload();
  GetParam().Binding->SetFileNameForTesting(MissingFile);
  TMessageBoxCatcher messageBox;
  ::testing::internal::CaptureStderr();
  const int status = RunKorvane(*qApp, {QStringLiteral("--quit-after-start")});
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(messageBox.Shown());
  EXPECT_NE(errors.find(std::string(GetParam().Message) + "\n"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, MissingLibraryTest,
    ::testing::Values(
        TMissingLibrary{"CdRip", &CDRipBinding(), "libcdrip.so could not be loaded."},
        TMissingLibrary{"Lame", &LameBinding(), "libmp3lame.so.0 library could not be loaded."},
        TMissingLibrary{"Ogg", &OggBinding(), "libogg.so.0 library could not be loaded."},
        TMissingLibrary{"Vorbis", &VorbisBinding(), "libvorbis.so.0 library could not be loaded."},
        TMissingLibrary{"VorbisFile", &VorbisFileBinding(),
                        "libvorbisfile.so.3 library could not be loaded."},
        TMissingLibrary{"VorbisEnc", &VorbisEncBinding(),
                        "libvorbisenc.so.2 library could not be loaded."},
        TMissingLibrary{"Mad", &MadBinding(), "libmad.so.0 library could not be loaded."},
        TMissingLibrary{"Flac", &FlacBinding(), "libFLAC.so.12 library could not be loaded."}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
