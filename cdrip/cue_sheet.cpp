#include "cue_sheet.h"

#include <libcue/libcue.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "file_handle.h"
#include "image_error.h"
#include "text_case.h"

namespace cdrip {
namespace {

constexpr int32_t SectorsPerSecond = 75;
constexpr int MaxSession = 99;
constexpr int MaxTrackNumber = 99;
// The last address of a CD, 99:59:74, as a sector count.
constexpr int32_t MaxCdTime = (99 * 60 + 59) * SectorsPerSecond + 74;

// An INDEX 00 or 01 line as the scan met it; libcue gives its position.
struct ScannedIndex {
  int Track;
  int Index;
  int File;
  int Line;
};

// What the scan of the sheet's text found, and the lines handed on to libcue.
struct Scan {
  CueSheet Sheet;
  std::vector<ScannedIndex> Indexes;
  std::string CanonicalText;
};

bool HasControlCharacters(const std::string& Text) {
  return std::any_of(Text.begin(), Text.end(), [](unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f;
  });
}

// The words of a line, split at blanks; nothing here is quoted.
std::vector<std::string> Words(const std::string& Text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = Text.find_first_not_of(" \t", at)) != std::string::npos) {
    const size_t end = std::min(Text.find_first_of(" \t", at), Text.size());
    words.push_back(Text.substr(at, end - at));
    at = end;
  }
  return words;
}

bool IsNumber(const std::string& Text, size_t MaxDigits) {
  return !Text.empty() && Text.size() <= MaxDigits &&
         std::all_of(Text.begin(), Text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::optional<FileKind> KindOf(const std::string& Type) {
  const std::string type = Upper(Type);
  if (type == "BINARY") return FileKind::Binary;
  if (type == "MOTOROLA") return FileKind::Motorola;
  if (type == "WAVE") return FileKind::Wave;
  return std::nullopt;
}

// Bytes a sector of the track takes in its file: "MODE1/2048" → 2048. A mode without
// a size, or one this library does not know, is a data track of raw sectors.
int32_t SectorBytesOfMode(const std::string& Mode) {
  if (Mode == "CDG") return 2448;
  const size_t slash = Mode.find('/');
  if (slash == std::string::npos || !IsNumber(Mode.substr(slash + 1), 4)) return 2352;
  const int bytes = std::stoi(Mode.substr(slash + 1));
  return bytes >= 2048 && bytes <= 2448 ? bytes : 2352;
}

class Scanner {
 public:
  explicit Scanner(const std::string& Path) : Path_(Path) {}
  Scan Run(const std::string& Text);

 private:
  void Line(const std::string& Text);
  void FileCommand(const std::string& Rest);
  void TrackCommand(const std::vector<std::string>& Words);
  void IndexCommand(const std::vector<std::string>& Words);
  void GapCommand(const std::string& Which, const std::vector<std::string>& Words);
  void Remark(const std::string& Text, const std::vector<std::string>& Words);
  void TextCommand(TextField Field, const std::string& Value);
  void CodeCommand(TextField Field, const std::vector<std::string>& Words, size_t Length);
  int32_t Time(const std::string& Text) const;
  [[noreturn]] void Refuse(const std::string& What) const {
    throw EImageError(LineMessage(Path_, LineNumber_, What));
  }
  void Emit(const std::string& Line) { Result_.CanonicalText += Line + '\n'; }
  CueTrack& CurrentTrack();
  void FinishTrack();

  const std::string& Path_;
  Scan Result_;
  int Session_ = 1;
  int LineNumber_ = 0;
  int LastIndex_ = -1;       // of the current track
  int LastSheetNumber_ = 0;  // the number the sheet gave the last TRACK
  bool TrackHasIndex0_ = false;
  bool TrackHasIndex1_ = false;
  bool FileAwaitsTrack_ = false;  // a FILE line that no TRACK has taken up yet
};

Scan Scanner::Run(const std::string& Text) {
  for (const TextLine& line : SplitTextLines(Text, Path_)) {
    LineNumber_ = line.Number;
    if (HasControlCharacters(line.Text))
      Refuse("the line holds control characters: not a cue sheet.");
    Line(Trim(line.Text));
  }
  if (Result_.Sheet.Tracks.empty()) throw EImageError(Path_ + ": the sheet names no track.");
  FinishTrack();
  return std::move(Result_);
}

// Layout lines are checked and passed on; a line that only describes (titles, flags,
// catalogue numbers, CD-Text, remarks) is left out.
void Scanner::Line(const std::string& Text) {
  if (Text.empty()) return;
  const std::vector<std::string> words = Words(Text);
  const std::string keyword = Upper(words.front());
  if (keyword == "REM") return Remark(Text, words);
  if (keyword == "TITLE") return TextCommand(TextField::Title, Text.substr(words.front().size()));
  if (keyword == "PERFORMER")
    return TextCommand(TextField::Performer, Text.substr(words.front().size()));
  if (keyword == "SONGWRITER")
    return TextCommand(TextField::Songwriter, Text.substr(words.front().size()));
  if (keyword == "CATALOG") return CodeCommand(TextField::Catalog, words, 13);
  if (keyword == "ISRC") return CodeCommand(TextField::Isrc, words, 12);
  if (keyword == "FILE") return FileCommand(Trim(Text.substr(words.front().size())));
  if (keyword == "TRACK") return TrackCommand(words);
  if (keyword == "INDEX") return IndexCommand(words);
  if (keyword == "PREGAP" || keyword == "POSTGAP") return GapCommand(keyword, words);
}

// A text as the sheet gives it: in quotes (up to the closing one) or a bare word run,
// in UTF-8, or else in Latin-1, which is what sheets not in UTF-8 mostly are.
std::string SheetText(const std::string& Value) {
  std::string text = Trim(Value);
  if (text.size() >= 1 && text.front() == '"') {
    const size_t close = text.find('"', 1);
    text = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return IsUtf8(text) ? text : Latin1ToUtf8(text);
}

// CATALOG (13 digits, the disc's) and ISRC (12 letters and digits, a track's); a code
// of another form is passed over as the drive would not give it either.
void Scanner::CodeCommand(TextField Field, const std::vector<std::string>& Words, size_t Length) {
  if (Words.size() < 2 || Words[1].size() != Length) return;
  if (!std::all_of(Words[1].begin(), Words[1].end(),
                   [](unsigned char c) { return std::isalnum(c) != 0; }))
    return;
  if (Field == TextField::Catalog && !Result_.Sheet.Tracks.empty()) return;
  TextCommand(Field, Words[1]);
}

void Scanner::TextCommand(TextField Field, const std::string& Value) {
  const int track = Result_.Sheet.Tracks.empty() ? 0 : Result_.Sheet.Tracks.back().Number;
  Result_.Sheet.Text.Set(track, Field, SheetText(Value));
}

// REM SESSION n places the tracks that follow; REM DATE and REM GENRE are texts.
void Scanner::Remark(const std::string& Text, const std::vector<std::string>& Words) {
  if (Words.size() < 3) return;
  const std::string what = Upper(Words[1]);
  const std::string value = Text.substr(Text.find(Words[1]) + Words[1].size());
  if (what == "DATE") return TextCommand(TextField::Date, value);
  if (what == "GENRE") return TextCommand(TextField::Genre, value);
  if (what != "SESSION") return;
  if (!IsNumber(Words[2], 2) || std::stoi(Words[2]) < 1 || std::stoi(Words[2]) > MaxSession)
    Refuse("REM SESSION takes a session number from 1 to 99.");
  const int session = std::stoi(Words[2]);
  if (session < Session_)
    Refuse("REM SESSION " + Words[2] + " comes after session " + std::to_string(Session_) +
           ": the sessions of a disc follow one another.");
  Session_ = session;
}

// FILE "name" TYPE, or FILE name TYPE where the name is everything before the type.
void Scanner::FileCommand(const std::string& Rest) {
  std::string name;
  std::string type;
  if (!Rest.empty() && Rest.front() == '"') {
    const size_t close = Rest.find('"', 1);
    if (close == std::string::npos) Refuse("the file name has no closing quote.");
    name = Rest.substr(1, close - 1);
    type = Trim(Rest.substr(close + 1));
  } else {
    const size_t blank = Rest.find_last_of(" \t");
    if (blank != std::string::npos) {
      name = Trim(Rest.substr(0, blank));
      type = Rest.substr(blank + 1);
    }
  }
  if (name.empty() || name.find('"') != std::string::npos) Refuse("FILE names no file.");
  // A FILE inside a track before its INDEX 01 holds the rest of that track; any other
  // FILE waits for the TRACK that reads it, and two cannot wait at once.
  if (Result_.Sheet.Tracks.empty() || TrackHasIndex1_) {
    if (FileAwaitsTrack_) Refuse("a second FILE line before any TRACK reads the first one.");
    FileAwaitsTrack_ = true;
  }
  const std::optional<FileKind> kind = KindOf(type);
  if (!kind)
    Refuse("the file type \"" + type + "\" cannot be read; BINARY, MOTOROLA and WAVE can.");
  Result_.Sheet.Files.push_back(CueFile{name, *kind});
  Emit("FILE \"" + name + "\" " + Upper(type));
}

void Scanner::TrackCommand(const std::vector<std::string>& Words) {
  if (Result_.Sheet.Files.empty()) Refuse("TRACK comes before any FILE.");
  if (Words.size() != 3 || !IsNumber(Words[1], 2) || std::stoi(Words[1]) < 1)
    Refuse("TRACK takes a number from 1 to 99 and a mode.");
  if (Result_.Sheet.Tracks.size() >= static_cast<size_t>(MaxTrackNumber))
    Refuse("a disc holds at most 99 tracks.");
  const int sheetNumber = std::stoi(Words[1]);
  if (sheetNumber <= LastSheetNumber_)
    Refuse("TRACK " + Words[1] + " comes after TRACK " + std::to_string(LastSheetNumber_) +
           ": the track numbers of a sheet go up.");
  LastSheetNumber_ = sheetNumber;
  if (!Result_.Sheet.Tracks.empty()) FinishTrack();
  // A disc numbers its tracks one after the other; a number the sheet skips is not
  // there, so the tracks after it (and their texts) move up.
  const std::vector<CueTrack>& tracks = Result_.Sheet.Tracks;
  CueTrack track;
  track.Number = tracks.empty() ? sheetNumber : tracks.back().Number + 1;
  track.Session = Session_;
  const std::string mode = Upper(Words[2]);
  track.Audio = mode == "AUDIO";
  track.SectorBytes = track.Audio ? 2352 : SectorBytesOfMode(mode);
  Result_.Sheet.Tracks.push_back(track);
  TrackHasIndex0_ = TrackHasIndex1_ = FileAwaitsTrack_ = false;
  LastIndex_ = -1;
  char line[40];
  // libcue learns only audio or data: the sector size is ours.
  std::snprintf(line, sizeof line, "  TRACK %02d %s", track.Number,
                track.Audio ? "AUDIO" : "MODE1/2352");
  Emit(line);
}

// A track needs its INDEX 01; a data track that the image left out has only its
// INDEX 00, which then stands for its start.
void Scanner::FinishTrack() {
  if (TrackHasIndex1_) return;
  CueTrack& track = CurrentTrack();
  if (track.Audio || !TrackHasIndex0_)
    throw EImageError(Path_ + ": track " + std::to_string(track.Number) + " has no INDEX 01.");
  track.LeftOut = true;
}

CueTrack& Scanner::CurrentTrack() { return Result_.Sheet.Tracks.back(); }

int32_t Scanner::Time(const std::string& Text) const {
  const size_t first = Text.find(':');
  const size_t second = first == std::string::npos ? first : Text.find(':', first + 1);
  if (second == std::string::npos || !IsNumber(Text.substr(0, first), 3) ||
      !IsNumber(Text.substr(first + 1, second - first - 1), 2) ||
      !IsNumber(Text.substr(second + 1), 2))
    Refuse("\"" + Text + "\" is not a time of the form mm:ss:ff.");
  const int minutes = std::stoi(Text.substr(0, first));
  const int seconds = std::stoi(Text.substr(first + 1, second - first - 1));
  const int frames = std::stoi(Text.substr(second + 1));
  if (seconds >= 60 || frames >= SectorsPerSecond)
    Refuse("\"" + Text + "\" is not a time: seconds run to 59 and frames to 74.");
  const int32_t sectors = (minutes * 60 + seconds) * SectorsPerSecond + frames;
  if (sectors > MaxCdTime)
    Refuse("\"" + Text + "\" lies beyond 99:59:74, the last time a CD holds.");
  return sectors;
}

void Scanner::IndexCommand(const std::vector<std::string>& Words) {
  if (Result_.Sheet.Tracks.empty()) Refuse("INDEX comes before any TRACK.");
  if (Words.size() != 3 || !IsNumber(Words[1], 2)) Refuse("INDEX takes a number and a time.");
  const int index = std::stoi(Words[1]);
  const int32_t position = Time(Words[2]);
  // A track's indexes ascend: INDEX 00 before 01, 01 before 02, each only once.
  if (index <= LastIndex_) Refuse("INDEX " + Words[1] + " is out of order or given twice.");
  LastIndex_ = index;
  if (index <= 1) {
    (index == 0 ? TrackHasIndex0_ : TrackHasIndex1_) = true;
    const int track = static_cast<int>(Result_.Sheet.Tracks.size()) - 1;
    const int file = static_cast<int>(Result_.Sheet.Files.size()) - 1;
    Result_.Indexes.push_back(ScannedIndex{track, index, file, LineNumber_});
  } else if (!TrackHasIndex1_) {
    Refuse("INDEX " + Words[1] + " comes before INDEX 01.");
  }
  char line[32];
  std::snprintf(line, sizeof line, "    INDEX %02d ", index);
  Emit(std::string(line) + MsfText(position));
}

void Scanner::GapCommand(const std::string& Which, const std::vector<std::string>& Words) {
  if (Result_.Sheet.Tracks.empty()) Refuse(Which + " comes before any TRACK.");
  if (Words.size() != 2) Refuse(Which + " takes one time.");
  const int32_t length = Time(Words[1]);
  (Which == "PREGAP" ? CurrentTrack().Pregap : CurrentTrack().Postgap) = length;
  Emit("    " + Which + " " + MsfText(length));
}

struct CdDeleter {
  void operator()(Cd* Disc) const { cd_delete(Disc); }
};

// Completes the scan with where libcue puts each index; it must see the tracks that
// the scan saw.
void ApplyLibcue(const Cd& Disc, Scan& Scanned, const std::string& Path) {
  if (cd_get_ntrack(&Disc) != static_cast<int>(Scanned.Sheet.Tracks.size()))
    throw EImageError(Path + ": the tracks of the sheet cannot be told apart.");
  for (const ScannedIndex& index : Scanned.Indexes) {
    const Track* parsed = cd_get_track(&Disc, index.Track + 1);
    const long position = parsed ? track_get_index(parsed, index.Index) : -1;
    if (position < 0) throw EImageError(LineMessage(Path, index.Line, "the index cannot be read."));
    // A left-out data track's INDEX 00 is its start.
    const bool leftOut = Scanned.Sheet.Tracks[static_cast<size_t>(index.Track)].LeftOut;
    Scanned.Sheet.Marks.push_back(CueMark{index.Track, leftOut ? 1 : index.Index, index.File,
                                          static_cast<int32_t>(position)});
  }
}

// Within one file the marks must not run backwards.
void CheckMarksAscend(const Scan& Scanned, const std::string& Path) {
  const std::vector<CueMark>& marks = Scanned.Sheet.Marks;
  for (size_t i = 1; i < marks.size(); ++i) {
    const bool backwards =
        marks[i].File < marks[i - 1].File ||
        (marks[i].File == marks[i - 1].File && marks[i].Position < marks[i - 1].Position);
    if (backwards)
      throw EImageError(LineMessage(Path, Scanned.Indexes[i].Line,
                                    "the index lies before the one above it in the same file."));
  }
}

}  // namespace

CueSheet ParseCueSheet(const std::string& Text, const std::string& Path) {
  Scan scanned = Scanner(Path).Run(Text);
  std::unique_ptr<Cd, CdDeleter> disc(cue_parse_string(scanned.CanonicalText.c_str()));
  if (!disc) throw EImageError(Path + ": not a cue sheet that can be read.");
  ApplyLibcue(*disc, scanned, Path);
  CheckMarksAscend(scanned, Path);
  return std::move(scanned.Sheet);
}

}  // namespace cdrip
