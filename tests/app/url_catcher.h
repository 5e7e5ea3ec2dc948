// Stands in for the desktop's default handler of web addresses while it lives: the
// addresses that the program asks the desktop to open are kept, in order.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  TUrlCatcher() {
    for (const char* scheme : {"http", "https", "file"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~TUrlCatcher() override {
    for (const char* scheme : {"http", "https", "file"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }

  QList<QUrl> Opened;

 public slots:
  void Open(const QUrl& Address) { Opened.append(Address); }
};
