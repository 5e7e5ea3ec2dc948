// Unit Audio_Opus: the output that encodes the PCM stream of its input into an Ogg Opus
// file with the Ogg Opus encoder library (binding unit `opusenc`): a target bit rate,
// variable or constant, an encoder complexity, and the comment lines of the run as
// Opus comments.
//
// Opus always codes at 48 kHz: the library resamples the input (CD audio at 44.1 kHz)
// and states the input's rate in the header. The header's pre-skip and the granule
// position of the last page trim what the codec adds in front and behind, so a decoder
// gives back exactly the input's length.
//
// The library hands out its Ogg pages one at a time, and each is written here through
// the output's `TFileStream`, so the file goes through the staging and the fix-ups that
// every file output shares. A run whose writing failed is mended as the Ogg Vorbis
// output mends its files: cut after its last whole audio page, which becomes the
// end-of-stream page.
//
// Threads: the properties are set, and `Setup` runs (from `Start`), on the window
// thread; `WriteStep` and `Finish` run on the output's worker. The encoder of a run is
// used by one thread at a time: the worker starts only after `Setup`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bindings/opusenc.h"
#include "core/audio_classes.h"
#include "outputs/ogg_pages.h"

class TOpusOut : public TAudioFileOut {
 public:
  // Loads the library; raises "libopusenc.so.0 library could not be loaded." when it
  // (or one of its entry points) is missing.
  TOpusOut();
  ~TOpusOut() override;

  // The target bit rate in kbit/s, from 6 to what the codec can carry: 510 for stereo
  // (a 20 ms frame holds at most 1275 bytes), 300 for mono (the most libopus spends on
  // one channel). Above about 256 nothing more is heard.
  static constexpr int MinBitrate = 6;
  static constexpr int MaxStereoBitrate = 510;
  static constexpr int MaxMonoBitrate = 300;
  static int MaxBitrate(int Channels) { return Channels == 1 ? MaxMonoBitrate : MaxStereoBitrate; }
  static constexpr int MinComplexity = 0;
  static constexpr int MaxComplexity = 10;

  int Bitrate = 160;
  // 0 (fastest) to 10 (best quality for the bit rate).
  int Complexity = 10;
  // Variable bit rate (each frame takes what it needs, `Bitrate` on average) or a
  // constant one (every frame the same size).
  bool Vbr = true;
  // Comment lines NAME=value for the stream's comment header; a line without a name is
  // stored as a COMMENT. Read by `Setup`, emptied by `Finish` after every run.
  std::vector<std::string> Comments;

  void SetComments(const std::vector<std::string>& Lines) { Comments = Lines; }
  void SetTags(const std::vector<std::string>& Lines) override { Comments = Lines; }
  std::vector<std::string> Tags() const override { return Comments; }

  bool WriteStep(bool Abort) override;

  // Bytes asked of `Input` per step.
  static constexpr int InputBlockSize = 65536;
  // The lowest and highest input sample rates taken (decoders give back the input's
  // rate within these bounds).
  static constexpr int MinSampleRate = 8000;
  static constexpr int MaxSampleRate = 192000;

 protected:
  // Refuses a bit rate or complexity out of range, input the output cannot take and a
  // comment name the format cannot store, before the file is touched.
  void CheckSettings() override;
  void StartFile() override;
  void CompleteFile() override;
  void ReleaseRun() override;
  void MendFile() override;
  bool HoldsAudio() override;

 private:
  struct TEncoderDeleter {
    const TOpusEncFunctions* Api;
    void operator()(OggOpusEnc* Encoder) const { Api->ope_encoder_destroy(Encoder); }
  };
  struct TCommentsDeleter {
    const TOpusEncFunctions* Api;
    void operator()(OggOpusComments* List) const { Api->ope_comments_destroy(List); }
  };
  using TEncoderHandle = std::unique_ptr<OggOpusEnc, TEncoderDeleter>;
  using TCommentsHandle = std::unique_ptr<OggOpusComments, TCommentsDeleter>;

  const TOpusEncFunctions& Api() const { return Library_->Functions(); }
  TCommentsHandle CommentList() const;
  void CreateEncoder();
  void Configure(int Result, const char* Option) const;
  void StartStream();
  uint32_t StreamSerial() const;
  void Encode(int Bytes);
  void WritePages();
  void WritePage(const unsigned char* Page, int32_t Length);
  [[noreturn]] void RaiseEncoderFailure(int Code) const;

  // Keeps the library mapped while this component exists, whatever the binding does.
  std::shared_ptr<const TOpusEncLibrary> Library_;

  // Run state, from `CheckSettings` (the comment list) and `StartFile` to `ReleaseRun`.
  TCommentsHandle CommentList_{nullptr, TCommentsDeleter{nullptr}};
  TEncoderHandle Encoder_{nullptr, TEncoderDeleter{nullptr}};
  std::vector<uint8_t> InputBuffer_;
  std::vector<int16_t> Samples_;
  int Carry_ = 0;
  int Channels_ = 0;
  bool Drained_ = false;  // the encoder has been given the end of the input
  TOggPageLog Pages_;     // every page of the run, in the order written
};
