#include "shell/web_commands.h"

#include <QDesktopServices>

#include "widgets/wrapping_button.h"

QUrl MakerSite::Address(const QString& Page) { return QUrl(Host + Page); }

void OpenWithDefaultHandler(const QUrl& Address) { QDesktopServices::openUrl(Address); }

namespace {

QPushButton* CommandButton(const QString& Caption, const QString& Name, QWidget* Parent,
                           const QRect& Place) {
  auto* button = new TWrappingButton(Caption, Parent);
  button->setObjectName(Name);
  button->setGeometry(Place);
  return button;
}

}  // namespace

TWebCommands::TWebCommands(QWidget* Client)
    : QObject(Client),
      JvXPButton2(CommandButton(QStringLiteral("Visit website"), QStringLiteral("JvXPButton2"),
                                Client, QRect(8, 160, 65, 35))),
      JvXPButton3(CommandButton(QStringLiteral("Online Help"), QStringLiteral("JvXPButton3"),
                                Client, QRect(80, 160, 57, 35))),
      Donate(CommandButton(QStringLiteral("Donate"), QStringLiteral("Donate"), Client,
                           QRect(360, 8, 121, 35))) {
  connect(JvXPButton2, &QPushButton::clicked, this, [this] { JvXPButton2Click(); });
  connect(JvXPButton3, &QPushButton::clicked, this, [this] { JvXPButton3Click(); });
  connect(Donate, &QPushButton::clicked, this, [this] { DonateClick(); });
}

void TWebCommands::JvXPButton2Click() {
  OpenWithDefaultHandler(MakerSite::Address(MakerSite::HomePage));
}
void TWebCommands::JvXPButton3Click() {
  OpenWithDefaultHandler(MakerSite::Address(MakerSite::HelpPage));
}
void TWebCommands::DonateClick() {
  OpenWithDefaultHandler(MakerSite::Address(MakerSite::DonationPage));
}
