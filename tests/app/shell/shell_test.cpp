// The window's shell: its frame and the places of its controls, the frame buttons, the
// web commands, "Install software" and the "About" tab.
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextDocumentFragment>

#include <functional>

#include "app_test_support.h"
#include "settings/unit2.h"
#include "shell/about_tab.h"
#include "shell/desktop_entry.h"
#include "shell/web_commands.h"
#include "url_catcher.h"
#include "widgets/page_control.h"
#include "widgets/window_frame.h"

namespace {

using ShellTest = WindowTest;

// ---------------------------------------------------------------------------------
// Frame and layout
// ---------------------------------------------------------------------------------

TEST_F(ShellTest, TheWindowHasItsOwnFrameClientSizeAndStartPosition) {
  EXPECT_EQ(Form->windowTitle(), "Korvane version 1.00");
  EXPECT_TRUE(Form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Form->Client()->size(), QSize(629, 519));
  EXPECT_EQ(Form->size(), TWindowFrame::OuterSize(QSize(629, 519)));
  EXPECT_EQ(Form->pos(), QPoint(154, -4));
  EXPECT_EQ(Form->font().pointSize(), 8);
  // Not resizable by the user.
  EXPECT_EQ(Form->minimumSize(), Form->maximumSize());

  const QStringList items = {"Add files", "Remove files", "Convert", "Clear all",
                             "Install software"};
  ASSERT_EQ(Form->JvXPBar1->ItemCount(), items.size());
  for (int item = 0; item < items.size(); ++item)
    EXPECT_EQ(Form->JvXPBar1->Item(item)->text(), items[item]);
}

// Its own place, unless that leaves more than a frame's width of the window off the
// screen's available area (a scale factor of 2 on a 1920 x 1080 screen with a panel).
TEST(StartPositionTest, KeepsItsPlaceUnlessThatLeavesTheWindowOffTheScreen) {
  const QSize size = TWindowFrame::OuterSize(QSize(629, 519));
  EXPECT_EQ(TForm1::StartPosition(QRect(0, 0, 1920, 1050), size), QPoint(154, -4));
  EXPECT_EQ(TForm1::StartPosition(QRect(0, 0, 960, 510), size), QPoint(154, 0));
  EXPECT_EQ(TForm1::StartPosition(QRect(0, 30, 700, 1000), size), QPoint(700 - size.width(), 30));
}

// Enter and the keypad's Enter press the focused button, as Space does.
TEST_F(ShellTest, EnterPressesTheFocusedButton) {
  int clicks = 0;
  QObject::connect(Form->JvXPButton1, &QPushButton::clicked, [&clicks] { ++clicks; });
  QTest::keyClick(Form->JvXPButton1, Qt::Key_Return);
  QTest::keyClick(Form->JvXPButton1, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(clicks, 2);
}

struct TPlace {
  const char* Name;
  std::function<QWidget*(TForm1&)> Control;
  QRect Place;
  const char* Caption;  // null: none to check
  friend void PrintTo(const TPlace& Place, std::ostream* Out) { *Out << Place.Name; }
};

class LayoutTest : public WindowTest, public ::testing::WithParamInterface<TPlace> {};

TEST_P(LayoutTest, StandsAtItsClientPlace) {
  QWidget* control = GetParam().Control(*Form);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->parentWidget(), Form->Client());
  EXPECT_EQ(control->geometry(), GetParam().Place);
  if (GetParam().Caption) {
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      EXPECT_EQ(button->text(), GetParam().Caption);
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
      EXPECT_EQ(group->title(), GetParam().Caption);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, LayoutTest,
    ::testing::Values(TPlace{"JvXPBar1",
                             [](TForm1& F) -> QWidget* { return F.JvXPBar1; },
                             {8, 8, 129, 143},
                             nullptr},
                      TPlace{"JvXPButton2",
                             [](TForm1& F) -> QWidget* { return F.WebCommands().JvXPButton2; },
                             {8, 160, 65, 35},
                             "Visit website"},
                      TPlace{"JvXPButton3",
                             [](TForm1& F) -> QWidget* { return F.WebCommands().JvXPButton3; },
                             {80, 160, 57, 35},
                             "Online Help"},
                      TPlace{"JvXPButton4",
                             [](TForm1& F) -> QWidget* { return F.JvXPButton4; },
                             {8, 272, 60, 25},
                             "Convert"},
                      TPlace{"JvXPButton1",
                             [](TForm1& F) -> QWidget* { return F.JvXPButton1; },
                             {72, 272, 60, 25},
                             "Abort"},
                      TPlace{"Donate",
                             [](TForm1& F) -> QWidget* { return F.WebCommands().Donate; },
                             {360, 8, 121, 35},
                             "Donate"},
                      TPlace{"JvBitBtn2",
                             [](TForm1& F) -> QWidget* { return F.Frame().JvBitBtn2; },
                             {496, 8, 35, 35},
                             nullptr},
                      TPlace{"JvBitBtn3",
                             [](TForm1& F) -> QWidget* { return F.Frame().JvBitBtn3; },
                             {536, 8, 35, 35},
                             nullptr},
                      TPlace{"JvBitBtn4",
                             [](TForm1& F) -> QWidget* { return F.Frame().JvBitBtn4; },
                             {576, 8, 35, 35},
                             nullptr},
                      TPlace{"JvPageControl1",
                             [](TForm1& F) -> QWidget* { return F.JvPageControl1; },
                             {145, 64, 478, 233},
                             nullptr},
                      TPlace{"JvGroupBox1",
                             [](TForm1& F) -> QWidget* { return F.JvGroupBox1; },
                             {5, 312, 620, 201},
                             "Files to converts"}),
    [](const ::testing::TestParamInfo<TPlace>& Info) { return std::string(Info.param.Name); });

TEST_F(ShellTest, EveryTabShowsItsWholeCaption) {
  Form->show();
  QTabBar* bar = Form->JvPageControl1->tabBar();
  ASSERT_EQ(bar->count(), 8);
  EXPECT_LE(bar->sizeHint().width(), Form->JvPageControl1->width());
  for (int tab = 0; tab < bar->count(); ++tab) {
    const QRect place = bar->tabRect(tab);
    EXPECT_TRUE(bar->rect().contains(place)) << bar->tabText(tab).toStdString();
    const int captionWidth = QFontMetrics(bar->font()).horizontalAdvance(bar->tabText(tab));
    EXPECT_LT(captionWidth, place.width()) << bar->tabText(tab).toStdString();
  }
  EXPECT_GE(bar->font().pointSizeF(), 6.0);
}

// The two narrow web buttons: their captions, wrapped, fit the buttons' contents.
TEST_F(ShellTest, WebButtonCaptionsFitTheirButtons) {
  for (QPushButton* button : {Form->WebCommands().JvXPButton2, Form->WebCommands().JvXPButton3}) {
    QStyleOptionButton option;
    option.initFrom(button);
    const QRect contents =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QRect needed = button->fontMetrics().boundingRect(
        contents, Qt::AlignCenter | Qt::TextWordWrap, button->text());
    EXPECT_TRUE(contents.contains(needed)) << button->text().toStdString();
  }
}

// ---------------------------------------------------------------------------------
// Frame buttons
// ---------------------------------------------------------------------------------

struct TMaximiseCase {
  const char* Name;
  QRect Outer;
  QRect Screen;
  QRect Expected;
  friend void PrintTo(const TMaximiseCase& Case, std::ostream* Out) { *Out << Case.Name; }
};

class MaximiseRuleTest : public ::testing::TestWithParam<TMaximiseCase> {};

TEST_P(MaximiseRuleTest, GivesTheScreenOnlyFromTheCornerWhenSmallerBothWays) {
  EXPECT_EQ(MaximisedOrRestored(GetParam().Outer, GetParam().Screen), GetParam().Expected);
}

const QRect Screen800(0, 0, 800, 600);
const QRect Restored(0, 0, 650, 560);

INSTANTIATE_TEST_SUITE_P(
    Cases, MaximiseRuleTest,
    ::testing::Values(
        TMaximiseCase{"FromTheStartPosition", {154, -4, 645, 554}, Screen800, Restored},
        TMaximiseCase{"RestoredAtTheCorner", Restored, Screen800, Screen800},
        TMaximiseCase{"FullScreen", Screen800, Screen800, Restored},
        TMaximiseCase{"AtTheCornerAsHighAsTheScreen", {0, 0, 650, 600}, Screen800, Restored},
        TMaximiseCase{"AtTheCornerAsWideAsTheScreen", {0, 0, 800, 300}, Screen800, Restored},
        TMaximiseCase{"SmallButAwayFromTheCorner", {10, 0, 650, 560}, Screen800, Restored},
        TMaximiseCase{"SecondScreenCorner",
                      {1920, 0, 650, 560},
                      {1920, 0, 1280, 1024},
                      {1920, 0, 1280, 1024}},
        TMaximiseCase{"SecondScreenElsewhere",
                      {2000, 100, 650, 560},
                      {1920, 0, 1280, 1024},
                      {1920, 0, 650, 560}}),
    [](const ::testing::TestParamInfo<TMaximiseCase>& Info) {
      return std::string(Info.param.Name);
    });

TEST_F(ShellTest, MaximiseRestoreFromTheStartAlternatesBetween650x560AndTheScreen) {
  Form->show();
  const QRect screen = Form->screen()->geometry();
  ASSERT_GT(screen.width(), 650);
  ASSERT_GT(screen.height(), 560);
  QPushButton* maximise = Form->Frame().JvBitBtn3;
  const QSize border = TWindowFrame::OuterSize(QSize(0, 0));

  maximise->click();
  EXPECT_EQ(Form->frameGeometry(), QRect(0, 0, 650, 560));
  EXPECT_EQ(Form->Client()->size(), QSize(650, 560) - border);

  maximise->click();
  EXPECT_EQ(Form->frameGeometry(), screen);
  const QSize growth = screen.size() - border - QSize(629, 519);
  // The job list takes the room; the frame buttons keep to the top right corner.
  EXPECT_EQ(Form->JvGroupBox1->geometry(),
            QRect(5, 312, 620 + growth.width(), 201 + growth.height()));
  EXPECT_EQ(Form->Frame().JvBitBtn4->geometry(), QRect(576 + growth.width(), 8, 35, 35));
  EXPECT_EQ(Form->JvPageControl1->geometry(), QRect(145, 64, 478, 233));

  maximise->click();
  EXPECT_EQ(Form->frameGeometry(), QRect(0, 0, 650, 560));
}

TEST_F(ShellTest, CloseButtonClosesTheWindow) {
  Form->show();
  Form->Frame().JvBitBtn4->click();
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(ShellTest, MinimiseTakesTheProgramsOtherWindowsAlongAndBringsThemBack) {
  TForm2 tagWindow;
  Form->show();
  tagWindow.show();
  Form->Frame().JvBitBtn2->click();
  EXPECT_TRUE(Form->isMinimized());
  EXPECT_FALSE(tagWindow.isVisible());

  Form->showNormal();
  EXPECT_TRUE(tagWindow.isVisible());
}

// ---------------------------------------------------------------------------------
// Web commands
// ---------------------------------------------------------------------------------

struct TWebCommand {
  const char* Name;
  std::function<void(TForm1&)> Use;
  const char* Address;
  friend void PrintTo(const TWebCommand& Command, std::ostream* Out) { *Out << Command.Name; }
};

class WebCommandTest : public WindowTest, public ::testing::WithParamInterface<TWebCommand> {};

TEST_P(WebCommandTest, AsksTheDesktopToOpenItsAddress) {
  TUrlCatcher desktop;
  GetParam().Use(*Form);
  ASSERT_EQ(desktop.Opened.size(), 1);
  EXPECT_EQ(desktop.Opened.front().toString(), GetParam().Address);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WebCommandTest,
    ::testing::Values(
        TWebCommand{"VisitWebsite", [](TForm1& F) { F.WebCommands().JvXPButton2->click(); },
                    "http://korvane.example.org/"},
        TWebCommand{"OnlineHelp", [](TForm1& F) { F.WebCommands().JvXPButton3->click(); },
                    "http://korvane.example.org/korvane_help.html"},
        TWebCommand{"Donate", [](TForm1& F) { F.WebCommands().Donate->click(); },
                    "http://korvane.example.org/donate.html"},
        TWebCommand{"AboutLink",
                    [](TForm1& F) {
                      QLabel* link = F.About().JvLinkLabel1;
                      emit link->linkActivated(QStringLiteral("http://korvane.example.org/"));
                    },
                    "http://korvane.example.org/"}),
    [](const ::testing::TestParamInfo<TWebCommand>& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------
// "Install software"
// ---------------------------------------------------------------------------------

// The window with a home folder of the test's own.
class InstallSoftwareTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SavedHome_ = qgetenv("HOME");
    SavedConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    HadConfigHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    Home = QString::fromStdString(Dir / "home");
    QDir().mkpath(Home);
    qputenv("HOME", Home.toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override {
    qputenv("HOME", SavedHome_);
    if (HadConfigHome_) qputenv("XDG_CONFIG_HOME", SavedConfigHome_);
    WindowTest::TearDown();
  }

  // Clicks "Install software"; returns the text of the message that it shows.
  QString InstallSoftware() {
    TMessageBoxCatcher message;
    Form->JvXPBar1->Item(4)->trigger();
    EXPECT_TRUE(message.Shown());
    return message.Text;
  }

  static QString Read(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

  QString Home;

 private:
  QByteArray SavedHome_;
  QByteArray SavedConfigHome_;
  bool HadConfigHome_ = false;
};

const QString ShortcutMessage = QStringLiteral(
    "A shortcut of the software has been added to  \r\n your  desktop using the current software "
    "location");

TEST_F(InstallSoftwareTest, WritesAnExecutableEntryThatRunsTheProgramFromItsFolder) {
  EXPECT_EQ(InstallSoftware(), ShortcutMessage);

  const QString entry = Home + "/Desktop/Korvane.desktop";
  ASSERT_TRUE(QFile::exists(entry));
  const QStringList lines = Read(entry).split('\n');
  EXPECT_EQ(lines.front(), "[Desktop Entry]");
  EXPECT_TRUE(lines.contains("Type=Application"));
  EXPECT_TRUE(lines.contains("Name=Korvane"));
  EXPECT_TRUE(lines.contains("Exec=\"" + QCoreApplication::applicationFilePath() + "\""));
  EXPECT_TRUE(lines.contains("Path=" + QCoreApplication::applicationDirPath()));
  EXPECT_TRUE(QFileInfo(entry).isExecutable());
}

TEST_F(InstallSoftwareTest, ReplacesAnExistingEntryAndShowsTheMessageEachTime) {
  const QString entry = Home + "/Desktop/Korvane.desktop";
  QDir().mkpath(Home + "/Desktop");
  QFile stale(entry);
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.write(
      "[Desktop Entry]\nType=Application\nName=Old\nExec=/nowhere/korvane --old\n"
      "X-Leftover=this line and more, longer than the new entry will be\n");
  stale.close();

  EXPECT_EQ(InstallSoftware(), ShortcutMessage);
  const QString first = Read(entry);
  EXPECT_EQ(first, DesktopEntryText(QCoreApplication::applicationFilePath()));
  EXPECT_EQ(InstallSoftware(), ShortcutMessage);
  EXPECT_EQ(Read(entry), first);
  EXPECT_EQ(QDir(Home + "/Desktop").entryList(QDir::Files), QStringList{"Korvane.desktop"});
}

TEST_F(InstallSoftwareTest, UsesTheDesktopFolderTheUserNamedAndCreatesIt) {
  QDir().mkpath(Home + "/.config");
  QFile dirs(Home + "/.config/user-dirs.dirs");
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write("XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  dirs.close();

  EXPECT_EQ(InstallSoftware(), ShortcutMessage);
  EXPECT_TRUE(QFile::exists(Home + "/Bureau/Korvane.desktop"));
  EXPECT_FALSE(QFile::exists(Home + "/Desktop"));
}

TEST_F(InstallSoftwareTest, ADesktopFolderThatCannotBeMadeIsReportedInsteadOfTheMessage) {
  QFile blocker(Home + "/Desktop");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();

  const QString shown = InstallSoftware();
  EXPECT_NE(shown, ShortcutMessage);
  EXPECT_TRUE(shown.contains(Home + "/Desktop")) << shown.toStdString();
}

TEST(DesktopEntryTest, QuotesAndEscapesAProgramPathWithAwkwardCharacters) {
  const QString program = QStringLiteral("/opt/my \"k\" $x\\y%/korvane");
  const QStringList lines = DesktopEntryText(program).split('\n');
  EXPECT_TRUE(
      lines.contains(QStringLiteral("Exec=\"/opt/my \\\\\"k\\\\\" \\\\$x\\\\\\\\y%%/korvane\"")))
      << DesktopEntryText(program).toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("Path=/opt/my \"k\" $x\\\\y%")))
      << DesktopEntryText(program).toStdString();
}

// The entry names the program's own icon when the program is installed (its CD library
// in PREFIX/lib/korvane), else the icon theme's audio-CD icon.
TEST(DesktopEntryTest, NamesTheInstalledIconOnlyForAnInstalledProgram) {
  QTemporaryDir prefix;
  ASSERT_TRUE(QDir(prefix.path()).mkpath("bin"));
  const QString program = prefix.filePath("bin/korvane");
  const auto iconLine = [&] {
    const QStringList lines = DesktopEntryText(program).split('\n');
    return lines.filter(QRegularExpression("^Icon=")).join('|');
  };
  EXPECT_EQ(iconLine(), "Icon=media-optical-audio");
  ASSERT_TRUE(QDir(prefix.path()).mkpath("lib/korvane"));
  QFile library(prefix.filePath("lib/korvane/libcdrip.so"));
  ASSERT_TRUE(library.open(QIODevice::WriteOnly));
  library.close();
  EXPECT_EQ(iconLine(), "Icon=org.example.korvane");
}

// ---------------------------------------------------------------------------------
// "About"
// ---------------------------------------------------------------------------------

TEST_F(ShellTest, AboutTabReadsAsWritten) {
  TAboutTab& about = Form->About();
  EXPECT_EQ(about.JvLinkLabel2->parentWidget(), Form->TabSheet5);
  EXPECT_TRUE(about.JvLinkLabel2->text().startsWith(
      "Software built for some strange reasons and with a design similar to Brisomel, i guess "
      "it was to save time, hu. For the moment in version 1.00 :p "));
  EXPECT_GT(about.JvLinkLabel2->text().size(),
            QStringLiteral("... For the moment in version 1.00 :p").size() + 20);
  // The licence, on a line of its own at the end.
  EXPECT_TRUE(about.JvLinkLabel2->text().endsWith(
      "\nKorvane is free software under the GNU General Public License, version 3 or any later "
      "version (GPL-3.0-or-later)."));

  QString shown = QTextDocumentFragment::fromHtml(about.JvLinkLabel1->text()).toPlainText();
  shown.replace(QChar::LineSeparator, '\n');
  EXPECT_EQ(shown,
            "Visit Korvane's\n webpage to get the latest release and other shit, if you like the "
            "software or use it for some other project give us the credit. Thanks for you help");
  EXPECT_TRUE(
      about.JvLinkLabel1->text().contains("<a href=\"http://korvane.example.org/\">Korvane</a>"));
  EXPECT_FALSE(about.Image2->pixmap().isNull());

  Form->JvPageControl1->setCurrentWidget(Form->TabSheet5);
  Form->show();
  EXPECT_LT(about.Image2->x(), 16);
  EXPECT_LT(about.Image2->y(), 16);
}

}  // namespace
