// Cue sheets: what the disc holds and where its sectors lie in the files the sheet
// names. libcue parses the sheet; a scan of our own adds what libcue does not tell
// (each file's type, the sessions, PREGAP and POSTGAP lengths, which file an index
// lies in) and hands libcue only the lines that describe the layout, in their
// canonical form, so a sheet it cannot parse never makes it print to the terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file_image.h"

namespace cdrip {

struct CueFile {
  std::string Name;  // as the sheet gives it
  FileKind Kind = FileKind::Binary;
};

struct CueTrack {
  int Number = 0;
  int Session = 1;
  bool Audio = true;
  int32_t SectorBytes = 2352;  // bytes one sector of the track takes in its file
  int32_t Pregap = 0;          // PREGAP sectors: silence that the file does not hold
  int32_t Postgap = 0;         // POSTGAP sectors, likewise
};

// An INDEX 00 or INDEX 01 line: sector Position of file File starts Index of Track.
struct CueMark {
  int Track = 0;  // 0-based position in Tracks
  int Index = 1;
  int File = 0;  // 0-based position in Files
  int32_t Position = 0;
};

struct CueSheet {
  std::vector<CueFile> Files;
  std::vector<CueTrack> Tracks;
  std::vector<CueMark> Marks;  // in the sheet's order
};

// Nothing when Text is not a cue sheet that this library can read: no tracks, a line
// it cannot make sense of, a track without INDEX 01, a file type other than BINARY,
// MOTOROLA or WAVE, indexes that run backwards within a file.
std::optional<CueSheet> ParseCueSheet(const std::string& Text);

}  // namespace cdrip
