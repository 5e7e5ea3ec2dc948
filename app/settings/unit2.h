// `TForm2`, the tag settings window ("Mp3 tag settings"): a tool window created after
// the main window that lives as long as the program; hiding it keeps its texts. It
// holds the texts of the MP3 tag, which reach `MP3Out1` through the main window's
// "Use tags" (when it is clicked, and each time "Close" is pressed), and two per-row
// switches that the MP3 job starter reads for every row it converts.
//
// Window thread only. It never blocks the main window.
#pragma once

#include <QString>
#include <QWidget>

#include "run/conversion_run.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The seven texts of the tag as the window holds them.
struct TId3TagTexts {
  QString Title, Artist, Album, Year, Track, Comment, Genre;
};

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* Parent = nullptr);

  QLineEdit* Edit1;  // "Album"
  QLineEdit* Edit2;  // "Artist"
  QLineEdit* Edit3;  // "Title"
  QLineEdit* Edit4;  // "Track"
  QLineEdit* Edit5;  // "Year"
  // "Genre": an empty item, then the ID3v1 genre names 0 to 125; any text may be typed.
  QComboBox* ComboBox1;
  QLineEdit* Edit7;      // "Comment"
  QCheckBox* CheckBox1;  // "Increment track"
  QCheckBox* CheckBox2;  // "Filename as title"
  QPushButton* Button1;  // "Close"

  // "Close": hides the window, then reports `Closed`, on which the main window applies
  // its "Use tags" switch.
  void Button1Click();

  TId3TagTexts TagTexts() const;
  // "Filename as title", "Increment track" and the "Track" box.
  TMp3RowTags RowTags() const;

 signals:
  void Closed();

 private:
  void CreateFields();
};
