#include "run/pipeline_components.h"

TPipelineComponents::TPipelineComponents() {
  CDIn1.SetCurrentDrive(0);
  CDIn1.SetStartTrack(0);
  CDIn1.SetEndTrack(0);

  WaveOut1.SetSuspendWhenIdle(true);
  WaveOut1.SetFileMode(foRewrite);
  WaveOut1.SetWavType(wtPCM);
  WaveOut1.SetBlockSize(512);

  MP3Out1.SetSuspendWhenIdle(true);
  MP3Out1.SetFileMode(foRewrite);
  MP3Out1.BitRate = br128;
  // No tag carries a year that nobody gave: the tags start empty.
  MP3Out1.Id3TagYear = "";

  // The Ogg Vorbis output's worker keeps looping while idle instead of parking.
  VorbisOut1.SetSuspendWhenIdle(false);
  VorbisOut1.SetFileMode(foRewrite);
  VorbisOut1.SetDesiredNominalBitrate(bbrAutoSelect);
  VorbisOut1.SetDesiredMaximumBitrate(bbrAutoSelect);
  VorbisOut1.SetMinimumBitrate(bbrAutoSelect);
  VorbisOut1.Serial = 0;

  FlacOut1.SetSuspendWhenIdle(true);
  FlacOut1.CompressionLevel = 5;

  OpusOut1.SetSuspendWhenIdle(true);
  OpusOut1.SetFileMode(foRewrite);
}

TAudioFileOut& TPipelineComponents::Output(TOutputFormat Format) {
  switch (Format) {
    case TOutputFormat::Mp3: return MP3Out1;
    case TOutputFormat::Ogg: return VorbisOut1;
    case TOutputFormat::Flac: return FlacOut1;
    case TOutputFormat::Opus: return OpusOut1;
    case TOutputFormat::Wav: break;
  }
  return WaveOut1;
}
