#include "jobs/output_formats.h"

#include <algorithm>

#include "outputs/audio_flac.h"
#include "outputs/audio_lame.h"
#include "outputs/audio_opus.h"
#include "outputs/audio_vorbis.h"
#include "outputs/audio_wave.h"

namespace {

template <typename TOutput>
std::unique_ptr<TAudioFileOut> NewOf() {
  return std::make_unique<TOutput>();
}

const char* const ForVbr = "it belongs to variable bit rate, which --vbr turns on";
const char* const ForManaged = "the limits apply to a managed (nominal) bit rate only";

const char* const Mp3Note =
    "A bit rate is one of 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144,\n"
    "160, 192, 224, 256, 320. What MP3 carries depends on the sample rate:\n"
    "32000 to 48000 Hz take 32 to 320 (not 144), 16000 to 24000 Hz take 8 to 160,\n"
    "8000 to 12000 Hz take 8 to 64. Another bit rate becomes the nearest one there\n"
    "is, with a warning.";

std::vector<TOutputFormatInfo> MakeFormats() {
  std::vector<TOutputFormatInfo> formats;
  formats.push_back({TOutputFormat::Wav,
                     "wav",
                     "WAV",
                     "Wav",
                     "Wav settings",
                     ".wav",
                     true,
                     false,
                     true,
                     NewOf<TWaveOut>,
                     {{"--wav-type", "pcm|ima", "plain PCM (default) or IMA ADPCM"},
                      {"--block-size", "N",
                       "IMA ADPCM block size in bytes, a multiple of 8 from 16\nto 65528 (default "
                       "512); needs --wav-type ima",
                       "--wav-type", "pcm", true, "only --wav-type ima (IMA ADPCM) has blocks"}},
                     nullptr});
  formats.push_back(
      {TOutputFormat::Mp3,
       "mp3",
       "MP3",
       "Mp3",
       "Mp3 settings",
       ".mp3",
       false,
       true,
       false,
       NewOf<TMP3Out>,
       {{"--bitrate", "KBPS", "constant bit rate (default 128); not with --vbr", "--vbr", nullptr,
         false, "a VBR file's bit rates are --vbr-min and --vbr-max"},
        {"--quality", "0-9", "encoder quality, 0 best (default 5); not with --vbr", "--vbr",
         nullptr, false, "with --vbr the quality is --vbr-quality"},
        {"--vbr", nullptr, "variable bit rate; the --vbr-* options need it"},
        {"--vbr-quality", "0-9", "VBR quality, 0 best (default 5)", "--vbr", nullptr, true, ForVbr},
        {"--vbr-min", "KBPS", "VBR minimum bit rate (default 128), at most --vbr-max", "--vbr",
         nullptr, true, ForVbr},
        {"--vbr-max", "KBPS", "VBR maximum bit rate (default 192)", "--vbr", nullptr, true, ForVbr},
        {"--vbr-header", nullptr,
         "accepted for old scripts: the information frame (length\nand seek table) is "
         "written into every MP3 file anyway",
         "--vbr", nullptr, true,
         "it belongs to variable bit rate, which --vbr turns on (the information frame is "
         "written in any case)"},
        {"--mode", "stereo|joint|dual|mono", "channel mode (default stereo)"},
        {"--samplerate", "default|11025|22050|32000|44100|48000",
         "output sample rate; default lets the encoder choose"},
        {"--crc", nullptr, "a CRC in every frame"},
        {"--copyright", nullptr, "the frames' copyright bit"},
        {"--no-original", nullptr, "the frames say \"copy\", not \"original\""}},
       Mp3Note});
  formats.push_back(
      {TOutputFormat::Ogg,
       "ogg",
       "Ogg Vorbis",
       "Ogg vorbis",
       "Ogg settings",
       ".ogg",
       false,
       true,
       false,
       NewOf<TVorbisOut>,
       {{"--compression", "Q", "quality 0.0 to 1.0 (default 0.2); not with --nominal", "--nominal",
         "auto", false, "a nominal bit rate replaces the quality setting"},
        {"--nominal", "KBPS|auto", "managed nominal bit rate (auto: quality mode)"},
        {"--max", "KBPS|auto", "managed maximum bit rate, at least --nominal", "--nominal", "auto",
         true, ForManaged},
        {"--min", "KBPS|auto", "managed minimum bit rate, at most --nominal", "--nominal", "auto",
         true, ForManaged}},
       "A managed bit rate is auto or one of 45, 48, 56, 64, 80, 96, 112, 128, 144,\n"
       "160, 192, 224, 256, 320, 499; --max and --min need a --nominal one."});
  formats.push_back({TOutputFormat::Flac,
                     "flac",
                     "FLAC",
                     "Flac",
                     "Flac settings",
                     ".flac",
                     true,
                     true,
                     false,
                     NewOf<TFlacOut>,
                     {{"--compression-level", "N", "0 (fastest) to 8 (smallest file), default 5"}},
                     nullptr});
  formats.push_back(
      {TOutputFormat::Opus,
       "opus",
       "Opus",
       "Opus",
       "Opus",
       ".opus",
       false,
       true,
       false,
       NewOf<TOpusOut>,
       {{"--bitrate", "KBPS",
         "target bit rate, 6 to 510 (300 for a mono source),\ndefault 160; the average with "
         "variable bit rate"},
        {"--complexity", "N", "0 (fastest) to 10 (best sound for the bit rate),\ndefault 10"},
        {"--cbr", nullptr, "constant bit rate: every 20 ms frame the same size"}},
       "Opus files are variable bit rate unless --cbr."});
  return formats;
}

}  // namespace

const std::vector<TOutputFormatInfo>& OutputFormats() {
  static const std::vector<TOutputFormatInfo> Formats = MakeFormats();
  return Formats;
}

const TOutputFormatInfo& FormatInfo(TOutputFormat Format) {
  const auto& formats = OutputFormats();
  return *std::find_if(formats.begin(), formats.end(),
                       [Format](const TOutputFormatInfo& Info) { return Info.Format == Format; });
}

const TOutputFormatInfo* FindFormat(const std::string& Name) {
  for (const TOutputFormatInfo& info : OutputFormats())
    if (Name == info.Name) return &info;
  return nullptr;
}

std::string FormatNames(const char* Last) {
  const auto& formats = OutputFormats();
  std::string names;
  for (size_t i = 0; i < formats.size(); ++i) {
    if (i > 0) names += i + 1 == formats.size() ? std::string(" ") + Last + " " : ", ";
    names += formats[i].Name;
  }
  return names;
}

const std::vector<TFormatSetting>& TagSettings() {
  static const std::vector<TFormatSetting> Settings = {
      {"--title", "TEXT", "the title of every file"},
      {"--artist", "TEXT", "the artist"},
      {"--album", "TEXT", "the album"},
      {"--year", "TEXT", "the year (or date)"},
      {"--track", "TEXT", "the track number"},
      {"--comment", "TEXT", "a comment"},
      {"--genre", "TEXT", "the genre"},
      {"--tag", "NAME=VALUE",
       "any tag (repeatable); NAME holds printable ASCII from\nspace to \"}\" but no \"=\"; "
       "a TEXT without \"=\" is a\ncomment"},
      {"--title-from-name", nullptr, "each track's title is its name"},
      {"--track-from", "N", "track numbers N, N+1, ... in the order given"},
  };
  return Settings;
}

const char* OutputExtension(TOutputFormat Format) { return FormatInfo(Format).Extension; }
