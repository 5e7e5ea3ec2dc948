// The tag settings window: its fields and genre list, "Close", and the main window's
// "Use tags" and "Edit tags", which decide what reaches the MP3 output's tag.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "settings_test_support.h"

namespace {

using TagWindowTest = SettingsWindowTest;

// The seven tag properties of the output: title, artist, album, year, track, comment,
// genre.
std::vector<std::string> Tags(TMP3Out& Output) {
  return {Output.Id3TagTitle.Get(), Output.Id3TagArtist.Get(), Output.Id3TagAlbum.Get(),
          Output.Id3TagYear.Get(),  Output.Id3TagTrack.Get(),  Output.Id3TagComment.Get(),
          Output.Id3TagGenre.Get()};
}

void Type(QWidget* Field, const QString& Text) { QTest::keyClicks(Field, Text); }

class TagFieldsTest : public SettingsWindowTest {
 protected:
  // Types a text into every field as a user would, the genre being typed too.
  void FillFields(const QString& Genre) {
    Type(Form2->Edit3, QStringLiteral("Night Drive"));
    Type(Form2->Edit2, QStringLiteral("Ann Vale"));
    Type(Form2->Edit1, QStringLiteral("Roads"));
    Type(Form2->Edit5, QStringLiteral("1987"));
    Type(Form2->Edit4, QStringLiteral("3"));
    Type(Form2->Edit7, QStringLiteral("first take"));
    Type(Form2->ComboBox1->lineEdit(), Genre);
  }
  std::vector<std::string> Filled(const std::string& Genre) {
    return {"Night Drive", "Ann Vale", "Roads", "1987", "3", "first take", Genre};
  }
  const std::vector<std::string> Empty = std::vector<std::string>(7);
};

TEST_F(TagWindowTest, GenreListHoldsAnEmptyItemThenTheTableFromZeroTo125) {
  QComboBox* genres = Form2->ComboBox1;
  ASSERT_EQ(genres->count(), 127);
  EXPECT_EQ(genres->itemText(0), "");
  EXPECT_EQ(genres->currentText(), "");
  EXPECT_TRUE(genres->isEditable());
  EXPECT_EQ(genres->maxVisibleItems(), 25);
  const std::pair<int, const char*> samples[] = {
      {0, "Blues"},        {1, "Classic Rock"}, {40, "AlternRock"},
      {67, "Psychadelic"}, {85, "Bebob"},       {121, "Punk Rock"},
      {123, "A capella"},  {124, "Euro-House"}, {125, "Dance Hall"}};
  for (const auto& [number, name] : samples) EXPECT_EQ(genres->itemText(number + 1), name);
}

// The year the output starts with and a title left by a run's "Filename as title" go
// as well.
TEST_F(TagFieldsTest, CloseWithUseTagsClearedEmptiesEveryTag) {
  MP3Out1().Id3TagTitle = "Track04";
  Mp3().Button2->click();
  FillFields(QStringLiteral("Blues"));
  ASSERT_FALSE(Mp3().CheckBox7->isChecked());

  Form2->Button1->click();

  EXPECT_FALSE(Form2->isVisible());
  EXPECT_EQ(Tags(MP3Out1()), Empty);
}

TEST_F(TagFieldsTest, CloseWithUseTagsCheckedCopiesTheFieldsAndATypedGenreAsTyped) {
  Mp3().CheckBox7->click();
  Mp3().Button2->click();
  FillFields(QStringLiteral("Chiptune Polka"));
  // Typing alone does not reach the output.
  EXPECT_EQ(Tags(MP3Out1()), Empty);

  Form2->Button1->click();

  EXPECT_EQ(Tags(MP3Out1()), Filled("Chiptune Polka"));
  // The fields keep their texts while the window is hidden.
  EXPECT_EQ(Form2->Edit2->text(), "Ann Vale");
}

TEST_F(TagFieldsTest, UseTagsCopiesTheFieldsWithoutTheWindowEverShownAndClearingEmpties) {
  FillFields(QStringLiteral("Euro-House"));
  ASSERT_FALSE(Form2->isVisible());
  Mp3().CheckBox7->click();
  EXPECT_EQ(Tags(MP3Out1()), Filled("Euro-House"));
  Mp3().CheckBox7->click();
  EXPECT_EQ(Tags(MP3Out1()), Empty);
}

TEST_F(TagWindowTest, EditTagsShowsTheWindowWithoutBlockingTheMainWindow) {
  Form->show();
  Mp3().Button2->click();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_FALSE(Form2->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The main window goes on taking commands while the tag window is open.
  Mp3().CheckBox2->click();
  EXPECT_TRUE(MP3Out1().Copyright);
  EXPECT_TRUE(Form2->isVisible());
}

}  // namespace
