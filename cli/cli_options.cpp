#include "cli_options.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <thread>

#include "cdrom/track_entry.h"
#include "jobs/drive_catalog.h"
#include "jobs/output_formats.h"
#include "lookup/lookup_http.h"

namespace {

struct TOptionSpec {
  const char* Name;
  bool TakesValue;
};

// The options of every format; those of the formats come from the format table.
const TOptionSpec GeneralOptions[] = {
    {"--format", true},       {"--out", true},       {"--jobs", true},
    {"--name", true},         {"--lookup", true},    {"--lookup-server", true},
    {"--release", true},      {"--cddb-user", true}, {"--offset", true},
    {"--verify", false},      {"--retries", true},   {"--log", false},
    {"--replaygain", false},  {"--list", false},     {"--find-offset", false},
    {"--keep-offset", false}, {"--batch", false},    {"--help", false},
    {"--version", false},     {"--htoa", false},
};

// A format's option: its setting and the formats it belongs to.
struct TFormatOption {
  const TFormatSetting* Setting;
  std::vector<const TOutputFormatInfo*> Formats;
};

const std::vector<TFormatOption>& FormatOptions() {
  static const std::vector<TFormatOption> Options = [] {
    std::vector<TFormatOption> options;
    const auto add = [&options](const TFormatSetting& Setting, const TOutputFormatInfo& Format) {
      for (TFormatOption& known : options)
        if (std::string(known.Setting->Option) == Setting.Option) {
          known.Formats.push_back(&Format);
          return;
        }
      options.push_back({&Setting, {&Format}});
    };
    for (const TOutputFormatInfo& format : OutputFormats()) {
      for (const TFormatSetting& setting : format.Settings) add(setting, format);
      if (format.Tagged)
        for (const TFormatSetting& setting : TagSettings()) add(setting, format);
    }
    return options;
  }();
  return Options;
}

const TFormatOption* FindFormatOption(const std::string& Name) {
  for (const TFormatOption& option : FormatOptions())
    if (Name == option.Setting->Option) return &option;
  return nullptr;
}

// Whether option Name takes a value; empty when there is no such option.
std::optional<bool> TakesValue(const std::string& Name, const TFormatOption* FormatOption) {
  if (FormatOption) return FormatOption->Setting->Value != nullptr;
  for (const TOptionSpec& spec : GeneralOptions)
    if (Name == spec.Name) return spec.TakesValue;
  return std::nullopt;
}

bool BelongsTo(const TFormatOption& Option, const std::string& Format) {
  return std::any_of(Option.Formats.begin(), Option.Formats.end(),
                     [&Format](const TOutputFormatInfo* Info) { return Format == Info->Name; });
}

// "ogg", or "ogg or --format flac", as the usage errors name the formats of an option.
std::string FormatsText(const TFormatOption& Option) {
  std::string text;
  for (const TOutputFormatInfo* format : Option.Formats)
    text += (text.empty() ? "" : " or --format ") + std::string(format->Name);
  return text;
}

// "mp3, ogg, flac, opus": the formats whose files carry tags.
std::string TaggedFormatNames() {
  std::string names;
  for (const TOutputFormatInfo& format : OutputFormats())
    if (format.Tagged) names += (names.empty() ? "" : ", ") + std::string(format.Name);
  return names;
}

// True when Name was given and its last value is not Idle.
bool IsActive(const TCliOptions& Options, const std::string& Name, const char* Idle) {
  const char* last = nullptr;
  for (const auto& [name, value] : Options.FormatOptions)
    if (name == Name) last = value.c_str();
  return last && !(Idle && std::string(last) == Idle);
}

// Refuses an option that the rest of the line would leave without effect: one that
// acts only together with another option of its format (Needs), or only without it.
void CheckEveryOptionActs(const TCliOptions& Options) {
  for (const TFormatOption& option : FormatOptions()) {
    const TFormatSetting& rule = *option.Setting;
    if (!rule.Other || !Options.Has(rule.Option)) continue;
    const bool otherActive = IsActive(Options, rule.Other, rule.Idle);
    if (otherActive == rule.Needs) continue;
    // Needed but absent: "without --vbr"; needed but idle: "with --nominal auto";
    // excluded: "with --vbr".
    const std::string other = rule.Other;
    std::string situation;
    if (!rule.Needs)
      situation = "with " + other;
    else if (Options.Has(other))
      situation = "with " + other + " " + rule.Idle;
    else
      situation = "without " + other;
    throw EUsageError("The option " + std::string(rule.Option) + " has no effect " + situation +
                      ": " + rule.Why + ".");
  }
}

}  // namespace

int TCliOptions::DefaultJobs() {
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxJobs);
}

namespace {

// The database's address after "accuraterip=": an http or https URL with a host, as
// libcurl reads it (the scheme in any case, as for the other lookups).
std::string AccurateRipAddress(const std::string& Url) {
  const std::string scheme = UrlScheme(Url);
  if ((scheme != "http" && scheme != "https") || UrlHost(Url).empty() ||
      Url.find_first_of(" \t") != std::string::npos)
    throw EUsageError(
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
    throw EUsageError(
        "The option --lookup takes musicbrainz, gnudb, accuraterip[=URL] or none, "
        "not \"" +
        Value + "\".");
  Options.Lookup = Value;
}

// The service's address and the choice among its matches belong to a lookup of names.
void CheckLookupOptionsAct(const TCliOptions& Options) {
  if (Options.Lookup != "none") return;
  const char* const why =
      " has no effect without --lookup musicbrainz or --lookup gnudb: it belongs to the "
      "lookup of the disc's names.";
  if (!Options.CddbUser.empty()) throw EUsageError("The option --cddb-user" + std::string(why));
  if (!Options.LookupServer.empty())
    throw EUsageError("The option --lookup-server" + std::string(why));
  if (Options.Release > 0) throw EUsageError("The option --release" + std::string(why));
}

// --batch waits on drives: a disc image or a track entry holds no disc that could be
// taken out and another put in.
void CheckBatchSources(const TCliOptions& Options) {
  if (!Options.Batch) return;
  if (Options.List) throw EUsageError("The options --batch and --list exclude each other.");
  for (const std::string& source : Options.Sources) {
    if (HasTrackEntryExtension(source) || IsDiscImageName(source))
      throw EUsageError("--batch waits on CD drives, and " + source +
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
    throw EUsageError("The option --cddb-user takes an e-mail address (user@host), not \"" + Value +
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

int IntegerOption(const std::string& Name, const std::string& Value, int Min, int Max,
                  const std::string& What) {
  const std::optional<long> number = WholeNumber(Value, Min, Max, Min < 0);
  if (!number)
    throw EUsageError("The option " + Name + " takes " + (What.empty() ? "" : What + ", ") +
                      "a whole number from " + std::to_string(Min) + " to " + std::to_string(Max) +
                      ", not \"" + Value + "\".");
  return static_cast<int>(*number);
}

bool TCliOptions::Has(const std::string& Name) const {
  return std::any_of(FormatOptions.begin(), FormatOptions.end(),
                     [&Name](const auto& Option) { return Option.first == Name; });
}

TCliOptions ParseCommandLine(const std::vector<std::string>& Arguments) {
  TCliOptions options;
  std::vector<std::pair<std::string, const TFormatOption*>> formatOptionsSeen;
  bool retriesGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < Arguments.size(); ++i) {
    std::string argument = Arguments[i];
    if (argument.empty())
      throw EUsageError(
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
      throw EUsageError("Unknown option " + argument +
                        ". See --help for the options; put -- before a source whose name "
                        "starts with \"-\".");
    std::string value;
    const size_t equals = argument.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
    }
    const TFormatOption* formatOption = FindFormatOption(argument);
    const std::optional<bool> takesValue = TakesValue(argument, formatOption);
    if (!takesValue)
      throw EUsageError("Unknown option " + argument + ". See --help for the options.");
    if (*takesValue && !inlineValue) {
      if (i + 1 >= Arguments.size())
        throw EUsageError("The option " + argument + " needs a value. See --help.");
      value = Arguments[++i];
    } else if (!*takesValue && inlineValue) {
      throw EUsageError("The option " + argument + " takes no value.");
    }
    if (argument == "--format") {
      options.Format = value;
    } else if (argument == "--out") {
      if (value.empty())
        throw EUsageError(
            "The option --out was given an empty folder name (an unset shell variable?). "
            "Name the output folder, or drop --out to write into the current folder.");
      options.OutDir = value;
    } else if (argument == "--jobs") {
      options.Jobs = IntegerOption(argument, value, 1, TCliOptions::MaxJobs);
    } else if (argument == "--name") {
      if (value.empty())
        throw EUsageError("The option --name needs a template, such as \"%n - %t\".");
      options.NameTemplate = value;
    } else if (argument == "--lookup") {
      LookupValue(value, options);
    } else if (argument == "--lookup-server") {
      options.LookupServer = value;
    } else if (argument == "--cddb-user") {
      options.CddbUser = CddbUserValue(value);
    } else if (argument == "--release") {
      options.Release = IntegerOption(argument, value, 1, 1000000,
                                      "the number of a match as the lookup lists them");
    } else if (argument == "--offset") {
      options.Offset = IntegerOption(argument, value, -TCliOptions::MaxOffset,
                                     TCliOptions::MaxOffset, "the drive's read offset in samples");
    } else if (argument == "--verify") {
      options.Verify = true;
    } else if (argument == "--retries") {
      options.Retries = IntegerOption(argument, value, 0, 20);
      retriesGiven = true;
    } else if (argument == "--log") {
      options.Log = true;
    } else if (argument == "--replaygain") {
      options.ReplayGain = true;
    } else if (argument == "--htoa") {
      options.HiddenTrackOne = true;
    } else if (argument == "--list") {
      options.List = true;
    } else if (argument == "--find-offset") {
      options.FindOffset = true;
    } else if (argument == "--keep-offset") {
      options.KeepOffset = true;
    } else if (argument == "--batch") {
      options.Batch = true;
    } else if (argument == "--help") {
      options.Help = true;
    } else if (argument == "--version") {
      options.Version = true;
    } else {
      options.FormatOptions.emplace_back(argument, value);
      formatOptionsSeen.emplace_back(argument, formatOption);
    }
  }
  if (!FindFormat(options.Format))
    throw EUsageError("Unknown format \"" + options.Format + "\": use " + FormatNames() + ".");
  for (const auto& [name, option] : formatOptionsSeen)
    if (!BelongsTo(*option, options.Format))
      throw EUsageError("The option " + name + " belongs to --format " + FormatsText(*option) +
                        ", not to --format " + options.Format + ".");
  CheckEveryOptionActs(options);
  if (options.ReplayGain && !FindFormat(options.Format)->Tagged)
    throw EUsageError("The option --replaygain writes tags, and " +
                      std::string(FindFormat(options.Format)->Title) +
                      " carries no tags: use it with a format that does (" + TaggedFormatNames() +
                      ").");
  CheckLookupOptionsAct(options);
  if (options.KeepOffset && !options.FindOffset)
    throw EUsageError(
        "The option --keep-offset has no effect without --find-offset: it keeps the offset "
        "found in cdr.ini.");
  if (options.FindOffset && options.Sources.size() > 1)
    throw EUsageError("The option --find-offset takes one drive (or none: the first drive).");
  if (retriesGiven && !options.Verify)
    throw EUsageError(
        "The option --retries has no effect without --verify: it sets the further reads when "
        "test and copy differ.");
  CheckBatchSources(options);
  // What test and copy and the database find is written down.
  options.Log = options.Log || options.Verify || options.AccurateRip;
  return options;
}

namespace {

constexpr size_t HelpColumn = 25;

// "  --option VALUE         help", the help's further lines in its column; on a line
// of its own when the option is too long for the column.
std::string UsageLines(const std::string& Option, const std::string& Help) {
  std::string text = "  " + Option;
  text += text.size() + 1 < HelpColumn ? std::string(HelpColumn - text.size(), ' ')
                                       : "\n" + std::string(HelpColumn, ' ');
  for (const char c : Help)
    text += c == '\n' ? "\n" + std::string(HelpColumn, ' ') : std::string(1, c);
  return text + "\n";
}

// Text whose lines after the first begin with two blanks.
std::string Indented(const std::string& Text) {
  std::string text;
  for (const char c : Text) text += c == '\n' ? std::string("\n  ") : std::string(1, c);
  return text;
}

std::string SettingLines(const TFormatSetting& Setting) {
  return UsageLines(
      std::string(Setting.Option) + (Setting.Value ? " " + std::string(Setting.Value) : ""),
      Setting.Help);
}

std::string FormatSection(const TOutputFormatInfo& Format) {
  std::string text =
      std::string(Format.Title) + " options" + (Format.Lossless ? " (lossless)" : "") + ":\n";
  for (const TFormatSetting& setting : Format.Settings) text += SettingLines(setting);
  if (Format.UsageNote) text += "  " + Indented(Format.UsageNote) + "\n";
  return text + "\n";
}

std::string TagSection() {
  std::string text = "Tag options (--format " + TaggedFormatNames() + "):\n";
  for (const TFormatSetting& setting : TagSettings()) text += SettingLines(setting);
  return text +
         R"(  MP3 keeps TITLE, ARTIST, ALBUM, DATE, TRACKNUMBER, DISCNUMBER, COMMENT and GENRE
  in ID3 fields of their own (whole in an ID3v2.3 tag, and in Latin-1, cut to 30
  characters, in an ID3v1 tag), any other NAME as a user text (TXXX) of that name;
  the other formats keep every tag as a comment: --title as TITLE, --artist as
  ARTIST, --album as ALBUM, --year as DATE, --track as TRACKNUMBER, --comment as
  COMMENT, --genre as GENRE.

)";
}

}  // namespace

std::string UsageText() {
  std::string names;
  for (const TOutputFormatInfo& format : OutputFormats())
    names += (names.empty() ? "" : "|") + std::string(format.Name);
  std::string general = R"(General options:
%FORMAT%  --out DIR              output folder, not empty (default: the current folder)
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
                         CRCs compared; a mismatch reads it again (implies --log);
                         with --lookup accuraterip, a track the database
                         confirms with confidence 2 or more is read once
  --retries N            further reads when test and copy differ (default 3)
  --log                  a rip log (checksums, verdicts, read counts, SHA-256)
                         and a cue sheet beside the files, one per disc; each
                         track's CRC and peak are printed
  --replaygain           ReplayGain 2.0 tags (EBU R128 loudness, -18 LUFS): each
                         file's track gain and peak, and its disc's album gain
                         and peak once the disc's last track is done (not WAV)
  --htoa                 rip the audio before track 1 (hidden track one audio)
                         as track 0, into a file of its own (e.g. "00 - Hidden
                         track" with --name "%n - %t"); the log and cue sheet
                         carry it as track 1's INDEX 00; a disc without it
                         gets a note
  --list                 show the drives and their tracks (and any hidden track
                         one audio before track 1), then exit
  --find-offset          find the read offset of the drive named (or of the first
                         drive) with a disc that the AccurateRip database knows:
                         a few tracks are read and every offset from -2940 to
                         +2940 samples tried (--lookup accuraterip=URL sets the
                         database's address), then exit
  --keep-offset          with --find-offset: keep the offset found in cdr.ini
  --batch [DRIVE...]     disc after disc: waits for a disc in any of the drives
                         (default: every drive), rips it whole into a folder of
                         its own under --out, ejects it and waits for the next,
                         until Ctrl-C; a line per disc, and a total at the end
  -h, --help             show this help, then exit
  --version              show the version, then exit

)";
  general.replace(
      general.find("%FORMAT%"), 8,
      UsageLines("--format " + names,
                 "output format (default: wav); the options of the other\nformats are refused"));
  std::string text = R"(Usage: korvane-cli [OPTIONS] [--] [SOURCE...]

Rips audio-CD tracks to files, one file per track, in the order given.
A SOURCE is a track entry (DRIVE/TrackNN.cda, as --list shows them), a disc image
(.cue, .toc, .nrg: all its audio tracks) or a CD device (all the tracks of its disc).
Without a SOURCE, every audio track of the first drive is ripped.
Every word after -- is a SOURCE, also one whose name starts with "-".

)" + general;
  for (const TOutputFormatInfo& format : OutputFormats()) text += FormatSection(format);
  return text + TagSection() +
         R"(An option that would have no effect is a usage error, which says why. Numbers
are plain decimal digits (no blanks, no "+"); an empty SOURCE is a usage error.

Output: a line per track as it ends; "NAME: Failed: REASON" and, for a track
whose file no read confirms (--verify), "NAME: Suspicious: REASON" go to standard
error, the rest to standard output, which ends with a summary such as
"10 done, 1 failed, 0 aborted" ("9 done, 1 suspicious, 0 failed, 0 aborted").
A track read from a drive that needed re-reads or corrections gets a line with
their counts.
A track that fails part of the way, or is aborted, never replaces a file of its
name: what was written is kept beside it as "NAME (incomplete).EXT" when it holds
audio that decodes.
Ctrl-C (SIGINT) or SIGTERM aborts: the files being written are finished as far
as they got, the rest is skipped.
Exit status: 0 all done, 1 a track failed or is suspicious or a source cannot be
read, 2 a usage error, 130 aborted by SIGINT and 143 by SIGTERM (128 + the
signal's number; also how --batch ends).
)";
}
