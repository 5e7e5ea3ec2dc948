// Small builders for the controls of the settings tabs, each placed at its position in
// its parent's client pixels, as the tabs lay them out. Window thread only.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QWidget;
struct TId3TagTexts;

// Height of one row of switches inside a group, and the top of the first row.
constexpr int SwitchRowHeight = 18;
constexpr int FirstSwitchTop = 20;

QGroupBox* SettingsGroup(const QString& Caption, QWidget* Parent, const QRect& Place);
// A switch in row Row (from 0) of a group.
QRadioButton* GroupRadioButton(const QString& Caption, QGroupBox* Group, int Row);
QCheckBox* GroupCheckBox(const QString& Caption, QGroupBox* Group, int Row);
// A list that offers only its items (no typing).
QComboBox* DropDownList(const QStringList& Items, QWidget* Parent, const QRect& Place);
QLabel* PlacedLabel(const QString& Text, QWidget* Parent, const QRect& Place);

// The comment lines NAME=value (TITLE, ARTIST, ALBUM, DATE, TRACKNUMBER, GENRE, COMMENT)
// of the tag window's texts that are not empty, for the formats with Vorbis-style
// comments.
std::vector<std::string> CommentLinesOf(const TId3TagTexts& Texts);
