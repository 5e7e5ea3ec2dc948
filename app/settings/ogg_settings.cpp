#include "settings/ogg_settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include "outputs/audio_vorbis.h"
#include "settings/settings_controls.h"

namespace {

constexpr int StartCompression = 20;
constexpr int AutoSelectItem = 0;

QStringList BitRateItems() {
  QStringList items = {QStringLiteral("AutoSelect")};
  for (int kbps : {45, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320, 499})
    items.append(QString::number(kbps));
  return items;
}

TVorbisBitRate BitRateOf(const QComboBox* List) {
  return static_cast<TVorbisBitRate>(List->currentIndex());
}

QComboBox* BitRateList(const QString& Caption, QWidget* Sheet, int Left) {
  QGroupBox* group = SettingsGroup(Caption, Sheet, QRect(Left, 92, 108, 50));
  QComboBox* list = DropDownList(BitRateItems(), group, QRect(8, 20, 92, 22));
  list->setCurrentIndex(AutoSelectItem);
  return list;
}

}  // namespace

TOggSettings::TOggSettings(QWidget* Sheet, TVorbisOut& Output)
    : QObject(Sheet), VorbisOut1_(Output) {
  CreateCompression(Sheet);
  CreateChannels(Sheet);
  CreateBitRateLists(Sheet);
}

void TOggSettings::CreateCompression(QWidget* Sheet) {
  QGroupBox* group =
      SettingsGroup(QStringLiteral("Compression modifier"), Sheet, QRect(6, 4, 458, 82));
  JvTrackBar1 = new QSlider(Qt::Horizontal, group);
  JvTrackBar1->setGeometry(10, 20, 438, 30);
  JvTrackBar1->setRange(0, 100);
  JvTrackBar1->setTickInterval(10);
  JvTrackBar1->setTickPosition(QSlider::TicksBelow);
  JvTrackBar1->setPageStep(10);
  JvTrackBar1->setValue(StartCompression);
  PlacedLabel(QStringLiteral("size"), group, QRect(10, 54, 100, 16));
  QLabel* quality = PlacedLabel(QStringLiteral("quality"), group, QRect(348, 54, 100, 16));
  quality->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  connect(JvTrackBar1, &QSlider::valueChanged, this, [this] { JvTrackBar1Change(); });
}

void TOggSettings::CreateChannels(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Channels"), Sheet, QRect(6, 92, 120, 80));
  RadioButton19 = GroupRadioButton(QStringLiteral("Keep as it is"), group, 0);
  RadioButton20 = GroupRadioButton(QStringLiteral("Mono"), group, 1);
  RadioButton21 = GroupRadioButton(QStringLiteral("Stereo"), group, 2);
  RadioButton19->setChecked(true);
}

// Only a user's choice runs a list's handler (`activated`); the adjustments made from
// code do not.
void TOggSettings::CreateBitRateLists(QWidget* Sheet) {
  ComboBox5 = BitRateList(QStringLiteral("Desired nominal"), Sheet, 130);
  ComboBox4 = BitRateList(QStringLiteral("Desired maximum"), Sheet, 242);
  ComboBox6 = BitRateList(QStringLiteral("Minimum Bitrate"), Sheet, 354);
  connect(ComboBox5, &QComboBox::activated, this, [this] { ComboBox5Change(); });
  connect(ComboBox4, &QComboBox::activated, this, [this] { ComboBox4Change(); });
  connect(ComboBox6, &QComboBox::activated, this, [this] { ComboBox6Change(); });
}

void TOggSettings::JvTrackBar1Change() {
  VorbisOut1_.Compression = static_cast<float>(JvTrackBar1->value()) / 100.0f;
}

// The nominal rate pulls the maximum up to itself (and sets it when it was
// "AutoSelect"), and drops a minimum above it.
void TOggSettings::ComboBox5Change() {
  const int nominal = ComboBox5->currentIndex();
  if (nominal > ComboBox4->currentIndex()) ComboBox4->setCurrentIndex(nominal);
  if (nominal < ComboBox6->currentIndex()) ComboBox6->setCurrentIndex(AutoSelectItem);
  if (ComboBox4->currentIndex() == AutoSelectItem) ComboBox4->setCurrentIndex(nominal);
  VorbisOut1_.SetDesiredNominalBitrate(BitRateOf(ComboBox5));
}

// A maximum needs a nominal rate at or below it; otherwise it snaps back to
// "AutoSelect", which also drops a minimum shown above it.
void TOggSettings::ComboBox4Change() {
  const int nominal = ComboBox5->currentIndex();
  if (nominal == AutoSelectItem) ComboBox4->setCurrentIndex(AutoSelectItem);
  if (nominal > ComboBox4->currentIndex()) ComboBox4->setCurrentIndex(AutoSelectItem);
  if (ComboBox4->currentIndex() < ComboBox6->currentIndex())
    ComboBox6->setCurrentIndex(AutoSelectItem);
  VorbisOut1_.SetDesiredMaximumBitrate(BitRateOf(ComboBox4));
}

// A minimum needs a nominal rate and a maximum at or above it; otherwise it snaps
// back to "AutoSelect".
void TOggSettings::ComboBox6Change() {
  const int nominal = ComboBox5->currentIndex();
  const int minimum = ComboBox6->currentIndex();
  if (nominal == AutoSelectItem || nominal < minimum || ComboBox4->currentIndex() < minimum)
    ComboBox6->setCurrentIndex(AutoSelectItem);
  VorbisOut1_.SetMinimumBitrate(BitRateOf(ComboBox6));
}
