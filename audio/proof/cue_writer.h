// The cue sheet written beside a disc's files: one FILE per track, each track starting
// at INDEX 01 00:00:00 of its file, the gap before a track kept at the end of the
// previous track's file (its INDEX 00 there), and the disc's texts, catalogue number and
// ISRCs where known; the audio before track 1, when ripped, as track 1's INDEX 00 in a
// file of its own. An MP3 file is named an MP3 file, any other a WAVE file: what
// players expect of sheets beside encoded tracks, and the type that reads back here for
// WAV files. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TCueTrack {
  int Number = 0;
  std::string FileName;  // as the sheet names it: beside the sheet, no folder
  int32_t Sectors = 0;   // the file's length, the next track's gap included
  // Sectors of gap before the track: for the first track silence the files do not
  // hold (PREGAP), for the others the end of the previous track's file (INDEX 00).
  int32_t Gap = 0;
  std::string Title;
  std::string Performer;
  std::string Isrc;
};

struct TCueDisc {
  std::string Title;
  std::string Performer;
  std::string Date;
  std::string Genre;
  std::string Catalog;  // the disc's media catalogue number (13 digits)
  std::vector<TCueTrack> Tracks;
  // The file that holds the audio before track 1 (hidden track one audio, ripped as
  // track 0): track 1's INDEX 00 at its start, in place of a PREGAP; empty: none.
  std::string HiddenFileName;
};

// The sheet's text, lines ending in '\n'.
std::string CueSheetText(const TCueDisc& Disc);
