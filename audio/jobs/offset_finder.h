// Finding a drive's read offset: a few tracks of a disc that the AccurateRip database
// knows are read with a margin on either side, and their AccurateRip checksum is taken
// at every offset within the margin; the offset at which the tracks match the database's
// entries is the drive's.
//
// Threads: `FindReadOffset` runs on the caller's thread and holds the source for its
// whole search.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "proof/accuraterip.h"
#include "proof/track_checksums.h"

class TCDIn;

// The widest offset searched, either way: five AccurateRip frames, more than any drive
// known needs.
constexpr int MaxSearchedOffset = 2940;

// A track's AccurateRip v1 checksum at every read offset from -Margin to +Margin (index
// offset + Margin). Pairs holds the track's sample pairs as read at offset 0, from Margin
// pairs before its start to Margin pairs after its end (Place.SamplePairs + 2·Margin).
// Each offset costs a constant time: a shift changes the weighted sum by what enters and
// leaves the window, and by one weight less for every pair inside it.
std::vector<uint32_t> AccurateRipV1ByOffset(const std::vector<uint32_t>& Pairs, int Margin,
                                            const TTrackPlace& Place);

struct TFoundOffset {
  int Offset = 0;
  int TracksMatched = 0;  // of the tracks read
  int TracksRead = 0;
  int Confidence = 0;  // the matching entries' confidences, summed
};

struct TOffsetSearch {
  int Drive = 0;
  TAccurateRipSettings Database;
  int Tracks = 3;  // at most this many tracks are read, the shortest that the database holds
  // Told before each track is read ("Reading track 3 (2 of 3)") and of what it found.
  std::function<void(const std::string&)> Progress;
  // Asked between reads: true ends the search.
  std::function<bool()> ShouldStop;
};

// Reads the disc of Search.Drive through Source (whose settings it restores) and returns
// the read offset at which most of the tracks read match the database, with confidence;
// nullopt when none matches within ±MaxSearchedOffset. Raises EAudioException when the
// disc cannot be read, the database does not know it, or Search was stopped, and
// ELookupError when the database cannot be asked.
std::optional<TFoundOffset> FindReadOffset(TCDIn& Source, TOffsetSearch& Search);
