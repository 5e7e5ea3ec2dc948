// MP3 and Ogg Vorbis jobs through the real window: the per-row title and track of the
// tag window, the comment line of every Ogg Vorbis file, and the settings chosen on
// the tabs, each checked in the files written.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include <functional>
#include <set>

#include "mp3_decoder.h"
#include "ogg_decoder.h"
#include "settings_test_support.h"
#include "tag_reader.h"
#include "widgets/spin_button.h"

namespace {

void Type(QWidget* Field, const QString& Text) { QTest::keyClicks(Field, Text); }

class Mp3OggJobsTest : public SettingsWindowTest {
 protected:
  // Lists the tracks 1..Count of a new disc of tracks of Seconds each.
  void ListTracks(int Count, double Seconds = 1) {
    const std::string cue = MakeDisc(AudioDisc(std::vector<double>(Count, Seconds)));
    std::vector<int> tracks;
    for (int track = 1; track <= Count; ++track) tracks.push_back(track);
    Form->AddDroppedPaths(Entries(cue, tracks));
  }
  std::optional<mp3test::TId3v1> Id3v1Of(const std::string& Name) {
    return mp3test::ReadId3v1(mp3test::ReadFile(OutFile(Name)));
  }
  mp3test::TDecoded FramesOf(const std::string& Name) {
    return mp3test::Decode(mp3test::AudioBytes(mp3test::ReadFile(OutFile(Name))));
  }
};

class Mp3RowTagsTest : public Mp3OggJobsTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool UseTags() const { return GetParam(); }
};

TEST_P(Mp3RowTagsTest, EachRowIsTitledByItsNameAndNumberedOnFromTheTrackBox) {
  ListTracks(3);
  Select({1});
  RenameSelected(QStringLiteral("Intro"));
  Type(Form2->Edit2, QStringLiteral("Ann Vale"));
  Type(Form2->Edit4, QStringLiteral("5"));
  Form2->CheckBox2->click();
  Form2->CheckBox1->click();
  if (UseTags()) Mp3().CheckBox7->click();
  Form->RadioButton2->click();

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done", "Done"}));
  const std::string names[] = {"Track01", "Intro", "Track03"};
  for (int row = 0; row < 3; ++row) {
    const auto tag = Id3v1Of(names[row] + ".mp3");
    ASSERT_TRUE(tag) << names[row];
    EXPECT_EQ(tag->Title, names[row]);
    EXPECT_EQ(tag->Track, 5 + row) << names[row];
    EXPECT_EQ(tag->Artist, UseTags() ? "Ann Vale" : "") << names[row];
  }
}

INSTANTIATE_TEST_SUITE_P(UseTags, Mp3RowTagsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                           return std::string(Info.param ? "Checked" : "Cleared");
                         });

TEST_F(Mp3OggJobsTest, ATrackBoxWithoutAWholeNumberStopsTheRunWithItsError) {
  ListTracks(2);
  Form2->CheckBox1->click();
  Type(Form2->Edit4, QStringLiteral("five"));
  Form->RadioButton2->click();
  TMessageBoxCatcher message;

  Convert();

  ASSERT_TRUE(message.Shown());
  EXPECT_EQ(message.Text, "'five' is not a valid integer value");
  EXPECT_EQ(Status(1), "");
  EXPECT_TRUE(std::filesystem::is_empty(Out()));
  EXPECT_TRUE(RunControlsAvailable());
}

class Mp3TypedTagsTest : public Mp3OggJobsTest,
                         public ::testing::WithParamInterface<tagtest::TGenreCase> {};

// The tag window's texts reach both tags of the file as typed (the reading is in
// tests/support/tag_reader.h).
TEST_P(Mp3TypedTagsTest, ReachBothTagsOfTheFile) {
  ListTracks(1);
  const tagtest::TTyped typed = tagtest::Typed(GetParam());
  Form2->Edit3->setText(QString::fromStdString(typed.Title));
  Form2->Edit2->setText(QString::fromStdString(typed.Artist));
  Form2->Edit1->setText(QString::fromStdString(typed.Album));
  Form2->Edit5->setText(QString::fromStdString(typed.Year));
  Form2->Edit4->setText(QString::fromStdString(typed.Track));
  Form2->Edit7->setText(QString::fromStdString(typed.Comment));
  Form2->ComboBox1->setCurrentText(QString::fromStdString(typed.Genre));
  Mp3().CheckBox7->click();
  Form->RadioButton2->click();

  Convert();

  ASSERT_EQ(Statuses(), QStringList({"Done"}));
  tagtest::ExpectTypedTags(OutFile("Track01.mp3"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Genres, Mp3TypedTagsTest, ::testing::ValuesIn(tagtest::GenreCases),
                         [](const auto& Info) { return std::string(Info.param.Typed); });

struct TMp3FileCase {
  const char* Name;
  std::function<void(TMp3Settings&)> Choose;
  std::function<bool(const mp3test::TFrame&)> EveryFrame;
  friend void PrintTo(const TMp3FileCase& Case, std::ostream* Out) { *Out << Case.Name; }
};

class Mp3FileSettingsTest : public Mp3OggJobsTest,
                            public ::testing::WithParamInterface<TMp3FileCase> {};

TEST_P(Mp3FileSettingsTest, TheChoiceReachesEveryFrame) {
  ListTracks(1, 1.5);
  GetParam().Choose(Mp3());
  Form->RadioButton2->click();
  Convert();

  const mp3test::TDecoded decoded = FramesOf("Track01.mp3");
  ASSERT_GT(decoded.Frames.size(), 20u);
  EXPECT_EQ(decoded.LostFrames, 0);
  for (size_t i = 0; i < decoded.Frames.size(); ++i)
    ASSERT_TRUE(GetParam().EveryFrame(decoded.Frames[i])) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Choices, Mp3FileSettingsTest,
    ::testing::Values(
        TMp3FileCase{"BitRate", [](TMp3Settings& Tab) { Choose(Tab.ComboBox2, "192"); },
                     [](const mp3test::TFrame& F) { return F.Kbps == 192; }},
        TMp3FileCase{"SampleRate", [](TMp3Settings& Tab) { Choose(Tab.ComboBox3, "32 KHz"); },
                     [](const mp3test::TFrame& F) { return F.SampleRate == 32000; }},
        TMp3FileCase{"Mono", [](TMp3Settings& Tab) { Tab.RadioButton18->click(); },
                     [](const mp3test::TFrame& F) { return F.Mode == MAD_MODE_SINGLE_CHANNEL; }},
        TMp3FileCase{"CopyrightCrcNotOriginal",
                     [](TMp3Settings& Tab) {
                       Tab.CheckBox2->click();
                       Tab.CheckBox3->click();
                       Tab.CheckBox5->click();
                     },
                     [](const mp3test::TFrame& F) {
                       return (F.Flags & MAD_FLAG_COPYRIGHT) && (F.Flags & MAD_FLAG_PROTECTION) &&
                              !(F.Flags & MAD_FLAG_ORIGINAL);
                     }}),
    [](const ::testing::TestParamInfo<TMp3FileCase>& Info) {
      return std::string(Info.param.Name);
    });

// Variable bit rates up to a maximum lowered to 160; the information frame at the
// start is left out.
TEST_F(Mp3OggJobsTest, VariableBitRateStaysWithinTheChosenMaximum) {
  ListTracks(1, 1.5);
  Mp3().CheckBox4->click();
  Mp3().SpinButton4->DownButton()->click();
  Form->RadioButton2->click();
  Convert();

  const mp3test::TDecoded decoded = FramesOf("Track01.mp3");
  ASSERT_GT(decoded.Frames.size(), 20u);
  std::set<int> rates;
  for (size_t i = 1; i < decoded.Frames.size(); ++i) rates.insert(decoded.Frames[i].Kbps);
  EXPECT_GT(rates.size(), 1u);
  EXPECT_LE(*rates.rbegin(), 160);
}

TEST_F(Mp3OggJobsTest, TwoOggJobsEachCarryOneCommentAndTheChosenNominalBitRate) {
  ListTracks(2);
  Choose(Ogg().ComboBox5, QStringLiteral("128"));
  Form->RadioButton3->click();

  Convert();

  EXPECT_EQ(Statuses(), QStringList({"Done", "Done"}));
  for (const char* name : {"Track01.ogg", "Track02.ogg"}) {
    const VorbisTest::TDecodedFile file = VorbisTest::Decode(OutFile(name));
    ASSERT_EQ(file.OpenResult, 0) << name;
    ASSERT_EQ(file.Links.size(), 1u) << name;
    EXPECT_EQ(file.Links[0].Comments, std::vector<std::string>({"COMMENT=Made with Brisomel"}));
    EXPECT_EQ(file.Links[0].Nominal, 128000) << name;
    EXPECT_EQ(file.Links[0].Upper, 128000) << name;
  }
}

// The slider's two ends give the encoder's lowest and highest quality.
TEST_F(Mp3OggJobsTest, CompressionSliderReachesTheFile) {
  ListTracks(1);
  Form->RadioButton3->click();
  const auto nominalWith = [this](Qt::Key SliderKey) {
    QTest::keyClick(Ogg().JvTrackBar1, SliderKey);
    Convert();
    return VorbisTest::Decode(OutFile("Track01.ogg")).Links.at(0).Nominal;
  };
  const long low = nominalWith(Qt::Key_Home);
  const long high = nominalWith(Qt::Key_End);
  EXPECT_GT(high, 3 * low) << low << " bit/s at 0, " << high << " at 100";
}

TEST_F(Mp3OggJobsTest, ImaAdpcmChosenOnTheWavTabReachesTheFile) {
  ListTracks(1);
  Choose(Wav().ComboBox1, QStringLiteral("DviAdPcm"));
  Choose(Wav().ComboBox1, QStringLiteral("Acm"));

  Convert();

  const std::vector<uint8_t> wav = mp3test::ReadFile(OutFile("Track01.wav"));
  ASSERT_GT(wav.size(), 60u);
  EXPECT_EQ(wav[20] | (wav[21] << 8), 0x11);  // the format tag of IMA ADPCM
}

}  // namespace
