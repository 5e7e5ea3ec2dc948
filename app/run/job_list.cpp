#include "run/job_list.h"

#include <QAction>
#include <QCursor>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <memory>

#include "cdrom/track_entry.h"
#include "jobs/drive_catalog.h"

namespace {

constexpr int RowIdRole = Qt::UserRole;
constexpr int IconIndexRole = Qt::UserRole + 1;

const QColor ListBackground(176, 172, 200);
const QString DoneStatus = QStringLiteral("Done");

// A row of the list; ordered by the list's sort column in plain byte order.
class TJobListItem : public QTreeWidgetItem {
 public:
  TJobListItem() = default;
  TJobListItem(const TJobListItem& Other) = default;
  TJobListItem& operator=(const TJobListItem&) = delete;

  QTreeWidgetItem* clone() const override { return new TJobListItem(*this); }
  // The Status and Full path cells are narrower than what they may hold (a long error,
  // a deep folder): their tooltip is their whole text, whatever the text is now.
  // The Status cell's tooltip adds what the run noted of the row (a verdict).
  QVariant data(int Column, int Role) const override {
    if (Role == Qt::ToolTipRole &&
        (Column == TJobList::StatusColumn || Column == TJobList::FullPathColumn)) {
      const QString text = QTreeWidgetItem::data(Column, Qt::DisplayRole).toString();
      const QString note = QTreeWidgetItem::data(Column, TJobList::NoteRole).toString();
      return note.isEmpty() ? text : text + QLatin1Char('\n') + note;
    }
    return QTreeWidgetItem::data(Column, Role);
  }
  bool operator<(const QTreeWidgetItem& Other) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    return TJobList::CompareCells(text(column), Other.text(column), true) < 0;
  }
};

// Only the "Name" column can be edited in place.
class TNameColumnDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* Parent, const QStyleOptionViewItem& Option,
                        const QModelIndex& Index) const override {
    if (Index.column() != TJobList::NameColumn) return nullptr;
    return QStyledItemDelegate::createEditor(Parent, Option, Index);
  }
};

// `ListView1` itself; it tells whether a caption is being edited in place.
class TJobListView : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  bool Editing() const { return state() == QAbstractItemView::EditingState; }
};

// The file name of Path less its last four characters (Track05.cda gives Track05).
QString CaptionOf(const QString& Path) {
  QString name = Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1);
  name.chop(4);
  return name;
}

QFont ListFont(const QFont& Base) {
  QFont font = Base;
  font.setPointSize(8);
  font.setBold(true);
  return font;
}

}  // namespace

TJobList::TJobList(QWidget* Parent, TDriveCatalog& Drives) : Drives_(Drives) {
  ListView1 = new TJobListView(Parent);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setColumnCount(3);
  ListView1->setHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Status"), QStringLiteral("Full path")});
  ListView1->header()->setStretchLastSection(false);
  ListView1->header()->setSectionsClickable(true);
  ListView1->setColumnWidth(NameColumn, 200);
  ListView1->setColumnWidth(StatusColumn, 50);
  ListView1->setColumnWidth(FullPathColumn, 339);
  ListView1->setRootIsDecorated(false);
  ListView1->setUniformRowHeights(true);
  ListView1->setAllColumnsShowFocus(true);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setEditTriggers(QAbstractItemView::SelectedClicked |
                             QAbstractItemView::EditKeyPressed);
  ListView1->setItemDelegate(new TNameColumnDelegate(ListView1));
  ListView1->setFont(ListFont(ListView1->font()));
  QPalette palette = ListView1->palette();
  palette.setColor(QPalette::Base, ListBackground);
  ListView1->setPalette(palette);
  ListView1->setContextMenuPolicy(Qt::CustomContextMenu);

  JvPopupMenu1 = new QMenu(ListView1);
  Addfile1 = JvPopupMenu1->addAction(QStringLiteral("Add file"));
  Remove1 = JvPopupMenu1->addAction(QStringLiteral("Remove"));
  Removeall1 = JvPopupMenu1->addAction(QStringLiteral("Remove all"));
  Editoutputname1 = JvPopupMenu1->addAction(QStringLiteral("Edit name"));
  Remove1->setEnabled(false);
  Removeall1->setEnabled(false);
  connect(ListView1, &QWidget::customContextMenuRequested, this, &TJobList::ShowContextMenu);
}

TJobList::~TJobList() = default;

// ---------------------------------------------------------------------------------
// Operations shared by the commands
// ---------------------------------------------------------------------------------

void TJobList::AddEntry(const QString& Path, const QString& Caption, int Before) {
  auto item = std::make_unique<TJobListItem>();
  item->setText(NameColumn, Caption.isEmpty() ? CaptionOf(Path) : Caption);
  item->setText(StatusColumn, QString());
  item->setText(FullPathColumn, Path);
  item->setData(NameColumn, RowIdRole, QVariant::fromValue<quint64>(NextRowId_++));
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  if (Before >= 0 && Before < RowCount())
    ListView1->insertTopLevelItem(Before, item.release());
  else
    ListView1->addTopLevelItem(item.release());
}

bool TJobList::IsTrackFile(const QString& Path) {
  return Path.endsWith(QStringLiteral(".cda"), Qt::CaseSensitive);
}

bool TJobList::IsNewTrack(const QString& Path) const {
  if (!IsTrackFile(Path)) return false;
  for (int row = 0; row < RowCount(); ++row)
    if (FullPath(row) == Path) return false;
  return true;
}

void TJobList::RefreshIcons() {
  ImageList1.clear();
  for (int row = 0; row < RowCount(); ++row) {
    FitNameColumn();
    ImageList1.append(IconFor(FullPath(row)));
    QTreeWidgetItem* item = Row(row);
    item->setData(NameColumn, IconIndexRole, row);
    item->setIcon(NameColumn, ImageList1.at(row));
  }
}

// The column grows to the last caption and 100 pixels more, but never so far that the
// Status column leaves the list's visible width.
void TJobList::FitNameColumn() {
  if (RowCount() == 0) return;
  const QFontMetrics metrics(ListView1->font());
  const int widest = ListView1->width() - ListView1->columnWidth(StatusColumn) - 30;
  const int wanted =
      std::min(metrics.horizontalAdvance(Caption(RowCount() - 1)) + 100, std::max(widest, 200));
  if (ListView1->columnWidth(NameColumn) < wanted) ListView1->setColumnWidth(NameColumn, wanted);
}

void TJobList::RemoveSelected() {
  for (int row = RowCount() - 1; row >= 0; --row)
    if (Row(row)->isSelected()) DeleteRow(row);
}

void TJobList::RemoveConverted() {
  for (int row = RowCount() - 1; row >= 0; --row)
    if (Status(row) == DoneStatus) DeleteRow(row);
}

void TJobList::RemoveAll() {
  for (int row = RowCount() - 1; row >= 0; --row) DeleteRow(row);
}

// ---------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------

void TJobList::AddChosenFiles(const QStringList& Files) {
  for (const QString& file : Files) {
    if (!IsNewTrack(file)) continue;
    AddEntry(file);
    RefreshIcons();
  }
  if (NamesFromDisc) NameRowsFromDisc();
}

QStringList TJobList::AddDroppedFiles(const QStringList& Paths) {
  QStringList unreadable;
  for (const QString& path : Paths) {
    const std::string name = path.toStdString();
    if (!IsDiscImageName(name) && !IsBlockDevice(name)) {
      AddEntry(path);
      RefreshIcons();
      continue;
    }
    try {
      AddDriveTracks(Drives_.AddImageDrive(name));
    } catch (const EAudioException& e) {
      // A reason may name only another file (one that a sheet refers to); the image's
      // own path then goes first.
      const QString reason = QString::fromUtf8(e.what());
      unreadable.append(reason.contains(path) ? reason : path + QStringLiteral(": ") + reason);
    }
  }
  return unreadable;
}

void TJobList::AddDriveTracks(int Drive) {
  const TDriveListing listing = Drives_.List(Drive);
  for (const TTrackListing& track : listing.Tracks) {
    if (track.Info.IsData) continue;
    AddEntry(QString::fromStdString(track.Entry));
    RefreshIcons();
  }
  if (NamesFromDisc) NameRowsFromDisc(Drive);
}

// Rows still named after their entries take their tracks' titles; each disc's texts go
// to OnDiscText once. Rows of other drives than OnlyDrive (unless -1) stay as they are.
void TJobList::NameRowsFromDisc(int OnlyDrive) {
  std::map<int, TDriveListing> listings;
  for (int row = 0; row < RowCount(); ++row) {
    const std::string entry = FullPath(row).toStdString();
    if (Caption(row) != CaptionOf(FullPath(row)) || !IsTrackFile(FullPath(row))) continue;
    const int drive = Drives_.FindDrive(TrackEntryDriveRoot(entry));
    if (drive < 0 || (OnlyDrive >= 0 && drive != OnlyDrive)) continue;
    if (listings.count(drive) == 0) {
      listings[drive] = Drives_.List(drive);
      if (OnDiscText && listings[drive].Ready) OnDiscText(listings[drive].Text);
    }
    const std::vector<std::string>& titles = listings[drive].Text.TrackTitles;
    int track = 0;
    try {
      track = TrackEntryNumber(entry);
    } catch (const EAudioException&) {
      continue;
    }
    const size_t index = static_cast<size_t>(track - 1);
    if (track >= 1 && index < titles.size() && !titles[index].empty())
      Row(row)->setText(NameColumn, QString::fromStdString(titles[index]));
  }
}

void TJobList::EditSelectedName() {
  const int row = FirstSelectedRow();
  if (row < 0) return;
  ListView1->setCurrentItem(Row(row), NameColumn, QItemSelectionModel::NoUpdate);
  ListView1->editItem(Row(row), NameColumn);
}

void TJobList::UpdateContextMenu() {
  const bool hasRows = RowCount() > 0;
  Remove1->setEnabled(hasRows);
  Removeall1->setEnabled(hasRows);
  Addfile1->setEnabled(true);
  Editoutputname1->setEnabled(true);
}

void TJobList::ShowContextMenu(const QPoint& Position) {
  UpdateContextMenu();
  JvPopupMenu1->popup(ListView1->viewport()->mapToGlobal(Position));
}

void TJobList::SortByColumn(int Column) {
  if (Column == SortColumn) {
    SortAscending = !SortAscending;
  } else {
    SortColumn = Column;
    SortAscending = true;
  }
  ListView1->sortItems(SortColumn, SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int TJobList::CompareCells(const QString& Left, const QString& Right, bool Ascending) {
  const QByteArray left = Left.toUtf8();
  const QByteArray right = Right.toUtf8();
  const int order = left < right ? -1 : (right < left ? 1 : 0);
  return Ascending ? order : -order;
}

void TJobList::MoveSelectedUp() { MoveSelected(true); }
void TJobList::MoveSelectedDown() { MoveSelected(false); }

// The selected row is copied into a new row one place up (before its predecessor) or
// one place down (after its successor), then deleted. A place before the first row is
// the first row itself, and one past the end is the end, so a row at either end stays
// where it is and no row is ever lost.
void TJobList::MoveSelected(bool Up) {
  if (Up && RowCount() == 0) {
    QCursor::setPos(QCursor::pos() + QPoint(20, -310));
    return;
  }
  const int selected = FirstSelectedRow();
  if (selected < 0) return;
  const int place = std::clamp(Up ? selected - 1 : selected + 2, 0, RowCount());
  QTreeWidgetItem* original = Row(selected);
  QTreeWidgetItem* copy = original->clone();
  ListView1->insertTopLevelItem(place, copy);
  DeleteRow(ListView1->indexOfTopLevelItem(original));
  ListView1->clearSelection();
  ListView1->setCurrentItem(copy);
  copy->setSelected(true);
  RefreshIcons();
}

bool TJobList::IsEditingName() const {
  return static_cast<const TJobListView*>(ListView1)->Editing();
}

// ---------------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------------

QTreeWidgetItem* TJobList::Row(int Index) const { return ListView1->topLevelItem(Index); }

int TJobList::RowCount() const { return ListView1->topLevelItemCount(); }

QString TJobList::Caption(int Row) const { return this->Row(Row)->text(NameColumn); }

QString TJobList::Status(int Row) const { return this->Row(Row)->text(StatusColumn); }

QString TJobList::FullPath(int Row) const { return this->Row(Row)->text(FullPathColumn); }

TJobRowId TJobList::RowId(int Row) const {
  return this->Row(Row)->data(NameColumn, RowIdRole).value<quint64>();
}

int TJobList::IconIndex(int Row) const {
  const QVariant index = this->Row(Row)->data(NameColumn, IconIndexRole);
  return index.isValid() ? index.toInt() : -1;
}

int TJobList::RowOf(TJobRowId Id) const {
  for (int row = 0; row < RowCount(); ++row)
    if (RowId(row) == Id) return row;
  return -1;
}

std::vector<TJobRowId> TJobList::RowIds() const {
  std::vector<TJobRowId> ids;
  for (int row = 0; row < RowCount(); ++row) ids.push_back(RowId(row));
  return ids;
}

int TJobList::FirstRowAmong(const std::set<TJobRowId>& Ids) const {
  for (int row = 0; row < RowCount(); ++row)
    if (Ids.count(RowId(row))) return row;
  return -1;
}

void TJobList::SetStatus(TJobRowId Id, const QString& Text) {
  const int row = RowOf(Id);
  if (row >= 0) Row(row)->setText(StatusColumn, Text);
}

void TJobList::ShowRow(TJobRowId Id) {
  const int row = RowOf(Id);
  if (row >= 0) ListView1->scrollToItem(Row(row));
}

void TJobList::SetStatusNote(TJobRowId Id, const QString& Note) {
  const int row = RowOf(Id);
  if (row >= 0) Row(row)->setData(StatusColumn, NoteRole, Note);
}

QString TJobList::StatusNote(int Row) const {
  return this->Row(Row)->data(StatusColumn, NoteRole).toString();
}

void TJobList::SetCaption(TJobRowId Id, const QString& Caption) {
  const int row = RowOf(Id);
  if (row >= 0) Row(row)->setText(NameColumn, Caption);
}

int TJobList::FirstSelectedRow() const {
  for (int row = 0; row < RowCount(); ++row)
    if (Row(row)->isSelected()) return row;
  return -1;
}

void TJobList::DeleteRow(int Index) {
  std::unique_ptr<QTreeWidgetItem> taken(ListView1->takeTopLevelItem(Index));
}

// Track entries name no file on Linux, so they get the audio-CD icon of the theme.
QIcon TJobList::IconFor(const QString& Path) const {
  if (IsTrackFile(Path)) {
    const QIcon fallback = IconProvider_.icon(QFileIconProvider::Drive);
    return QIcon::fromTheme(QStringLiteral("media-optical-audio"), fallback);
  }
  return IconProvider_.icon(QFileInfo(Path));
}
