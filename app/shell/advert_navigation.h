// What the advertisement tab shows and where its pages open, without the browser:
// `QueryLocalHost`, the page chosen when the tab is shown, and the rule applied before
// each navigation of the tab's browser. A window-wide counter of navigations to the
// maker's "/pub.php" page lets the first one load inside the tab; later ones open with
// the default handler instead. Showing the tab again resets the counter.
//
// A machine whose host name leads to no network address (a loopback address: 127.0.0.1,
// or 127.0.1.1 as Debian's /etc/hosts names the host, or 127.0.0.2 from systemd's
// resolver) shows the local page "b.htm" and never opens pages outside the program.
//
// Window thread only. `QueryLocalHost` may wait for the system's name resolution.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// What `QueryLocalHost` found out.
struct TLocalHost {
  bool Success = false;
  QString HostName;
  QString Address;    // the first IPv4 address, dotted decimal
  QString ErrorText;  // the system's, on failure
};

// The local host's name and the first IPv4 address that it resolves to. Fails when the
// host has no name or the name resolves to no IPv4 address.
TLocalHost QueryLocalHost();

class TAdvertNavigation {
 public:
  using THostQuery = std::function<TLocalHost()>;
  enum class TDecision { Proceed, OpenOutside };

  // ProgramFolder holds the local page "b.htm".
  explicit TAdvertNavigation(QString ProgramFolder, THostQuery Query = QueryLocalHost);

  void SetHostQuery(THostQuery Query) { Query_ = std::move(Query); }

  // The tab has become the visible one: resets the counter and returns the page that
  // the browser loads, empty when the host query failed.
  QUrl TabShown();

  // Before the browser navigates to Target: Proceed lets it load in the tab; OpenOutside
  // means the navigation is cancelled and Target opened with the default handler.
  TDecision BeforeNavigate(const QUrl& Target);

  int NavigationCount() const { return NavigationCount_; }
  QUrl LocalPage() const;

  // The address leads to no network: it is a loopback address.
  static bool IsWithoutNetwork(const QString& Address);

 private:
  QString ProgramFolder_;
  THostQuery Query_;
  int NavigationCount_ = 0;
};
