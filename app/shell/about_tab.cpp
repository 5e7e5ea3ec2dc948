#include "shell/about_tab.h"

#include <QBrush>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "shell/web_commands.h"

namespace {

constexpr int PictureSide = 48;

const QString AboutText = QStringLiteral(
    "Software built for some strange reasons and with a design similar to Brisomel, i guess "
    "it was to save time, hu. For the moment in version 1.00 :p");
const QString AuthorText = QStringLiteral(
    " Korvane is written in C++ with Qt by a handful of developers on Linux, who still buy "
    "their music on CD and wanted a ripper that needs no manual.");
const QString LicenceText = QStringLiteral(
    "\nKorvane is free software under the GNU General Public License, version 3 or any later "
    "version (GPL-3.0-or-later).");

const QString LinkBefore = QStringLiteral("Visit ");
const QString LinkCaption = QStringLiteral("Korvane");
const QString LinkAfter = QStringLiteral("'s");
const QString LinkSecondLine = QStringLiteral(
    " webpage to get the latest release and other shit, if you like the software or use it "
    "for some other project give us the credit. Thanks for you help");

// A compact disc: a silver disc with a rainbow sheen and its centre hole.
QPixmap DiscPicture(qreal DevicePixelRatio) {
  QPixmap pixmap(QSize(PictureSide, PictureSide) * DevicePixelRatio);
  pixmap.setDevicePixelRatio(DevicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF disc(2, 2, PictureSide - 4, PictureSide - 4);
  const QPointF centre = disc.center();
  QConicalGradient sheen(centre, 30);
  sheen.setColorAt(0.0, QColor(225, 228, 235));
  sheen.setColorAt(0.15, QColor(250, 214, 226));
  sheen.setColorAt(0.3, QColor(206, 238, 250));
  sheen.setColorAt(0.5, QColor(236, 236, 240));
  sheen.setColorAt(0.65, QColor(252, 244, 196));
  sheen.setColorAt(0.8, QColor(214, 232, 250));
  sheen.setColorAt(1.0, QColor(225, 228, 235));
  painter.setPen(QPen(QColor(120, 124, 134), 1));
  painter.setBrush(sheen);
  painter.drawEllipse(disc);
  painter.setBrush(QColor(200, 203, 210));
  painter.drawEllipse(centre, 8, 8);
  painter.setBrush(Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_Clear);
  painter.drawEllipse(centre, 3.5, 3.5);
  return pixmap;
}

QLabel* TextLabel(const QString& Name, QWidget* Parent) {
  auto* label = new QLabel(Parent);
  label->setObjectName(Name);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

// Rich text that keeps the spaces as they are written (a line may begin with one).
QString KeepingSpaces(const QString& Html) {
  return QStringLiteral("<p style=\"white-space: pre-wrap; margin: 0\">") + Html +
         QStringLiteral("</p>");
}

}  // namespace

QString TAboutTab::TextBlock() { return AboutText + AuthorText + LicenceText; }

QString TAboutTab::LinkText() {
  return LinkBefore + LinkCaption + LinkAfter + QLatin1Char('\n') + LinkSecondLine;
}

TAboutTab::TAboutTab(QWidget* Sheet)
    : QObject(Sheet),
      Image2(new QLabel(Sheet)),
      JvLinkLabel2(TextLabel(QStringLiteral("JvLinkLabel2"), Sheet)),
      JvLinkLabel1(TextLabel(QStringLiteral("JvLinkLabel1"), Sheet)) {
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setPixmap(DiscPicture(Sheet->devicePixelRatioF()));
  Image2->setFixedSize(PictureSide, PictureSide);

  JvLinkLabel2->setTextFormat(Qt::PlainText);
  JvLinkLabel2->setText(TextBlock());

  const QString link =
      QStringLiteral("<a href=\"%1\">%2</a>")
          .arg(MakerSite::Address(MakerSite::HomePage).toString(QUrl::FullyEncoded),
               LinkCaption.toHtmlEscaped());
  JvLinkLabel1->setTextFormat(Qt::RichText);
  JvLinkLabel1->setText(KeepingSpaces(LinkBefore.toHtmlEscaped() + link +
                                      LinkAfter.toHtmlEscaped() + QStringLiteral("<br>") +
                                      LinkSecondLine.toHtmlEscaped()));
  JvLinkLabel1->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  JvLinkLabel1->setOpenExternalLinks(false);
  connect(JvLinkLabel1, &QLabel::linkActivated, this, [this] { JvLinkLabel1LinkClick(); });

  auto* layout = new QGridLayout(Sheet);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setHorizontalSpacing(10);
  layout->setVerticalSpacing(12);
  layout->addWidget(Image2, 0, 0, Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(JvLinkLabel2, 0, 1);
  layout->addWidget(JvLinkLabel1, 1, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(2, 1);
}

void TAboutTab::JvLinkLabel1LinkClick() {
  OpenWithDefaultHandler(MakerSite::Address(MakerSite::HomePage));
}
