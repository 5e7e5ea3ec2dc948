// The maker's web site and the commands that lead to it: "Visit website" (`JvXPButton2`),
// "Online Help" (`JvXPButton3`) and "Donate" (`Donate`), placed in the window's client
// area. Each asks the desktop to open its address with the default handler (normally the
// user's web browser) and returns at once. Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QPushButton;

// The maker's web site and its pages.
namespace MakerSite {
inline const QString Host = QStringLiteral("http://korvane.example.org");
inline const QString HomePage = QStringLiteral("/");
inline const QString HelpPage = QStringLiteral("/korvane_help.html");
inline const QString DonationPage = QStringLiteral("/donate.html");
// The advertisement page that the advertisement tab loads on a networked machine, and
// the page whose second visit from the tab opens outside the program.
inline const QString AdvertPage = QStringLiteral("/pub2.php");
inline const QString AdvertLinkPage = QStringLiteral("/pub.php");

// The address of Page ("/..." ) on the maker's web site.
QUrl Address(const QString& Page);
}  // namespace MakerSite

// Asks the desktop to open Address with its default handler. Returns at once.
void OpenWithDefaultHandler(const QUrl& Address);

class TWebCommands : public QObject {
  Q_OBJECT

 public:
  // Creates the three buttons in Client, the window's client area.
  explicit TWebCommands(QWidget* Client);

  QPushButton* JvXPButton2;  // "Visit website"
  QPushButton* JvXPButton3;  // "Online Help"
  QPushButton* Donate;       // "Donate"

  void JvXPButton2Click();
  void JvXPButton3Click();
  void DonateClick();
};
