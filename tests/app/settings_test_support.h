// The window tests of the settings tabs and the tag window: the real main window with
// its tag settings window attached, as the program sets them up, and a helper that
// chooses a list item as a user does from its drop-down.
#pragma once

#include <QComboBox>

#include <memory>

#include "app_test_support.h"
#include "run/pipeline_components.h"
#include "settings/mp3_settings.h"
#include "settings/ogg_settings.h"
#include "settings/unit2.h"
#include "settings/wav_settings.h"

// What a drop-down list does when the user picks Item: it shows the item, then reports
// the choice.
inline void Choose(QComboBox* List, const QString& Item) {
  const int index = List->findText(Item);
  ASSERT_GE(index, 0) << Item.toStdString();
  List->setCurrentIndex(index);
  emit List->activated(index);
}

class SettingsWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Form2 = std::make_unique<TForm2>();
    Form->SetTagSettingsWindow(Form2.get());
  }
  void TearDown() override {
    WindowTest::TearDown();
    Form2.reset();
  }

  TWavSettings& Wav() { return *Form->WavSettings; }
  TMp3Settings& Mp3() { return *Form->Mp3Settings; }
  TOggSettings& Ogg() { return *Form->OggSettings; }
  TWaveOut& WaveOut1() { return Form->Components().WaveOut1; }
  TMP3Out& MP3Out1() { return Form->Components().MP3Out1; }
  TVorbisOut& VorbisOut1() { return Form->Components().VorbisOut1; }

  std::unique_ptr<TForm2> Form2;
};
