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
  // A data track that the image left out: the sheet gives only its INDEX 00, which
  // stands for its start; the files need not reach that far.
  bool LeftOut = false;
  int32_t SectorBytes = 2352;  // bytes one sector of the track takes in its file
  int32_t Pregap = 0;          // PREGAP sectors: silence that the file does not hold
  int32_t Postgap = 0;         // POSTGAP sectors, likewise
};

// An INDEX 00 or INDEX 01 line: sector Position of file File starts Index of Track
// (Index 1 for the INDEX 00 of a data track that was left out).
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
  // TITLE, PERFORMER, SONGWRITER, REM GENRE and REM DATE of the disc (before the first
  // TRACK) and of each track, by track number.
  DiscText Text;
};

// Throws EImageError naming Path and the line when Text is not a cue sheet that this
// library can read: no tracks, a layout line it cannot make sense of, an audio track
// without INDEX 01, a file type other than BINARY, MOTOROLA or WAVE, a time beyond
// 99:59:74, indexes that run backwards within a file, TRACK numbers that do not go up,
// REM SESSION numbers that go back. Tracks are numbered one after the other from the
// first one's number, their texts with them. Lines that only describe the disc (flags,
// catalogue numbers, other remarks) are passed over; the texts are kept.
CueSheet ParseCueSheet(const std::string& Text, const std::string& Path);

}  // namespace cdrip
