// The job list of the main window: `ListView1`, the entries to convert, and every
// command that changes it (adding through the track chooser or by dropping, removing,
// renaming in place, sorting, moving with "+" and "-", the context menu).
//
// Each row holds three cells: the caption ("Name", the output file's base name), the
// "Status" and the "Full path" as it was added; the last two show their whole text in
// their tooltip. Rows also carry an identity that moves
// with them (sorting, "+", "-"), so that a conversion run can find the row it is
// converting however the user has reordered or shortened the list meanwhile.
//
// Window thread only.
#pragma once

#include <QFileIconProvider>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "jobs/drive_catalog.h"

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TDriveCatalog;

// A row's identity: never reused while the list exists.
using TJobRowId = std::uint64_t;

class TJobList : public QObject {
  Q_OBJECT

 public:
  enum TColumn { NameColumn = 0, StatusColumn = 1, FullPathColumn = 2 };
  // Where a row keeps what the run noted of it beside its Status.
  static constexpr int NoteRole = Qt::UserRole + 1;

  // Creates `ListView1` and its context menu inside Parent.
  TJobList(QWidget* Parent, TDriveCatalog& Drives);
  ~TJobList() override;

  QTreeWidget* ListView1;
  QMenu* JvPopupMenu1;
  QAction* Addfile1;
  QAction* Remove1;
  QAction* Removeall1;
  QAction* Editoutputname1;
  // The icon of each row at the last `RefreshIcons`, by row index.
  QList<QIcon> ImageList1;
  int SortColumn = 0;
  bool SortAscending = true;

  // Rows of a disc, however it enters the list, are named by the tracks' titles where
  // the disc knows them (CD-Text, a cue sheet's texts), and OnDiscText hears what the
  // disc says.
  bool NamesFromDisc = false;
  std::function<void(const TDiscInfo&)> OnDiscText;

  // Operations shared by the commands. Caption: the row's name (empty: the entry's);
  // Before: the row it goes before (-1, or none such: the end).
  void AddEntry(const QString& Path, const QString& Caption = QString(), int Before = -1);
  static bool IsTrackFile(const QString& Path);
  bool IsNewTrack(const QString& Path) const;
  void RefreshIcons();
  void FitNameColumn();
  void RemoveSelected();
  void RemoveConverted();
  void RemoveAll();

  // Rows still named after their entries take their tracks' titles where their disc
  // knows them, and OnDiscText hears what each disc says; OnlyDrive: that drive's rows
  // alone (-1: every row).
  void NameRowsFromDisc(int OnlyDrive = -1);
  // Adds what the track chooser returned: each new track entry, in the order given;
  // other files and entries already listed are passed over without a message.
  void AddChosenFiles(const QStringList& Files);
  // Adds dropped paths, in the order given, whatever their extension and even when
  // listed already; a disc image, or a CD device (such as one named at the program's
  // start), is added as a drive and its audio tracks are added instead of it. A disc image that
  // cannot be read adds no row: returns why, one sentence naming each such image, in the order
  // given.
  QStringList AddDroppedFiles(const QStringList& Paths);
  // Starts editing the selected row's caption in place; nothing without a selection.
  void EditSelectedName();
  // Sets the enabled state of the context menu's items for the list as it is now.
  void UpdateContextMenu();
  // A click on a column header: the same column again reverses the order.
  void SortByColumn(int Column);
  // Moves the selected row up ("+") or down ("-") one place.
  void MoveSelectedUp();
  void MoveSelectedDown();
  // True while a caption is being edited in place.
  bool IsEditingName() const;

  // Plain byte order of the cells' text: -1, 0 or 1; inverted when not Ascending.
  static int CompareCells(const QString& Left, const QString& Right, bool Ascending);

  // Rows, for the conversion run.
  int RowCount() const;
  QString Caption(int Row) const;
  QString Status(int Row) const;
  QString FullPath(int Row) const;
  TJobRowId RowId(int Row) const;
  // The row's icon index, as the last `RefreshIcons` set it.
  int IconIndex(int Row) const;
  // The row's current index; -1 when it is gone.
  int RowOf(TJobRowId Id) const;
  std::vector<TJobRowId> RowIds() const;
  // The first row, in list order, whose identity is among Ids; -1 when none is left.
  int FirstRowAmong(const std::set<TJobRowId>& Ids) const;
  // Writes the Status cell of the row; nothing when the row is gone.
  void SetStatus(TJobRowId Id, const QString& Text);
  // Scrolls the list so that the row is in view; nothing when the row is gone.
  void ShowRow(TJobRowId Id);
  // What the run noted of the row beside its Status (an AccurateRip verdict), shown in
  // the Status cell's tooltip; empty: nothing.
  void SetStatusNote(TJobRowId Id, const QString& Note);
  QString StatusNote(int Row) const;
  // Renames the row; nothing when the row is gone.
  void SetCaption(TJobRowId Id, const QString& Caption);

 private:
  QTreeWidgetItem* Row(int Index) const;
  int FirstSelectedRow() const;
  void MoveSelected(bool Up);
  void DeleteRow(int Index);
  QIcon IconFor(const QString& Path) const;
  void AddDriveTracks(int Drive);
  void ShowContextMenu(const QPoint& Position);

  TDriveCatalog& Drives_;
  QFileIconProvider IconProvider_;
  TJobRowId NextRowId_ = 1;
};
