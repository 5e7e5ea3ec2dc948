#include "windows/track_chooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

#include "jobs/drive_catalog.h"

namespace {

constexpr int EntryRole = Qt::UserRole;

std::unique_ptr<QTreeWidgetItem> DriveItem(const TDriveListing& Drive) {
  auto item = std::make_unique<QTreeWidgetItem>();
  item->setText(0, QString::fromStdString(Drive.Name));
  if (!Drive.Ready) item->setText(2, QStringLiteral("no disc"));
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

std::unique_ptr<QTreeWidgetItem> TrackItem(const TTrackListing& Track) {
  auto item = std::make_unique<QTreeWidgetItem>();
  const QString entry = QString::fromStdString(Track.Entry);
  item->setText(0, entry.mid(entry.lastIndexOf(QLatin1Char('/')) + 1));
  item->setText(1, TrackLengthText(Track.Info.Minutes, Track.Info.Seconds, Track.Info.Frames));
  item->setText(2, Track.Info.IsData ? QStringLiteral("data") : QStringLiteral("audio"));
  item->setData(0, EntryRole, entry);
  item->setToolTip(0, entry);
  return item;
}

}  // namespace

QString TrackLengthText(int Minutes, int Seconds, int Frames) {
  return QStringLiteral("%1:%2.%3")
      .arg(Minutes)
      .arg(Seconds, 2, 10, QLatin1Char('0'))
      .arg(Frames, 2, 10, QLatin1Char('0'));
}

TTrackChooser::TTrackChooser(TDriveCatalog& Drives, QWidget* Parent)
    : QDialog(Parent), Drives_(Drives) {
  setObjectName(QStringLiteral("OpenDialog1"));
  setWindowTitle(QStringLiteral("Add files"));
  setSizeGripEnabled(true);
  resize(520, 380);

  Tracks_ = new QTreeWidget(this);
  Tracks_->setColumnCount(3);
  Tracks_->setHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Length"), QStringLiteral("Type")});
  Tracks_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Tracks_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  Tracks_->header()->setStretchLastSection(false);
  connect(Tracks_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* Item) {
    if (!Item->data(0, EntryRole).toString().isEmpty()) accept();
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
  QPushButton* addImage =
      buttons->addButton(QStringLiteral("Add disc image..."), QDialogButtonBox::ActionRole);
  connect(addImage, &QPushButton::clicked, this, &TTrackChooser::AddDiscImage);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Tracks_);
  layout->addWidget(buttons);
}

QStringList TTrackChooser::Execute() {
  Refill();
  if (exec() != QDialog::Accepted) return {};
  return ChosenEntries();
}

QStringList TTrackChooser::ChosenEntries() const {
  QStringList entries;
  for (int drive = 0; drive < Tracks_->topLevelItemCount(); ++drive) {
    const QTreeWidgetItem* driveItem = Tracks_->topLevelItem(drive);
    for (int track = 0; track < driveItem->childCount(); ++track)
      if (driveItem->child(track)->isSelected())
        entries.append(driveItem->child(track)->data(0, EntryRole).toString());
  }
  return entries;
}

void TTrackChooser::Refill() {
  Tracks_->clear();
  for (const TDriveListing& drive : Drives_.ListAll()) {
    std::unique_ptr<QTreeWidgetItem> driveItem = DriveItem(drive);
    for (const TTrackListing& track : drive.Tracks) driveItem->addChild(TrackItem(track).release());
    Tracks_->addTopLevelItem(driveItem.release());
  }
  Tracks_->expandAll();
}

void TTrackChooser::AddDiscImage() {
  QStringList patterns;
  for (const std::string& extension : DiscImageExtensions())
    patterns << QStringLiteral("*") + QString::fromStdString(extension);
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Add a disc image"), QDir::homePath(),
      QStringLiteral("Disc images (%1);;All files (*)").arg(patterns.join(QLatin1Char(' '))));
  if (!path.isEmpty()) AddImage(path);
}

bool TTrackChooser::AddImage(const QString& Path) {
  try {
    Drives_.AddImageDrive(Path.toStdString());
  } catch (const EAudioException& e) {
    QMessageBox::warning(this, windowTitle(), QString::fromUtf8(e.what()));
    return false;
  }
  Refill();
  return true;
}
