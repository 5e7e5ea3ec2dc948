#include "settings/flac_settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "outputs/audio_flac.h"
#include "settings/settings_controls.h"
#include "settings/unit2.h"

namespace {

QString LevelText(int Level) { return QStringLiteral("Level %1").arg(Level); }

}  // namespace

TFlacSettings::TFlacSettings(QWidget* Sheet, TFlacOut& Output) : QObject(Sheet), FlacOut1_(Output) {
  CreateLevel(Sheet);
  CreateTags(Sheet);
}

void TFlacSettings::SetTagSettingsWindow(TForm2* Form2) { Form2_ = Form2; }

void TFlacSettings::CreateLevel(QWidget* Sheet) {
  QGroupBox* group =
      SettingsGroup(QStringLiteral("Compression level"), Sheet, QRect(6, 4, 458, 82));
  LevelSlider = new QSlider(Qt::Horizontal, group);
  LevelSlider->setGeometry(10, 20, 438, 30);
  LevelSlider->setRange(TFlacOut::MinCompressionLevel, TFlacOut::MaxCompressionLevel);
  LevelSlider->setTickInterval(1);
  LevelSlider->setTickPosition(QSlider::TicksBelow);
  LevelSlider->setPageStep(1);
  LevelSlider->setValue(FlacOut1_.CompressionLevel);
  PlacedLabel(QStringLiteral("fast"), group, QRect(10, 54, 100, 16));
  LevelLabel = PlacedLabel(LevelText(FlacOut1_.CompressionLevel), group, QRect(179, 54, 100, 16));
  LevelLabel->setAlignment(Qt::AlignCenter);
  QLabel* small = PlacedLabel(QStringLiteral("small"), group, QRect(348, 54, 100, 16));
  small->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  connect(LevelSlider, &QSlider::valueChanged, this, [this] { LevelChange(); });
}

// The same place and look as the MP3 tab's tag group.
void TFlacSettings::CreateTags(QWidget* Sheet) {
  QGroupBox* group = SettingsGroup(QStringLiteral("Flac tags"), Sheet, QRect(6, 92, 176, 50));
  UseTags = new QCheckBox(QStringLiteral("Use tags"), group);
  UseTags->setGeometry(8, 21, 80, SwitchRowHeight);
  EditTags = new QPushButton(QStringLiteral("Edit tags"), group);
  EditTags->setGeometry(90, 18, 78, 24);
  connect(EditTags, &QPushButton::clicked, this, [this] { ShowTagWindow(); });
}

void TFlacSettings::LevelChange() {
  FlacOut1_.CompressionLevel = LevelSlider->value();
  LevelLabel->setText(LevelText(LevelSlider->value()));
}

// The tag window does not block the main window.
void TFlacSettings::ShowTagWindow() {
  if (!Form2_) return;
  Form2_->show();
  Form2_->raise();
  Form2_->activateWindow();
}

std::vector<std::string> TFlacSettings::Comments() const {
  if (!UseTags->isChecked() || !Form2_) return {};
  return CommentLinesOf(Form2_->TagTexts());
}
