// Reading a CD device through the paranoia layer (libcdio's cdda and paranoia), which
// verifies what it reads and re-reads what does not match.
//
// The drive delivers CD audio little-endian, and the reader says so: the layer never
// guesses the byte order from the disc (its guess reads each track's first sectors and,
// when one cannot be read, swaps every read after it). The layer is handed the range
// being read, so it never reads nor fails outside it. Every read the layer makes passes
// through the reader, which
//   - asks the drive nothing more once it is interrupted (a stop), so that a stop ends
//     a read stuck on a bad spot within one drive command;
//   - finds the exact sector the drive refuses, reading one sector at a time where a
//     read of several failed;
//   - reads a sector again itself, twice, when the layer hands it out although the
//     drive never delivered it (the layer makes a failed read up as silence, which
//     verifies against digital silence around it);
//   - gives that sector up after the settings' retries of it, however the layer goes on
//     asking, and, when the layer verifies (it is told never to skip), the first sector
//     from the layer's position on that was refused or read differently once the
//     layer's re-reads there reach the retries; from then on (and after a stop) the
//     layer gets back what the drive delivered before (silence where it delivered
//     nothing), so that its own read ends at once, and nothing the drive did not
//     deliver reaches the caller.
// What the layer says (its messages and errors) and what the reader did at a bad spot
// is kept, for the rip log, rather than printed.
#pragma once

#include <memory>
#include <string>

#include "drive.h"

namespace cdrip {

// A reader of the disc in Device; nothing when it cannot be read (no disc, no audio).
// Messages: what the layer said while opening the drive, kept also when it fails.
std::unique_ptr<SectorReader> OpenParanoiaReader(const std::string& Device,
                                                 const ReadSettings& Settings,
                                                 std::string& Messages);

}  // namespace cdrip
