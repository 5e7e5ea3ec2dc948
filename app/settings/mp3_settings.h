// The "Mp3 settings" tab: the encoder settings of `MP3Out1` (bit rate, the frame
// switches, channel mode, sample rate, the two qualities and the VBR bit-rate range)
// and the group "Mp3 tags", whose "Use tags" decides whether the texts of the tag
// settings window (`TForm2`) reach the output's seven tag properties.
//
// Window thread only. The encoder settings are read by the output when a job starts,
// and the tab is hidden while a run goes on. The tag properties may be written while a
// run goes on (the tag window stays usable); the output reads them when it finishes a
// file, each as a guarded text.
#pragma once

#include <QObject>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;
class TForm2;
class TMP3Out;
class TSpinButton;

class TMp3Settings : public QObject {
  Q_OBJECT

 public:
  // Lays the controls out on Sheet; they write to Output.
  TMp3Settings(QWidget* Sheet, TMP3Out& Output);

  // The tag settings window whose texts "Use tags" copies; its "Close" applies the
  // switch as it stands. Without one, the texts are empty.
  void SetTagSettingsWindow(TForm2* Form2);

  // "Bitrate": "32" ... "320".
  QComboBox* ComboBox2;
  // "Misc": "Copyright", "CRC", "Enable VBR", "Original", "Write VBR header".
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QCheckBox* CheckBox4;
  QCheckBox* CheckBox5;
  QCheckBox* CheckBox6;
  // "Channels": "Keep as it is", "Stereo", "Mono".
  QRadioButton* RadioButton16;
  QRadioButton* RadioButton17;
  QRadioButton* RadioButton18;
  // "Sample rate": "Default", "22 kHz", "32 KHz", "44 kHz", "48 kHz".
  QComboBox* ComboBox3;
  // "Quality": "Normal" and "VBR", each value held in its label (1 to 9).
  TSpinButton* SpinButton1;
  QLabel* Label5;
  TSpinButton* SpinButton2;
  QLabel* Label6;
  // "VBR birates": "Min" and "Max", each value held in its label, stepping through
  // the items of the bit-rate list.
  TSpinButton* SpinButton3;
  QLabel* Label7;
  TSpinButton* SpinButton4;
  QLabel* Label8;
  // "Mp3 tags": "Use tags", "Edit tags".
  QCheckBox* CheckBox7;
  QPushButton* Button2;

  // Handlers.
  void ComboBox2Change();
  void CheckBox2Click();
  void CheckBox3Click();
  void CheckBox4Click();
  void CheckBox5Click();
  void CheckBox6Click();
  void RadioButton17Click();
  void RadioButton18Click();
  void ComboBox3Change();
  void SpinButton1UpClick();
  void SpinButton1DownClick();
  void SpinButton2UpClick();
  void SpinButton2DownClick();
  void SpinButton3UpClick();
  void SpinButton3DownClick();
  void SpinButton4UpClick();
  void SpinButton4DownClick();
  void CheckBox7Click();
  void Button2Click();

  // "Use tags" cleared: the seven tag properties are emptied; checked: the tag
  // window's texts are copied into them.
  void ApplyTagSwitch();

 private:
  void CreateBitrate(QWidget* Sheet);
  void CreateMisc(QWidget* Sheet);
  void CreateChannels(QWidget* Sheet);
  void CreateSampleRate(QWidget* Sheet);
  void CreateQuality(QWidget* Sheet);
  void CreateVbrBitrates(QWidget* Sheet);
  void CreateTags(QWidget* Sheet);
  void ConnectHandlers();

  int BitRateItem(const QLabel* Label) const;
  void ShowBitRateItem(QLabel* Label, int Item);
  bool MinimumBelowMaximum() const;

  TMP3Out& MP3Out1_;
  QPointer<TForm2> Form2_;
};
