#include "file_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "byte_order.h"
#include "image_error.h"
#include "text_case.h"

namespace cdrip {
namespace {

namespace fs = std::filesystem;

// 16-bit stereo 44100 Hz PCM, plain or in the extensible header.
bool IsCdAudioFormat(const uint8_t* Fmt, uint32_t Size) {
  constexpr uint16_t PcmTag = 1;
  constexpr uint16_t ExtensibleTag = 0xFFFE;
  if (Size < 16) return false;
  const uint16_t tag = GetLe16(Fmt);
  if (tag == ExtensibleTag) {
    if (Size < 26 || GetLe16(Fmt + 24) != PcmTag) return false;
  } else if (tag != PcmTag) {
    return false;
  }
  return GetLe16(Fmt + 2) == 2 && GetLe32(Fmt + 4) == 44100 && GetLe16(Fmt + 14) == 16;
}

// Walks the RIFF chunks to the "fmt " and "data" chunks, in either order (writers
// may put the format after the audio); the format must be CD audio. Metadata can come
// in many small chunks; a file with more than MaxChunks of them before its format and
// audio is refused for that.
bool LocateWaveData(FileImage::ImageFile& File, int64_t FileSize, const std::string& Path) {
  constexpr int MaxChunks = 4096;
  bool dataSeen = false;
  uint8_t header[12];
  if (File.Handle.ReadAt(header, 12, 0) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WAVE", 4) != 0)
    return false;
  bool formatOk = false;
  int64_t offset = 12;
  for (int chunk = 0; offset + 8 <= FileSize; ++chunk) {
    if (chunk == MaxChunks)
      throw EImageError(Path + ": its format and audio do not come within its first " +
                        std::to_string(MaxChunks) + " chunks, and no more are read.");
    uint8_t chunkHeader[8];
    if (File.Handle.ReadAt(chunkHeader, 8, offset) != 8) return false;
    const uint32_t size = GetLe32(chunkHeader + 4);
    if (std::memcmp(chunkHeader, "fmt ", 4) == 0) {
      uint8_t fmt[40] = {};
      const auto wanted = static_cast<int64_t>(std::min<uint32_t>(size, sizeof fmt));
      formatOk =
          File.Handle.ReadAt(fmt, wanted, offset + 8) == wanted && IsCdAudioFormat(fmt, size);
      if (dataSeen) return formatOk;
    } else if (std::memcmp(chunkHeader, "data", 4) == 0 && !dataSeen) {
      File.DataOffset = offset + 8;
      // Writers that stream leave the size at 0 or at its maximum: the rest of the
      // file is the data then, and no chunk can follow it.
      const int64_t rest = FileSize - File.DataOffset;
      const bool toTheEnd = size == 0 || size > rest;
      File.DataBytes = toTheEnd ? rest : size;
      dataSeen = true;
      if (formatOk || toTheEnd) return formatOk;
    }
    offset += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  return false;
}

void SwapSampleBytes(uint8_t* Bytes, int64_t Count) {
  for (int64_t i = 0; i + 1 < Count; i += 2) std::swap(Bytes[i], Bytes[i + 1]);
}

class ImageReader : public SectorReader {
 public:
  explicit ImageReader(std::shared_ptr<const FileImage> Image) : Image_(std::move(Image)) {}
  int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) override {
    return Image_->ReadSectors(Out, Lsn, Count);
  }

 private:
  std::shared_ptr<const FileImage> Image_;
};

}  // namespace

std::string MsfText(int64_t Sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld",
                static_cast<long long>(Sectors / 75 / 60),
                static_cast<long long>(Sectors / 75 % 60), static_cast<long long>(Sectors % 75));
  return text;
}

FileImage::ImageFile OpenImageFile(const std::string& Path, FileKind Kind) {
  FileImage::ImageFile file;
  file.Handle = FileHandle::OpenRegular(Path);
  const int64_t size = file.Handle.Size();
  file.SwapBytes = Kind == FileKind::Motorola;
  if (Kind != FileKind::Wave) {
    file.DataBytes = size;
  } else if (!LocateWaveData(file, size, Path)) {
    throw EImageError(Path + ": not a WAVE file of CD audio (16-bit stereo PCM at 44100 Hz).");
  }
  return file;
}

namespace {

// Where the sheet's name leads: the path as given (beside the sheet when relative), or
// else the file of that name beside the sheet; empty when neither exists.
std::string ExistingSheetFile(const fs::path& Folder, const std::string& Name) {
  const fs::path named(Name);
  std::error_code error;
  for (const fs::path& candidate :
       {named.is_absolute() ? named : Folder / named, Folder / named.filename()}) {
    if (fs::exists(candidate, error)) return candidate.string();
  }
  return std::string();
}

}  // namespace

// A name that is not UTF-8 comes from a sheet in Latin-1 (as sheets written on other
// systems mostly are), while the file system stores names in UTF-8: "Caf\xE9.bin" is
// found as "Café.bin".
std::string ResolveSheetFile(const std::string& SheetPath, std::string Name) {
  const fs::path folder = fs::path(SheetPath).parent_path();
  std::replace(Name.begin(), Name.end(), '\\', '/');
  std::string found = ExistingSheetFile(folder, Name);
  if (found.empty() && !IsUtf8(Name)) found = ExistingSheetFile(folder, Latin1ToUtf8(Name));
  return found.empty() ? (folder / fs::path(Name).filename()).string() : found;
}

FileImage::FileImage(const std::string& SheetPath, std::vector<ImageFile> Files,
                     std::vector<Extent> Extents, Toc Contents, FilesStamp Stamp)
    : Files_(std::move(Files)),
      Extents_(std::move(Extents)),
      Contents_(std::move(Contents)),
      Stamp_(std::move(Stamp)) {
  Check(SheetPath);
}

// What every reader of a sheet must have got right; a reader's own checks give the
// better message, these keep a mistake from reaching a rip.
void FileImage::Check(const std::string& SheetPath) const {
  const auto refuse = [&](const std::string& What) { throw EImageError(SheetPath + ": " + What); };
  const std::vector<TrackEntry>& tracks = Contents_.Tracks;
  if (tracks.empty() || tracks.size() > 99) refuse("a disc holds 1 to 99 tracks.");
  if (Contents_.LeadOut > MaxDiscSectors)
    refuse("the disc would last " + MsfText(Contents_.LeadOut) + ", longer than a CD can hold (" +
           std::string(MaxDiscLengthText) + ").");
  int64_t next = Extents_.empty() ? Contents_.LeadOut : 0;
  for (const Extent& piece : Extents_) {
    if (piece.Lsn != next || piece.Sectors <= 0) refuse("the layout of the disc has a hole.");
    if (piece.File >= 0) {
      const ImageFile& file = Files_.at(static_cast<size_t>(piece.File));
      const int64_t lastByte =
          piece.ByteOffset + static_cast<int64_t>(piece.Sectors - 1) * piece.SectorBytes;
      if (piece.ByteOffset < 0 || lastByte >= file.DataBytes)
        refuse("a track lies past the end of its file.");
    }
    next += piece.Sectors;
  }
  if (next != Contents_.LeadOut) refuse("the layout of the disc does not reach its lead-out.");
  for (size_t i = 0; i < tracks.size(); ++i) {
    const int32_t end = i + 1 < tracks.size() ? tracks[i + 1].StartSector : Contents_.LeadOut;
    // A data track that the image left out has no sectors; an audio track always has.
    const bool empty = end == tracks[i].StartSector;
    if (tracks[i].StartSector < 0 || end < tracks[i].StartSector ||
        (empty && tracks[i].Flag == 0x10))
      refuse("track " + std::to_string(tracks[i].Number) + " would be empty or run backwards.");
  }
}

int32_t FileImage::ReadSectors(uint8_t* Out, int32_t Lsn, int32_t Count) const {
  int32_t delivered = 0;
  // The extent holding Lsn: the last one that starts at or before it.
  auto piece = std::upper_bound(Extents_.begin(), Extents_.end(), Lsn,
                                [](int32_t sector, const Extent& e) { return sector < e.Lsn; });
  if (piece != Extents_.begin()) --piece;
  while (Count > 0) {
    const bool inside =
        piece != Extents_.end() && piece->Lsn <= Lsn && Lsn < piece->Lsn + piece->Sectors;
    int32_t sectors = 1;
    if (inside) {
      sectors = std::min(Count, piece->Lsn + piece->Sectors - Lsn);
      const int32_t read = ReadFromFile(Out, *piece, Lsn, sectors);
      if (read < sectors) return delivered + read;
    } else {
      // Before the first extent or past the lead-out.
      if (piece != Extents_.end() && Lsn < piece->Lsn)
        sectors = std::min(Count, piece->Lsn - Lsn);
      else
        sectors = Count;
      std::memset(Out, 0, static_cast<size_t>(sectors) * SectorBytes);
    }
    Out += static_cast<size_t>(sectors) * SectorBytes;
    Lsn += sectors;
    Count -= sectors;
    delivered += sectors;
    if (inside && Lsn >= piece->Lsn + piece->Sectors) ++piece;
  }
  return delivered;
}

// A file that gives fewer bytes than it held when the image was opened (it was cut
// short since, or the disk failed) is a read failure, not silence.
int32_t FileImage::ReadFromFile(uint8_t* Out, const Extent& Piece, int32_t Lsn,
                                int32_t Count) const {
  const int64_t bytes = static_cast<int64_t>(Count) * SectorBytes;
  if (Piece.File < 0 || Piece.SectorBytes != SectorBytes) {
    std::memset(Out, 0, static_cast<size_t>(bytes));
    return Count;
  }
  const ImageFile& file = Files_[static_cast<size_t>(Piece.File)];
  const int64_t first = Piece.ByteOffset + static_cast<int64_t>(Lsn - Piece.Lsn) * SectorBytes;
  const int64_t wanted = std::max<int64_t>(0, std::min(bytes, file.DataBytes - first));
  const int64_t got = wanted > 0 ? file.Handle.ReadAt(Out, wanted, file.DataOffset + first) : 0;
  if (got < wanted) return static_cast<int32_t>(got / SectorBytes);
  if (got < bytes) std::memset(Out + got, 0, static_cast<size_t>(bytes - got));
  if (file.SwapBytes) SwapSampleBytes(Out, got);
  return Count;
}

std::unique_ptr<SectorReader> MakeImageReader(std::shared_ptr<const FileImage> Image) {
  return std::make_unique<ImageReader>(std::move(Image));
}

}  // namespace cdrip
