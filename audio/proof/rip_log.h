// The rip log: one plain-text file per disc that says what was read, how, and how
// well, track by track, and ends with a SHA-256 of the lines before it so that an edit
// shows. Built from what the run knows; writes nothing itself. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/problem.h"
#include "proof/accuraterip.h"

struct TRipLogTrack {
  int Number = 0;
  std::string FileName;
  std::optional<int32_t> PregapSectors;  // unknown: the line is left out
  uint32_t Peak = 0;                     // 0..32768
  uint32_t CopyCrc = 0;
  std::optional<uint32_t> TestCrc;  // when a test pass ran
  std::string TestCopyResult;       // "Test CRC = Copy CRC", "suspicious", ...; empty: none
  bool Suspicious = false;          // no read agrees with the audio the file holds
  std::optional<TAccurateRipResult> AccurateRip;  // the verdict; none without a lookup
  std::optional<uint32_t> AccurateRipV1;          // the track's sums, with or without a lookup
  std::optional<uint32_t> AccurateRipV2;
  // With test and copy, what proved the track: "AccurateRip (confidence 7), one read",
  // "test and copy, 2 reads"; empty: the line is left out.
  std::string Proof;
  // The drive's read report.
  int Rereads = 0;
  int Corrections = 0;
  int SkippedSectors = 0;
  // What the CD and paranoia layers said while reading it (each sector the drive
  // refused among it), one message a line; empty: the lines are left out.
  std::string Messages;
  TProblem Error;
};

// One track of the disc's table of contents.
struct TRipLogTocRow {
  int Track = 0;
  int32_t Start = 0;    // LSN of its INDEX 01
  int32_t Sectors = 0;  // its length
};

struct TRipLog {
  std::string Program = "Korvane 1.00";
  std::string Date;  // when the log was written, "2026-12-07 18:40:00 UTC"; empty: left out
  std::string Drive;
  std::string DriveModel;     // vendor and model as the drive gives them; empty: left out
  std::string DriveRevision;  // its firmware revision; empty: left out
  // The disc's ids as the databases know it; each line left out when empty.
  std::string MusicBrainzId;
  std::string FreedbId;
  std::string AccurateRipId;      // "dBAR-003-0001b6a2-0004a59f-1d0b9b03"
  std::optional<int> ReadOffset;  // in samples; unknown: not corrected
  std::string ReadMode;           // "paranoia full, 20 retries" or "disc image"
  std::string PregapNote;         // why tracks have no pre-gap line; empty: no line
  std::string Artist;             // of the disc, where known
  std::string Album;
  std::vector<TRipLogTocRow> Toc;  // empty: left out
  // Sectors of audio before track 1 (hidden track one audio, track 0); 0: none, no line.
  int32_t HiddenSectors = 0;
  std::string HiddenNote;       // what became of it: "ripped as track 00", "not ripped"
  std::string AccurateRipNote;  // the lookup as a whole: "disc not found", an error, ...
  std::vector<TRipLogTrack> Tracks;
};

// Sectors as minutes:seconds.frames ("00:30.00"), 75 frames a second.
std::string SectorTimeText(int32_t Sectors);

// The log's text, lines ending in '\n', its last line "SHA-256: <64 hex digits>".
std::string RipLogText(const TRipLog& Log);

// True when Text ends with a SHA-256 line that matches the lines before it.
bool RipLogIntact(const std::string& Text);
