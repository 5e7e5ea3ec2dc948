// Where the audio of a range of a disc lies when the drive's read offset is corrected:
// output sample s of the range is the drive's sample s + Offset, and samples that fall
// outside the disc (before its first sector, from its lead-out on) are silence. A drive
// reads whole sectors, so the read starts at the sector holding the first sample wanted
// and the bytes before it are dropped.
#pragma once

#include <cstdint>

struct TOffsetRead {
  int64_t LeadingSilence = 0;   // bytes of silence before the bytes read
  int32_t FirstSector = 0;      // the sectors to read: FirstSector .. EndSector - 1
  int32_t EndSector = 0;        // (none when equal)
  int64_t SkipBytes = 0;        // bytes of the first sector read that precede the range
  int64_t ReadBytes = 0;        // bytes of the read that the range takes
  int64_t TrailingSilence = 0;  // bytes of silence after them
};

// Start, End: the range's sectors (End exclusive); LeadOut: the disc's first sector past
// its audio; OffsetSamples: the drive's read offset in samples (may be negative).
TOffsetRead OffsetRead(int32_t Start, int32_t End, int32_t LeadOut, int32_t OffsetSamples);
