// A disc held in files, whatever sheet describes it (a cue sheet, a cdrdao .toc, a Nero
// image's own tables): its table of contents and the extents that map its sectors onto
// bytes of the files or onto silence (PREGAP and POSTGAP sectors, and the gap before a
// later session, which no file holds).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive.h"
#include "file_handle.h"

namespace cdrip {

// How a file holds its samples: raw little-endian, raw big-endian, or a RIFF WAVE file
// of 16-bit stereo 44100 Hz PCM whose header is skipped.
enum class FileKind { Binary, Motorola, Wave };

class FileImage {
 public:
  // One file the sheet names, open: where its samples begin and how many bytes of
  // them it holds.
  struct ImageFile {
    FileHandle Handle;
    int64_t DataOffset = 0;
    int64_t DataBytes = 0;
    bool SwapBytes = false;  // big-endian samples
  };

  // Sectors Lsn .. Lsn + Sectors - 1 of the disc: silence when File is -1, else the
  // file's sectors from ByteOffset (counted from its DataOffset) on. Sectors of other
  // sizes than 2352 bytes are data, read as silence.
  struct Extent {
    int32_t Lsn = 0;
    int32_t Sectors = 0;
    int File = -1;
    int64_t ByteOffset = 0;
    int32_t SectorBytes = cdrip::SectorBytes;
  };

  // Checks that the extents follow each other from LSN 0 without gaps, lie inside
  // their files' data, and that the table fits them and the CD's address range;
  // throws EImageError naming SheetPath otherwise.
  FileImage(const std::string& SheetPath, std::vector<ImageFile> Files, std::vector<Extent> Extents,
            Toc Contents, FilesStamp Stamp);

  const Toc& Contents() const { return Contents_; }
  // True while the sheet and its files are as they were when the image was opened.
  bool Unchanged() const { return Stamp_.Holds(); }
  // Fills Out with Count sectors from Lsn on (2352 bytes each, little-endian PCM).
  // Sectors that no file holds, data sectors and bytes missing from a file are silence.
  // Returns the sectors delivered; fewer than Count when a file could not be read.
  int32_t ReadSectors(uint8_t* Out, int32_t Lsn, int32_t Count) const;

 private:
  void Check(const std::string& SheetPath) const;
  int32_t ReadFromFile(uint8_t* Out, const Extent& Piece, int32_t Lsn, int32_t Count) const;

  std::vector<ImageFile> Files_;
  std::vector<Extent> Extents_;  // in disc order, without gaps between them
  Toc Contents_;
  FilesStamp Stamp_;
};

// Opens a file that a sheet names, as Kind says; a WAVE file must hold CD audio.
// Throws EImageError naming the file.
FileImage::ImageFile OpenImageFile(const std::string& Path, FileKind Kind);

// The file a sheet names, relative to the sheet's folder. Sheets written on other
// systems may use '\' and absolute paths that do not exist here; the file's own name
// in the sheet's folder is tried then.
std::string ResolveSheetFile(const std::string& SheetPath, std::string Name);

// "mm:ss:ff" of a sector count, for messages.
std::string MsfText(int64_t Sectors);

// Reads a disc image with plain file reads.
std::unique_ptr<SectorReader> MakeImageReader(std::shared_ptr<const FileImage> Image);

}  // namespace cdrip
