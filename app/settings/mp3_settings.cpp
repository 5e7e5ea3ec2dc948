#include "settings/mp3_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <iterator>

#include "outputs/audio_lame.h"
#include "settings/settings_controls.h"
#include "settings/unit2.h"
#include "widgets/spin_button.h"

namespace {

constexpr TMP3SampleRate SampleRateOfItem[] = {srDefault, sr22kHz, sr32kHz, sr44kHz, sr48kHz};

constexpr int LowestQuality = 1;
constexpr int HighestQuality = 9;

// Moves the quality shown in Label one step (Delta +1 or -1) within 1..9 and returns
// the quality it now shows.
TMP3Quality StepQuality(QLabel* Label, int Delta) {
  int value = Label->text().toInt();
  if (Delta > 0 && value < HighestQuality) ++value;
  if (Delta < 0 && value > LowestQuality) --value;
  Label->setText(QString::number(value));
  return static_cast<TMP3Quality>(value);
}

// A value label beside its spin button, in a row of a group, after the row's caption.
QLabel* SpinRow(const QString& Caption, const QString& Value, QGroupBox* Group, int Top,
                TSpinButton*& Spin) {
  PlacedLabel(Caption, Group, QRect(10, Top + 3, 60, 16));
  QLabel* value = PlacedLabel(Value, Group, QRect(76, Top + 3, 40, 16));
  value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Spin = new TSpinButton(Group);
  Spin->setGeometry(124, Top, 18, 22);
  return value;
}

}  // namespace

TMp3Settings::TMp3Settings(QWidget* Sheet, TMP3Out& Output) : QObject(Sheet), MP3Out1_(Output) {
  CreateBitrate(Sheet);
  CreateMisc(Sheet);
  CreateChannels(Sheet);
  CreateSampleRate(Sheet);
  CreateQuality(Sheet);
  CreateVbrBitrates(Sheet);
  CreateTags(Sheet);
  ConnectHandlers();
}

void TMp3Settings::SetTagSettingsWindow(TForm2* Form2) {
  if (Form2_) disconnect(Form2_, nullptr, this, nullptr);
  Form2_ = Form2;
  if (Form2_) connect(Form2_, &TForm2::Closed, this, [this] { ApplyTagSwitch(); });
}

// ---------------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------------

void TMp3Settings::CreateBitrate(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Bitrate"), Sheet, QRect(6, 4, 140, 50));
  QStringList items;
  for (int kbps : {32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320})
    items.append(QString::number(kbps));
  ComboBox2 = DropDownList(items, group, QRect(8, 20, 124, 22));
  ComboBox2->setCurrentText(QStringLiteral("128"));
}

void TMp3Settings::CreateMisc(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Misc"), Sheet, QRect(6, 58, 140, 112));
  CheckBox2 = GroupCheckBox(QStringLiteral("Copyright"), group, 0);
  CheckBox3 = GroupCheckBox(QStringLiteral("CRC"), group, 1);
  CheckBox4 = GroupCheckBox(QStringLiteral("Enable VBR"), group, 2);
  CheckBox5 = GroupCheckBox(QStringLiteral("Original"), group, 3);
  CheckBox6 = GroupCheckBox(QStringLiteral("Write VBR header"), group, 4);
  CheckBox5->setChecked(true);
}

// "Keep as it is" has no handler: choosing it again leaves the last mode set.
void TMp3Settings::CreateChannels(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Channels"), Sheet, QRect(152, 4, 130, 80));
  RadioButton16 = GroupRadioButton(QStringLiteral("Keep as it is"), group, 0);
  RadioButton17 = GroupRadioButton(QStringLiteral("Stereo"), group, 1);
  RadioButton18 = GroupRadioButton(QStringLiteral("Mono"), group, 2);
  RadioButton16->setChecked(true);
}

void TMp3Settings::CreateSampleRate(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Sample rate"), Sheet, QRect(152, 88, 130, 50));
  ComboBox3 =
      DropDownList({QStringLiteral("Default"), QStringLiteral("22 kHz"), QStringLiteral("32 KHz"),
                    QStringLiteral("44 kHz"), QStringLiteral("48 kHz")},
                   group, QRect(8, 20, 114, 22));
}

void TMp3Settings::CreateQuality(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Quality"), Sheet, QRect(288, 4, 176, 68));
  Label5 = SpinRow(QStringLiteral("Normal"), QStringLiteral("5"), group, 20, SpinButton1);
  Label6 = SpinRow(QStringLiteral("VBR"), QStringLiteral("5"), group, 42, SpinButton2);
}

void TMp3Settings::CreateVbrBitrates(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("VBR birates"), Sheet, QRect(288, 74, 176, 68));
  Label7 = SpinRow(QStringLiteral("Min"), QStringLiteral("128"), group, 20, SpinButton3);
  Label8 = SpinRow(QStringLiteral("Max"), QStringLiteral("192"), group, 42, SpinButton4);
}

void TMp3Settings::CreateTags(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Mp3 tags"), Sheet, QRect(288, 146, 176, 50));
  CheckBox7 = new QCheckBox(QStringLiteral("Use tags"), group);
  CheckBox7->setGeometry(8, 21, 80, SwitchRowHeight);
  Button2 = new QPushButton(QStringLiteral("Edit tags"), group);
  Button2->setGeometry(90, 18, 78, 24);
}

void TMp3Settings::ConnectHandlers() {
  connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Change(); });
  connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
  connect(CheckBox3, &QCheckBox::toggled, this, [this] { CheckBox3Click(); });
  connect(CheckBox4, &QCheckBox::toggled, this, [this] { CheckBox4Click(); });
  connect(CheckBox5, &QCheckBox::toggled, this, [this] { CheckBox5Click(); });
  connect(CheckBox6, &QCheckBox::toggled, this, [this] { CheckBox6Click(); });
  connect(RadioButton17, &QRadioButton::toggled, this, [this](bool On) {
    if (On) RadioButton17Click();
  });
  connect(RadioButton18, &QRadioButton::toggled, this, [this](bool On) {
    if (On) RadioButton18Click();
  });
  connect(ComboBox3, &QComboBox::activated, this, [this] { ComboBox3Change(); });
  connect(SpinButton1, &TSpinButton::UpClick, this, [this] { SpinButton1UpClick(); });
  connect(SpinButton1, &TSpinButton::DownClick, this, [this] { SpinButton1DownClick(); });
  connect(SpinButton2, &TSpinButton::UpClick, this, [this] { SpinButton2UpClick(); });
  connect(SpinButton2, &TSpinButton::DownClick, this, [this] { SpinButton2DownClick(); });
  connect(SpinButton3, &TSpinButton::UpClick, this, [this] { SpinButton3UpClick(); });
  connect(SpinButton3, &TSpinButton::DownClick, this, [this] { SpinButton3DownClick(); });
  connect(SpinButton4, &TSpinButton::UpClick, this, [this] { SpinButton4UpClick(); });
  connect(SpinButton4, &TSpinButton::DownClick, this, [this] { SpinButton4DownClick(); });
  connect(CheckBox7, &QCheckBox::toggled, this, [this] { CheckBox7Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

// ---------------------------------------------------------------------------------
// Encoder settings
// ---------------------------------------------------------------------------------

void TMp3Settings::ComboBox2Change() {
  if (const auto rate = BitRateForKbps(ComboBox2->currentText().toInt())) MP3Out1_.BitRate = *rate;
}

void TMp3Settings::CheckBox2Click() { MP3Out1_.Copyright = CheckBox2->isChecked(); }
void TMp3Settings::CheckBox3Click() { MP3Out1_.CRC = CheckBox3->isChecked(); }
void TMp3Settings::CheckBox4Click() { MP3Out1_.EnableVBR = CheckBox4->isChecked(); }
void TMp3Settings::CheckBox5Click() { MP3Out1_.Original = CheckBox5->isChecked(); }
void TMp3Settings::CheckBox6Click() { MP3Out1_.WriteVBRHeader = CheckBox6->isChecked(); }
void TMp3Settings::RadioButton17Click() { MP3Out1_.Mode = STEREO; }
void TMp3Settings::RadioButton18Click() { MP3Out1_.Mode = MONO; }

void TMp3Settings::ComboBox3Change() {
  const int item = ComboBox3->currentIndex();
  if (item >= 0 && item < static_cast<int>(std::size(SampleRateOfItem)))
    MP3Out1_.SampleRate = SampleRateOfItem[item];
}

void TMp3Settings::SpinButton1UpClick() { MP3Out1_.Quality = StepQuality(Label5, +1); }
void TMp3Settings::SpinButton1DownClick() { MP3Out1_.Quality = StepQuality(Label5, -1); }
void TMp3Settings::SpinButton2UpClick() { MP3Out1_.VBRQuality = StepQuality(Label6, +1); }
void TMp3Settings::SpinButton2DownClick() { MP3Out1_.VBRQuality = StepQuality(Label6, -1); }

// The VBR bounds step through the items of the bit-rate list; the minimum never
// passes the maximum, though the two may meet.
int TMp3Settings::BitRateItem(const QLabel* Label) const {
  return ComboBox2->findText(Label->text());
}

void TMp3Settings::ShowBitRateItem(QLabel* Label, int Item) {
  Label->setText(ComboBox2->itemText(Item));
}

bool TMp3Settings::MinimumBelowMaximum() const {
  return Label7->text().toInt() < Label8->text().toInt();
}

void TMp3Settings::SpinButton3UpClick() {
  const int item = BitRateItem(Label7);
  if (item >= 0 && item < ComboBox2->count() - 1 && MinimumBelowMaximum())
    ShowBitRateItem(Label7, item + 1);
  MP3Out1_.VBRMinBitrate = Label7->text().toInt();
}

void TMp3Settings::SpinButton3DownClick() {
  const int item = BitRateItem(Label7);
  if (item > 0) ShowBitRateItem(Label7, item - 1);
  MP3Out1_.VBRMinBitrate = Label7->text().toInt();
}

void TMp3Settings::SpinButton4UpClick() {
  const int item = BitRateItem(Label8);
  if (item >= 0 && item < ComboBox2->count() - 1) ShowBitRateItem(Label8, item + 1);
  MP3Out1_.VBRMaxBitrate = Label8->text().toInt();
}

void TMp3Settings::SpinButton4DownClick() {
  const int item = BitRateItem(Label8);
  if (item > 0 && MinimumBelowMaximum()) ShowBitRateItem(Label8, item - 1);
  MP3Out1_.VBRMaxBitrate = Label8->text().toInt();
}

// ---------------------------------------------------------------------------------
// Tags
// ---------------------------------------------------------------------------------

void TMp3Settings::CheckBox7Click() { ApplyTagSwitch(); }

// The tag window does not block the main window.
void TMp3Settings::Button2Click() {
  if (!Form2_) return;
  Form2_->show();
  Form2_->raise();
  Form2_->activateWindow();
}

// Without a tag window every text is empty, as its fields are at start. The output takes
// the texts in UTF-8 and turns them into what each of its tags stores.
void TMp3Settings::ApplyTagSwitch() {
  const TId3TagTexts texts = CheckBox7->isChecked() && Form2_ ? Form2_->TagTexts() : TId3TagTexts{};
  const auto tagText = [](const QString& Text) { return Text.toStdString(); };
  MP3Out1_.Id3TagTitle = tagText(texts.Title);
  MP3Out1_.Id3TagArtist = tagText(texts.Artist);
  MP3Out1_.Id3TagAlbum = tagText(texts.Album);
  MP3Out1_.Id3TagYear = tagText(texts.Year);
  MP3Out1_.Id3TagTrack = tagText(texts.Track);
  MP3Out1_.Id3TagComment = tagText(texts.Comment);
  MP3Out1_.Id3TagGenre = tagText(texts.Genre);
}
