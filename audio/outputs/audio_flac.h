// Unit Audio_FLAC: the output that encodes the PCM stream of its input losslessly into
// a FLAC file with the FLAC encoder library (binding unit `flac`): a STREAMINFO block
// with the true sample count and the MD5 of the audio, a seek table, the comment lines
// of the run as Vorbis comments, and padding (`PaddingBytes`), into which comments that
// grow after the run (ReplayGain) are written in place.
//
// The encoder writes through the output's `TFileStream` (its write, seek and tell
// callbacks), never to a file of its own, so the file goes through the staging and the
// fix-ups that every file output shares. The encoder rewrites STREAMINFO itself when it
// finishes, and the seek table is pointed here at the frames the file holds; a run whose
// writing failed is mended here instead: the file is cut after its last whole frame, and
// STREAMINFO and the seek table are made to state what is left.
//
// Threads: the properties are set, and `Setup` runs (from `Start`), on the window
// thread; `WriteStep` and `Finish` (and with them every callback of the encoder) run on
// the output's worker. The encoder of a run is used by one thread at a time: the worker
// starts only after `Setup`.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "bindings/flac.h"
#include "core/audio_classes.h"

class TFlacOut : public TAudioFileOut {
 public:
  // Loads the library; raises "libFLAC.so.12 library could not be loaded." when it (or
  // one of its entry points) is missing.
  TFlacOut();
  ~TFlacOut() override;

  static constexpr int MinCompressionLevel = 0;
  static constexpr int MaxCompressionLevel = 8;
  // 0 (fastest) to 8 (smallest file); the encoder's own presets.
  int CompressionLevel = 5;
  // Comment lines NAME=value for the Vorbis comment block; a line without a name is
  // stored as a COMMENT. Read by `Setup`, emptied by `Finish` after every run.
  std::vector<std::string> Comments;

  void SetComments(const std::vector<std::string>& Lines) { Comments = Lines; }
  void SetTags(const std::vector<std::string>& Lines) override { Comments = Lines; }
  std::vector<std::string> Tags() const override { return Comments; }

  bool WriteStep(bool Abort) override;

  // Bytes asked of `Input` per step.
  static constexpr int InputBlockSize = 65536;
  // The distance between two points of the seek table, in seconds of audio.
  static constexpr int SeekPointSpacingSeconds = 10;
  static constexpr unsigned PaddingBytes = 4096;

 protected:
  // Refuses a level outside 0 to 8 and input the format cannot hold, before the file
  // is touched.
  void CheckSettings() override;
  void StartFile() override;
  void CompleteFile() override;
  void ReleaseRun() override;
  void MendFile() override;
  bool HoldsAudio() override;

 private:
  struct TEncoderDeleter {
    const TFlacFunctions* Flac;
    void operator()(FLAC__StreamEncoder* Encoder) const {
      Flac->FLAC__stream_encoder_delete(Encoder);
    }
  };
  struct TMetadataDeleter {
    const TFlacFunctions* Flac;
    void operator()(FLAC__StreamMetadata* Block) const {
      Flac->FLAC__metadata_object_delete(Block);
    }
  };
  using TEncoderHandle = std::unique_ptr<FLAC__StreamEncoder, TEncoderDeleter>;
  using TMetadataHandle = std::unique_ptr<FLAC__StreamMetadata, TMetadataDeleter>;

  // Where one frame the encoder wrote starts in the stream, and the samples it holds.
  struct TFrameMark {
    int64_t Offset;
    int64_t Bytes;
    uint64_t FirstSample;
    uint32_t Samples;
  };

  const TFlacFunctions& Flac() const { return Library_->Functions(); }
  TMetadataHandle NewBlock(FLAC__MetadataType Type) const;
  TMetadataHandle SeekTableTemplate(uint64_t TotalFrames) const;
  TMetadataHandle CommentBlock() const;
  void CreateEncoder(TAudioInput& Source);
  void Encode(int Bytes);
  [[noreturn]] void RaiseEncoderFailure();

  void FixUpHeaders(bool WritingFailed);
  uint64_t CutAfterLastWholeFrame();
  void RewriteStreamInfoLength(int64_t BlockBody, uint64_t Samples);
  void RewriteSeekTable(int64_t BlockBody, uint32_t Length, uint64_t Samples);

  static FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*,
                                                      const FLAC__byte Buffer[], size_t Bytes,
                                                      uint32_t Samples, uint32_t CurrentFrame,
                                                      void* Output);
  static FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 Offset,
                                                    void* Output);
  static FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*,
                                                    FLAC__uint64* Offset, void* Output);

  // Keeps the library mapped while this component exists, whatever the binding does.
  std::shared_ptr<const TFlacLibrary> Library_;

  // Run state, from `StartFile` to `ReleaseRun`. The metadata blocks are the encoder's
  // until it has finished, so they live as long as it does.
  TMetadataHandle SeekTable_{nullptr, TMetadataDeleter{nullptr}};
  TMetadataHandle CommentBlock_{nullptr, TMetadataDeleter{nullptr}};
  TMetadataHandle Padding_{nullptr, TMetadataDeleter{nullptr}};
  TEncoderHandle Encoder_{nullptr, TEncoderDeleter{nullptr}};
  std::vector<uint8_t> InputBuffer_;
  std::vector<FLAC__int32> Samples_;
  int Carry_ = 0;
  int Channels_ = 0;
  int SampleRate_ = 0;
  // Where the file starts in the stream, the frames written so far, and the first
  // failure of the stream that a callback met (callbacks cannot raise through the
  // library).
  int64_t FileStart_ = 0;
  std::vector<TFrameMark> Frames_;
  std::exception_ptr StreamFailure_;
  bool Completed_ = false;
};
