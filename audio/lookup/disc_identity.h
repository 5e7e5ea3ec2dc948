// The two identities by which the online databases know a disc, computed from its table
// of contents: the MusicBrainz disc id (by libdiscid, over the audio session) and the
// freedb/CDDB disc id (over every track). Plain functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bindings/cdrip_binding.h"

struct TDiscTocTrack {
  int Number = 0;
  int32_t Start = 0;  // LSN of the track's INDEX 01
  bool Audio = true;
};

// A disc's table of contents as the CD ripping library gives it: sectors are LSNs (the
// first track normally at 0), the 150 sectors before LSN 0 not counted.
struct TDiscToc {
  std::vector<TDiscTocTrack> Tracks;  // in disc order
  int32_t LeadOut = 0;                // LSN of the disc's (last session's) lead-out
  int32_t LastSessionStart = 0;       // LSN of the last session's first track; 0: one session
};

// The table from the library's entries (tracks, then the lead-out as the last entry).
TDiscToc DiscTocOf(const std::vector<CR_TocEntry>& Entries, int32_t LastSessionStart);

// The 28-character MusicBrainz disc id. Only the audio session counts: data tracks at
// the end that lie in a later session (an enhanced CD) are left out, and the lead-out
// is then the first of them less the 11400 sectors between the sessions. A data track
// before the audio (mixed mode) counts as a track. Empty when the table has no track
// that can be identified (no audio, or libdiscid refuses it).
std::string MusicBrainzDiscId(const TDiscToc& Toc);

// The freedb/CDDB disc id, 8 lower-case hex digits: every track (data too) and the
// disc's lead-out. Empty for a table without tracks.
std::string FreedbDiscId(const TDiscToc& Toc);

// What a CDDB query names besides the id: the tracks' offsets in frames (LSN + 150) and
// the disc's length in seconds (the lead-out's offset / 75).
std::vector<int32_t> FreedbOffsets(const TDiscToc& Toc);
int32_t FreedbSeconds(const TDiscToc& Toc);
