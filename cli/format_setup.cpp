#include "format_setup.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "outputs/audio_wave.h"
#include "text_case.h"

namespace {

class TWavSetup : public TFormatSetup {
 public:
  explicit TWavSetup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) {
      if (name == "--wav-type") {
        if (value != "pcm" && value != "ima")
          throw EUsageError("The option --wav-type takes pcm or ima, not \"" + value + "\".");
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
      throw EUsageError("The option --block-size takes a multiple of 8 from " +
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
    throw EUsageError("The option " + Name +
                      " takes an MP3 bit rate (8, 16, 24, 32, 40, 48, 56, 64, 80, "
                      "96, 112, 128, 144, 160, 192, 224, 256, 320), not " +
                      Value + ".");
  return *rate;
}

// A comment name holds the printable ASCII characters from space to "}" other than
// "=", which ends it. A line without "=" (or with "=" first) names nothing: the
// output stores it as a COMMENT.
std::string CommentLineOption(const std::string& Option, const std::string& Value) {
  if (!IsUtf8(Value))
    throw EUsageError(
        "The option " + Option +
        " takes UTF-8 text, as tags are stored; the value given is not UTF-8 (another "
        "character set?).");
  const std::string name = Value.substr(0, std::min(Value.find('='), Value.size()));
  if (name.size() == Value.size() || Option != "--tag") return Value;
  const bool valid = std::all_of(
      name.begin(), name.end(), [](unsigned char c) { return c >= 0x20 && c <= 0x7D && c != '='; });
  if (!valid)
    throw EUsageError(
        "The option --tag takes NAME=value, where NAME holds only printable "
        "ASCII characters from space to \"}\" other than \"=\", not \"" +
        name + "\".");
  return Value;
}

class TMp3Setup : public TFormatSetup {
 public:
  explicit TMp3Setup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) Apply(name, value);
    RefuseCrossedVbrLimits(Options);
    WarnOfChangedBitRates(Options);
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
  }
  // A minimum above the maximum is a mistake in the command line, not a range.
  void RefuseCrossedVbrLimits(const TCliOptions& Options) const {
    if (!Output_.EnableVBR || Output_.VBRMinBitrate <= Output_.VBRMaxBitrate) return;
    const auto given = [&Options](const char* Name) {
      return Options.Has(Name) ? std::string() : std::string(" (the default)");
    };
    throw EUsageError("The option --vbr-min " + std::to_string(Output_.VBRMinBitrate) +
                      given("--vbr-min") + " is above --vbr-max " +
                      std::to_string(Output_.VBRMaxBitrate) + given("--vbr-max") +
                      ": the minimum bit rate must not exceed the maximum.");
  }
  // The encoder takes the nearest bit rate it has at its sample rate instead of one it
  // does not have; the user hears of it before the rip.
  void WarnOfChangedBitRates(const TCliOptions& Options) {
    for (const TMP3Out::TBitRateChange& change : Output_.BitRateChanges()) {
      const std::string name = std::string(change.Setting) == "BitRate"         ? "--bitrate"
                               : std::string(change.Setting) == "VBRMinBitrate" ? "--vbr-min"
                                                                                : "--vbr-max";
      Warnings_.push_back(name + " " + std::to_string(change.Asked) +
                          (Options.Has(name) ? "" : " (the default)") + " becomes " +
                          std::to_string(change.Used) + " kbit/s: MP3 at " +
                          std::to_string(change.Hz) + " Hz" +
                          (Output_.SampleRate == srDefault ? " (the encoder's choice)" : "") + " " +
                          change.Why + ".");
    }
  }
  static TMP3Mode ModeOption(const std::string& Value) {
    if (Value == "stereo") return STEREO;
    if (Value == "joint") return JOINT_STEREO;
    if (Value == "dual") return DUAL_CHANNEL;
    if (Value == "mono") return MONO;
    throw EUsageError("The option --mode takes stereo, joint, dual or mono, not \"" + Value +
                      "\".");
  }
  static TMP3SampleRate SampleRateOption(const std::string& Value) {
    if (Value == "default") return srDefault;
    const auto rate = SampleRateForHz(IntegerOption("--samplerate", Value, 1, 200000));
    // 41000 Hz is one of the component's rates, but no MPEG version has it.
    if (!rate || *rate == sr41kHz)
      throw EUsageError(
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
  throw EUsageError("The option " + Name +
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
  static EUsageError IgnoredLimit(const char* Name, TVorbisBitRate Limit, const char* Side,
                                  TVorbisBitRate Nominal, const char* Rule) {
    return EUsageError("The option " + std::string(Name) + " " + KbpsText(Limit) +
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
      throw EUsageError("The option --compression takes a quality from 0.0 to 1.0, not \"" + Value +
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
    }
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Flac; }

 private:
  TFlacOut Output_;
};

class TOpusSetup : public TFormatSetup {
 public:
  explicit TOpusSetup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) {
      if (name == "--bitrate")
        Output_.Bitrate =
            IntegerOption(name, value, TOpusOut::MinBitrate, TOpusOut::MaxStereoBitrate);
      else if (name == "--complexity")
        Output_.Complexity =
            IntegerOption(name, value, TOpusOut::MinComplexity, TOpusOut::MaxComplexity);
      else if (name == "--cbr")
        Output_.Vbr = false;
    }
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Opus; }

 private:
  TOpusOut Output_;
};

// The comment each tag option stands for.
const std::pair<const char*, const char*> TagComments[] = {
    {"--title", "TITLE"},       {"--artist", "ARTIST"},   {"--album", "ALBUM"}, {"--year", "DATE"},
    {"--track", "TRACKNUMBER"}, {"--comment", "COMMENT"}, {"--genre", "GENRE"},
};

std::unique_ptr<TFormatSetup> NewSetup(TOutputFormat Format, const TCliOptions& Options) {
  switch (Format) {
    case TOutputFormat::Mp3: return std::make_unique<TMp3Setup>(Options);
    case TOutputFormat::Ogg: return std::make_unique<TOggSetup>(Options);
    case TOutputFormat::Flac: return std::make_unique<TFlacSetup>(Options);
    case TOutputFormat::Opus: return std::make_unique<TOpusSetup>(Options);
    case TOutputFormat::Wav: break;
  }
  return std::make_unique<TWavSetup>(Options);
}

}  // namespace

// The tag options are the same for every format that has tags: comment lines, which the
// output stores as its format does.
void TFormatSetup::ApplyTagOptions(const TCliOptions& Options) {
  for (const auto& [name, value] : Options.FormatOptions) {
    if (name == "--tag") RowTags_.Comments.push_back(CommentLineOption(name, value));
    if (name == "--title-from-name") RowTags_.TitleFromName = true;
    if (name == "--track-from") RowTags_.FirstTrack = IntegerOption(name, value, 0, 999999);
    for (const auto& [option, comment] : TagComments)
      if (name == option)
        RowTags_.Comments.push_back(std::string(comment) + "=" + CommentLineOption(name, value));
  }
}

std::unique_ptr<TFormatSetup> TFormatSetup::Create(const TCliOptions& Options) {
  const TOutputFormatInfo* format = FindFormat(Options.Format);
  std::unique_ptr<TFormatSetup> setup =
      NewSetup(format ? format->Format : TOutputFormat::Wav, Options);
  if (format && format->Tagged) setup->ApplyTagOptions(Options);
  return setup;
}
