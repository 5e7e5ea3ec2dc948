#include "proof/cue_writer.h"

#include <cstdio>

namespace {

// A sheet's texts are quoted and cannot hold a quote or a line break. Nor can they end
// in a backslash: cue readers (libcue among them) take a backslash before the closing
// quote for an escaped quote and read on into the next lines, and none reads an escaped
// backslash back as one. Backslashes at the end are written as the full-width reverse
// solidus (U+FF3C), which every reader keeps as it is.
std::string Quoted(const std::string& Text) {
  std::string quoted = "\"";
  for (char c : Text) quoted += c == '"' ? '\'' : (c == '\n' || c == '\r') ? ' ' : c;
  size_t trailing = 0;
  while (quoted.size() > 1 + trailing && quoted[quoted.size() - 1 - trailing] == '\\') ++trailing;
  quoted.resize(quoted.size() - trailing);
  for (size_t i = 0; i < trailing; ++i) quoted += "\xEF\xBC\xBC";
  return quoted + "\"";
}

// The type a cue reader expects of the file: MP3 for MP3 files, WAVE for the rest (what
// players take for any audio file they decode themselves).
std::string FileLine(const std::string& FileName) {
  const size_t dot = FileName.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : FileName.substr(dot + 1);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return "FILE " + Quoted(FileName) + (extension == "mp3" ? " MP3\n" : " WAVE\n");
}

std::string Msf(int32_t Sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", Sectors / 75 / 60, Sectors / 75 % 60,
                Sectors % 75);
  return text;
}

void TextLines(std::string& Sheet, const char* Indent, const std::string& Title,
               const std::string& Performer) {
  if (!Title.empty()) Sheet += Indent + std::string("TITLE ") + Quoted(Title) + "\n";
  if (!Performer.empty()) Sheet += Indent + std::string("PERFORMER ") + Quoted(Performer) + "\n";
}

}  // namespace

std::string CueSheetText(const TCueDisc& Disc) {
  std::string sheet;
  if (!Disc.Genre.empty()) sheet += "REM GENRE " + Quoted(Disc.Genre) + "\n";
  if (!Disc.Date.empty()) sheet += "REM DATE " + Disc.Date + "\n";
  if (!Disc.Catalog.empty()) sheet += "CATALOG " + Disc.Catalog + "\n";
  TextLines(sheet, "", Disc.Title, Disc.Performer);
  for (size_t i = 0; i < Disc.Tracks.size(); ++i) {
    const TCueTrack& track = Disc.Tracks[i];
    char heading[32];
    std::snprintf(heading, sizeof heading, "  TRACK %02d AUDIO\n", track.Number);
    const bool gapInPrevious = i > 0 && track.Gap > 0;
    const bool gapInHidden = i == 0 && track.Number == 1 && !Disc.HiddenFileName.empty();
    if (!gapInPrevious) sheet += FileLine(gapInHidden ? Disc.HiddenFileName : track.FileName);
    sheet += heading;
    TextLines(sheet, "    ", track.Title, track.Performer);
    if (!track.Isrc.empty()) sheet += "    ISRC " + track.Isrc + "\n";
    if (gapInHidden) {
      sheet += "    INDEX 00 00:00:00\n";
      sheet += FileLine(track.FileName);
    } else if (i == 0 && track.Gap > 0) {
      sheet += "    PREGAP " + Msf(track.Gap) + "\n";
    }
    if (gapInPrevious) {
      sheet += "    INDEX 00 " + Msf(Disc.Tracks[i - 1].Sectors - track.Gap) + "\n";
      sheet += FileLine(track.FileName);
    }
    sheet += "    INDEX 01 00:00:00\n";
  }
  return sheet;
}
