#include "toc_sheet.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "image_error.h"
#include "text_case.h"

namespace cdrip {
namespace {

constexpr int64_t SectorsPerMinute = 60 * 75;
constexpr int64_t SamplesPerSector = 588;
constexpr int64_t BytesPerSample = 4;  // 16-bit stereo
constexpr int MaxTracks = 99;
// Longer numbers and minute counts are far beyond any disc; the limits keep every
// later product of them well inside 64 bits.
constexpr size_t MaxCountDigits = 15;
constexpr size_t MaxMinuteDigits = 9;
constexpr size_t MaxQuotedBytes = 40;

enum class TokenType { Word, String, Open, Close };

struct Token {
  TokenType Type = TokenType::Word;
  std::string Text;
  int Line = 0;
};

// A time or a count as the .toc writes it: MM:SS:FF in sectors, or a plain number whose
// unit the statement decides (samples, or bytes for the length of a DATAFILE).
struct Position {
  bool Msf = false;
  int64_t Value = 0;
  int Line = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A word of the file as a message quotes it: shortened, bytes that are no printable
// ASCII shown as '?', so a binary file named as a .toc gives a readable message.
std::string Quoted(const std::string& Text) {
  std::string shown = Text.substr(0, MaxQuotedBytes);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  return "\"" + shown + (Text.size() > MaxQuotedBytes ? "...\"" : "\"");
}

// Nothing unless Text is 1 to MaxDigits decimal digits.
std::optional<int64_t> Digits(const std::string& Text, size_t MaxDigits) {
  if (Text.empty() || Text.size() > MaxDigits || !std::all_of(Text.begin(), Text.end(), IsDigit))
    return std::nullopt;
  int64_t value = 0;
  for (char c : Text) value = value * 10 + (c - '0');
  return value;
}

bool LooksLikePosition(const std::string& Text) {
  return !Text.empty() && IsDigit(Text[0]) &&
         std::all_of(Text.begin(), Text.end(), [](char c) { return IsDigit(c) || c == ':'; });
}

std::optional<int32_t> SectorBytesOfMode(const std::string& Mode) {
  static const std::pair<const char*, int32_t> modes[] = {
      {"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
      {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
      {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2332}, {"MODE2_RAW", 2352}};
  for (const auto& [name, bytes] : modes)
    if (Mode == name) return bytes;
  return std::nullopt;
}

bool IsDiscType(const std::string& Word) {
  return Word == "CD_DA" || Word == "CD_ROM" || Word == "CD_ROM_XA" || Word == "CD_I";
}

bool IsSubChannelMode(const std::string& Word) { return Word == "RW" || Word == "RW_RAW"; }

// Splits the lines into words, quoted strings and braces; "//" outside a string starts
// a comment to the end of its line. Strings do not span lines.
class Tokenizer {
 public:
  explicit Tokenizer(const std::string& Path) : Path_(Path) {}
  std::vector<Token> Run(const std::vector<TextLine>& Lines);

 private:
  void ScanLine(const TextLine& Line);
  size_t ScanString(const TextLine& Line, size_t At);
  static size_t WordEnd(const std::string& Text, size_t At);
  static size_t Unescape(const std::string& Text, size_t At, std::string& Value);

  const std::string& Path_;
  std::vector<Token> Tokens_;
};

std::vector<Token> Tokenizer::Run(const std::vector<TextLine>& Lines) {
  for (const TextLine& line : Lines) ScanLine(line);
  return std::move(Tokens_);
}

void Tokenizer::ScanLine(const TextLine& Line) {
  const std::string& text = Line.Text;
  size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (IsBlank(c)) {
      ++at;
    } else if (text.compare(at, 2, "//") == 0) {
      return;
    } else if (c == '"') {
      at = ScanString(Line, at + 1);
    } else if (c == '{' || c == '}') {
      Tokens_.push_back(Token{c == '{' ? TokenType::Open : TokenType::Close, {c}, Line.Number});
      ++at;
    } else {
      const size_t end = WordEnd(text, at);
      Tokens_.push_back(Token{TokenType::Word, text.substr(at, end - at), Line.Number});
      at = end;
    }
  }
}

// The string that starts at At, just after its opening quote; returns the position
// after its closing quote.
size_t Tokenizer::ScanString(const TextLine& Line, size_t At) {
  const std::string& text = Line.Text;
  std::string value;
  while (At < text.size() && text[At] != '"') {
    if (text[At] == '\\' && At + 1 < text.size())
      At = Unescape(text, At + 1, value);
    else
      value += text[At++];
  }
  if (At >= text.size())
    throw EImageError(LineMessage(Path_, Line.Number,
                                  "a quoted string is not closed on its line: its closing \" is "
                                  "missing."));
  Tokens_.push_back(Token{TokenType::String, std::move(value), Line.Number});
  return At + 1;
}

size_t Tokenizer::WordEnd(const std::string& Text, size_t At) {
  while (At < Text.size() && !IsBlank(Text[At]) && Text[At] != '"' && Text[At] != '{' &&
         Text[At] != '}' && Text.compare(At, 2, "//") != 0)
    ++At;
  return At;
}

// The character escaped at At (just after a backslash): up to three octal digits give a
// byte, any other character stands for itself ("\\" and "\"" in file names).
size_t Tokenizer::Unescape(const std::string& Text, size_t At, std::string& Value) {
  int code = 0;
  size_t digits = 0;
  while (digits < 3 && At + digits < Text.size() && Text[At + digits] >= '0' &&
         Text[At + digits] <= '7')
    code = code * 8 + (Text[At + digits++] - '0');
  if (digits == 0) {
    Value += Text[At];
    return At + 1;
  }
  Value += static_cast<char>(code & 0xFF);
  return At + digits;
}

// Reads the statements one after the other. The .toc format is free in its line breaks,
// so a statement is its keyword and the arguments that its grammar allows, wherever
// they stand; optional arguments are told apart by their form (a time or number, a
// #offset, a keyword of their own), which no statement's keyword shares.
class TocParser {
 public:
  TocParser(std::vector<Token> Tokens, const std::string& Path)
      : Tokens_(std::move(Tokens)), Path_(Path) {}
  TocSheet Run();

 private:
  void Statement();
  bool DiscStatement(const std::string& Word, const Token& Keyword);
  bool TrackStatement(const std::string& Word, const Token& Keyword);
  bool TrackSetting(const std::string& Word, const Token& Keyword);
  bool TrackContents(const std::string& Word, const Token& Keyword);
  void TrackLine(const Token& Keyword);
  void FileStatement(const Token& Keyword, bool DataFile);
  void FileOptions(bool& Swap, int64_t& Offset);
  void SilenceStatement(const Token& Keyword);
  void StartStatement(const Token& Keyword);
  void PregapStatement(const Token& Keyword);
  void SkipBlock(const Token& Keyword);

  TocTrack& CurrentTrack(const Token& Keyword);
  void ClaimStart(TocTrack& Track, const Token& Keyword);
  int FileIndex(const std::string& Name, FileKind Kind, int Line);
  FileKind KindOf(const std::string& Name, bool Swap, bool DataFile, int Line) const;

  const Token* Peek() const { return At_ < Tokens_.size() ? &Tokens_[At_] : nullptr; }
  bool NextIsWord(bool (*Matches)(const std::string&)) const;
  bool NextIsPosition() const;
  const Token& ExpectWord(const Token& Keyword, const std::string& What);
  std::string ExpectString(const Token& Keyword, const std::string& What);
  void KeepCode(int Track, TextField Field, const std::string& Code, size_t Length);
  Position ExpectPosition(const Token& Keyword, const std::string& What);
  Position ParsePosition(const Token& Word) const;
  int64_t SectorsOf(const Position& At) const;
  int64_t DataSectorsOf(const Position& At, int32_t SectorBytes) const;
  [[noreturn]] void Fail(int Line, const std::string& What) const {
    throw EImageError(LineMessage(Path_, Line, What));
  }

  const std::vector<Token> Tokens_;
  size_t At_ = 0;
  const std::string& Path_;
  TocSheet Sheet_;
  bool DiscTypeSeen_ = false;
};

TocSheet TocParser::Run() {
  while (At_ < Tokens_.size()) Statement();
  if (Sheet_.Tracks.empty())
    throw EImageError(Path_ +
                      ": the file describes no TRACK; it is no .toc image, or an empty one.");
  return std::move(Sheet_);
}

void TocParser::Statement() {
  const Token& keyword = Tokens_[At_++];
  if (keyword.Type == TokenType::String)
    Fail(keyword.Line, "the string " + Quoted(keyword.Text) + " stands where a keyword belongs.");
  if (keyword.Type != TokenType::Word)
    Fail(keyword.Line, "a brace (" + keyword.Text + ") stands where a keyword belongs.");
  const std::string word = Upper(keyword.Text);
  if (!DiscStatement(word, keyword) && !TrackStatement(word, keyword))
    Fail(keyword.Line, "unknown keyword " + Quoted(keyword.Text) + ".");
}

bool TocParser::DiscStatement(const std::string& Word, const Token& Keyword) {
  if (IsDiscType(Word)) {
    if (DiscTypeSeen_ || !Sheet_.Tracks.empty())
      Fail(Keyword.Line, "the disc type " + Word + " belongs once at the top, before any TRACK.");
    DiscTypeSeen_ = true;
  } else if (Word == "CATALOG") {
    KeepCode(0, TextField::Catalog, ExpectString(Keyword, "the catalogue number in quotes"), 13);
  } else if (Word == "CD_TEXT") {
    SkipBlock(Keyword);
  } else if (Word == "TRACK") {
    TrackLine(Keyword);
  } else {
    return false;
  }
  return true;
}

bool TocParser::TrackStatement(const std::string& Word, const Token& Keyword) {
  return TrackSetting(Word, Keyword) || TrackContents(Word, Keyword);
}

// Statements of a track that describe it without changing where its sectors lie.
bool TocParser::TrackSetting(const std::string& Word, const Token& Keyword) {
  static const char* const flags[] = {"COPY", "PRE_EMPHASIS", "TWO_CHANNEL_AUDIO",
                                      "FOUR_CHANNEL_AUDIO"};
  const bool flag = std::find(std::begin(flags), std::end(flags), Word) != std::end(flags);
  if (!flag && Word != "NO" && Word != "ISRC" && Word != "INDEX") return false;
  CurrentTrack(Keyword);
  if (Word == "ISRC") {
    KeepCode(static_cast<int>(Sheet_.Tracks.size()), TextField::Isrc,
             ExpectString(Keyword, "the ISRC code in quotes"), 12);
  } else if (Word == "INDEX") {
    ExpectPosition(Keyword, "a time");
  } else if (Word == "NO") {
    if (!NextIsWord([](const std::string& W) { return W == "COPY" || W == "PRE_EMPHASIS"; }))
      Fail(Keyword.Line, "NO needs COPY or PRE_EMPHASIS after it.");
    ++At_;
  }
  return true;
}

bool TocParser::TrackContents(const std::string& Word, const Token& Keyword) {
  if (Word == "FILE" || Word == "AUDIOFILE" || Word == "DATAFILE") {
    FileStatement(Keyword, Word == "DATAFILE");
  } else if (Word == "SILENCE" || Word == "ZERO") {
    SilenceStatement(Keyword);
  } else if (Word == "START") {
    StartStatement(Keyword);
  } else if (Word == "PREGAP") {
    PregapStatement(Keyword);
  } else if (Word == "FIFO") {
    Fail(Keyword.Line,
         "FIFO takes audio from a pipe, which a disc image cannot do: write the "
         "audio to a file and name it with FILE.");
  } else {
    return false;
  }
  return true;
}

void TocParser::TrackLine(const Token& Keyword) {
  if (Sheet_.Tracks.size() >= static_cast<size_t>(MaxTracks))
    Fail(Keyword.Line, "a 100th TRACK: a CD holds at most 99 tracks.");
  const Token& mode = ExpectWord(Keyword, "a track mode (AUDIO, MODE1, MODE2_RAW, ...)");
  const std::string name = Upper(mode.Text);
  const std::optional<int32_t> sectorBytes = SectorBytesOfMode(name);
  if (!sectorBytes)
    Fail(mode.Line, "unknown track mode " + Quoted(mode.Text) +
                        "; the modes are AUDIO, MODE0, MODE1, MODE1_RAW, MODE2, MODE2_FORM1, "
                        "MODE2_FORM2, MODE2_FORM_MIX and MODE2_RAW.");
  // Sub-channel data would sit between the sectors in the files: a layout of another kind.
  if (NextIsWord(IsSubChannelMode))
    Fail(mode.Line, "tracks whose files hold sub-channel data (" + Upper(Peek()->Text) +
                        ") are not read; write the track without it.");
  TocTrack track;
  track.Line = Keyword.Line;
  track.Audio = name == "AUDIO";
  track.SectorBytes = *sectorBytes;
  Sheet_.Tracks.push_back(std::move(track));
}

// FILE and AUDIOFILE "name" [#offset] [SWAP] start [length]; DATAFILE "name" [#offset]
// [length]. The offset counts bytes from the file's first sample, the start positions
// the track in the file after it; without a length the track takes the rest of the file.
void TocParser::FileStatement(const Token& Keyword, bool DataFile) {
  TocTrack& track = CurrentTrack(Keyword);
  const std::string name = ExpectString(Keyword, "the file's name in quotes");
  if (name.empty()) Fail(Keyword.Line, "the file name is empty.");
  bool swap = false;
  int64_t offset = 0;
  FileOptions(swap, offset);
  TocContent content;
  content.Line = Keyword.Line;
  content.File = FileIndex(name, KindOf(name, swap, DataFile, Keyword.Line), Keyword.Line);
  content.FirstByte = offset;
  if (!DataFile) {
    const Position start = ExpectPosition(Keyword, "the start in the file (a time, or 0)");
    content.FirstByte += start.Msf ? start.Value * track.SectorBytes : start.Value * BytesPerSample;
  }
  if (NextIsPosition()) {
    const Position length = ExpectPosition(Keyword, "a length");
    content.Sectors = DataFile ? DataSectorsOf(length, track.SectorBytes) : SectorsOf(length);
  }
  track.Contents.push_back(content);
}

// "#offset" and "SWAP", in either order, each at most once.
void TocParser::FileOptions(bool& Swap, int64_t& Offset) {
  bool offsetSeen = false;
  for (const Token* next = Peek(); next && next->Type == TokenType::Word; next = Peek()) {
    if (Upper(next->Text) == "SWAP" && !Swap) {
      Swap = true;
    } else if (next->Text[0] == '#' && !offsetSeen) {
      const std::optional<int64_t> bytes = Digits(next->Text.substr(1), MaxCountDigits);
      if (!bytes) Fail(next->Line, "the byte offset " + Quoted(next->Text) + " is no number.");
      Offset = *bytes;
      offsetSeen = true;
    } else {
      return;
    }
    ++At_;
  }
}

// SILENCE length, ZERO [data mode] [sub-channel mode] length: sectors no file holds.
void TocParser::SilenceStatement(const Token& Keyword) {
  TocTrack& track = CurrentTrack(Keyword);
  if (Upper(Keyword.Text) == "ZERO") {
    if (NextIsWord([](const std::string& W) { return SectorBytesOfMode(W).has_value(); })) ++At_;
    if (NextIsWord(IsSubChannelMode)) ++At_;
  }
  const int64_t sectors = SectorsOf(ExpectPosition(Keyword, "a length"));
  track.Contents.push_back(TocContent{Keyword.Line, -1, 0, sectors});
}

// START alone: INDEX 01 at the end of the contents so far; START time: that far into
// the contents.
void TocParser::StartStatement(const Token& Keyword) {
  TocTrack& track = CurrentTrack(Keyword);
  ClaimStart(track, Keyword);
  if (NextIsPosition())
    track.StartOffset = SectorsOf(ExpectPosition(Keyword, "a time"));
  else
    track.StartAfter = track.Contents.size();
}

// PREGAP time: that much silence before the track's contents, INDEX 01 after it.
void TocParser::PregapStatement(const Token& Keyword) {
  TocTrack& track = CurrentTrack(Keyword);
  ClaimStart(track, Keyword);
  const int64_t sectors = SectorsOf(ExpectPosition(Keyword, "a length"));
  track.Contents.insert(track.Contents.begin(), TocContent{Keyword.Line, -1, 0, sectors});
  track.StartAfter = 1;
}

// A block in braces, nested blocks within it, read over without recursion.
void TocParser::SkipBlock(const Token& Keyword) {
  const Token* open = Peek();
  if (!open || open->Type != TokenType::Open)
    Fail(Keyword.Line, Upper(Keyword.Text) + " needs a block in braces: { ... }.");
  int depth = 0;
  for (; At_ < Tokens_.size(); ++At_) {
    const TokenType type = Tokens_[At_].Type;
    depth += type == TokenType::Open ? 1 : type == TokenType::Close ? -1 : 0;
    if (depth == 0) {
      ++At_;
      return;
    }
  }
  Fail(Keyword.Line, "the " + Upper(Keyword.Text) +
                         " block that starts here is never closed: a closing brace (}) is "
                         "missing.");
}

TocTrack& TocParser::CurrentTrack(const Token& Keyword) {
  if (Sheet_.Tracks.empty())
    Fail(Keyword.Line, Upper(Keyword.Text) +
                           " before any TRACK: a track's contents and settings follow its "
                           "TRACK line.");
  return Sheet_.Tracks.back();
}

void TocParser::ClaimStart(TocTrack& Track, const Token& Keyword) {
  if (Track.StartLine != 0)
    Fail(Keyword.Line, "track " + std::to_string(Sheet_.Tracks.size()) +
                           " has a START or PREGAP already (line " +
                           std::to_string(Track.StartLine) + "); a track has one INDEX 01.");
  Track.StartLine = Keyword.Line;
}

int TocParser::FileIndex(const std::string& Name, FileKind Kind, int Line) {
  std::vector<TocFile>& files = Sheet_.Files;
  const auto found = std::find_if(files.begin(), files.end(), [&](const TocFile& File) {
    return File.Name == Name && File.Kind == Kind;
  });
  if (found != files.end()) return static_cast<int>(found - files.begin());
  files.push_back(TocFile{Name, Kind, Line});
  return static_cast<int>(files.size()) - 1;
}

// Audio files named *.wav are WAVE files, whose samples follow a header; every other
// audio file holds raw samples, big-endian (most significant byte first) as the format
// has it, little-endian with SWAP. Data files hold sectors as they are on the disc.
FileKind TocParser::KindOf(const std::string& Name, bool Swap, bool DataFile, int Line) const {
  if (DataFile) return FileKind::Binary;
  const bool wave = !DataFile && Name.size() >= 4 && Upper(Name.substr(Name.size() - 4)) == ".WAV";
  if (wave && Swap)
    Fail(Line, "SWAP with the WAVE file " + Quoted(Name) +
                   ": a WAVE file's samples are little-endian by definition; drop SWAP.");
  if (wave) return FileKind::Wave;
  return Swap ? FileKind::Binary : FileKind::Motorola;
}

bool TocParser::NextIsWord(bool (*Matches)(const std::string&)) const {
  const Token* next = Peek();
  return next && next->Type == TokenType::Word && Matches(Upper(next->Text));
}

bool TocParser::NextIsPosition() const {
  const Token* next = Peek();
  return next && next->Type == TokenType::Word && LooksLikePosition(next->Text);
}

const Token& TocParser::ExpectWord(const Token& Keyword, const std::string& What) {
  const Token* next = Peek();
  if (!next || next->Type != TokenType::Word)
    Fail(Keyword.Line, Upper(Keyword.Text) + " needs " + What + ".");
  ++At_;
  return *next;
}

// A catalogue number (13 digits) or ISRC (12 letters and digits), as a cue sheet's
// are kept; a code of another form is passed over, as a drive would not give it either.
void TocParser::KeepCode(int Track, TextField Field, const std::string& Code, size_t Length) {
  if (Code.size() != Length ||
      !std::all_of(Code.begin(), Code.end(), [](unsigned char c) { return std::isalnum(c) != 0; }))
    return;
  Sheet_.Text.Set(Track, Field, Code);
}

std::string TocParser::ExpectString(const Token& Keyword, const std::string& What) {
  const Token* next = Peek();
  if (!next || next->Type != TokenType::String)
    Fail(Keyword.Line, Upper(Keyword.Text) + " needs " + What + ".");
  ++At_;
  return next->Text;
}

Position TocParser::ExpectPosition(const Token& Keyword, const std::string& What) {
  if (!NextIsPosition()) Fail(Keyword.Line, Upper(Keyword.Text) + " needs " + What + ".");
  return ParsePosition(Tokens_[At_++]);
}

// MM:SS:FF (75 frames a second) or a plain number.
Position TocParser::ParsePosition(const Token& Word) const {
  const std::string& text = Word.Text;
  const size_t first = text.find(':');
  if (first == std::string::npos) {
    const std::optional<int64_t> count = Digits(text, MaxCountDigits);
    if (!count) Fail(Word.Line, "the number " + Quoted(text) + " is too large for any disc.");
    return Position{false, *count, Word.Line};
  }
  const size_t second = text.find(':', first + 1);
  const std::optional<int64_t> minutes = Digits(text.substr(0, first), MaxMinuteDigits);
  std::optional<int64_t> seconds, frames;
  if (second != std::string::npos) {
    seconds = Digits(text.substr(first + 1, second - first - 1), 2);
    frames = Digits(text.substr(second + 1), 2);
  }
  if (!minutes || !seconds || !frames)
    Fail(Word.Line,
         Quoted(text) + " is no time: a time is written MM:SS:FF (minutes, seconds, frames).");
  if (*seconds >= 60 || *frames >= 75)
    Fail(Word.Line, "the time " + text + " is out of range: seconds run to 59, frames to 74.");
  return Position{true, *minutes * SectorsPerMinute + *seconds * 75 + *frames, Word.Line};
}

// A length or position on the disc: a time, or a number of samples.
int64_t TocParser::SectorsOf(const Position& At) const {
  if (At.Msf) return At.Value;
  if (At.Value % SamplesPerSector != 0)
    Fail(At.Line, std::to_string(At.Value) +
                      " samples are no whole number of sectors (588 samples each); give a "
                      "time MM:SS:FF instead.");
  return At.Value / SamplesPerSector;
}

// The length of a DATAFILE: a time, or a number of bytes.
int64_t TocParser::DataSectorsOf(const Position& At, int32_t SectorBytes) const {
  if (At.Msf) return At.Value;
  if (At.Value % SectorBytes != 0)
    Fail(At.Line, std::to_string(At.Value) + " bytes are no whole number of the track's " +
                      std::to_string(SectorBytes) + "-byte sectors.");
  return At.Value / SectorBytes;
}

}  // namespace

TocSheet ParseTocSheet(const std::string& Text, const std::string& Path) {
  std::vector<Token> tokens = Tokenizer(Path).Run(SplitTextLines(Text, Path));
  return TocParser(std::move(tokens), Path).Run();
}

}  // namespace cdrip
