// The "Flac settings" tab: the compression level of `FlacOut1` (a slider from 0, the
// fastest, to 8, the smallest file) and the group "Flac tags", whose "Use tags" decides
// whether the texts of the tag settings window go into the files as comments.
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
class QWidget;
class TFlacOut;
class TForm2;

class TFlacSettings : public QObject {
  Q_OBJECT

 public:
  // Lays the controls out on Sheet; they write to Output.
  TFlacSettings(QWidget* Sheet, TFlacOut& Output);

  // The tag settings window whose texts "Use tags" takes, and "Edit tags" shows.
  void SetTagSettingsWindow(TForm2* Form2);

  // "Compression level": 0 ("fast") to 8 ("small"), and the level it shows.
  QSlider* LevelSlider;
  QLabel* LevelLabel;
  // "Flac tags": "Use tags", "Edit tags".
  QCheckBox* UseTags;
  QPushButton* EditTags;

  // The comment lines NAME=value of every file: the tag window's texts that are not
  // empty while "Use tags" is checked, else none.
  std::vector<std::string> Comments() const;

 private:
  void CreateLevel(QWidget* Sheet);
  void CreateTags(QWidget* Sheet);
  void LevelChange();
  void ShowTagWindow();

  TFlacOut& FlacOut1_;
  QPointer<TForm2> Form2_;
};
