#include "cli_options.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <thread>

namespace {

struct TOptionSpec {
  const char* Name;
  bool TakesValue;
  const char* Formats;  // the formats it belongs to, separated by spaces; nullptr: every format
};

// Every option the command line knows. Format options are checked against the chosen
// format once the whole line is read.
const TOptionSpec OptionSpecs[] = {
    {"--format", true, nullptr},
    {"--out", true, nullptr},
    {"--jobs", true, nullptr},
    {"--name", true, nullptr},
    {"--lookup", true, nullptr},
    {"--lookup-server", true, nullptr},
    {"--release", true, nullptr},
    {"--cddb-user", true, nullptr},
    {"--offset", true, nullptr},
    {"--verify", false, nullptr},
    {"--retries", true, nullptr},
    {"--log", false, nullptr},
    {"--list", false, nullptr},
    {"--batch", false, nullptr},
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
    {"--title", true, "mp3 ogg flac"},
    {"--artist", true, "mp3 ogg flac"},
    {"--album", true, "mp3 ogg flac"},
    {"--year", true, "mp3 ogg flac"},
    {"--track", true, "mp3 ogg flac"},
    {"--comment", true, "mp3 ogg flac"},
    {"--genre", true, "mp3 ogg flac"},
    {"--title-from-name", false, "mp3 flac"},
    {"--track-from", true, "mp3 flac"},
    {"--compression", true, "ogg"},
    {"--nominal", true, "ogg"},
    {"--max", true, "ogg"},
    {"--min", true, "ogg"},
    {"--tag", true, "mp3 ogg flac"},
    {"--compression-level", true, "flac"},
};

// True when Spec belongs to Format.
bool BelongsTo(const TOptionSpec& Spec, const std::string& Format) {
  const std::string formats = std::string(" ") + Spec.Formats + " ";
  return formats.find(" " + Format + " ") != std::string::npos;
}

// "ogg", or "ogg or --format flac", as the usage errors name the formats of an option.
std::string FormatsText(const TOptionSpec& Spec) {
  std::string text;
  std::istringstream words(Spec.Formats);
  for (std::string format; words >> format;) text += (text.empty() ? "" : " or --format ") + format;
  return text;
}

const TOptionSpec* FindSpec(const std::string& Name) {
  for (const TOptionSpec& spec : OptionSpecs)
    if (Name == spec.Name) return &spec;
  return nullptr;
}

// An option that only acts together with another one (Needed true), or only without
// it. The other one counts as absent when its last value is IdleValue: "--nominal
// auto" is quality mode, "--wav-type pcm" plain PCM.
struct TDependency {
  const char* Option;
  const char* Other;
  const char* IdleValue;
  bool Needed;
  const char* Why;
};

const TDependency Dependencies[] = {
    {"--block-size", "--wav-type", "pcm", true, "only --wav-type ima (IMA ADPCM) has blocks"},
    {"--bitrate", "--vbr", nullptr, false, "a VBR file's bit rates are --vbr-min and --vbr-max"},
    {"--quality", "--vbr", nullptr, false, "with --vbr the quality is --vbr-quality"},
    {"--vbr-quality", "--vbr", nullptr, true,
     "it belongs to variable bit rate, which --vbr turns on"},
    {"--vbr-min", "--vbr", nullptr, true, "it belongs to variable bit rate, which --vbr turns on"},
    {"--vbr-max", "--vbr", nullptr, true, "it belongs to variable bit rate, which --vbr turns on"},
    {"--vbr-header", "--vbr", nullptr, true,
     "it belongs to variable bit rate, which --vbr turns on (the information frame is written "
     "in any case)"},
    {"--compression", "--nominal", "auto", false,
     "a nominal bit rate replaces the quality setting"},
    {"--max", "--nominal", "auto", true, "the limits apply to a managed (nominal) bit rate only"},
    {"--min", "--nominal", "auto", true, "the limits apply to a managed (nominal) bit rate only"},
};

// True when Name was given and its last value is not Idle.
bool IsActive(const TCliOptions& Options, const std::string& Name, const char* Idle) {
  const char* last = nullptr;
  for (const auto& [name, value] : Options.FormatOptions)
    if (name == Name) last = value.c_str();
  return last && !(Idle && std::string(last) == Idle);
}

// Refuses an option that the rest of the line would leave without effect.
void CheckEveryOptionActs(const TCliOptions& Options) {
  for (const TDependency& rule : Dependencies) {
    if (!Options.Has(rule.Option)) continue;
    const bool otherActive = IsActive(Options, rule.Other, rule.IdleValue);
    if (otherActive == rule.Needed) continue;
    // Needed but absent: "without --vbr"; needed but idle: "with --nominal auto";
    // excluded: "with --vbr".
    const std::string other = rule.Other;
    std::string situation;
    if (!rule.Needed)
      situation = "with " + other;
    else if (Options.Has(other))
      situation = "with " + other + " " + rule.IdleValue;
    else
      situation = "without " + other;
    throw TUsageError("The option " + std::string(rule.Option) + " has no effect " + situation +
                      ": " + rule.Why + ".");
  }
}

}  // namespace

int TCliOptions::DefaultJobs() {
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxJobs);
}

namespace {

int JobsValue(const std::string& Value) {
  const std::optional<long> jobs = WholeNumber(Value, 1, TCliOptions::MaxJobs, false);
  if (!jobs)
    throw TUsageError("The option --jobs takes a whole number from 1 to " +
                      std::to_string(TCliOptions::MaxJobs) + ", not \"" + Value + "\".");
  return static_cast<int>(*jobs);
}

int OffsetValue(const std::string& Value) {
  const std::optional<long> offset =
      WholeNumber(Value, -TCliOptions::MaxOffset, TCliOptions::MaxOffset, true);
  if (!offset)
    throw TUsageError(
        "The option --offset takes the drive's read offset in samples, a whole "
        "number from -44100 to 44100, not \"" +
        Value + "\".");
  return static_cast<int>(*offset);
}

// The database's address after "accuraterip=": an http or https URL with a host.
std::string AccurateRipAddress(const std::string& Url) {
  const size_t scheme = Url.find("://");
  const std::string name = scheme == std::string::npos ? std::string() : Url.substr(0, scheme);
  const bool hasHost = scheme != std::string::npos && scheme + 3 < Url.size() &&
                       Url[scheme + 3] != '/' && Url.find_first_of(" \t") == std::string::npos;
  if ((name != "http" && name != "https") || !hasHost)
    throw TUsageError(
        "The option --lookup accuraterip= takes the database's address, such as "
        "http://host/accuraterip, not \"" +
        Url + "\".");
  return Url;
}

// "musicbrainz", "gnudb" or "none" choose where track names come from; "accuraterip"
// (or "accuraterip=URL", another address of the database) adds the check of the rips.
void LookupValue(const std::string& Value, TCliOptions& Options) {
  if (Value.rfind("accuraterip", 0) == 0 && (Value.size() == 11 || Value[11] == '=')) {
    Options.AccurateRip = true;
    if (Value.size() > 11) Options.AccurateRipServer = AccurateRipAddress(Value.substr(12));
    return;
  }
  if (Value != "none" && Value != "musicbrainz" && Value != "gnudb")
    throw TUsageError(
        "The option --lookup takes musicbrainz, gnudb, accuraterip[=URL] or none, "
        "not \"" +
        Value + "\".");
  Options.Lookup = Value;
}

int RetriesValue(const std::string& Value) {
  const std::optional<long> retries = WholeNumber(Value, 0, 20, false);
  if (!retries)
    throw TUsageError("The option --retries takes a whole number from 0 to 20, not \"" + Value +
                      "\".");
  return static_cast<int>(*retries);
}

int ReleaseValue(const std::string& Value) {
  const std::optional<long> release = WholeNumber(Value, 1, 1000000, false);
  if (!release)
    throw TUsageError(
        "The option --release takes the number of a match (1, 2, ...) as the "
        "lookup lists them, not \"" +
        Value + "\".");
  return static_cast<int>(*release);
}

// The service's address and the choice among its matches belong to a lookup of names.
void CheckLookupOptionsAct(const TCliOptions& Options) {
  if (Options.Lookup != "none") return;
  const char* const why =
      " has no effect without --lookup musicbrainz or --lookup gnudb: it belongs to the "
      "lookup of the disc's names.";
  if (!Options.CddbUser.empty()) throw TUsageError("The option --cddb-user" + std::string(why));
  if (!Options.LookupServer.empty())
    throw TUsageError("The option --lookup-server" + std::string(why));
  if (Options.Release > 0) throw TUsageError("The option --release" + std::string(why));
}

// --batch waits on drives: a disc image or a track entry holds no disc that could be
// taken out and another put in.
void CheckBatchSources(const TCliOptions& Options) {
  if (!Options.Batch) return;
  if (Options.List) throw TUsageError("The options --batch and --list exclude each other.");
  for (const std::string& source : Options.Sources) {
    const size_t dot = source.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : source.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".cda" || extension == ".cue" || extension == ".toc" || extension == ".nrg")
      throw TUsageError("--batch waits on CD drives, and " + source +
                        " is a track entry or a disc image: name drives (such as /dev/sr0), "
                        "or none for every drive.");
  }
}

// An e-mail address as the CDDB greeting takes it: user@host, no blanks.
std::string CddbUserValue(const std::string& Value) {
  const size_t at = Value.find('@');
  const bool valid = at != std::string::npos && at > 0 && at + 1 < Value.size() &&
                     std::none_of(Value.begin(), Value.end(),
                                  [](unsigned char c) { return c <= ' ' || c == 0x7F; });
  if (!valid)
    throw TUsageError("The option --cddb-user takes an e-mail address (user@host), not \"" + Value +
                      "\".");
  return Value;
}

}  // namespace

std::optional<long> WholeNumber(const std::string& Text, long Min, long Max, bool Negative) {
  const size_t digits = Negative && !Text.empty() && Text.front() == '-' ? 1 : 0;
  // At most nine digits, so that the value fits a long whatever it is.
  if (Text.size() == digits || Text.size() - digits > 9 ||
      Text.find_first_not_of("0123456789", digits) != std::string::npos)
    return std::nullopt;
  const long value = std::stol(Text);
  if (value < Min || value > Max) return std::nullopt;
  return value;
}

bool TCliOptions::Has(const std::string& Name) const {
  return std::any_of(FormatOptions.begin(), FormatOptions.end(),
                     [&Name](const auto& Option) { return Option.first == Name; });
}

TCliOptions ParseCommandLine(const std::vector<std::string>& Arguments) {
  TCliOptions options;
  std::vector<std::pair<std::string, const TOptionSpec*>> formatOptionsSeen;
  bool retriesGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < Arguments.size(); ++i) {
    std::string argument = Arguments[i];
    if (argument.empty())
      throw TUsageError(
          "An empty source was given (an unset shell variable?). Name a track entry, a "
          "disc image or a drive, or give none to rip the first drive.");
    if (optionsEnded || argument[0] != '-') {
      options.Sources.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;  // a source whose name starts with "-" comes after it
      continue;
    }
    if (argument == "-h") argument = "--help";
    if (argument.rfind("--", 0) != 0)
      throw TUsageError("Unknown option " + argument +
                        ". See --help for the options; put -- before a source whose name "
                        "starts with \"-\".");
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
      if (value.empty())
        throw TUsageError(
            "The option --out was given an empty folder name (an unset shell variable?). "
            "Name the output folder, or drop --out to write into the current folder.");
      options.OutDir = value;
    } else if (argument == "--jobs") {
      options.Jobs = JobsValue(value);
    } else if (argument == "--name") {
      if (value.empty())
        throw TUsageError("The option --name needs a template, such as \"%n - %t\".");
      options.NameTemplate = value;
    } else if (argument == "--lookup") {
      LookupValue(value, options);
    } else if (argument == "--lookup-server") {
      options.LookupServer = value;
    } else if (argument == "--cddb-user") {
      options.CddbUser = CddbUserValue(value);
    } else if (argument == "--release") {
      options.Release = ReleaseValue(value);
    } else if (argument == "--offset") {
      options.Offset = OffsetValue(value);
    } else if (argument == "--verify") {
      options.Verify = true;
    } else if (argument == "--retries") {
      options.Retries = RetriesValue(value);
      retriesGiven = true;
    } else if (argument == "--log") {
      options.Log = true;
    } else if (argument == "--list") {
      options.List = true;
    } else if (argument == "--batch") {
      options.Batch = true;
    } else if (argument == "--help") {
      options.Help = true;
    } else if (argument == "--version") {
      options.Version = true;
    } else {
      options.FormatOptions.emplace_back(argument, value);
      formatOptionsSeen.emplace_back(argument, spec);
    }
  }
  if (options.Format != "wav" && options.Format != "mp3" && options.Format != "ogg" &&
      options.Format != "flac")
    throw TUsageError("Unknown format \"" + options.Format + "\": use wav, mp3, ogg or flac.");
  for (const auto& [name, spec] : formatOptionsSeen)
    if (!BelongsTo(*spec, options.Format))
      throw TUsageError("The option " + name + " belongs to --format " + FormatsText(*spec) +
                        ", not to --format " + options.Format + ".");
  CheckEveryOptionActs(options);
  CheckLookupOptionsAct(options);
  if (retriesGiven && !options.Verify)
    throw TUsageError(
        "The option --retries has no effect without --verify: it sets the further reads when "
        "test and copy differ.");
  CheckBatchSources(options);
  // What test and copy and the database find is written down.
  options.Log = options.Log || options.Verify || options.AccurateRip;
  return options;
}

std::string UsageText() {
  return R"(Usage: korvane-cli [OPTIONS] [--] [SOURCE...]

Rips audio-CD tracks to files, one file per track, in the order given.
A SOURCE is a track entry (DRIVE/TrackNN.cda, as --list shows them), a disc image
(.cue, .toc, .nrg: all its audio tracks) or a CD device (all the tracks of its disc).
Without a SOURCE, every audio track of the first drive is ripped.
Every word after -- is a SOURCE, also one whose name starts with "-".

General options:
  --format wav|mp3|ogg|flac
                         output format (default: wav); the options of the other
                         formats are refused
  --out DIR              output folder, not empty (default: the current folder)
  --jobs N               tracks encoded at a time (default: the number of cores);
                         a drive is still read once, track after track
  --name TEMPLATE        file names from what is known of the disc: %n track
                         number (two digits), %t title, %a artist, %A album,
                         %y year, %i the disc's freedb id, %% a percent sign
                         (e.g. "%n - %t")
  --lookup musicbrainz|gnudb|none
                         look the disc up online (default: none); titles and
                         tags then come from the match, else from the disc's
                         CD-Text or cue sheet texts
  --lookup accuraterip[=URL]
                         check each track's rip in the AccurateRip database
                         (besides the lookup above; implies --log)
  --lookup-server URL    the service's address (MusicBrainz web service, or a
                         CDDB server's cddb.cgi); needs --lookup
  --release N            the match to use when the lookup finds several; needs
                         --lookup
  --cddb-user EMAIL      the e-mail (user@host) a CDDB server is greeted with
                         (default: your login and this machine's name)
  --offset N             the drive's read offset in samples (may be negative):
                         file sample s is the drive's sample s + N, silence
                         where that lies outside the disc (default: the
                         drive's ReadOffsets entry in cdr.ini, else 0)
  --verify               test and copy: every track is read twice and the
                         CRCs compared; a mismatch reads it again (implies --log)
  --retries N            further reads when test and copy differ (default 3)
  --log                  a rip log (checksums, verdicts, read counts, SHA-256)
                         and a cue sheet beside the files, one per disc; each
                         track's CRC and peak are printed
  --list                 show the drives and their tracks, then exit
  --batch [DRIVE...]     disc after disc: waits for a disc in any of the drives
                         (default: every drive), rips it whole into a folder of
                         its own under --out, ejects it and waits for the next,
                         until Ctrl-C; a line per disc, and a total at the end
  -h, --help             show this help, then exit
  --version              show the version, then exit

WAV options:
  --wav-type pcm|ima     plain PCM (default) or IMA ADPCM
  --block-size N         IMA ADPCM block size in bytes, a multiple of 8 from 16
                         to 65528 (default 512); needs --wav-type ima

MP3 options (constant bit rate unless --vbr):
  --bitrate KBPS         constant bit rate (default 128); not with --vbr
  --quality 0-9          encoder quality, 0 best (default 5); not with --vbr
  --vbr                  variable bit rate; the --vbr-* options need it
  --vbr-quality 0-9      VBR quality, 0 best (default 5)
  --vbr-min KBPS         VBR minimum bit rate (default 128), at most --vbr-max
  --vbr-max KBPS         VBR maximum bit rate (default 192)
  --vbr-header           accepted for old scripts: the information frame (length
                         and seek table) is written into every MP3 file anyway
  --mode stereo|joint|dual|mono
  --samplerate default|11025|22050|32000|44100|48000
                         output sample rate; default lets the encoder choose
  --crc, --copyright, --no-original
  --title, --artist, --album, --year, --track, --comment, --genre TEXT
                         go whole into an ID3v2.3 tag, and in Latin-1, cut to
                         30 characters, into an ID3v1 tag
  --tag NAME=VALUE       TITLE, ARTIST, ALBUM, DATE, TRACKNUMBER, DISCNUMBER,
                         COMMENT, GENRE into their ID3 fields, any other NAME
                         as a user text (TXXX) of that name
  --title-from-name      each track's title is its name
  --track-from N         track numbers N, N+1, ... in the order given
  A bit rate is one of 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144,
  160, 192, 224, 256, 320. What MP3 carries depends on the sample rate:
  32000 to 48000 Hz take 32 to 320 (not 144), 16000 to 24000 Hz take 8 to 160,
  8000 to 12000 Hz take 8 to 64. Another bit rate becomes the nearest one there
  is, with a warning.

Ogg Vorbis options:
  --compression Q        quality 0.0 to 1.0 (default 0.2); not with --nominal
  --nominal KBPS|auto    managed nominal bit rate (auto: quality mode)
  --max KBPS|auto        managed maximum bit rate, at least --nominal
  --min KBPS|auto        managed minimum bit rate, at most --nominal
  --tag NAME=VALUE       a comment line (repeatable); NAME holds printable ASCII
                         from space to "}" but no "="; a TEXT without "=" is
                         stored as COMMENT=TEXT
  --max and --min need a --nominal bit rate.

--title, --artist, --album, --year, --track, --comment and --genre work for Ogg
Vorbis and FLAC too, as the comments TITLE, ARTIST, ALBUM, DATE, TRACKNUMBER,
COMMENT and GENRE.

FLAC options (lossless):
  --compression-level N  0 (fastest) to 8 (smallest file), default 5
  --tag NAME=VALUE       a comment line (repeatable), as for Ogg Vorbis: TITLE,
                         ARTIST, ALBUM, DATE, GENRE, TRACKNUMBER, TRACKTOTAL...
  --title-from-name      each track's TITLE is its name
  --track-from N         TRACKNUMBER N, N+1, ... in the order given

An option that would have no effect is a usage error, which says why. Numbers
are plain decimal digits (no blanks, no "+"); an empty SOURCE is a usage error.

Output: a line per track as it ends; "NAME: Failed: REASON" goes to standard
error, the rest to standard output, which ends with a summary such as
"10 done, 1 failed, 0 aborted". A track read from a drive that needed re-reads
or corrections gets a line with their counts.
Ctrl-C aborts: the files being written are finished as far as they got, the rest
is skipped.
Exit status: 0 all done, 1 a track failed or a source cannot be read, 2 a usage
error, 130 aborted (and how --batch ends).
)";
}
