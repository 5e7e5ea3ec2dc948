// The window and korvane-cli rip through the same job layer: from the same settings
// they make the same files, byte for byte, per-row tags included, and both offer every
// format.
#include <sys/wait.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include <cstdio>

#include "jobs/output_formats.h"
#include "settings/flac_settings.h"
#include "settings_test_support.h"

namespace {

struct TAgreeCase {
  const char* Name;
  const char* Extension;
  std::function<void(TForm1&, TForm2&, TMp3Settings&)> ChooseInWindow;
  const char* CliOptions;
};

void PrintTo(const TAgreeCase& Case, std::ostream* Out) { *Out << Case.Name; }

class FrontEndsAgreeTest : public SettingsWindowTest,
                           public ::testing::WithParamInterface<TAgreeCase> {
 protected:
  int RunCli(const std::string& Arguments) {
    const std::string command =
        std::string(KORVANE_BIN_DIR) + "/korvane-cli " + Arguments + " >/dev/null 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_P(FrontEndsAgreeTest, TheSameSettingsMakeTheSameFiles) {
  const std::string cue = MakeDisc(AudioDisc({1, 1.5}));
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  GetParam().ChooseInWindow(*Form, *Form2, Mp3());
  Form->JvXPButton4->click();
  ASSERT_EQ(Statuses(), QStringList({"Done", "Done"}));

  const std::string cliOut = Dir / "cli";
  ASSERT_EQ(RunCli(std::string(GetParam().CliOptions) + " --out '" + cliOut + "' '" + cue +
                   "/Track01.cda' '" + cue + "/Track02.cda'"),
            0);
  for (const char* name : {"Track01", "Track02"}) {
    const std::string file = std::string(name) + GetParam().Extension;
    const std::vector<uint8_t> window = ReadWholeFile(OutFile(file));
    EXPECT_FALSE(window.empty()) << file;
    EXPECT_TRUE(window == ReadWholeFile(cliOut + "/" + file)) << file;
  }
}

const TAgreeCase AgreeCases[] = {
    {"Wav", ".wav", [](TForm1&, TForm2&, TMp3Settings&) {}, "--format wav"},
    {"Mp3WithRowTags", ".mp3",
     [](TForm1& Form, TForm2& Tags, TMp3Settings& Mp3) {
       Tags.Edit2->setText(QStringLiteral("Ann Björk"));
       QTest::keyClicks(Tags.Edit4, QStringLiteral("5"));
       Tags.CheckBox2->click();  // the title from the row's name
       Tags.CheckBox1->click();  // track numbers from the "Track" box on
       Mp3.CheckBox7->click();   // the tag window's texts go into the files
       Form.RadioButton2->click();
     },
     "--format mp3 --artist 'Ann Björk' --track 5 --title-from-name --track-from 5"},
    {"OggWithItsCommentLine", ".ogg",
     [](TForm1& Form, TForm2&, TMp3Settings&) { Form.RadioButton3->click(); },
     "--format ogg --tag 'Made with Brisomel'"},
    {"FlacWithRowTags", ".flac",
     [](TForm1& Form, TForm2& Tags, TMp3Settings&) {
       Tags.Edit2->setText(QStringLiteral("Ann Björk"));
       QTest::keyClicks(Tags.Edit4, QStringLiteral("5"));
       Tags.CheckBox2->click();  // the title from the row's name
       Tags.CheckBox1->click();  // track numbers from the "Track" box on
       Form.FlacSettings->UseTags->click();
       Form.FlacSettings->LevelSlider->setValue(8);
       Form.RadioButton4->click();
     },
     "--format flac --compression-level 8 --tag 'ARTIST=Ann Björk' --tag TRACKNUMBER=5 "
     "--title-from-name --track-from 5"},
};

// Every format of the table is a button of the window and a --format of korvane-cli, and
// both convert with it.
TEST_F(FrontEndsAgreeTest, EveryFormatIsOfferedByBoth) {
  const std::string cue = MakeDisc(AudioDisc({0.5}));
  Form->AddDroppedPaths(Entries(cue, {1}));
  const auto buttons = Form->findChildren<QRadioButton*>();
  for (const TOutputFormatInfo& format : OutputFormats()) {
    const auto button = std::find_if(buttons.begin(), buttons.end(), [&](QRadioButton* Button) {
      return Button->text() == QString::fromUtf8(format.Caption);
    });
    ASSERT_NE(button, buttons.end()) << format.Name;
    (*button)->click();
    Form->JvXPButton4->click();
    EXPECT_EQ(Statuses(), QStringList({"Done"})) << format.Name;
    const std::string file = std::string("Track01") + format.Extension;
    EXPECT_TRUE(std::filesystem::exists(OutFile(file))) << file;
    EXPECT_EQ(RunCli(std::string("--format ") + format.Name + " --out '" + (Dir / "cli") + "' '" +
                     cue + "'"),
              0);
    EXPECT_TRUE(std::filesystem::exists(Dir / ("cli/" + file))) << file;
  }
}

// "Rip hidden track one audio" reaches the run as --htoa does: the audio before track 1
// gets a row of its own before track 1's and the same file.
TEST_F(FrontEndsAgreeTest, HiddenTrackOneAudioBecomesTrackZeroInBoth) {
  di::DiscSpec disc = AudioDisc({1, 0.5});
  disc.hiddenSectors = 40;
  const std::string cue = MakeDisc(disc);
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  Form->CheckBox8->setChecked(true);
  Form->JvXPButton4->click();
  ASSERT_EQ(Statuses(), QStringList({"Done", "Done", "Done"}));
  EXPECT_EQ(Jobs().FullPath(0).toStdString(), cue + "/Track00.cda");
  ASSERT_EQ(RunCli("--htoa --out '" + (Dir / "cli") + "' '" + cue + "'"), 0);
  const std::vector<uint8_t> window = ReadWholeFile(OutFile("Track00.wav"));
  EXPECT_EQ(window.size(), 44u + 40 * 2352);
  EXPECT_TRUE(window == ReadWholeFile(Dir / "cli/Track00.wav"));
}

INSTANTIATE_TEST_SUITE_P(Formats, FrontEndsAgreeTest, ::testing::ValuesIn(AgreeCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
