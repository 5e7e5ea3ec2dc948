#include "unit2.h"

TForm2::TForm2(QWidget* Parent) : QWidget(Parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Mp3 tag settings"));
  // Closing the tag window never ends the program; only the main window does.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(427, 366);
  move(195, 140);
}

TMp3RowTags TForm2::RowTags() const { return TMp3RowTags{}; }
