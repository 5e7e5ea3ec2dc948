#include "shell/advert_navigation.h"

#include <QDir>
#include <QHostAddress>
#include <QHostInfo>

#include <utility>

#include "shell/web_commands.h"

namespace {

const QString LocalPageName = QStringLiteral("b.htm");

}  // namespace

TLocalHost QueryLocalHost() {
  TLocalHost host;
  host.HostName = QHostInfo::localHostName();
  if (host.HostName.isEmpty()) {
    host.ErrorText = QStringLiteral("The local host has no name");
    return host;
  }
  const QHostInfo resolved = QHostInfo::fromName(host.HostName);
  if (resolved.error() != QHostInfo::NoError) {
    host.ErrorText = resolved.errorString();
    return host;
  }
  for (const QHostAddress& address : resolved.addresses()) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (!isIpv4) continue;
    host.Address = QHostAddress(ipv4).toString();
    host.Success = true;
    return host;
  }
  host.ErrorText = QStringLiteral("The local host name resolves to no IPv4 address");
  return host;
}

TAdvertNavigation::TAdvertNavigation(QString ProgramFolder, THostQuery Query)
    : ProgramFolder_(std::move(ProgramFolder)), Query_(std::move(Query)) {}

bool TAdvertNavigation::IsWithoutNetwork(const QString& Address) {
  return QHostAddress(Address).isLoopback();
}

QUrl TAdvertNavigation::LocalPage() const {
  return QUrl::fromLocalFile(QDir(ProgramFolder_).filePath(LocalPageName));
}

QUrl TAdvertNavigation::TabShown() {
  NavigationCount_ = 0;
  const TLocalHost host = Query_();
  if (!host.Success) return QUrl();
  if (IsWithoutNetwork(host.Address)) return LocalPage();
  return MakerSite::Address(MakerSite::AdvertPage);
}

TAdvertNavigation::TDecision TAdvertNavigation::BeforeNavigate(const QUrl& Target) {
  const TLocalHost host = Query_();
  if (!host.Success || IsWithoutNetwork(host.Address)) return TDecision::Proceed;
  if (Target != MakerSite::Address(MakerSite::AdvertLinkPage)) return TDecision::Proceed;
  ++NavigationCount_;
  return NavigationCount_ == 1 ? TDecision::Proceed : TDecision::OpenOutside;
}
