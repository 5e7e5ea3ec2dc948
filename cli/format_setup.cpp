#include "format_setup.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "audio_flac.h"
#include "audio_lame.h"
#include "audio_vorbis.h"
#include "audio_wave.h"
#include "text_case.h"

int IntegerOption(const std::string& Name, const std::string& Value, int Min, int Max) {
  const std::optional<long> number = WholeNumber(Value, Min, Max, Min < 0);
  if (!number)
    throw TUsageError("The option " + Name + " takes a whole number from " + std::to_string(Min) +
                      " to " + std::to_string(Max) + ", not \"" + Value + "\".");
  return static_cast<int>(*number);
}

namespace {

class TWavSetup : public TFormatSetup {
 public:
  explicit TWavSetup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) {
      if (name == "--wav-type") {
        if (value != "pcm" && value != "ima")
          throw TUsageError("The option --wav-type takes pcm or ima, not \"" + value + "\".");
        Output_.SetWavType(value == "pcm" ? wtPCM : wtDVIADPCM);
      } else if (name == "--block-size") {
        Output_.SetBlockSize(BlockSizeOption(value));
      }
    }
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Wav; }

 private:
  // An IMA ADPCM block of CD audio's two channels: two 4-byte channel headers, then
  // groups of 8 bytes, and at most 65535 samples (the format's 16-bit field).
  static uint16_t BlockSizeOption(const std::string& Value) {
    constexpr int Smallest = 16, Largest = 65528;
    const std::optional<long> size = WholeNumber(Value, Smallest, Largest, false);
    if (!size || *size % 8 != 0)
      throw TUsageError("The option --block-size takes a multiple of 8 from " +
                        std::to_string(Smallest) + " to " + std::to_string(Largest) +
                        " (the IMA ADPCM blocks of two channels), not \"" + Value + "\".");
    return static_cast<uint16_t>(*size);
  }

  TWaveOut Output_;
};

TMP3Quality QualityOption(const std::string& Name, const std::string& Value) {
  return static_cast<TMP3Quality>(IntegerOption(Name, Value, 0, 9));
}

TMP3BitRate Mp3BitRateOption(const std::string& Name, const std::string& Value) {
  const auto rate = BitRateForKbps(IntegerOption(Name, Value, 8, 320));
  if (!rate)
    throw TUsageError("The option " + Name +
                      " takes an MP3 bit rate (8, 16, 24, 32, 40, 48, 56, 64, 80, "
                      "96, 112, 128, 144, 160, 192, 224, 256, 320), not " +
                      Value + ".");
  return *rate;
}

// The layer III bit rates in kbit/s that the encoder has for each MPEG version: MPEG-1
// (32, 44.1, 48 kHz), MPEG-2 (16, 22.05, 24 kHz) and MPEG-2.5 (8, 11.025, 12 kHz).
const std::vector<int> Mpeg1BitRates = {32,  40,  48,  56,  64,  80,  96,
                                        112, 128, 160, 192, 224, 256, 320};
const std::vector<int> Mpeg2BitRates = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
const std::vector<int> Mpeg25BitRates = {8, 16, 24, 32, 40, 48, 56, 64};

const std::vector<int>& BitRatesAt(int Hz) {
  if (Hz >= 32000) return Mpeg1BitRates;
  return Hz >= 16000 ? Mpeg2BitRates : Mpeg25BitRates;
}

// The bit rate the encoder takes instead of one it does not have: the nearest, the
// lower of two as near.
int NearestBitRate(int Kbps, const std::vector<int>& Rates) {
  int nearest = Rates.front();
  for (const int rate : Rates)
    if (std::abs(rate - Kbps) < std::abs(nearest - Kbps)) nearest = rate;
  return nearest;
}

struct TEncoderCloser {
  const TLameFunctions* Lame;
  void operator()(lame_global_flags* Flags) const { Lame->lame_close(Flags); }
};

// The sample rate the encoder settles on for CD audio with Out's rate settings, handed
// over as the MP3 output hands them: the rate asked for, or with "default" the one it
// picks for the bit rate (or VBR quality) and mode. 0 when it refuses the settings.
int EncoderOutputRate(const TMP3Out& Out) {
  const TLameFunctions& lame = LameBinding().Functions();
  if (!lame.lame_init) return 0;
  const std::unique_ptr<lame_global_flags, TEncoderCloser> encoder(lame.lame_init(),
                                                                   TEncoderCloser{&lame});
  lame_global_flags* flags = encoder.get();
  if (!flags) return 0;
  lame.lame_set_in_samplerate(flags, 44100);
  lame.lame_set_num_channels(flags, 2);
  lame.lame_set_out_samplerate(flags, SampleRateHz(Out.SampleRate));
  lame.lame_set_mode(flags, Out.Mode);
  if (Out.EnableVBR) {
    lame.lame_set_VBR(flags, vbr_rh);
    lame.lame_set_VBR_q(flags, Out.VBRQuality);
    lame.lame_set_VBR_min_bitrate_kbps(flags, std::min(Out.VBRMinBitrate, Out.VBRMaxBitrate));
    lame.lame_set_VBR_max_bitrate_kbps(flags, std::max(Out.VBRMinBitrate, Out.VBRMaxBitrate));
  } else {
    lame.lame_set_brate(flags, BitRateKbps(Out.BitRate));
  }
  return lame.lame_init_params(flags) < 0 ? 0 : lame.lame_get_out_samplerate(flags);
}

// A comment name holds the printable ASCII characters from space to "}" other than
// "=", which ends it. A line without "=" (or with "=" first) names nothing: the
// output stores it as a COMMENT.
std::string CommentLineOption(const std::string& Option, const std::string& Value) {
  if (!IsUtf8(Value))
    throw TUsageError(
        "The option " + Option +
        " takes UTF-8 text, as tags are stored; the value given is not UTF-8 (another "
        "character set?).");
  const std::string name = Value.substr(0, std::min(Value.find('='), Value.size()));
  if (name.size() == Value.size() || Option != "--tag") return Value;
  const bool valid = std::all_of(
      name.begin(), name.end(), [](unsigned char c) { return c >= 0x20 && c <= 0x7D && c != '='; });
  if (!valid)
    throw TUsageError(
        "The option --tag takes NAME=value, where NAME holds only printable "
        "ASCII characters from space to \"}\" other than \"=\", not \"" +
        name + "\".");
  return Value;
}

// The tag options that every tagged format takes, with the comment each stands for in
// Ogg Vorbis and FLAC (MP3 has ID3 fields of their own for them).
struct TTagOption {
  const char* Option;
  const char* Comment;
};
const TTagOption TagOptions[] = {
    {"--title", "TITLE"},       {"--artist", "ARTIST"},   {"--album", "ALBUM"}, {"--year", "DATE"},
    {"--track", "TRACKNUMBER"}, {"--comment", "COMMENT"}, {"--genre", "GENRE"},
};

const TTagOption* FindTagOption(const std::string& Option) {
  for (const TTagOption& tag : TagOptions)
    if (Option == tag.Option) return &tag;
  return nullptr;
}

// Comment names that MP3 keeps in ID3 fields of their own; others become user texts.
const std::pair<const char*, const char*> Id3FieldsByComment[] = {
    {"TITLE", "title"},     {"ARTIST", "artist"},   {"ALBUM", "album"},
    {"DATE", "year"},       {"YEAR", "year"},       {"TRACKNUMBER", "track"},
    {"DISCNUMBER", "disc"}, {"COMMENT", "comment"}, {"DESCRIPTION", "comment"},
    {"GENRE", "genre"},
};

class TMp3Setup : public TFormatSetup {
 public:
  explicit TMp3Setup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) Apply(name, value);
    RefuseCrossedVbrLimits(Options);
    WarnOfChangedBitRates(Options);
    // What the disc says of a track never replaces a field the user gave.
    for (const char* field : {"title", "artist", "album", "year", "track", "genre"})
      if (Options.Has(std::string("--") + field)) RowTags_.UserMp3Fields.insert(field);
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Mp3; }

 private:
  void Apply(const std::string& Name, const std::string& Value) {
    if (Name == "--bitrate")
      Output_.BitRate = Mp3BitRateOption(Name, Value);
    else if (Name == "--quality")
      Output_.Quality = QualityOption(Name, Value);
    else if (Name == "--vbr")
      Output_.EnableVBR = true;
    else if (Name == "--vbr-quality")
      Output_.VBRQuality = QualityOption(Name, Value);
    else if (Name == "--vbr-min")
      Output_.VBRMinBitrate = BitRateKbps(Mp3BitRateOption(Name, Value));
    else if (Name == "--vbr-max")
      Output_.VBRMaxBitrate = BitRateKbps(Mp3BitRateOption(Name, Value));
    else if (Name == "--vbr-header")
      Output_.WriteVBRHeader = true;
    else if (Name == "--mode")
      Output_.Mode = ModeOption(Value);
    else if (Name == "--samplerate")
      Output_.SampleRate = SampleRateOption(Value);
    else if (Name == "--crc")
      Output_.CRC = true;
    else if (Name == "--copyright")
      Output_.Copyright = true;
    else if (Name == "--no-original")
      Output_.Original = false;
    else if (Name == "--title")
      Output_.Id3TagTitle = Value;
    else if (Name == "--artist")
      Output_.Id3TagArtist = Value;
    else if (Name == "--album")
      Output_.Id3TagAlbum = Value;
    else if (Name == "--year")
      Output_.Id3TagYear = Value;
    else if (Name == "--track")
      Output_.Id3TagTrack = Value;
    else if (Name == "--comment")
      Output_.Id3TagComment = Value;
    else if (Name == "--genre")
      Output_.Id3TagGenre = Value;
    else if (Name == "--tag")
      ApplyTagLine(CommentLineOption(Name, Value));
    // The window's two per-row tag switches: the title from the row's name, and track
    // numbers counting up from a first one in list order.
    else if (Name == "--title-from-name")
      RowTags_.TitleFromName = true;
    else if (Name == "--track-from")
      RowTags_.FirstTrack = IntegerOption(Name, Value, 0, 999999);
  }
  // NAME=value: a known name into its ID3 field, another as a user text; a line
  // without a name is a comment, as in the other formats.
  void ApplyTagLine(const std::string& Line) {
    const size_t equals = Line.find('=');
    if (equals == std::string::npos || equals == 0) {
      Field("comment") = Line.substr(equals == 0 ? 1 : 0);
      RowTags_.UserMp3Fields.insert("comment");
      return;
    }
    const std::string name = Upper(Line.substr(0, equals));
    const std::string value = Line.substr(equals + 1);
    for (const auto& [comment, field] : Id3FieldsByComment) {
      if (name != comment) continue;
      Field(field) = value;
      RowTags_.UserMp3Fields.insert(field);
      return;
    }
    Output_.Id3UserTexts.emplace_back(name, value);
  }
  TSharedText& Field(const std::string& Name) {
    if (Name == "title") return Output_.Id3TagTitle;
    if (Name == "artist") return Output_.Id3TagArtist;
    if (Name == "album") return Output_.Id3TagAlbum;
    if (Name == "year") return Output_.Id3TagYear;
    if (Name == "track") return Output_.Id3TagTrack;
    if (Name == "disc") return Output_.Id3TagDisc;
    if (Name == "genre") return Output_.Id3TagGenre;
    return Output_.Id3TagComment;
  }
  // A minimum above the maximum is a mistake in the command line, not a range.
  void RefuseCrossedVbrLimits(const TCliOptions& Options) const {
    if (!Output_.EnableVBR || Output_.VBRMinBitrate <= Output_.VBRMaxBitrate) return;
    const auto given = [&Options](const char* Name) {
      return Options.Has(Name) ? std::string() : std::string(" (the default)");
    };
    throw TUsageError("The option --vbr-min " + std::to_string(Output_.VBRMinBitrate) +
                      given("--vbr-min") + " is above --vbr-max " +
                      std::to_string(Output_.VBRMaxBitrate) + given("--vbr-max") +
                      ": the minimum bit rate must not exceed the maximum.");
  }
  // The encoder takes the nearest bit rate it has at its sample rate instead of one it
  // does not have; the user hears of it before the rip.
  void WarnOfChangedBitRates(const TCliOptions& Options) {
    const int hz = EncoderOutputRate(Output_);
    if (hz == 0) return;  // the rip reports the refusal
    if (Output_.EnableVBR) {
      WarnIfChanged(Options, "--vbr-min", Output_.VBRMinBitrate, hz);
      WarnIfChanged(Options, "--vbr-max", Output_.VBRMaxBitrate, hz);
    } else {
      WarnIfChanged(Options, "--bitrate", BitRateKbps(Output_.BitRate), hz);
    }
  }
  void WarnIfChanged(const TCliOptions& Options, const std::string& Name, int Kbps, int Hz) {
    const std::vector<int>& rates = BitRatesAt(Hz);
    const int used = NearestBitRate(Kbps, rates);
    if (used == Kbps) return;
    const std::string why =
        Kbps > rates.back()    ? "carries at most " + std::to_string(rates.back()) + " kbit/s"
        : Kbps < rates.front() ? "carries at least " + std::to_string(rates.front()) + " kbit/s"
                               : "has no " + std::to_string(Kbps) + " kbit/s";
    Warnings_.push_back(
        Name + " " + std::to_string(Kbps) + (Options.Has(Name) ? "" : " (the default)") +
        " becomes " + std::to_string(used) + " kbit/s: MP3 at " + std::to_string(Hz) + " Hz" +
        (Output_.SampleRate == srDefault ? " (the encoder's choice)" : "") + " " + why + ".");
  }
  static TMP3Mode ModeOption(const std::string& Value) {
    if (Value == "stereo") return STEREO;
    if (Value == "joint") return JOINT_STEREO;
    if (Value == "dual") return DUAL_CHANNEL;
    if (Value == "mono") return MONO;
    throw TUsageError("The option --mode takes stereo, joint, dual or mono, not \"" + Value +
                      "\".");
  }
  static TMP3SampleRate SampleRateOption(const std::string& Value) {
    if (Value == "default") return srDefault;
    const auto rate = SampleRateForHz(IntegerOption("--samplerate", Value, 1, 200000));
    // 41000 Hz is one of the component's rates, but no MPEG version has it.
    if (!rate || *rate == sr41kHz)
      throw TUsageError(
          "The option --samplerate takes default, 11025, 22050, 32000, 44100 or "
          "48000 (the rates MP3 can carry), not " +
          Value + ".");
    return *rate;
  }

  TMP3Out Output_;
};

TVorbisBitRate VorbisBitRateOption(const std::string& Name, const std::string& Value) {
  if (Value == "auto") return bbrAutoSelect;
  const int kbps = IntegerOption(Name, Value, 1, 1000);
  for (int ordinal = bbr45; ordinal <= bbr499; ++ordinal) {
    const auto rate = static_cast<TVorbisBitRate>(ordinal);
    if (VorbisBitRateBps(rate) == kbps * 1000L) return rate;
  }
  throw TUsageError("The option " + Name +
                    " takes auto or one of 45, 48, 56, 64, 80, 96, 112, "
                    "128, 144, 160, 192, 224, 256, 320, 499, not " +
                    Value + ".");
}

class TOggSetup : public TFormatSetup {
 public:
  explicit TOggSetup(const TCliOptions& Options) {
    // The bit rates go through the component's setters in a fixed order, nominal
    // first, so that their consistency rules act the same whatever the order given.
    std::optional<TVorbisBitRate> nominal, maximum, minimum;
    for (const auto& [name, value] : Options.FormatOptions) {
      if (name == "--compression")
        Output_.Compression = CompressionOption(value);
      else if (name == "--nominal")
        nominal = VorbisBitRateOption(name, value);
      else if (name == "--max")
        maximum = VorbisBitRateOption(name, value);
      else if (name == "--min")
        minimum = VorbisBitRateOption(name, value);
      else if (name == "--tag")
        RowTags_.Comments.push_back(CommentLineOption(name, value));
      else if (const TTagOption* tag = FindTagOption(name))
        RowTags_.Comments.push_back(std::string(tag->Comment) + "=" +
                                    CommentLineOption(name, value));
    }
    if (nominal) {
      RefuseIgnoredLimits(*nominal, maximum, minimum);
      Output_.SetDesiredNominalBitrate(*nominal);
    }
    if (maximum) Output_.SetDesiredMaximumBitrate(*maximum);
    if (minimum) Output_.SetMinimumBitrate(*minimum);
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Ogg; }

 private:
  // The output ignores a maximum below the nominal bit rate and a minimum above it.
  static void RefuseIgnoredLimits(TVorbisBitRate Nominal, std::optional<TVorbisBitRate> Maximum,
                                  std::optional<TVorbisBitRate> Minimum) {
    if (Maximum && *Maximum != bbrAutoSelect && *Maximum < Nominal)
      throw IgnoredLimit("--max", *Maximum, "below", Nominal, "at least");
    if (Minimum && *Minimum != bbrAutoSelect && *Minimum > Nominal)
      throw IgnoredLimit("--min", *Minimum, "above", Nominal, "at most");
  }
  static TUsageError IgnoredLimit(const char* Name, TVorbisBitRate Limit, const char* Side,
                                  TVorbisBitRate Nominal, const char* Rule) {
    return TUsageError("The option " + std::string(Name) + " " + KbpsText(Limit) +
                       " has no effect: it is " + Side + " --nominal " + KbpsText(Nominal) +
                       ", and it must be " + Rule + " the nominal bit rate.");
  }
  static std::string KbpsText(TVorbisBitRate Rate) {
    return std::to_string(VorbisBitRateBps(Rate) / 1000);
  }
  // Plain decimal notation only ("0.5", ".5", "1"): no blanks, signs, exponents or
  // hexadecimal, which the library's reading would take.
  static float CompressionOption(const std::string& Value) {
    const size_t point = Value.find('.');
    const bool decimal =
        Value.find_first_not_of("0123456789.") == std::string::npos &&
        Value.find_first_of("0123456789") != std::string::npos &&
        (point == std::string::npos || Value.find('.', point + 1) == std::string::npos);
    const double quality = decimal ? std::stod(Value) : -1;
    if (!(quality >= 0.0 && quality <= 1.0))
      throw TUsageError("The option --compression takes a quality from 0.0 to 1.0, not \"" + Value +
                        "\".");
    return static_cast<float>(quality);
  }

  TVorbisOut Output_;
};

class TFlacSetup : public TFormatSetup {
 public:
  explicit TFlacSetup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) {
      if (name == "--compression-level")
        Output_.CompressionLevel = IntegerOption(name, value, TFlacOut::MinCompressionLevel,
                                                 TFlacOut::MaxCompressionLevel);
      else if (name == "--tag")
        RowTags_.Comments.push_back(CommentLineOption(name, value));
      else if (const TTagOption* tag = FindTagOption(name))
        RowTags_.Comments.push_back(std::string(tag->Comment) + "=" +
                                    CommentLineOption(name, value));
      else if (name == "--title-from-name")
        RowTags_.TitleFromName = true;
      else if (name == "--track-from")
        RowTags_.FirstTrack = IntegerOption(name, value, 0, 999999);
    }
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Flac; }

 private:
  TFlacOut Output_;
};

}  // namespace

std::unique_ptr<TFormatSetup> TFormatSetup::Create(const TCliOptions& Options) {
  if (Options.Format == "mp3") return std::make_unique<TMp3Setup>(Options);
  if (Options.Format == "ogg") return std::make_unique<TOggSetup>(Options);
  if (Options.Format == "flac") return std::make_unique<TFlacSetup>(Options);
  return std::make_unique<TWavSetup>(Options);
}
