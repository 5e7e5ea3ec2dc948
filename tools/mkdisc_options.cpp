#include "mkdisc_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>

namespace korvane::discimage {
namespace {

constexpr int kDefaultTracks = 3;
constexpr double kDefaultSeconds = 10;
constexpr int kDefaultDataSectors = 300;

const char kUsage[] =
    "Usage: korvane-mkdisc [options] OUT.cue\n"
    "       korvane-mkdisc [options] --toc OUT.toc\n"
    "       korvane-mkdisc [options] [--tao] [--nrg-v1] OUT.nrg\n"
    "Writes a disc image (a cue sheet and the files it names) with generated or WAV audio.\n"
    "\n"
    "The disc:\n"
    "  --tracks N           number of tracks, data track included, 1..99 (default 3, or one\n"
    "                       per --wav file)\n"
    "  --seconds LIST       length of each audio track in seconds, comma-separated; the last\n"
    "                       value repeats; fractions are rounded to whole sectors (default 10)\n"
    "  --sectors LIST       length of each audio track in sectors (75 a second), exactly\n"
    "  --content LIST       audio of each track: tone[:HZ], chord[:HZ], noise, silence, ramp,\n"
    "                       music; the last value repeats (default music)\n"
    "  --seed N             seed of the generated audio and data (default 1)\n"
    "  --wav FILE           take the next audio track from a 16-bit 44100 Hz WAV file\n"
    "                       (repeatable; its length comes from the file)\n"
    "  --data-track first|last  make the first or the last track a MODE1/2352 data track\n"
    "  --data-sectors N     length of the data track in sectors (default 300)\n"
    "  --enhanced           the data track is last and alone in a second session\n"
    "  --pregap LIST        sectors of INDEX 00 before INDEX 01 for tracks 2..N; the last\n"
    "                       value repeats (default 0)\n"
    "  --hidden SECONDS[:CONTENT]  audio before track 1's INDEX 01 (hidden track one\n"
    "                       audio, from INDEX 00 at the disc's start): tone[:HZ], noise or\n"
    "                       silence (default tone); --expect writes it as track00.pcm\n"
    "\n"
    "The files:\n"
    "  --bin-name NAME      name of the disc's one BINARY file (default: OUT's name + .bin)\n"
    "  --split              one BINARY file per track\n"
    "  --wave               one WAVE file per audio track\n"
    "  --motorola           MOTOROLA (big-endian samples) in place of BINARY\n"
    "  --toc                write a cdrdao .toc file instead of a cue sheet\n"
    "  --tao                OUT.nrg lists its tracks as written track at once, without\n"
    "                       pregaps (default: disc at once, pregaps stored)\n"
    "  --nrg-v1             OUT.nrg in the 32-bit chunks of the image format's version 1\n"
    "\n"
    "What a ripper must get:\n"
    "  --expect DIR         write DIR/trackNN.pcm, the exact PCM each audio track yields\n"
    "                       (16-bit stereo little-endian, from INDEX 01 to the next INDEX 01)\n"
    "  --print              print each track's start LSN, sectors, bytes to rip and the\n"
    "                       FNV-1a 64 of its PCM, then the lead-out LSN\n"
    "  --help, -h           show this text\n"
    "\n"
    "The lists of --seconds, --sectors, --content and --wav count audio tracks only; the\n"
    "data track is sized by --data-sectors. OUT may be left out with --print or --expect.\n";

// The options as given, before they are turned into a disc.
struct Options {
  std::optional<int> tracks;
  std::vector<std::string> seconds;
  std::vector<std::string> sectors;
  std::vector<std::string> contents;
  std::optional<std::string> seed;
  std::vector<std::string> wavs;
  std::optional<std::string> dataTrack;
  std::optional<std::string> dataSectors;
  bool enhanced = false;
  std::vector<std::string> pregaps;
  std::optional<std::string> hidden;
  std::optional<std::string> binName;
  bool split = false;
  bool wave = false;
  bool motorola = false;
  bool toc = false;
  bool tao = false;
  bool nrgVersion1 = false;
  std::string expectDir;
  bool print = false;
  bool help = false;
  std::string out;
};

[[noreturn]] void usage(const std::string& message) { throw EUsageError(message); }

std::vector<std::string> splitList(const std::string& option, const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    items.push_back(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (items.back().empty())
      usage(option + " \"" + text + "\" has an empty entry: give comma-separated values, e.g. " +
            option + " 30,45");
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

long long parseWhole(const std::string& option, const std::string& text, long long low,
                     long long high, const std::string& meaning) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    usage(option + " takes " + meaning + " from " + std::to_string(low) + " to " +
          std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

double parseSeconds(const std::string& text, const std::string& option = "--seconds") {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 6000) {
    usage(option + " takes lengths in seconds above 0 (e.g. 30 or 2.5), not \"" + text + "\"");
  }
  return value;
}

template <typename T>
const T& pick(const std::vector<T>& list, size_t index) {
  return list[std::min(index, list.size() - 1)];
}

// ---------------------------------------------------------------------------------
// Reading the arguments

enum class Takes { Nothing, Value };

const std::map<std::string, Takes>& knownOptions() {
  static const std::map<std::string, Takes> options = {
      {"--tracks", Takes::Value},     {"--seconds", Takes::Value},
      {"--sectors", Takes::Value},    {"--content", Takes::Value},
      {"--seed", Takes::Value},       {"--wav", Takes::Value},
      {"--data-track", Takes::Value}, {"--data-sectors", Takes::Value},
      {"--enhanced", Takes::Nothing}, {"--pregap", Takes::Value},
      {"--hidden", Takes::Value},     {"--bin-name", Takes::Value},
      {"--split", Takes::Nothing},    {"--wave", Takes::Nothing},
      {"--motorola", Takes::Nothing}, {"--toc", Takes::Nothing},
      {"--tao", Takes::Nothing},      {"--nrg-v1", Takes::Nothing},
      {"--expect", Takes::Value},     {"--print", Takes::Nothing},
      {"--help", Takes::Nothing}};
  return options;
}

void applyOption(Options& options, const std::string& name, const std::string& value) {
  if (name == "--tracks")
    options.tracks =
        int(parseWhole(name, value, 1, kMaxTracks, "a track count (a CD holds at most 99 tracks)"));
  else if (name == "--seconds")
    options.seconds = splitList(name, value);
  else if (name == "--sectors")
    options.sectors = splitList(name, value);
  else if (name == "--content")
    options.contents = splitList(name, value);
  else if (name == "--seed")
    options.seed = value;
  else if (name == "--wav")
    options.wavs.push_back(value);
  else if (name == "--data-track")
    options.dataTrack = value;
  else if (name == "--data-sectors")
    options.dataSectors = value;
  else if (name == "--enhanced")
    options.enhanced = true;
  else if (name == "--pregap")
    options.pregaps = splitList(name, value);
  else if (name == "--hidden")
    options.hidden = value;
  else if (name == "--bin-name")
    options.binName = value;
  else if (name == "--split")
    options.split = true;
  else if (name == "--wave")
    options.wave = true;
  else if (name == "--motorola")
    options.motorola = true;
  else if (name == "--toc")
    options.toc = true;
  else if (name == "--tao")
    options.tao = true;
  else if (name == "--nrg-v1")
    options.nrgVersion1 = true;
  else if (name == "--expect")
    options.expectDir = value;
  else if (name == "--print")
    options.print = true;
  else if (name == "--help")
    options.help = true;
}

Options readOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i] == "-h" ? std::string("--help") : args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (!options.out.empty())
        usage("give one output file only (got \"" + options.out + "\" and \"" + arg + "\")");
      options.out = arg;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto known = knownOptions().find(name);
    if (known == knownOptions().end())
      usage("unknown option " + name + ": see korvane-mkdisc --help");
    std::string value;
    if (known->second == Takes::Value) {
      if (equals != std::string::npos)
        value = arg.substr(equals + 1);
      else if (i + 1 < args.size())
        value = args[++i];
      else
        usage(name + " needs a value: see korvane-mkdisc --help");
    } else if (equals != std::string::npos) {
      usage(name + " takes no value");
    }
    applyOption(options, name, value);
  }
  return options;
}

// ---------------------------------------------------------------------------------
// Building the disc

struct Content {
  TrackContent kind = TrackContent::Music;
  double hz = 0;
};

Content parseContent(const std::string& text) {
  static const std::map<std::string, TrackContent> kinds = {
      {"tone", TrackContent::Tone},   {"chord", TrackContent::Chord},
      {"noise", TrackContent::Noise}, {"silence", TrackContent::Silence},
      {"ramp", TrackContent::Ramp},   {"music", TrackContent::Music}};
  const size_t colon = text.find(':');
  const auto kind = kinds.find(text.substr(0, colon));
  if (kind == kinds.end()) {
    usage("--content: unknown content \"" + text +
          "\"; choose tone[:HZ], chord[:HZ], noise, silence, ramp or music");
  }
  Content content{kind->second, 0};
  if (colon != std::string::npos) {
    if (content.kind != TrackContent::Tone && content.kind != TrackContent::Chord) {
      usage("--content: only tone and chord take a frequency, not \"" + text + "\"");
    }
    content.hz = double(parseWhole("--content " + text.substr(0, colon) + ":HZ",
                                   text.substr(colon + 1), 1, 20000, "a frequency in Hz"));
  }
  return content;
}

int audioSectors(const Options& options, size_t audioIndex) {
  if (!options.sectors.empty()) {
    return int(parseWhole("--sectors", pick(options.sectors, audioIndex), 1, kMaxDiscSectors,
                          "a track length in sectors"));
  }
  const double seconds =
      options.seconds.empty() ? kDefaultSeconds : parseSeconds(pick(options.seconds, audioIndex));
  const int sectors = int(std::lround(seconds * kSectorsPerSecond));
  if (sectors < 1) {
    usage("--seconds " + pick(options.seconds, audioIndex) +
          " rounds to no sector at all: give at least 1/75 s");
  }
  return sectors;
}

TrackSpec audioTrack(const Options& options, size_t audioIndex) {
  if (audioIndex < options.wavs.size()) return loadWaveTrack(options.wavs[audioIndex]);
  TrackSpec track;
  if (!options.contents.empty()) {
    const Content content = parseContent(pick(options.contents, audioIndex));
    track.content = content.kind;
    track.toneHz = content.hz;
  }
  track.sectors = audioSectors(options, audioIndex);
  return track;
}

TrackSpec dataTrack(const Options& options) {
  TrackSpec track;
  track.content = TrackContent::Data;
  track.sectors = options.dataSectors ? int(parseWhole("--data-sectors", *options.dataSectors, 1,
                                                       kMaxDiscSectors, "a length in sectors"))
                                      : kDefaultDataSectors;
  return track;
}

// --hidden SECONDS[:CONTENT]: the audio before track 1.
void applyHidden(const std::string& text, DiscSpec& disc) {
  const size_t colon = text.find(':');
  const std::string seconds = text.substr(0, colon);
  disc.hiddenSectors = int(std::lround(parseSeconds(seconds, "--hidden") * kSectorsPerSecond));
  if (disc.hiddenSectors < 1) usage("--hidden " + seconds + " rounds to no sector at all");
  if (colon == std::string::npos) return;
  const Content content = parseContent(text.substr(colon + 1));
  if (content.kind != TrackContent::Tone && content.kind != TrackContent::Noise &&
      content.kind != TrackContent::Silence)
    usage("--hidden takes tone[:HZ], noise or silence, not \"" + text.substr(colon + 1) + "\"");
  disc.hiddenContent = content.kind;
  disc.hiddenToneHz = content.hz;
}

bool dataFirst(const Options& options) {
  if (!options.dataTrack) return false;
  if (*options.dataTrack != "first" && *options.dataTrack != "last") {
    usage("--data-track takes first or last, not \"" + *options.dataTrack + "\"");
  }
  if (options.enhanced && *options.dataTrack == "first") {
    usage("--enhanced puts the data track last, in its own session: drop --data-track first");
  }
  return *options.dataTrack == "first";
}

DiscSpec buildDisc(const Options& options) {
  if (!options.seconds.empty() && !options.sectors.empty())
    usage("give either --seconds or --sectors, not both");
  const bool hasData = options.dataTrack.has_value() || options.enhanced;
  if (options.dataSectors && !hasData)
    usage("--data-sectors sizes the data track: add --data-track first|last or --enhanced");
  const bool first = dataFirst(options);
  const int dataCount = hasData ? 1 : 0;
  const int trackCount = options.tracks.value_or(
      options.wavs.empty() ? kDefaultTracks : int(options.wavs.size()) + dataCount);
  if (trackCount > kMaxTracks)
    usage("a CD holds at most 99 tracks: " + std::to_string(options.wavs.size()) +
          " WAV files and a data track are too many");
  const int audioCount = trackCount - dataCount;
  if (options.enhanced && audioCount < 1)
    usage(
        "--enhanced needs at least one audio track before the data track: give --tracks 2 or more");
  if (size_t(std::max(audioCount, 0)) < options.wavs.size()) {
    usage("--tracks " + std::to_string(trackCount) + " leaves room for " +
          std::to_string(audioCount) + " audio track(s), but " +
          std::to_string(options.wavs.size()) + " WAV files were given");
  }
  DiscSpec disc;
  disc.enhanced = options.enhanced;
  if (options.seed)
    disc.seed = uint32_t(parseWhole("--seed", *options.seed, 0, 4294967295LL, "a seed"));
  if (hasData && first) disc.tracks.push_back(dataTrack(options));
  for (int i = 0; i < audioCount; ++i) disc.tracks.push_back(audioTrack(options, size_t(i)));
  if (hasData && !first) disc.tracks.push_back(dataTrack(options));
  if (options.hidden) {
    if (hasData && first) usage("--hidden goes before an audio track 1: drop --data-track first");
    applyHidden(*options.hidden, disc);
  }
  for (size_t i = 1; i < disc.tracks.size() && !options.pregaps.empty(); ++i) {
    const bool secondSession = disc.enhanced && i + 1 == disc.tracks.size();
    if (secondSession) continue;  // the gap between the sessions stands in for its pregap
    disc.tracks[i].pregapSectors =
        int(parseWhole("--pregap", pick(options.pregaps, i - 1), 0, 45000, "a pregap in sectors"));
  }
  return disc;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

// A Nero .nrg image: one file that holds the whole disc and its tables.
ImageLayout nrgLayout(const Options& options) {
  if (options.toc) usage("--toc writes a .toc file: name the output OUT.toc");
  if (options.split || options.wave || options.motorola || options.binName) {
    usage(
        "a .nrg image is one file holding the whole disc: drop --split, --wave, --motorola and "
        "--bin-name");
  }
  ImageLayout layout;
  layout.sheet = SheetKind::Nrg;
  layout.nrg.trackAtOnce = options.tao;
  layout.nrg.version1 = options.nrgVersion1;
  return layout;
}

ImageLayout buildLayout(const Options& options) {
  const bool nrgName = endsWith(options.out, ".nrg");
  if ((options.tao || options.nrgVersion1) && !nrgName) {
    usage("--tao and --nrg-v1 shape a Nero image: name the output OUT.nrg");
  }
  if (nrgName) return nrgLayout(options);
  ImageLayout layout;
  const bool tocName = endsWith(options.out, ".toc");
  if (options.toc || tocName) {
    if (!tocName && !options.out.empty())
      usage("--toc writes a .toc file: name the output OUT.toc");
    if (options.enhanced)
      usage("a .toc file cannot describe the second session of --enhanced: write a cue sheet");
    layout.sheet = SheetKind::Toc;
  } else if (!options.out.empty() && !endsWith(options.out, ".cue")) {
    usage("the output \"" + options.out +
          "\" must be a cue sheet named *.cue (or, with --toc, *.toc; or a Nero image *.nrg)");
  }
  if (options.wave && options.motorola)
    usage("--wave and --motorola exclude each other: WAVE files hold little-endian samples");
  if (options.binName && (options.split || options.wave)) {
    usage(
        "--bin-name names the disc's one file; with --split or --wave every track has its own "
        "file");
  }
  if (options.binName && options.binName->empty()) usage("--bin-name needs a file name");
  layout.filePerTrack = options.split || options.wave;
  layout.audioFiles = options.wave       ? AudioFileKind::Wave
                      : options.motorola ? AudioFileKind::Motorola
                                         : AudioFileKind::Binary;
  layout.binName = options.binName.value_or("");
  return layout;
}

}  // namespace

MkdiscRequest parseMkdiscArguments(const std::vector<std::string>& args) {
  const Options options = readOptions(args);
  MkdiscRequest request;
  request.help = options.help;
  if (options.help) return request;
  if (options.out.empty() && !options.print && options.expectDir.empty()) {
    usage("nothing to do: give the cue sheet to write (OUT.cue), or --print or --expect DIR");
  }
  request.layout = buildLayout(options);
  request.disc = buildDisc(options);
  request.sheetPath = options.out;
  request.expectDir = options.expectDir;
  request.print = options.print;
  validateDisc(request.disc);
  validateLayout(request.disc, request.layout);
  return request;
}

const char* mkdiscUsage() { return kUsage; }

}  // namespace korvane::discimage
