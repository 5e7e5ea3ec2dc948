// Unit `Audio_LAME`: the MP3 output. `TMP3Out` encodes the 16-bit PCM stream of its
// `Input` with the MP3 encoder library (binding unit `lame`) into the file `FileName`,
// with two tags of seven texts: an ID3v2.3 tag at the start of the file, holding the
// texts whole (id3v2_tag.h), and the library's ID3v1 tag at its end, holding them in
// Latin-1, cut to its fields.
//
// Threads: the constructor, the destructor, `Setup` (from `Start`) and every change of
// the encoder settings run on the window thread; `WriteStep` and `Finish` run on the
// output's worker. The encoder settings are read once, in `Setup`. The tag texts are
// read in `Setup`, to keep room for the ID3v2 tag, and again in `Finish`, on the worker,
// for the tags written; they may be changed from the window thread while a run is in
// progress, so each of them is a guarded text.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/lame.h"
#include "core/audio_classes.h"
#include "outputs/id3v2_tag.h"

// Constant bit rates in kbit/s (`BitRateKbps` gives the number).
enum TMP3BitRate : uint8_t {
  br8,
  br16,
  br24,
  br32,
  br40,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br144,
  br160,
  br192,
  br224,
  br256,
  br320
};

// Output sample rates; not in ascending order of rate (`SampleRateHz` gives the Hz).
enum TMP3SampleRate : uint8_t { srDefault, sr11kHz, sr22kHz, sr44kHz, sr32kHz, sr41kHz, sr48kHz };

// Channel modes: the library's own `STEREO`, `JOINT_STEREO`, `DUAL_CHANNEL`, `MONO`,
// whose numbers are passed to it unchanged.
using TMP3Mode = MPEG_mode;

enum TMP3Quality : uint8_t { ql0, ql1, ql2, ql3, ql4, ql5, ql6, ql7, ql8, ql9 };

int BitRateKbps(TMP3BitRate Value);
// 0 for `srDefault` (the library chooses); note that `sr41kHz` is 41000 Hz.
int SampleRateHz(TMP3SampleRate Value);
// The enumeration values for a number, for front ends that take numbers.
std::optional<TMP3BitRate> BitRateForKbps(int Kbps);
std::optional<TMP3SampleRate> SampleRateForHz(int Hz);

// The ID3v1 genre table with its usual extension, numbers 0 to 125, spelt as the
// program's genre list spells it ("Psychadelic", "Bebob", "AlternRock").
const std::array<const char*, 126>& Id3v1GenreNames();
// The table number of a genre name (letter case ignored), or -1 when it names none.
int Id3v1GenreNumber(const std::string& Name);
// The genre text of the ID3v2 tag: a genre of the table (by name or number) as the
// table spells it, anything else as typed.
std::string Id3v2GenreText(const std::string& Genre);

// A 32-bit boolean: zero is false, anything else true; true is stored with all bits
// set. It reaches the library as exactly 1 or 0.
class TLongBool {
 public:
  constexpr TLongBool(bool Value = false) : Bits_(Value ? -1 : 0) {}
  static constexpr TLongBool FromBits(int32_t Bits) {
    TLongBool value;
    value.Bits_ = Bits;
    return value;
  }
  constexpr operator bool() const { return Bits_ != 0; }
  constexpr int32_t Bits() const { return Bits_; }

 private:
  int32_t Bits_;
};

// A text property that one thread may set while another reads it.
class TSharedText {
 public:
  TSharedText() = default;
  TSharedText(const TSharedText&) = delete;
  TSharedText& operator=(const TSharedText&) = delete;
  TSharedText& operator=(std::string Value);
  std::string Get() const;
  operator std::string() const { return Get(); }

 private:
  mutable std::mutex Lock_;
  std::string Value_;
};

class TMP3Out : public TAudioFileOut {
 public:
  // Loads the library; raises "libmp3lame.so.0 library could not be loaded." when it
  // (or one of its entry points) is missing.
  TMP3Out();
  ~TMP3Out() override;

  // Published properties, in the order a form stores them, with their defaults.
  TMP3BitRate BitRate = br128;
  // The tag texts, in UTF-8 as typed; the output turns them into what each tag stores.
  TSharedText Id3TagTitle;
  TSharedText Id3TagArtist;
  TSharedText Id3TagAlbum;
  TSharedText Id3TagYear;
  TSharedText Id3TagTrack;
  TSharedText Id3TagComment;
  // The disc of a release of several: "2/3" (ID3v2 only).
  TSharedText Id3TagDisc;
  // Further texts by name (ID3v2 TXXX frames); set before a run, not during it.
  std::vector<std::pair<std::string, std::string>> Id3UserTexts;
  // A genre name or number. One of the ID3v1 table reaches the ID3v1 tag by its number
  // and the ID3v2 tag by the table's name; any other text reaches the ID3v2 tag as
  // typed and the ID3v1 tag as "Other".
  TSharedText Id3TagGenre;
  TMP3Quality Quality = ql5;
  TMP3SampleRate SampleRate = srDefault;
  TMP3Mode Mode = STEREO;
  TLongBool CRC = false;
  TLongBool Copyright = false;
  TLongBool Original = true;
  // Asks the library for its VBR information frame (only with `EnableVBR`).
  TLongBool WriteVBRHeader = false;
  TLongBool EnableVBR = false;
  TMP3Quality VBRQuality = ql5;
  // kbit/s; `Setup` exchanges them when the maximum is below the minimum.
  int32_t VBRMinBitrate = 128;
  int32_t VBRMaxBitrate = 192;

  bool WriteStep(bool Abort) override;
  // The lines into the ID3 fields: TITLE, ARTIST, ALBUM, DATE (or YEAR), GENRE,
  // COMMENT (or DESCRIPTION, or a line without a name), TRACKNUMBER with TRACKTOTAL
  // ("7/10"), DISCNUMBER with DISCTOTAL; any other name becomes a user text. A field
  // that no line names is emptied; of a name given twice, the last line counts.
  void SetTags(const std::vector<std::string>& Lines) override;
  std::vector<std::string> Tags() const override;

  // A bit rate of the settings that MP3 at the encoder's output rate does not carry;
  // the encoder takes the nearest one it has instead, the lower of two as near.
  struct TBitRateChange {
    const char* Setting;  // "BitRate", "VBRMinBitrate" or "VBRMaxBitrate"
    int Asked, Used;      // kbit/s
    int Hz;               // the output sample rate the encoder settles on
    std::string Why;      // "carries at most 160 kbit/s", "has no 144 kbit/s"
  };
  // The changes the encoder will make to the settings; none when it refuses them (the
  // run then reports why).
  std::vector<TBitRateChange> BitRateChanges() const;

  // Bytes asked of `Input` per step.
  static constexpr int InputBlockSize = 16384;

 protected:
  void StartFile() override;
  // Hands over the ID3v1 tag, writes what the encoder still holds, the final
  // information frame and the ID3v2 tag.
  void CompleteFile() override;
  void ReleaseRun() override;
  // A run whose only failure was the copy behind a larger ID3v2 tag kept a whole file.
  std::string FailureNote() override;
  void MendFile() override;
  bool HoldsAudio() override;

 private:
  struct TEncoderCloser {
    const TLameFunctions* Lame;
    void operator()(lame_global_flags* Flags) const { Lame->lame_close(Flags); }
  };
  using TEncoderHandle = std::unique_ptr<lame_global_flags, TEncoderCloser>;

  const TLameFunctions& Lame() const { return Library_->Functions(); }
  void CreateEncoder(TAudioInput& Source);
  void PassFrameSettings();
  void PassBitRateSettings();
  void AllocateMP3Buffer(int InputRate);
  int Encode(int Frames, int Channels);
  void WriteEncoded(int Count);
  TTagTexts TagTexts() const;
  void ReserveTagRoom();
  void HandOverTags(const TTagTexts& Texts);
  bool KeepsWhatWasWritten() const;
  void RewriteInformationFrame();
  void PlaceId3v2Tag(const TTagTexts& Texts);
  void MoveAudioBehind(const std::vector<uint8_t>& Tag);
  void CopyAudio(TFileStream& To);
  // The whole MPEG frames (at most Limit) that the file holds intact from the start of
  // the audio: where they end, how many there are, and whether the first is the
  // information frame.
  struct TFrameWalk {
    int64_t End = 0;
    int64_t Frames = 0;
    bool FirstIsInformation = false;
  };
  TFrameWalk WalkFrames(int64_t Limit);
  bool IsInformationFrame(int64_t Offset, int64_t Length);

  // Keeps the library mapped while this component exists, whatever the binding does.
  std::shared_ptr<const TLameLibrary> Library_;

  // Run state, from `StartFile` to `ReleaseRun`.
  TEncoderHandle LameFlags{nullptr, TEncoderCloser{nullptr}};
  // The block pulled from `Input`, as 16-bit samples; a partial frame left over from
  // one block stays at its start and is completed by the next.
  std::array<int16_t, InputBlockSize / 2> InputBuffer{};
  int PendingBytes_ = 0;
  int SetupChannels_ = 2;
  std::vector<uint8_t> MP3Buffer;
  int MP3BufferSize = 0;
  // Where the room for the ID3v2 tag starts in the stream and its length (0: none).
  int64_t TagStart_ = 0;
  int64_t TagRoom_ = 0;
  // The file could not be copied behind the larger tag its final texts need.
  bool TagBehind_ = false;
  // Where the encoder's bytes start in the stream, and how many have been written.
  int64_t AudioStart_ = 0;
  int64_t BytesWritten_ = 0;
};
