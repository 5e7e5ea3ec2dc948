// The "Ogg settings" tab: the quality of `VorbisOut1` (the compression slider) and its
// three managed bit rates (nominal, maximum, minimum), plus a "Channels" group that can
// be changed but takes part in no conversion.
//
// Choosing in one of the bit-rate lists first adjusts what the other two show (which
// does not run their handlers), then writes its own property; the output's setters
// keep the three properties consistent on their own, so a list's choice and its
// property may differ until that list is chosen again.
//
// Window thread only; the tab is hidden while a run goes on.
#pragma once

#include <QObject>

class QComboBox;
class QRadioButton;
class QSlider;
class QWidget;
class TVorbisOut;

class TOggSettings : public QObject {
  Q_OBJECT

 public:
  // Lays the controls out on Sheet; they write to Output.
  TOggSettings(QWidget* Sheet, TVorbisOut& Output);

  // "Compression modifier": 0 ("size") to 100 ("quality").
  QSlider* JvTrackBar1;
  // "Channels": "Keep as it is", "Mono", "Stereo".
  QRadioButton* RadioButton19;
  QRadioButton* RadioButton20;
  QRadioButton* RadioButton21;
  // "Desired nominal", "Desired maximum", "Minimum Bitrate": "AutoSelect", then the
  // bit rates 45 to 499, item i standing for the i-th `TVorbisBitRate`.
  QComboBox* ComboBox5;
  QComboBox* ComboBox4;
  QComboBox* ComboBox6;

  // Handlers.
  void JvTrackBar1Change();
  void ComboBox5Change();
  void ComboBox4Change();
  void ComboBox6Change();

 private:
  void CreateCompression(QWidget* Sheet);
  void CreateChannels(QWidget* Sheet);
  void CreateBitRateLists(QWidget* Sheet);

  TVorbisOut& VorbisOut1_;
};
