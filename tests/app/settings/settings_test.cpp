// The settings tabs: each control writes its output's property when the user changes
// it, within the rules that guard the values.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include <tuple>

#include "outputs/audio_opus.h"
#include "settings/opus_settings.h"
#include "settings_test_support.h"
#include "widgets/spin_button.h"

namespace {

using SettingsTest = SettingsWindowTest;

void Click(TSpinButton* Spin, bool Up, int Times = 1) {
  for (int i = 0; i < Times; ++i) (Up ? Spin->UpButton() : Spin->DownButton())->click();
}

TEST_F(SettingsTest, QualitySpinnersStepOneAtATimeAndStopAtOneAndNine) {
  const std::tuple<TSpinButton*, QLabel*, TMP3Quality*> spinners[] = {
      {Mp3().SpinButton1, Mp3().Label5, &MP3Out1().Quality},
      {Mp3().SpinButton2, Mp3().Label6, &MP3Out1().VBRQuality}};
  for (const auto& [spin, label, stored] : spinners) {
    EXPECT_EQ(*stored, ql5);
    Click(spin, true);
    EXPECT_EQ(label->text(), "6");
    EXPECT_EQ(*stored, ql6);
    Click(spin, true, 5);
    EXPECT_EQ(label->text(), "9");
    EXPECT_EQ(*stored, ql9);
    Click(spin, false, 10);
    EXPECT_EQ(label->text(), "1");
    EXPECT_EQ(*stored, ql1);
  }
}

TEST_F(SettingsTest, VbrMinimumClimbsToTheMaximumAndStaysThere) {
  TMp3Settings& mp3 = Mp3();
  QStringList shown;
  for (int i = 0; i < 5; ++i) {
    Click(mp3.SpinButton3, true);
    shown.append(mp3.Label7->text());
  }
  EXPECT_EQ(shown, QStringList({"144", "160", "192", "192", "192"}));
  EXPECT_EQ(MP3Out1().VBRMinBitrate, 192);

  // Equal bounds: the maximum does not go down past the minimum.
  Click(mp3.SpinButton4, false);
  EXPECT_EQ(mp3.Label8->text(), "192");
  EXPECT_EQ(MP3Out1().VBRMaxBitrate, 192);

  Click(mp3.SpinButton3, false);
  Click(mp3.SpinButton4, false);
  EXPECT_EQ(mp3.Label7->text(), "160");
  EXPECT_EQ(mp3.Label8->text(), "160");
  EXPECT_EQ(MP3Out1().VBRMinBitrate, 160);
  EXPECT_EQ(MP3Out1().VBRMaxBitrate, 160);
}

TEST_F(SettingsTest, KeepAsItIsLeavesTheLastChannelModeSet) {
  EXPECT_EQ(MP3Out1().Mode, STEREO);
  Mp3().RadioButton18->click();
  EXPECT_EQ(MP3Out1().Mode, MONO);
  Mp3().RadioButton16->click();
  EXPECT_EQ(MP3Out1().Mode, MONO);
  Mp3().RadioButton17->click();
  EXPECT_EQ(MP3Out1().Mode, STEREO);
}

TEST_F(SettingsTest, AcmAndMsAdPcmLeaveTheWavTypeInForce) {
  QComboBox* list = Wav().ComboBox1;
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(list->placeholderText(), "Wav Type");
  EXPECT_EQ(WaveOut1().WavType(), wtPCM);
  const std::pair<const char*, TWavType> choices[] = {{"Acm", wtPCM},      {"DviAdPcm", wtDVIADPCM},
                                                      {"Acm", wtDVIADPCM}, {"MsAdPcm", wtDVIADPCM},
                                                      {"Pcm", wtPCM},      {"MsAdPcm", wtPCM}};
  for (const auto& [item, type] : choices) {
    Choose(list, QString::fromLatin1(item));
    EXPECT_EQ(WaveOut1().WavType(), type) << "after " << item;
  }
}

TEST_F(SettingsTest, CompressionSliderEndsStoreZeroAndOne) {
  QSlider* slider = Ogg().JvTrackBar1;
  EXPECT_EQ(slider->value(), 20);
  EXPECT_FLOAT_EQ(VorbisOut1().Compression, 0.2f);
  QTest::keyClick(slider, Qt::Key_End);
  EXPECT_FLOAT_EQ(VorbisOut1().Compression, 1.0f);
  QTest::keyClick(slider, Qt::Key_Home);
  EXPECT_FLOAT_EQ(VorbisOut1().Compression, 0.0f);
  QTest::keyClick(slider, Qt::Key_Right);
  EXPECT_FLOAT_EQ(VorbisOut1().Compression, 0.01f);
}

// The Opus tab on a sheet of its own: it shows the output's settings, keeps the bit
// rate to what a stereo stream can carry, and writes what the user sets; its comments
// are the tag window's texts only while "Use tags" is checked.
TEST_F(SettingsTest, OpusTabStoresItsSettingsWithinTheirRanges) {
  QWidget sheet;
  TOpusOut output;
  TOpusSettings opus(&sheet, output);
  opus.SetTagSettingsWindow(Form2.get());
  EXPECT_EQ(opus.BitrateBox->text(), "160 kbit/s");
  EXPECT_TRUE(opus.VariableBitrate->isChecked());
  EXPECT_EQ(opus.ComplexityLabel->text(), "Complexity 10");
  const std::pair<int, int> typed[] = {{96, 96}, {600, 510}, {2, 6}};
  for (const auto& [value, stored] : typed) {
    opus.BitrateBox->setValue(value);
    EXPECT_EQ(output.Bitrate, stored) << value;
  }
  opus.VariableBitrate->click();
  EXPECT_FALSE(output.Vbr);
  QTest::keyClick(opus.ComplexitySlider, Qt::Key_Home);
  EXPECT_EQ(output.Complexity, 0);
  EXPECT_EQ(opus.ComplexityLabel->text(), "Complexity 0");
  Form2->Edit3->setText("Jóga");
  EXPECT_TRUE(opus.Comments().empty());
  opus.UseTags->click();
  EXPECT_EQ(opus.Comments(), std::vector<std::string>{"TITLE=Jóga"});
}

// The user's choices in the three Ogg lists, and what the lists show and the output
// holds afterwards (nominal, maximum, minimum).
struct TOggChoice {
  int List;  // 0 nominal, 1 maximum, 2 minimum
  const char* Item;
};

struct TOggListCase {
  const char* Name;
  std::vector<TOggChoice> Choices;
  std::array<const char*, 3> Shown;
  std::array<TVorbisBitRate, 3> Stored;
  friend void PrintTo(const TOggListCase& Case, std::ostream* Out) { *Out << Case.Name; }
};

class OggListTest : public SettingsWindowTest,
                    public ::testing::WithParamInterface<TOggListCase> {};

TEST_P(OggListTest, ChoicesAdjustTheOtherListsAndStoreTheirOwnValue) {
  QComboBox* lists[] = {Ogg().ComboBox5, Ogg().ComboBox4, Ogg().ComboBox6};
  for (const TOggChoice& choice : GetParam().Choices)
    Choose(lists[choice.List], QString::fromLatin1(choice.Item));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(lists[i]->currentText(), GetParam().Shown[i]) << "list " << i;
  EXPECT_EQ(VorbisOut1().DesiredNominalBitrate(), GetParam().Stored[0]);
  EXPECT_EQ(VorbisOut1().DesiredMaximumBitrate(), GetParam().Stored[1]);
  EXPECT_EQ(VorbisOut1().MinimumBitrate(), GetParam().Stored[2]);
}

constexpr auto A = bbrAutoSelect;
constexpr int Nominal = 0, Maximum = 1, Minimum = 2;

INSTANTIATE_TEST_SUITE_P(
    Choices, OggListTest,
    ::testing::Values(TOggListCase{"MaximumWithoutNominalSnapsBack",
                                   {{Maximum, "192"}},
                                   {"AutoSelect", "AutoSelect", "AutoSelect"},
                                   {A, A, A}},
                      TOggListCase{"MinimumWithoutNominalSnapsBack",
                                   {{Minimum, "64"}},
                                   {"AutoSelect", "AutoSelect", "AutoSelect"},
                                   {A, A, A}},
                      TOggListCase{"NominalFillsAnAutomaticMaximum",
                                   {{Nominal, "128"}},
                                   {"128", "128", "AutoSelect"},
                                   {bbr128, bbr128, A}},
                      TOggListCase{"NominalAboveTheMaximumRaisesIt",
                                   {{Nominal, "128"}, {Maximum, "160"}, {Nominal, "192"}},
                                   {"192", "192", "AutoSelect"},
                                   {bbr192, bbr192, A}},
                      TOggListCase{"MaximumBelowTheNominalSnapsBack",
                                   {{Nominal, "128"}, {Maximum, "96"}},
                                   {"128", "AutoSelect", "AutoSelect"},
                                   {bbr128, A, A}},
                      TOggListCase{"MinimumAboveTheNominalSnapsBack",
                                   {{Nominal, "128"}, {Minimum, "160"}},
                                   {"128", "128", "AutoSelect"},
                                   {bbr128, bbr128, A}},
                      TOggListCase{"RangeAroundTheNominalIsKept",
                                   {{Nominal, "128"}, {Maximum, "192"}, {Minimum, "96"}},
                                   {"128", "192", "96"},
                                   {bbr128, bbr192, bbr96}},
                      // The list shows "AutoSelect" while the output has lowered its minimum to the
                      // new nominal rate: the two differ until the list is chosen again.
                      TOggListCase{"NominalBelowTheMinimumDropsItFromTheList",
                                   {{Nominal, "128"}, {Minimum, "96"}, {Nominal, "80"}},
                                   {"80", "128", "AutoSelect"},
                                   {bbr80, bbr128, bbr80}},
                      TOggListCase{"MaximumSnappingBackDropsTheMinimum",
                                   {{Nominal, "128"}, {Minimum, "96"}, {Maximum, "64"}},
                                   {"128", "AutoSelect", "AutoSelect"},
                                   {bbr128, A, bbr96}}),
    [](const ::testing::TestParamInfo<TOggListCase>& Info) {
      return std::string(Info.param.Name);
    });

// Answers the next folder browser: Folder chosen, or cancelled when it is empty.
std::unique_ptr<TModalAnswer> AnswerFolderBrowser(const QString& Folder) {
  return std::make_unique<TModalAnswer>([Folder](QWidget* Modal) {
    auto* browser = qobject_cast<QFileDialog*>(Modal);
    ASSERT_NE(browser, nullptr);
    if (Folder.isEmpty()) {
      browser->reject();
    } else {
      browser->setDirectory(Folder);
      static_cast<QDialog*>(browser)->accept();  // as the dialog's own button does
    }
  });
}

TEST_F(SettingsTest, SetFolderShowsTheChosenFolderAndACancelKeepsIt) {
  const QString start = Form->Edit1->text();
  auto answer = AnswerFolderBrowser(QString());
  Form->Button1->click();
  ASSERT_TRUE(answer->Answered());
  EXPECT_EQ(Form->Edit1->text(), start);

  const QString chosen = QString::fromStdString(Dir / "chosen");
  ASSERT_TRUE(QDir().mkpath(chosen));
  answer = AnswerFolderBrowser(chosen + QStringLiteral("/"));
  Form->Button1->click();
  ASSERT_TRUE(answer->Answered());
  EXPECT_EQ(Form->Edit1->text(), chosen);

  answer = AnswerFolderBrowser(QString());
  Form->Button1->click();
  ASSERT_TRUE(answer->Answered());
  EXPECT_EQ(Form->Edit1->text(), chosen);
}

TEST_F(SettingsTest, ARunStartedFromAFormatTabShowsGeneralOptionsThenReturns) {
  const std::string cue = MakeDisc(AudioDisc({0.5, 0.5}));
  Form->AddDroppedPaths(Entries(cue, {1, 2}));
  Form->JvPageControl1->setCurrentWidget(Form->TabSheet3);
  QStringList shownDuringRun;
  OnStatusWritten([&](QTreeWidgetItem*) {
    shownDuringRun.append(Form->JvPageControl1->tabText(Form->JvPageControl1->currentIndex()));
  });

  Convert();

  ASSERT_FALSE(shownDuringRun.isEmpty());
  shownDuringRun.removeDuplicates();
  EXPECT_EQ(shownDuringRun, QStringList({"General options"}));
  EXPECT_EQ(Form->JvPageControl1->currentWidget(), Form->TabSheet3);
}

// A bit rate that MP3 at the chosen sample rate does not carry is changed by the
// encoder, and the run's message says so, as korvane-cli warns.
TEST_F(SettingsTest, AnMp3BitRateTheSampleRateCannotCarryIsToldAfterTheRun) {
  Form->AddDroppedPaths(Entries(MakeDisc(AudioDisc({0.5})), {1}));
  Form->RadioButton2->click();
  MP3Out1().SampleRate = sr22kHz;
  MP3Out1().BitRate = br320;

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done"}));
  ASSERT_NE(Form->RunProblems(), nullptr);
  EXPECT_EQ(Form->RunProblems()->text().toStdString(),
            "Bitrate 320 kbit/s became 160 kbit/s: MP3 at 22050 Hz carries at most 160 kbit/s.");
}

}  // namespace
