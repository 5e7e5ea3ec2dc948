#include "settings/opus_settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "outputs/audio_opus.h"
#include "settings/settings_controls.h"
#include "settings/unit2.h"

namespace {

QString ComplexityText(int Complexity) { return QStringLiteral("Complexity %1").arg(Complexity); }

}  // namespace

TOpusSettings::TOpusSettings(QWidget* Sheet, TOpusOut& Output) : QObject(Sheet), OpusOut1_(Output) {
  CreateBitrate(Sheet);
  CreateComplexity(Sheet);
  CreateTags(Sheet);
}

void TOpusSettings::SetTagSettingsWindow(TForm2* Form2) { Form2_ = Form2; }

// Any whole number of kbit/s that a stereo stream can carry; typing is checked against
// the range as it goes.
void TOpusSettings::CreateBitrate(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Bit rate"), Sheet, QRect(6, 4, 176, 82));
  BitrateBox = new QSpinBox(group);
  BitrateBox->setGeometry(8, 20, 110, 24);
  BitrateBox->setRange(TOpusOut::MinBitrate, TOpusOut::MaxStereoBitrate);
  BitrateBox->setSuffix(QStringLiteral(" kbit/s"));
  BitrateBox->setValue(OpusOut1_.Bitrate);
  VariableBitrate = new QCheckBox(QStringLiteral("Variable bit rate"), group);
  VariableBitrate->setGeometry(8, 54, 160, SwitchRowHeight);
  VariableBitrate->setChecked(OpusOut1_.Vbr);
  connect(BitrateBox, &QSpinBox::valueChanged, this,
          [this](int Value) { OpusOut1_.Bitrate = Value; });
  connect(VariableBitrate, &QCheckBox::toggled, this, [this](bool On) { OpusOut1_.Vbr = On; });
}

void TOpusSettings::CreateComplexity(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Complexity"), Sheet, QRect(188, 4, 276, 82));
  ComplexitySlider = new QSlider(Qt::Horizontal, group);
  ComplexitySlider->setGeometry(10, 20, 256, 30);
  ComplexitySlider->setRange(TOpusOut::MinComplexity, TOpusOut::MaxComplexity);
  ComplexitySlider->setTickInterval(1);
  ComplexitySlider->setTickPosition(QSlider::TicksBelow);
  ComplexitySlider->setPageStep(1);
  ComplexitySlider->setValue(OpusOut1_.Complexity);
  PlacedLabel(QStringLiteral("fast"), group, QRect(10, 54, 60, 16));
  ComplexityLabel =
      PlacedLabel(ComplexityText(OpusOut1_.Complexity), group, QRect(78, 54, 120, 16));
  ComplexityLabel->setAlignment(Qt::AlignCenter);
  QLabel* best = PlacedLabel(QStringLiteral("best"), group, QRect(206, 54, 60, 16));
  best->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  connect(ComplexitySlider, &QSlider::valueChanged, this, [this] { ComplexityChange(); });
}

// The same place and look as the other tabs' tag groups.
void TOpusSettings::CreateTags(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Opus tags"), Sheet, QRect(6, 92, 176, 50));
  UseTags = new QCheckBox(QStringLiteral("Use tags"), group);
  UseTags->setGeometry(8, 21, 80, SwitchRowHeight);
  EditTags = new QPushButton(QStringLiteral("Edit tags"), group);
  EditTags->setGeometry(90, 18, 78, 24);
  connect(EditTags, &QPushButton::clicked, this, [this] { ShowTagWindow(); });
}

void TOpusSettings::ComplexityChange() {
  OpusOut1_.Complexity = ComplexitySlider->value();
  ComplexityLabel->setText(ComplexityText(ComplexitySlider->value()));
}

// The tag window does not block the main window.
void TOpusSettings::ShowTagWindow() {
  if (!Form2_) return;
  Form2_->show();
  Form2_->raise();
  Form2_->activateWindow();
}

std::vector<std::string> TOpusSettings::Comments() const {
  if (!UseTags->isChecked() || !Form2_) return {};
  return CommentLinesOf(Form2_->TagTexts());
}
