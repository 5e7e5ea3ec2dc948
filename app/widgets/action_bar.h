// `JvXPBar1`-style action bar: a panel with a caption and a column of command items.
// Each item is a QAction; disabling the action disables its item. Window thread only.
#pragma once

#include <QAction>
#include <QFrame>
#include <QList>
#include <QString>

class TActionBar : public QFrame {
  Q_OBJECT

 public:
  TActionBar(const QString& Caption, QWidget* Parent);

  // Appends an item; its index is its position, counting from 0.
  QAction* AddItem(const QString& Caption);
  QAction* Item(int Index) const { return Items_.value(Index); }
  int ItemCount() const { return static_cast<int>(Items_.size()); }

 private:
  QList<QAction*> Items_;
};
