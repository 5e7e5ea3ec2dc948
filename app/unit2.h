// `TForm2`, the tag settings window ("Mp3 tag settings"): a tool window created after
// the main window that lives as long as the program; hiding it keeps its contents.
// Its fields come with the tag settings; until then the per-row switches that the MP3
// job starter reads stand as they are at start (cleared). Window thread only.
#pragma once

#include <QWidget>

#include "conversion_run.h"

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* Parent = nullptr);

  // "Filename as title", "Increment track" and the "Track" box.
  TMp3RowTags RowTags() const;
};
