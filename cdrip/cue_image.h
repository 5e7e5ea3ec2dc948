// A disc held in files, as a cue sheet describes it: its table of contents and the
// extents that map its sectors onto bytes of the files or onto silence (PREGAP and
// POSTGAP sectors, and the gap before a later session, which no file holds).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive.h"
#include "file_handle.h"

namespace cdrip {

class CueImage {
 public:
  // Nothing when the sheet or a file it names cannot be read.
  static std::shared_ptr<const CueImage> OpenCue(const std::string& CuePath);

  // One file the sheet names, open: where its samples begin and how many bytes of
  // them it holds.
  struct ImageFile {
    FileHandle Handle;
    int64_t DataOffset = 0;
    int64_t DataBytes = 0;
    bool SwapBytes = false;  // big-endian samples
  };

  // Sectors Lsn .. Lsn + Sectors - 1 of the disc: silence when File is -1, else the
  // file's sectors from ByteOffset (counted from its DataOffset) on.
  struct Extent {
    int32_t Lsn = 0;
    int32_t Sectors = 0;
    int File = -1;
    int64_t ByteOffset = 0;
    int32_t SectorBytes = SectorBytes;
  };

  CueImage(std::vector<ImageFile> Files, std::vector<Extent> Extents, Toc Contents,
           FilesStamp Stamp);

  const Toc& Contents() const { return Contents_; }
  // True while the sheet and its files are as they were when the image was opened.
  bool Unchanged() const { return Stamp_.Holds(); }
  // Fills Out with Count sectors from Lsn on (2352 bytes each, little-endian PCM).
  // Sectors that no file holds, data sectors and bytes missing from a file are silence.
  // Returns the sectors delivered; fewer than Count when a file could not be read.
  int32_t ReadSectors(uint8_t* Out, int32_t Lsn, int32_t Count) const;

 private:
  int32_t ReadFromFile(uint8_t* Out, const Extent& Piece, int32_t Lsn, int32_t Count) const;

  std::vector<ImageFile> Files_;
  std::vector<Extent> Extents_;  // in disc order, without gaps between them
  Toc Contents_;
  FilesStamp Stamp_;
};

// Reads a disc image with plain file reads.
std::unique_ptr<SectorReader> MakeImageReader(std::shared_ptr<const CueImage> Image);

}  // namespace cdrip
