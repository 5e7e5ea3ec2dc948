// The "About" tab: a small picture at the top left (`Image2`), a text block about the
// program and its author (`JvLinkLabel2`) and a text with one link to the maker's web
// site (`JvLinkLabel1`). Window thread only.
#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QWidget;

class TAboutTab : public QObject {
  Q_OBJECT

 public:
  // Fills Sheet, the "About" tab's page.
  explicit TAboutTab(QWidget* Sheet);

  // The texts as they read on the tab, line breaks as "\n".
  static QString TextBlock();
  static QString LinkText();

  QLabel* Image2;
  QLabel* JvLinkLabel2;
  QLabel* JvLinkLabel1;

  // Opens the linked page, the maker's home page, with the default handler.
  void JvLinkLabel1LinkClick();
};
