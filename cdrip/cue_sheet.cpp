#include "cue_sheet.h"

#include <libcue/libcue.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>

namespace cdrip {
namespace {

constexpr int32_t SectorsPerSecond = 75;
constexpr int MaxSession = 99;

// An INDEX 00 or 01 line as the scan met it; libcue gives its position.
struct ScannedIndex {
  int Track;
  int Index;
  int File;
};

// What the scan of the sheet's text found, and the lines handed on to libcue.
struct Scan {
  CueSheet Sheet;
  std::vector<ScannedIndex> Indexes;
  std::string CanonicalText;
};

const std::regex FileLine(R"re(FILE\s+(?:"([^"]*)"|(\S+))\s+(\S+)\s*)re", std::regex::icase);
const std::regex TrackLine(R"re(TRACK\s+(\d{1,2})\s+(\S+)\s*)re", std::regex::icase);
const std::regex IndexLine(R"re(INDEX\s+(\d{1,2})\s+(\d{1,3}):(\d{1,2}):(\d{1,2})\s*)re",
                           std::regex::icase);
const std::regex GapLine(R"re((PREGAP|POSTGAP)\s+(\d{1,3}):(\d{1,2}):(\d{1,2})\s*)re",
                         std::regex::icase);
const std::regex SessionLine(R"re(REM\s+SESSION\s+(\d{1,2})\b.*)re", std::regex::icase);

std::string Upper(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return Text;
}

std::string Trim(const std::string& Text) {
  const size_t first = Text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const size_t last = Text.find_last_not_of(" \t\r");
  return Text.substr(first, last - first + 1);
}

bool HasControlCharacters(const std::string& Text) {
  return std::any_of(Text.begin(), Text.end(), [](unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f;
  });
}

std::optional<FileKind> KindOf(const std::string& Type) {
  const std::string type = Upper(Type);
  if (type == "BINARY") return FileKind::Binary;
  if (type == "MOTOROLA") return FileKind::Motorola;
  if (type == "WAVE") return FileKind::Wave;
  return std::nullopt;
}

bool KnownTrackMode(const std::string& Mode) {
  static const char* const modes[] = {"AUDIO", "MODE1/2048", "MODE1/2352", "MODE2/2336",
                                      "MODE2/2352"};
  return std::find(std::begin(modes), std::end(modes), Upper(Mode)) != std::end(modes);
}

// "MM:SS:FF" from the matched groups First .. First + 2; nothing when out of range.
std::optional<int32_t> TimeOf(const std::smatch& Match, size_t First) {
  const int minutes = std::stoi(Match[First].str());
  const int seconds = std::stoi(Match[First + 1].str());
  const int frames = std::stoi(Match[First + 2].str());
  if (seconds >= 60 || frames >= SectorsPerSecond) return std::nullopt;
  return (minutes * 60 + seconds) * SectorsPerSecond + frames;
}

std::string TimeText(int32_t Sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", Sectors / SectorsPerSecond / 60,
                Sectors / SectorsPerSecond % 60, Sectors % SectorsPerSecond);
  return text;
}

class Scanner {
 public:
  std::optional<Scan> Run(const std::string& Text);

 private:
  bool Line(const std::string& Line);
  bool FileCommand(const std::smatch& Match);
  bool TrackCommand(const std::smatch& Match);
  bool IndexCommand(const std::smatch& Match);
  bool GapCommand(const std::smatch& Match);
  void Emit(const std::string& Line) { Result_.CanonicalText += Line + '\n'; }
  CueTrack* CurrentTrack() {
    return Result_.Sheet.Tracks.empty() ? nullptr : &Result_.Sheet.Tracks.back();
  }

  Scan Result_;
  int Session_ = 1;
  std::vector<bool> HasIndex1_;
};

std::optional<Scan> Scanner::Run(const std::string& Text) {
  std::string body = Text;
  if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);
  if (HasControlCharacters(body)) return std::nullopt;
  std::istringstream lines(body);
  std::string line;
  while (std::getline(lines, line)) {
    if (!Line(Trim(line))) return std::nullopt;
  }
  const bool everyTrackStarts =
      std::all_of(HasIndex1_.begin(), HasIndex1_.end(), [](bool has) { return has; });
  if (Result_.Sheet.Tracks.empty() || !everyTrackStarts) return std::nullopt;
  return std::move(Result_);
}

// Layout lines are checked and passed on; a line that only describes (titles, flags,
// catalogue numbers, remarks) is left out.
bool Scanner::Line(const std::string& Text) {
  if (Text.empty()) return true;
  const std::string keyword = Upper(Text.substr(0, Text.find_first_of(" \t")));
  std::smatch match;
  if (keyword == "REM") {
    if (std::regex_match(Text, match, SessionLine)) {
      Session_ = std::stoi(match[1].str());
      return Session_ >= 1 && Session_ <= MaxSession;
    }
    return true;
  }
  if (keyword == "FILE") return std::regex_match(Text, match, FileLine) && FileCommand(match);
  if (keyword == "TRACK") return std::regex_match(Text, match, TrackLine) && TrackCommand(match);
  if (keyword == "INDEX") return std::regex_match(Text, match, IndexLine) && IndexCommand(match);
  if (keyword == "PREGAP" || keyword == "POSTGAP")
    return std::regex_match(Text, match, GapLine) && GapCommand(match);
  return true;
}

bool Scanner::FileCommand(const std::smatch& Match) {
  const std::string name = Match[1].matched ? Match[1].str() : Match[2].str();
  const std::optional<FileKind> kind = KindOf(Match[3].str());
  if (name.empty() || !kind) return false;
  Result_.Sheet.Files.push_back(CueFile{name, *kind});
  Emit("FILE \"" + name + "\" " + Upper(Match[3].str()));
  return true;
}

bool Scanner::TrackCommand(const std::smatch& Match) {
  const int number = std::stoi(Match[1].str());
  if (Result_.Sheet.Files.empty() || number < 1 || !KnownTrackMode(Match[2].str())) return false;
  CueTrack track;
  track.Number = number;
  track.Session = Session_;
  Result_.Sheet.Tracks.push_back(track);
  HasIndex1_.push_back(false);
  char line[32];
  std::snprintf(line, sizeof line, "  TRACK %02d ", number);
  Emit(line + Upper(Match[2].str()));
  return true;
}

bool Scanner::IndexCommand(const std::smatch& Match) {
  const int index = std::stoi(Match[1].str());
  const std::optional<int32_t> position = TimeOf(Match, 2);
  if (!CurrentTrack() || !position) return false;
  const int track = static_cast<int>(Result_.Sheet.Tracks.size()) - 1;
  if (index <= 1) {
    // INDEX 00 must come before INDEX 01, and each only once.
    const bool seen =
        std::any_of(Result_.Indexes.begin(), Result_.Indexes.end(),
                    [&](const ScannedIndex& i) { return i.Track == track && i.Index >= index; });
    if (seen) return false;
    const int file = static_cast<int>(Result_.Sheet.Files.size()) - 1;
    Result_.Indexes.push_back(ScannedIndex{track, index, file});
    if (index == 1) HasIndex1_[static_cast<size_t>(track)] = true;
  }
  char line[32];
  std::snprintf(line, sizeof line, "    INDEX %02d ", index);
  Emit(line + TimeText(*position));
  return true;
}

bool Scanner::GapCommand(const std::smatch& Match) {
  const std::optional<int32_t> length = TimeOf(Match, 2);
  CueTrack* track = CurrentTrack();
  if (!track || !length) return false;
  const std::string which = Upper(Match[1].str());
  (which == "PREGAP" ? track->Pregap : track->Postgap) = *length;
  Emit("    " + which + " " + TimeText(*length));
  return true;
}

int32_t SectorBytesOf(TrackMode Mode) {
  switch (Mode) {
    case MODE_MODE1:
    case MODE_MODE2_FORM1:
      return 2048;
    case MODE_MODE2:
      return 2336;
    case MODE_MODE2_FORM2:
      return 2324;
    case MODE_MODE2_FORM_MIX:
      return 2332;
    default:
      return 2352;
  }
}

struct CdDeleter {
  void operator()(Cd* Disc) const { cd_delete(Disc); }
};

// Completes the scan with what libcue parsed: track modes and index positions.
bool ApplyLibcue(const Cd& Disc, Scan& Scanned) {
  std::vector<CueTrack>& tracks = Scanned.Sheet.Tracks;
  if (cd_get_ntrack(&Disc) != static_cast<int>(tracks.size())) return false;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const Track* parsed = cd_get_track(&Disc, static_cast<int>(i) + 1);
    if (!parsed) return false;
    tracks[i].Audio = track_get_mode(parsed) == MODE_AUDIO;
    tracks[i].SectorBytes = SectorBytesOf(track_get_mode(parsed));
  }
  for (const ScannedIndex& index : Scanned.Indexes) {
    const Track* parsed = cd_get_track(&Disc, index.Track + 1);
    const long position = track_get_index(parsed, index.Index);
    if (position < 0) return false;
    Scanned.Sheet.Marks.push_back(
        CueMark{index.Track, index.Index, index.File, static_cast<int32_t>(position)});
  }
  return true;
}

// Within one file the marks must not run backwards.
bool MarksAscend(const std::vector<CueMark>& Marks) {
  for (size_t i = 1; i < Marks.size(); ++i) {
    if (Marks[i].File == Marks[i - 1].File && Marks[i].Position < Marks[i - 1].Position)
      return false;
    if (Marks[i].File < Marks[i - 1].File) return false;
  }
  return true;
}

}  // namespace

std::optional<CueSheet> ParseCueSheet(const std::string& Text) {
  std::optional<Scan> scanned = Scanner().Run(Text);
  if (!scanned) return std::nullopt;
  std::unique_ptr<Cd, CdDeleter> disc(cue_parse_string(scanned->CanonicalText.c_str()));
  if (!disc || !ApplyLibcue(*disc, *scanned) || !MarksAscend(scanned->Sheet.Marks))
    return std::nullopt;
  return std::move(scanned->Sheet);
}

}  // namespace cdrip
