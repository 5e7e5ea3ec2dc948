// The "Opus settings" tab: the bit rate of `OpusOut1` in kbit/s with its mode (variable,
// the default, or constant), the encoder's complexity (a slider from 0, the fastest, to
// 10, the best sound for the bit rate), and the group "Opus tags", whose "Use tags"
// decides whether the texts of the tag settings window go into the files as comments.
//
// Window thread only; the tab is hidden while a run goes on.
#pragma once

#include <QObject>
#include <QPointer>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QWidget;
class TOpusOut;
class TForm2;

class TOpusSettings : public QObject {
  Q_OBJECT

 public:
  // Lays the controls out on Sheet; they write to Output.
  TOpusSettings(QWidget* Sheet, TOpusOut& Output);

  // The tag settings window whose texts "Use tags" takes, and "Edit tags" shows.
  void SetTagSettingsWindow(TForm2* Form2);

  // "Bit rate": 6 to 510 kbit/s (the output refuses more than 300 for a mono input),
  // and "Variable bit rate".
  QSpinBox* BitrateBox;
  QCheckBox* VariableBitrate;
  // "Complexity": 0 ("fast") to 10 ("best"), and the value it shows.
  QSlider* ComplexitySlider;
  QLabel* ComplexityLabel;
  // "Opus tags": "Use tags", "Edit tags".
  QCheckBox* UseTags;
  QPushButton* EditTags;

  // The comment lines NAME=value of every file: the tag window's texts that are not
  // empty while "Use tags" is checked, else none.
  std::vector<std::string> Comments() const;

 private:
  void CreateBitrate(QWidget* Sheet);
  void CreateComplexity(QWidget* Sheet);
  void CreateTags(QWidget* Sheet);
  void ComplexityChange();
  void ShowTagWindow();

  TOpusOut& OpusOut1_;
  QPointer<TForm2> Form2_;
};
