// The advertisement tab: the rule that chooses its page and decides where each of its
// navigations loads, and the real embedded browser, made when the tab is first shown. The
// tests do not link the browser engine: they watch the browser (a QWebEngineView, loaded
// with its module) through its properties and signals.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>

#include "app_test_support.h"
#include "shell/advert_navigation.h"
#include "shell/advert_tab.h"
#include "url_catcher.h"

namespace {

const QUrl PubPage(QStringLiteral("http://korvane.example.org/pub.php"));
const QUrl Pub2Page(QStringLiteral("http://korvane.example.org/pub2.php"));
const QString ProgramFolder = QStringLiteral("/opt/korvane");

TAdvertNavigation::THostQuery HostAt(const QString& Address) {
  return [Address] { return TLocalHost{true, QStringLiteral("desk"), Address, QString()}; };
}

TAdvertNavigation::THostQuery FailingHost() {
  return [] { return TLocalHost{false, QString(), QString(), QStringLiteral("no name")}; };
}

using TDecision = TAdvertNavigation::TDecision;

// ---------------------------------------------------------------------------------
// The rule
// ---------------------------------------------------------------------------------

TEST(AdvertNavigationTest, ANetworkedHostShowsTheMakersAdvertPage) {
  TAdvertNavigation navigation(ProgramFolder, HostAt("192.168.1.20"));
  EXPECT_EQ(navigation.TabShown(), Pub2Page);
}

TEST(AdvertNavigationTest, OnANetworkedHostTheSecondPubPageOpensOutside) {
  TAdvertNavigation navigation(ProgramFolder, HostAt("192.168.1.20"));
  navigation.TabShown();
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::OpenOutside);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::OpenOutside);
  EXPECT_EQ(navigation.NavigationCount(), 3);
}

TEST(AdvertNavigationTest, OnlyTheExactPubAddressCounts) {
  TAdvertNavigation navigation(ProgramFolder, HostAt("10.0.0.7"));
  navigation.TabShown();
  for (const char* other :
       {"http://korvane.example.org/pub2.php", "http://korvane.example.org/",
        "http://korvane.example.org/pub.php?page=2", "https://korvane.example.org/pub.php",
        "http://elsewhere.example.org/pub.php", "file:///opt/korvane/b.htm"})
    EXPECT_EQ(navigation.BeforeNavigate(QUrl(QString::fromLatin1(other))), TDecision::Proceed)
        << other;
  EXPECT_EQ(navigation.NavigationCount(), 0);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::OpenOutside);
}

TEST(AdvertNavigationTest, ShowingTheTabAgainResetsTheCount) {
  TAdvertNavigation navigation(ProgramFolder, HostAt("10.0.0.7"));
  navigation.TabShown();
  navigation.BeforeNavigate(PubPage);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::OpenOutside);
  navigation.TabShown();
  EXPECT_EQ(navigation.NavigationCount(), 0);
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed);
}

// Hosts that have no network address of their own, as the resolvers of the platform
// name them.
class HostWithoutNetworkTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HostWithoutNetworkTest, ShowsTheLocalPageAndNeverOpensPagesOutside) {
  TAdvertNavigation navigation(ProgramFolder, HostAt(QString::fromLatin1(GetParam())));
  EXPECT_EQ(navigation.TabShown(), QUrl::fromLocalFile("/opt/korvane/b.htm"));
  for (int visit = 0; visit < 4; ++visit)
    EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed) << visit;
  EXPECT_EQ(navigation.NavigationCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Loopback, HostWithoutNetworkTest,
                         ::testing::Values("127.0.0.1", "127.0.1.1", "127.0.0.2"));

TEST(AdvertNavigationTest, AFailedHostQueryLoadsNothingAndLetsEveryNavigationProceed) {
  TAdvertNavigation navigation(ProgramFolder, FailingHost());
  EXPECT_TRUE(navigation.TabShown().isEmpty());
  for (int visit = 0; visit < 3; ++visit)
    EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed) << visit;
}

TEST(AdvertNavigationTest, TheHostIsAskedAtEveryNavigation) {
  QString address = QStringLiteral("10.0.0.7");
  TAdvertNavigation navigation(ProgramFolder, [&address] {
    return TLocalHost{true, QStringLiteral("desk"), address, QString()};
  });
  navigation.TabShown();
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed);
  address = QStringLiteral("127.0.0.1");  // the network went away
  EXPECT_EQ(navigation.BeforeNavigate(PubPage), TDecision::Proceed);
}

TEST(QueryLocalHostTest, NamesTheHostAndGivesADottedAddressOrAReason) {
  const TLocalHost host = QueryLocalHost();
  EXPECT_FALSE(host.HostName.isEmpty());
  if (host.Success) {
    EXPECT_TRUE(QRegularExpression(R"(^\d{1,3}(\.\d{1,3}){3}$)").match(host.Address).hasMatch())
        << host.Address.toStdString();
  } else {
    EXPECT_FALSE(host.ErrorText.isEmpty());
  }
}

// ---------------------------------------------------------------------------------
// The tab and its browser
// ---------------------------------------------------------------------------------

constexpr int LoadTimeoutMs = 60000;

class AdvertTabTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Form->Advert().Navigation().SetHostQuery(HostAt("127.0.0.1"));
  }
  void ShowTab(QWidget* Sheet) { Form->JvPageControl1->setCurrentWidget(Sheet); }
  QUrl LocalPage() const {
    return QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/b.htm");
  }
  static QUrl Url(QWidget* Browser) { return Browser->property("url").toUrl(); }
  // Shows the advertisement tab and waits until its browser has loaded the page.
  void ShowAdvertAndWaitForLoad() {
    QWidget* view = Form->Advert().WebBrowser1();
    if (!view) {
      ShowTab(Form->TabSheet6);
      view = Form->Advert().WebBrowser1();
      ASSERT_NE(view, nullptr);
    } else {
      ShowTab(Form->TabSheet6);
    }
    QSignalSpy loaded(view, SIGNAL(loadFinished(bool)));
    ASSERT_TRUE(loaded.wait(LoadTimeoutMs));
    EXPECT_TRUE(loaded.front().front().toBool());
  }
};

TEST_F(AdvertTabTest, TheBrowserIsMadeOnlyWhenTheTabIsFirstShown) {
  ShowTab(Form->TabSheet5);
  ShowTab(Form->TabSheet1);
  EXPECT_EQ(Form->Advert().WebBrowser1(), nullptr);
  EXPECT_TRUE(Form->TabSheet6->children().isEmpty());

  ShowTab(Form->TabSheet6);
  QWidget* browser = Form->Advert().WebBrowser1();
  ASSERT_NE(browser, nullptr);
  EXPECT_STREQ(browser->metaObject()->className(), "QWebEngineView");
  EXPECT_EQ(browser->parentWidget(), Form->TabSheet6);
  EXPECT_EQ(browser->geometry(), QRect(2, 16, 468, 160));
  ShowTab(Form->TabSheet1);
  ShowTab(Form->TabSheet6);
  EXPECT_EQ(Form->Advert().WebBrowser1(), browser);
}

TEST_F(AdvertTabTest, WithoutANetworkTheTabLoadsTheLocalPageBesideTheProgram) {
  Form->show();
  ShowAdvertAndWaitForLoad();
  QWidget* browser = Form->Advert().WebBrowser1();
  EXPECT_EQ(Url(browser), LocalPage());
  EXPECT_EQ(browser->property("title").toString(), "Korvane");
}

TEST_F(AdvertTabTest, ACancelledNavigationOpensOutsideAndTheTabKeepsItsPage) {
  Form->show();
  ShowAdvertAndWaitForLoad();
  QWidget* browser = Form->Advert().WebBrowser1();

  // Networked now, with "/pub.php" already loaded once inside the tab.
  TAdvertTab& advert = Form->Advert();
  advert.Navigation().SetHostQuery(HostAt("192.168.1.20"));
  ASSERT_TRUE(advert.WebBrowser1BeforeNavigate2(PubPage));

  TUrlCatcher desktop;
  // The cancelled load ends unsuccessfully, and the tab still shows its page.
  QSignalSpy finished(browser, SIGNAL(loadFinished(bool)));
  browser->setProperty("url", PubPage);
  ASSERT_TRUE(finished.wait(LoadTimeoutMs));
  EXPECT_FALSE(finished.front().front().toBool());
  EXPECT_EQ(desktop.Opened, QList<QUrl>{PubPage});
  EXPECT_EQ(advert.Navigation().NavigationCount(), 2);
  EXPECT_EQ(Url(browser), LocalPage());
  EXPECT_EQ(browser->property("title").toString(), "Korvane");

  // Leaving the tab and coming back starts the count again.
  advert.Navigation().SetHostQuery(HostAt("127.0.0.1"));
  ShowTab(Form->TabSheet1);
  ShowAdvertAndWaitForLoad();
  EXPECT_EQ(advert.Navigation().NavigationCount(), 0);
}

}  // namespace
