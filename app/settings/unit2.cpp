#include "settings/unit2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "outputs/audio_lame.h"

namespace {

constexpr int ShortFieldWidth = 60;
constexpr int GenreRowsShown = 25;

// The window's caption on a gradient band across its top.
class TGradientCaption : public QWidget {
 public:
  TGradientCaption(const QString& Caption, QWidget* Parent) : QWidget(Parent), Caption_(Caption) {
    setFixedHeight(22);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QLinearGradient band(rect().topLeft(), rect().topRight());
    band.setColorAt(0, QColor(0, 40, 140));
    band.setColorAt(1, QColor(150, 185, 235));
    painter.fillRect(rect(), band);
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignLeft | Qt::AlignVCenter, Caption_);
  }

 private:
  QString Caption_;
};

// A group captioned with the field's name, holding Field and, after it, Extra. A field
// of fixed width keeps its width and the rest of the row stays empty.
QGroupBox* FieldGroup(const QString& Caption, QWidget* Field, QWidget* Extra = nullptr) {
  auto* group = new QGroupBox(Caption);
  auto* row = new QHBoxLayout(group);
  row->setContentsMargins(8, 2, 8, 4);
  row->addWidget(Field);
  if (Extra) row->addWidget(Extra);
  if (Field->maximumWidth() < QWIDGETSIZE_MAX) row->addStretch(1);
  return group;
}

QLineEdit* ShortField() {
  auto* field = new QLineEdit;
  field->setFixedWidth(ShortFieldWidth);
  return field;
}

}  // namespace

TForm2::TForm2(QWidget* Parent) : QWidget(Parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Mp3 tag settings"));
  // Closing the tag window never ends the program; only the main window does.
  setAttribute(Qt::WA_QuitOnClose, false);
  QFont windowFont = font();
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);
  CreateFields();
  resize(427, 366);
  move(195, 140);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm2::CreateFields() {
  Edit1 = new QLineEdit;
  Edit2 = new QLineEdit;
  Edit3 = new QLineEdit;
  Edit4 = ShortField();
  Edit5 = ShortField();
  Edit7 = new QLineEdit;
  CheckBox1 = new QCheckBox(QStringLiteral("Increment track"));
  CheckBox2 = new QCheckBox(QStringLiteral("Filename as title"));
  Button1 = new QPushButton(QStringLiteral("Close"));

  // The list offers the table's names, but the tag takes whatever text stands in it.
  ComboBox1 = new QComboBox;
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setMaxVisibleItems(GenreRowsShown);
  ComboBox1->addItem(QString());
  for (const char* genre : Id3v1GenreNames()) ComboBox1->addItem(QString::fromLatin1(genre));
  ComboBox1->setCurrentIndex(0);

  auto* fields = new QGridLayout;
  fields->addWidget(FieldGroup(QStringLiteral("Album"), Edit1), 0, 0, 1, 2);
  fields->addWidget(FieldGroup(QStringLiteral("Artist"), Edit2), 1, 0, 1, 2);
  fields->addWidget(FieldGroup(QStringLiteral("Title"), Edit3, CheckBox2), 2, 0, 1, 2);
  fields->addWidget(FieldGroup(QStringLiteral("Track"), Edit4, CheckBox1), 3, 0);
  fields->addWidget(FieldGroup(QStringLiteral("Year"), Edit5), 3, 1);
  fields->addWidget(FieldGroup(QStringLiteral("Genre"), ComboBox1), 4, 0, 1, 2);
  fields->addWidget(FieldGroup(QStringLiteral("Comment"), Edit7), 5, 0, 1, 2);
  fields->setColumnStretch(0, 1);
  fields->setVerticalSpacing(2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button1);

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 6);
  window->setSpacing(2);
  window->addWidget(new TGradientCaption(windowTitle(), this));
  auto* body = new QVBoxLayout;
  body->setContentsMargins(8, 2, 8, 0);
  body->setSpacing(4);
  body->addLayout(fields);
  body->addStretch(1);
  body->addLayout(buttons);
  window->addLayout(body);
}

void TForm2::Button1Click() {
  hide();
  emit Closed();
}

TId3TagTexts TForm2::TagTexts() const {
  return TId3TagTexts{Edit3->text(), Edit2->text(), Edit1->text(),           Edit5->text(),
                      Edit4->text(), Edit7->text(), ComboBox1->currentText()};
}

TMp3RowTags TForm2::RowTags() const {
  return TMp3RowTags{CheckBox2->isChecked(), CheckBox1->isChecked(), Edit4->text()};
}
