#include "settings/wav_settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>

#include <iterator>

#include "outputs/audio_wave.h"
#include "settings/settings_controls.h"

namespace {

// The WAV types by item of the list.
constexpr TWavType WavTypeOfItem[] = {wtPCM, wtACM, wtDVIADPCM, wtMSADPCM};

}  // namespace

TWavSettings::TWavSettings(QWidget* Sheet, TWaveOut& Output) : QObject(Sheet), WaveOut1_(Output) {
  CreateBitsPerSample(Sheet);
  CreateChannels(Sheet);
  CreateSamplingFrequency(Sheet);
  CreateWavType(Sheet);
}

void TWavSettings::CreateBitsPerSample(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Bits per sample"), Sheet, QRect(6, 4, 130, 80));
  RadioButton6 = GroupRadioButton(QStringLiteral("Keep as it is"), group, 0);
  RadioButton4 = GroupRadioButton(QStringLiteral("8"), group, 1);
  RadioButton5 = GroupRadioButton(QStringLiteral("16"), group, 2);
  RadioButton6->setChecked(true);
}

void TWavSettings::CreateChannels(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Channels"), Sheet, QRect(6, 88, 130, 80));
  RadioButton9 = GroupRadioButton(QStringLiteral("Keep as it is"), group, 0);
  RadioButton7 = GroupRadioButton(QStringLiteral("Mono"), group, 1);
  RadioButton8 = GroupRadioButton(QStringLiteral("Stereo"), group, 2);
  RadioButton9->setChecked(true);
}

void TWavSettings::CreateSamplingFrequency(QWidget* Sheet) {
  QGroupBox* group =
      SettingsGroup(QStringLiteral("Sampling frequency"), Sheet, QRect(142, 4, 130, 134));
  RadioButton14 = GroupRadioButton(QStringLiteral("88200"), group, 0);
  RadioButton10 = GroupRadioButton(QStringLiteral("44100"), group, 1);
  RadioButton15 = GroupRadioButton(QStringLiteral("32000"), group, 2);
  RadioButton11 = GroupRadioButton(QStringLiteral("22050"), group, 3);
  RadioButton12 = GroupRadioButton(QStringLiteral("11025"), group, 4);
  RadioButton13 = GroupRadioButton(QStringLiteral("8000"), group, 5);
  RadioButton10->setChecked(true);
}

// Nothing is chosen at start: the list shows "Wav Type" and the output writes PCM.
void TWavSettings::CreateWavType(QWidget* Sheet) {
  ComboBox1 = DropDownList({QStringLiteral("Pcm"), QStringLiteral("Acm"),
                            QStringLiteral("DviAdPcm"), QStringLiteral("MsAdPcm")},
                           Sheet, QRect(284, 20, 130, 22));
  ComboBox1->setPlaceholderText(QStringLiteral("Wav Type"));
  ComboBox1->setCurrentIndex(-1);
  connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
}

void TWavSettings::ComboBox1Change() {
  const int item = ComboBox1->currentIndex();
  if (item < 0 || item >= static_cast<int>(std::size(WavTypeOfItem))) return;
  WaveOut1_.SetWavType(WavTypeOfItem[item]);
}
