#include "jobs/output_copy.h"

#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "outputs/audio_wave.h"

namespace {

std::unique_ptr<TAudioFileOut> WaveLike(const TWaveOut& Model) {
  auto copy = std::make_unique<TWaveOut>();
  copy->SetWavType(Model.WavType());
  copy->SetBlockSize(Model.BlockSize());
  return copy;
}

std::unique_ptr<TAudioFileOut> Mp3Like(const TMP3Out& Model) {
  auto copy = std::make_unique<TMP3Out>();
  copy->BitRate = Model.BitRate;
  copy->Id3TagTitle = Model.Id3TagTitle.Get();
  copy->Id3TagArtist = Model.Id3TagArtist.Get();
  copy->Id3TagAlbum = Model.Id3TagAlbum.Get();
  copy->Id3TagYear = Model.Id3TagYear.Get();
  copy->Id3TagTrack = Model.Id3TagTrack.Get();
  copy->Id3TagComment = Model.Id3TagComment.Get();
  copy->Id3TagDisc = Model.Id3TagDisc.Get();
  copy->Id3UserTexts = Model.Id3UserTexts;
  copy->Id3TagGenre = Model.Id3TagGenre.Get();
  copy->Quality = Model.Quality;
  copy->SampleRate = Model.SampleRate;
  copy->Mode = Model.Mode;
  copy->CRC = Model.CRC;
  copy->Copyright = Model.Copyright;
  copy->Original = Model.Original;
  copy->WriteVBRHeader = Model.WriteVBRHeader;
  copy->EnableVBR = Model.EnableVBR;
  copy->VBRQuality = Model.VBRQuality;
  copy->VBRMinBitrate = Model.VBRMinBitrate;
  copy->VBRMaxBitrate = Model.VBRMaxBitrate;
  return copy;
}

// The nominal bit rate first: the setters of the other two keep them consistent with
// it, which the model's values are.
std::unique_ptr<TAudioFileOut> VorbisLike(const TVorbisOut& Model) {
  auto copy = std::make_unique<TVorbisOut>();
  copy->Compression = Model.Compression;
  copy->Comments = Model.Comments;
  copy->Serial = Model.Serial;
  copy->SetDesiredNominalBitrate(Model.DesiredNominalBitrate());
  copy->SetDesiredMaximumBitrate(Model.DesiredMaximumBitrate());
  copy->SetMinimumBitrate(Model.MinimumBitrate());
  return copy;
}

std::unique_ptr<TAudioFileOut> FlacLike(const TFlacOut& Model) {
  auto copy = std::make_unique<TFlacOut>();
  copy->CompressionLevel = Model.CompressionLevel;
  copy->Comments = Model.Comments;
  return copy;
}

std::unique_ptr<TAudioFileOut> OpusLike(const TOpusOut& Model) {
  auto copy = std::make_unique<TOpusOut>();
  copy->Bitrate = Model.Bitrate;
  copy->Complexity = Model.Complexity;
  copy->Vbr = Model.Vbr;
  copy->Comments = Model.Comments;
  return copy;
}

std::unique_ptr<TAudioFileOut> SameClassLike(const TAudioFileOut& Model) {
  if (const auto* wave = dynamic_cast<const TWaveOut*>(&Model)) return WaveLike(*wave);
  if (const auto* mp3 = dynamic_cast<const TMP3Out*>(&Model)) return Mp3Like(*mp3);
  if (const auto* vorbis = dynamic_cast<const TVorbisOut*>(&Model)) return VorbisLike(*vorbis);
  if (const auto* flac = dynamic_cast<const TFlacOut*>(&Model)) return FlacLike(*flac);
  if (const auto* opus = dynamic_cast<const TOpusOut*>(&Model)) return OpusLike(*opus);
  throw EAudioException("This output cannot encode several tracks at once");
}

}  // namespace

std::unique_ptr<TAudioFileOut> NewOutputLike(const TAudioFileOut& Model) {
  std::unique_ptr<TAudioFileOut> copy = SameClassLike(Model);
  copy->SetFileMode(Model.FileMode());
  copy->SetSuspendWhenIdle(Model.SuspendWhenIdle());
  return copy;
}
