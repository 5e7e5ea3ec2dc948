// CD-Text as a drive reads it from the disc's lead-in (READ TOC/PMA/ATIP format 5): packs
// of 18 bytes, each with its CRC, in up to eight blocks (one per language).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive.h"

namespace cdrip {

struct CdTextReading {
  // The texts of one block: the disc's (track 0) and its tracks' titles, performers,
  // songwriters, and the disc's genre, in UTF-8.
  DiscText Text;
  // Empty, or what was left out and why (damaged packs, a character set not read), a
  // sentence for the log.
  std::string Note;
};

// The texts of the packs (the reply without its 4-byte header). Packs whose CRC does not
// hold are dropped, and so is each string they touch. Of several blocks the first one in
// English is read, else the first one; a block in a character set other than ISO-8859-1
// or ASCII (MS-JIS, Korean, Chinese) is passed over and named in the note.
CdTextReading ParseCdTextPacks(const uint8_t* Packs, size_t Size);

}  // namespace cdrip
