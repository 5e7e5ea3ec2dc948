// `OpenDialog1`, the "Add files" dialog: lists the tracks of every drive (CD drives and
// disc images added as drives) as their track entries, with each track's length and
// whether it holds audio, lets the user choose several, and can add a disc image as a
// drive. What it returns goes through the job list as a file dialog's choice would.
// Window thread only.
#pragma once

#include <QDialog>
#include <QStringList>

class QTreeWidget;
class TDriveCatalog;

class TTrackChooser : public QDialog {
  Q_OBJECT

 public:
  TTrackChooser(TDriveCatalog& Drives, QWidget* Parent);

  // Shows the dialog and waits for the user; returns the chosen track entries in the
  // order the dialog lists them, or nothing when the user cancelled.
  QStringList Execute();
  // The chosen entries, in list order.
  QStringList ChosenEntries() const;
  // Lists the drives and their tracks again.
  void Refill();
  // Adds a disc image as a drive and lists it; when it cannot be read, a message box
  // says why and false is returned.
  bool AddImage(const QString& Path);

  QTreeWidget* TrackTree() const { return Tracks_; }

 private:
  void AddDiscImage();

  TDriveCatalog& Drives_;
  QTreeWidget* Tracks_;
};

// A track's length as m:ss.ff (minutes, seconds, sectors).
QString TrackLengthText(int Minutes, int Seconds, int Frames);
