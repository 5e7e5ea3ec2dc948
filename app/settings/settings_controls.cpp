#include "settings/settings_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "settings/unit2.h"

namespace {

// Switches fill the group's width less its frame.
constexpr int SwitchLeft = 8;

QRect SwitchPlace(const QGroupBox* Group, int Row) {
  return QRect(SwitchLeft, FirstSwitchTop + Row * SwitchRowHeight, Group->width() - 2 * SwitchLeft,
               SwitchRowHeight);
}

}  // namespace

QGroupBox* SettingsGroup(const QString& Caption, QWidget* Parent, const QRect& Place) {
  auto* group = new QGroupBox(Caption, Parent);
  group->setGeometry(Place);
  return group;
}

QRadioButton* GroupRadioButton(const QString& Caption, QGroupBox* Group, int Row) {
  auto* button = new QRadioButton(Caption, Group);
  button->setGeometry(SwitchPlace(Group, Row));
  return button;
}

QCheckBox* GroupCheckBox(const QString& Caption, QGroupBox* Group, int Row) {
  auto* box = new QCheckBox(Caption, Group);
  box->setGeometry(SwitchPlace(Group, Row));
  return box;
}

QComboBox* DropDownList(const QStringList& Items, QWidget* Parent, const QRect& Place) {
  auto* list = new QComboBox(Parent);
  list->setEditable(false);
  list->addItems(Items);
  list->setMaxVisibleItems(Items.size());
  list->setGeometry(Place);
  return list;
}

QLabel* PlacedLabel(const QString& Text, QWidget* Parent, const QRect& Place) {
  auto* label = new QLabel(Text, Parent);
  label->setGeometry(Place);
  return label;
}

std::vector<std::string> CommentLinesOf(const TId3TagTexts& Texts) {
  std::vector<std::string> lines;
  for (const auto& [name, text] : {std::pair<const char*, const QString&>{"TITLE", Texts.Title},
                                   {"ARTIST", Texts.Artist},
                                   {"ALBUM", Texts.Album},
                                   {"DATE", Texts.Year},
                                   {"TRACKNUMBER", Texts.Track},
                                   {"GENRE", Texts.Genre},
                                   {"COMMENT", Texts.Comment}})
    if (!text.isEmpty()) lines.push_back(std::string(name) + "=" + text.toStdString());
  return lines;
}
