// cdrdao .toc files: the tracks they describe and the files they name, in the units of
// the disc (sectors) and of the files (bytes), ready to be laid out once the files are
// open. The catalogue and ISRC numbers are kept as the disc's texts; the other
// descriptive statements (CD-TEXT, flags) are read over and dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file_image.h"

namespace cdrip {

struct TocFile {
  std::string Name;  // as the .toc gives it
  FileKind Kind = FileKind::Binary;
  int Line = 0;  // where the .toc first names it
};

// A piece of a track's contents: silence, or the file's sectors from FirstByte on.
struct TocContent {
  int Line = 0;
  int File = -1;          // position in TocSheet::Files; -1: silence
  int64_t FirstByte = 0;  // counted from the file's first sample (after a WAVE header)
  // Nothing: the file's data to its end, a last partial sector included.
  std::optional<int64_t> Sectors;
};

struct TocTrack {
  int Line = 0;
  bool Audio = true;
  int32_t SectorBytes = 2352;  // bytes one sector of the track takes in its files
  std::vector<TocContent> Contents;
  // INDEX 01 (START or PREGAP): StartOffset sectors past the end of the first
  // StartAfter pieces of the contents. What lies before it is the track's pregap.
  size_t StartAfter = 0;
  int64_t StartOffset = 0;
  int StartLine = 0;  // 0: the .toc sets no START
};

struct TocSheet {
  std::vector<TocFile> Files;
  std::vector<TocTrack> Tracks;
  DiscText Text;  // CATALOG (track 0) and each track's ISRC
};

// Throws EImageError naming Path and the line when Text is no .toc file this library
// reads: an unknown keyword, a statement out of place, a time out of range, a FIFO.
TocSheet ParseTocSheet(const std::string& Text, const std::string& Path);

}  // namespace cdrip
