// Unit Audio_Vorbis: the output that encodes the PCM stream of its input into an Ogg
// Vorbis file, quality-based (`Compression`) or with managed bit rates (nominal,
// maximum, minimum).
//
// Threads: the properties are set, and `Setup` runs (from `Start`), on the window
// thread; `WriteStep` and `Finish` run on the output's worker. The library records of
// a run are used by one thread at a time: the worker starts only after `Setup`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bindings/codec.h"
#include "bindings/ogg.h"
#include "bindings/vorbisenc.h"
#include "bindings/vorbisfile.h"
#include "core/audio_classes.h"
#include "outputs/ogg_pages.h"

// Loads the four Ogg Vorbis libraries in their order (libogg, libvorbis,
// libvorbisenc, libvorbisfile), each once; the front ends call it when they start.
// A library that cannot be loaded leaves its flag false.
void LoadVorbisLibraries();
// Unloads the four, in the reverse order; the front ends call it when they end.
void UnloadVorbisLibraries();

// The bit rates of managed encoding, by ordinal; `bbrAutoSelect` chooses none.
enum TVorbisBitRate : uint8_t {
  bbrAutoSelect,
  bbr45,
  bbr48,
  bbr56,
  bbr64,
  bbr80,
  bbr96,
  bbr112,
  bbr128,
  bbr144,
  bbr160,
  bbr192,
  bbr224,
  bbr256,
  bbr320,
  bbr499
};

// The bit rate in bit/s that Rate stands for; -1 for `bbrAutoSelect`.
long VorbisBitRateBps(TVorbisBitRate Rate);

class TVorbisOut : public TAudioFileOut {
 public:
  // Raises EAudioException naming the first of the four libraries that is missing.
  TVorbisOut();
  ~TVorbisOut() override;

  // Quality of quality-based encoding (0.0 to 1.0), used while the nominal bit rate
  // is `bbrAutoSelect`.
  float Compression = 0.2f;
  // Comment lines NAME=value for the stream's comment header; a line without a name
  // is stored as a COMMENT. Read by `Setup`, emptied by `Finish` after every run.
  std::vector<std::string> Comments;
  // Serial number of the Ogg logical stream; when appending to a file that already
  // holds a stream of that number, the next free number is used instead.
  int32_t Serial = 0;

  void SetComments(const std::vector<std::string>& Lines) { Comments = Lines; }
  void SetTags(const std::vector<std::string>& Lines) override { Comments = Lines; }
  std::vector<std::string> Tags() const override { return Comments; }

  // The setters keep the three bit rates consistent: minimum <= nominal <= maximum
  // by ordinal, and a `bbrAutoSelect` nominal (quality mode) leaves the other two at
  // `bbrAutoSelect`.
  TVorbisBitRate DesiredNominalBitrate() const { return Nominal_; }
  TVorbisBitRate DesiredMaximumBitrate() const { return Maximum_; }
  TVorbisBitRate MinimumBitrate() const { return Minimum_; }
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  void SetMinimumBitrate(TVorbisBitRate Value);

  // Appending adds a new logical stream after the file's content: a chained Ogg file.
  void SetFileMode(TFileOutputMode Value) override;

  bool WriteStep(bool Abort) override;

 protected:
  // Refused settings are reported before the file is touched.
  void CheckSettings() override;
  void StartFile() override;
  void CompleteFile() override;
  void ReleaseRun() override;
  void MendFile() override;
  bool HoldsAudio() override;

 private:
  // What the encoder is set up with for one run.
  struct TEncoderSettings {
    int Channels = 0;
    int SampleRate = 0;
    bool Managed = false;
    float Quality = 0;
    long Maximum = -1, Nominal = -1, Minimum = -1;
  };

  // The library records of one run; each is released only if it was initialised, in
  // the order the libraries require.
  struct TRunRecords {
    TRunRecords() = default;
    TRunRecords(const TRunRecords&) = delete;
    TRunRecords& operator=(const TRunRecords&) = delete;
    ~TRunRecords() { Release(); }
    void Release();

    ogg_stream_state StreamState{};
    ogg_page Page{};
    ogg_packet Packet{};
    ogg_packet Header{}, HeaderComment{}, HeaderCodebooks{};
    vorbis_info Info{};
    vorbis_comment Comment{};
    vorbis_dsp_state Dsp{};
    vorbis_block Block{};
    bool StreamReady = false, BlockReady = false, DspReady = false;
    bool CommentReady = false, InfoReady = false;
  };

  TEncoderSettings ChooseSettings(TAudioInput& Source) const;
  static bool ApplySettings(vorbis_info& Info, const TEncoderSettings& Settings);
  static void CheckEncoderAccepts(const TEncoderSettings& Settings);
  [[noreturn]] static void RaiseRefused(const TEncoderSettings& Settings);
  int32_t SerialForRun();
  void StartEncoder(const TEncoderSettings& Settings, int32_t StreamSerial);
  void AddComments();
  void WriteHeaders();

  void EncodeBlock(int Bytes);
  void EndInput();
  void EmitPackets();
  void WritePages();
  void WritePage(const ogg_page& Page);

  TVorbisBitRate Nominal_ = bbrAutoSelect;
  TVorbisBitRate Maximum_ = bbrAutoSelect;
  TVorbisBitRate Minimum_ = bbrAutoSelect;
  // What `CheckSettings` chose for the run that is starting.
  TEncoderSettings Settings_;

  // Run state: the block pulled from the input (a partial frame at its end waits
  // there for the next block), the channel count the encoder was set up with, and
  // how far the stream has got.
  std::vector<uint8_t> InputBuffer_;
  int Carry_ = 0;
  int Channels_ = 0;
  bool InputEnded_ = false;
  bool EndOfStream_ = false;
  bool HeadersWritten_ = false;
  TOggPageLog Pages_;  // every page of the run, in the order written
  TRunRecords Run_;
};
