// The "Wav settings" tab: the WAV type that `WaveOut1` writes, and three groups
// (bits per sample, channels, sampling frequency) that can be changed but take part
// in no conversion, since the run feeds the output straight from the CD source.
//
// Window thread only; the tab is hidden while a run goes on, so the output's settings
// never change under a running job.
#pragma once

#include <QObject>

class QComboBox;
class QRadioButton;
class QWidget;
class TWaveOut;

class TWavSettings : public QObject {
  Q_OBJECT

 public:
  // Lays the controls out on Sheet; they write to Output.
  TWavSettings(QWidget* Sheet, TWaveOut& Output);

  // "Bits per sample": "Keep as it is", "8", "16".
  QRadioButton* RadioButton6;
  QRadioButton* RadioButton4;
  QRadioButton* RadioButton5;
  // "Channels": "Keep as it is", "Mono", "Stereo".
  QRadioButton* RadioButton9;
  QRadioButton* RadioButton7;
  QRadioButton* RadioButton8;
  // The WAV type: "Pcm", "Acm", "DviAdPcm", "MsAdPcm"; shows "Wav Type" until chosen.
  QComboBox* ComboBox1;
  // "Sampling frequency": "88200", "44100", "32000", "22050", "11025", "8000".
  QRadioButton* RadioButton14;
  QRadioButton* RadioButton10;
  QRadioButton* RadioButton15;
  QRadioButton* RadioButton11;
  QRadioButton* RadioButton12;
  QRadioButton* RadioButton13;

  // A WAV type chosen: the output takes "Pcm" and "DviAdPcm" and keeps its type for
  // the two it does not write ("Acm", "MsAdPcm").
  void ComboBox1Change();

 private:
  void CreateBitsPerSample(QWidget* Sheet);
  void CreateChannels(QWidget* Sheet);
  void CreateWavType(QWidget* Sheet);
  void CreateSamplingFrequency(QWidget* Sheet);

  TWaveOut& WaveOut1_;
};
