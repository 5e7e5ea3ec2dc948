#include "cli_options.h"

#include <algorithm>

namespace {

struct TOptionSpec {
  const char* Name;
  bool TakesValue;
  const char* Format;  // the format it belongs to; nullptr: every format
};

// Every option the command line knows. Format options are checked against the chosen
// format once the whole line is read.
const TOptionSpec OptionSpecs[] = {
    {"--format", true, nullptr},
    {"--out", true, nullptr},
    {"--list", false, nullptr},
    {"--help", false, nullptr},
    {"--version", false, nullptr},
    {"--wav-type", true, "wav"},
    {"--block-size", true, "wav"},
    {"--bitrate", true, "mp3"},
    {"--quality", true, "mp3"},
    {"--vbr", false, "mp3"},
    {"--vbr-quality", true, "mp3"},
    {"--vbr-min", true, "mp3"},
    {"--vbr-max", true, "mp3"},
    {"--vbr-header", false, "mp3"},
    {"--mode", true, "mp3"},
    {"--samplerate", true, "mp3"},
    {"--crc", false, "mp3"},
    {"--copyright", false, "mp3"},
    {"--no-original", false, "mp3"},
    {"--title", true, "mp3"},
    {"--artist", true, "mp3"},
    {"--album", true, "mp3"},
    {"--year", true, "mp3"},
    {"--track", true, "mp3"},
    {"--comment", true, "mp3"},
    {"--genre", true, "mp3"},
    {"--title-from-name", false, "mp3"},
    {"--track-from", true, "mp3"},
    {"--compression", true, "ogg"},
    {"--nominal", true, "ogg"},
    {"--max", true, "ogg"},
    {"--min", true, "ogg"},
    {"--tag", true, "ogg"},
};

const TOptionSpec* FindSpec(const std::string& Name) {
  for (const TOptionSpec& spec : OptionSpecs)
    if (Name == spec.Name) return &spec;
  return nullptr;
}

}  // namespace

TCliOptions ParseCommandLine(const std::vector<std::string>& Arguments) {
  TCliOptions options;
  std::vector<std::pair<std::string, const TOptionSpec*>> formatOptionsSeen;
  for (size_t i = 0; i < Arguments.size(); ++i) {
    std::string argument = Arguments[i];
    if (argument.rfind("--", 0) != 0 || argument == "--") {
      if (argument != "--") options.Sources.push_back(argument);
      continue;
    }
    std::string value;
    const size_t equals = argument.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
    }
    const TOptionSpec* spec = FindSpec(argument);
    if (!spec) throw TUsageError("Unknown option " + argument + ". See --help for the options.");
    if (spec->TakesValue && !inlineValue) {
      if (i + 1 >= Arguments.size())
        throw TUsageError("The option " + argument + " needs a value. See --help.");
      value = Arguments[++i];
    } else if (!spec->TakesValue && inlineValue) {
      throw TUsageError("The option " + argument + " takes no value.");
    }
    if (argument == "--format") {
      options.Format = value;
    } else if (argument == "--out") {
      options.OutDir = value;
    } else if (argument == "--list") {
      options.List = true;
    } else if (argument == "--help") {
      options.Help = true;
    } else if (argument == "--version") {
      options.Version = true;
    } else {
      options.FormatOptions.emplace_back(argument, value);
      formatOptionsSeen.emplace_back(argument, spec);
    }
  }
  if (options.Format != "wav" && options.Format != "mp3" && options.Format != "ogg")
    throw TUsageError("Unknown format \"" + options.Format + "\": use wav, mp3 or ogg.");
  for (const auto& [name, spec] : formatOptionsSeen)
    if (options.Format != spec->Format)
      throw TUsageError("The option " + name + " belongs to --format " + spec->Format +
                        ", not to --format " + options.Format + ".");
  return options;
}

std::string UsageText() {
  return R"(Usage: korvane-cli [OPTIONS] [SOURCE...]

Rips audio-CD tracks to files, one file per track, in the order given.
A SOURCE is a track entry (DRIVE/TrackNN.cda, as --list shows them), a disc image
(.cue, .toc, .nrg: all its audio tracks) or a CD device (all the tracks of its disc).
Without a SOURCE, every audio track of the first drive is ripped.

General options:
  --format wav|mp3|ogg   output format (default: wav)
  --out DIR              output folder (default: the current folder)
  --list                 show the drives and their tracks, then exit
  --help                 show this help, then exit
  --version              show the version, then exit

WAV options:
  --wav-type pcm|ima     plain PCM (default) or IMA ADPCM
  --block-size N         IMA ADPCM block size in bytes (default 512)

MP3 options:
  --bitrate KBPS         constant bit rate (default 128)
  --quality 0-9          encoder quality, 0 best (default 5)
  --vbr                  variable bit rate
  --vbr-quality 0-9      VBR quality (default 5)
  --vbr-min KBPS         VBR minimum bit rate (default 128)
  --vbr-max KBPS         VBR maximum bit rate (default 192)
  --vbr-header           write the VBR information frame
  --mode stereo|joint|dual|mono
  --samplerate default|HZ
  --crc, --copyright, --no-original
  --title, --artist, --album, --year, --track, --comment, --genre TEXT
  --title-from-name      each track's title is its name
  --track-from N         track numbers N, N+1, ... in the order given

Ogg Vorbis options:
  --compression Q        quality 0.0 to 1.0 (default 0.2)
  --nominal KBPS|auto    managed nominal bit rate
  --max KBPS|auto        managed maximum bit rate
  --min KBPS|auto        managed minimum bit rate
  --tag NAME=VALUE       a comment line (repeatable)

Ctrl-C aborts: the current file is finished as far as it got, the rest is skipped.
Exit status: 0 all done, 1 a track failed, 2 a usage error, 130 aborted.
)";
}
