// The output formats, in one table: what differs between them beyond their output unit
// and its settings. Both front ends derive their format choice from it (korvane-cli's
// --format, its options and usage text; the window's format buttons and its run), so a
// new format comes in through a row here, its output unit and its settings.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TAudioFileOut;

enum class TOutputFormat { Wav, Mp3, Ogg, Flac, Opus };

// A setting of a format as korvane-cli takes it. It may act only together with
// another option of the format (Needs), or only without it; that other option counts
// as absent when its last value is Idle ("--nominal auto" is quality mode).
struct TFormatSetting {
  const char* Option;  // "--bitrate"
  const char* Value;   // the value's name in the usage text; nullptr: the option takes none
  const char* Help;    // the usage text's description; "\n" starts a new line
  const char* Other = nullptr;
  const char* Idle = nullptr;
  bool Needs = false;
  const char* Why = nullptr;  // why the option has no effect otherwise
};

struct TOutputFormatInfo {
  TOutputFormat Format;
  const char* Name;         // "mp3", as korvane-cli's --format takes it
  const char* Title;        // "MP3", as the usage text names the format
  const char* Caption;      // "Mp3", as the window's format button names it
  const char* SettingsTab;  // "Mp3 settings", the window's tab of its settings
  const char* Extension;    // ".mp3"
  bool Lossless;
  // True when its files carry tags: it takes the tag options, the tags of each job and
  // ReplayGain.
  bool Tagged;
  // True when writing a file keeps up with reading the disc, so that one output is
  // enough for a run (several would only compete for the disk).
  bool OneOutputEnough;
  // A new output of the format, with its settings' defaults; raises EAudioException
  // when the library it encodes with cannot be loaded.
  std::unique_ptr<TAudioFileOut> (*NewOutput)();
  std::vector<TFormatSetting> Settings;  // its own, beyond the tag options
  const char* UsageNote;  // what the usage text says of the format after its settings
};

// Every format, in the order the front ends offer them; WAV first, the default.
const std::vector<TOutputFormatInfo>& OutputFormats();
const TOutputFormatInfo& FormatInfo(TOutputFormat Format);
// The format korvane-cli's --format names; nullptr when there is none of that name.
const TOutputFormatInfo* FindFormat(const std::string& Name);
// "wav, mp3, ogg, flac or opus".
std::string FormatNames(const char* Last = "or");

// The options of every tagged format: the texts of its tags and the per-job ones.
const std::vector<TFormatSetting>& TagSettings();

// ".wav", ".mp3" ...
const char* OutputExtension(TOutputFormat Format);
