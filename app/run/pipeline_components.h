// The pipeline components of the main window, created with it from their stored
// properties and living as long as it does.
//
// Threads: created, configured and destroyed on the window thread. Creating them loads
// the CD ripping library, the MP3 encoder library and the FLAC library; a library that
// is missing stops the creation with its message (EAudioException). The outputs must be
// destroyed while the window's dispatcher is still installed, which the member order of
// `TForm1` ensures.
#pragma once

#include "cdrom/audio_cdrom.h"
#include "jobs/output_formats.h"
#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "outputs/audio_wave.h"
#include "run/idle_components.h"

struct TPipelineComponents {
  TPipelineComponents();
  TPipelineComponents(const TPipelineComponents&) = delete;
  TPipelineComponents& operator=(const TPipelineComponents&) = delete;

  // The output that writes Format.
  TAudioFileOut& Output(TOutputFormat Format);

  // In the order of creation; each is destroyed before those above it, so the outputs
  // go before the source they read.
  TCDIn CDIn1;
  TWaveOut WaveOut1;
  TMP3Out MP3Out1;
  TVorbisOut VorbisOut1;
  TFlacOut FlacOut1;
  TOpusOut OpusOut1;
  TVorbisIn VorbisIn1;
  TMP3ToWav MP3ToWav1;
};
