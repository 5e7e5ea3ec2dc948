#include "format_setup.h"

#include <optional>

#include "audio_lame.h"
#include "audio_vorbis.h"
#include "audio_wave.h"

int IntegerOption(const std::string& Name, const std::string& Value, int Min, int Max) {
  size_t used = 0;
  int number = 0;
  try {
    number = std::stoi(Value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != Value.size() || number < Min || number > Max)
    throw TUsageError("The option " + Name + " takes a whole number from " + std::to_string(Min) +
                      " to " + std::to_string(Max) + ", not \"" + Value + "\".");
  return number;
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
        const int size = IntegerOption(name, value, 4, 65532);
        if (size % 4 != 0)
          throw TUsageError("The option --block-size takes a multiple of 4, not " + value + ".");
        Output_.SetBlockSize(static_cast<uint16_t>(size));
      }
    }
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Wav; }

 private:
  TWaveOut Output_;
};

TMP3Quality QualityOption(const std::string& Name, const std::string& Value) {
  return static_cast<TMP3Quality>(IntegerOption(Name, Value, 0, 9));
}

TMP3BitRate Mp3BitRateOption(const std::string& Name, const std::string& Value) {
  const auto rate = BitRateForKbps(IntegerOption(Name, Value, 8, 320));
  if (!rate)
    throw TUsageError("The option " + Name +
                      " takes an MP3 bit rate (32, 40, 48, 56, 64, 80, "
                      "96, 112, 128, 144, 160, 192, 224, 256, 320), not " +
                      Value + ".");
  return *rate;
}

class TMp3Setup : public TFormatSetup {
 public:
  explicit TMp3Setup(const TCliOptions& Options) {
    for (const auto& [name, value] : Options.FormatOptions) Apply(name, value);
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
      Output_.Id3TagTitle = Latin1TagText(Value);
    else if (Name == "--artist")
      Output_.Id3TagArtist = Latin1TagText(Value);
    else if (Name == "--album")
      Output_.Id3TagAlbum = Latin1TagText(Value);
    else if (Name == "--year")
      Output_.Id3TagYear = Latin1TagText(Value);
    else if (Name == "--track")
      Output_.Id3TagTrack = Latin1TagText(Value);
    else if (Name == "--comment")
      Output_.Id3TagComment = Latin1TagText(Value);
    else if (Name == "--genre")
      Output_.Id3TagGenre = Latin1TagText(Value);
    // The window's two per-row tag switches: the title from the row's name, and track
    // numbers counting up from a first one in list order.
    else if (Name == "--title-from-name")
      RowTags_.TitleFromName = true;
    else if (Name == "--track-from")
      RowTags_.FirstTrack = IntegerOption(Name, Value, 0, 999999);
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
    if (!rate)
      throw TUsageError(
          "The option --samplerate takes default, 11025, 22050, 32000, 41000, "
          "44100 or 48000, not " +
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
        RowTags_.OggComments.push_back(value);
    }
    if (nominal) Output_.SetDesiredNominalBitrate(*nominal);
    if (maximum) Output_.SetDesiredMaximumBitrate(*maximum);
    if (minimum) Output_.SetMinimumBitrate(*minimum);
  }
  TAudioFileOut& Output() override { return Output_; }
  TOutputFormat Format() const override { return TOutputFormat::Ogg; }

 private:
  static float CompressionOption(const std::string& Value) {
    size_t used = 0;
    double quality = -1;
    try {
      quality = std::stod(Value, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != Value.size() || !(quality >= 0.0 && quality <= 1.0))
      throw TUsageError("The option --compression takes a quality from 0.0 to 1.0, not \"" + Value +
                        "\".");
    return static_cast<float>(quality);
  }

  TVorbisOut Output_;
};

}  // namespace

std::unique_ptr<TFormatSetup> TFormatSetup::Create(const TCliOptions& Options) {
  if (Options.Format == "mp3") return std::make_unique<TMp3Setup>(Options);
  if (Options.Format == "ogg") return std::make_unique<TOggSetup>(Options);
  return std::make_unique<TWavSetup>(Options);
}
