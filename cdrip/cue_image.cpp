#include "cue_image.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "cue_sheet.h"

namespace cdrip {
namespace {

namespace fs = std::filesystem;

// A cue sheet is a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t MaxCueSheetBytes = 1 << 20;

std::optional<std::string> ReadSheet(const std::string& Path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(Path, error);
  if (error || size > MaxCueSheetBytes) return std::nullopt;
  std::ifstream file(Path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The sheet names its files relative to its own folder. Sheets written on other
// systems may use '\' and absolute paths that do not exist here; the file's own name
// in the sheet's folder is tried then.
fs::path ResolveFile(const fs::path& SheetFolder, std::string Name) {
  std::replace(Name.begin(), Name.end(), '\\', '/');
  const fs::path named(Name);
  const fs::path direct = named.is_absolute() ? named : SheetFolder / named;
  std::error_code error;
  if (fs::exists(direct, error)) return direct;
  return SheetFolder / named.filename();
}

uint32_t Le32(const uint8_t* Bytes) {
  return Bytes[0] | (Bytes[1] << 8) | (Bytes[2] << 16) | (static_cast<uint32_t>(Bytes[3]) << 24);
}

uint16_t Le16(const uint8_t* Bytes) { return static_cast<uint16_t>(Bytes[0] | (Bytes[1] << 8)); }

// 16-bit stereo 44100 Hz PCM, plain or in the extensible header.
bool IsCdAudioFormat(const uint8_t* Fmt, uint32_t Size) {
  constexpr uint16_t PcmTag = 1;
  constexpr uint16_t ExtensibleTag = 0xFFFE;
  if (Size < 16) return false;
  const uint16_t tag = Le16(Fmt);
  if (tag == ExtensibleTag) {
    if (Size < 26 || Le16(Fmt + 24) != PcmTag) return false;
  } else if (tag != PcmTag) {
    return false;
  }
  return Le16(Fmt + 2) == 2 && Le32(Fmt + 4) == 44100 && Le16(Fmt + 14) == 16;
}

// Walks the RIFF chunks to the "data" chunk; the format must be CD audio.
bool LocateWaveData(CueImage::ImageFile& File, int64_t FileSize) {
  constexpr int MaxChunks = 64;
  uint8_t header[12];
  if (File.Handle.ReadAt(header, 12, 0) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WAVE", 4) != 0)
    return false;
  bool formatOk = false;
  int64_t offset = 12;
  for (int chunk = 0; chunk < MaxChunks && offset + 8 <= FileSize; ++chunk) {
    uint8_t chunkHeader[8];
    if (File.Handle.ReadAt(chunkHeader, 8, offset) != 8) return false;
    const uint32_t size = Le32(chunkHeader + 4);
    if (std::memcmp(chunkHeader, "fmt ", 4) == 0) {
      uint8_t fmt[40] = {};
      const auto wanted = static_cast<int64_t>(std::min<uint32_t>(size, sizeof fmt));
      formatOk =
          File.Handle.ReadAt(fmt, wanted, offset + 8) == wanted && IsCdAudioFormat(fmt, size);
    } else if (std::memcmp(chunkHeader, "data", 4) == 0) {
      File.DataOffset = offset + 8;
      // Writers that stream leave the size at 0 or at its maximum: the rest of the
      // file is the data then.
      const int64_t rest = FileSize - File.DataOffset;
      File.DataBytes = (size == 0 || size > rest) ? rest : size;
      return formatOk;
    }
    offset += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  return false;
}

std::optional<CueImage::ImageFile> OpenImageFile(const fs::path& Path, FileKind Kind) {
  CueImage::ImageFile file;
  file.Handle = FileHandle(Path.string());
  const int64_t size = file.Handle.Size();
  if (size < 0) return std::nullopt;
  file.SwapBytes = Kind == FileKind::Motorola;
  if (Kind == FileKind::Wave) {
    if (!LocateWaveData(file, size)) return std::nullopt;
  } else {
    file.DataBytes = size;
  }
  return file;
}

// Lays the sheet's tracks out on the disc, one index mark after the other: the file
// content between two marks belongs to the earlier mark's track; silence goes before
// a track's first mark (PREGAP, or the gap before a new session) and after its content
// (POSTGAP). Track 1 without a pregap starts at sector 0.
class LayoutBuilder {
 public:
  LayoutBuilder(const CueSheet& Sheet, const std::vector<CueImage::ImageFile>& Files)
      : Sheet_(Sheet), Files_(Files), Starts_(Sheet.Tracks.size(), 0) {}

  // Nothing when a track would be empty.
  std::optional<std::pair<std::vector<CueImage::Extent>, Toc>> Build();

 private:
  // Where a file's sectors lie in its bytes: position Sector is at byte Byte, and
  // sectors from there on take SectorBytes each (that of the track they belong to).
  struct Anchor {
    int32_t Sector = 0;
    int64_t Byte = 0;
    int32_t SectorBytes = 2352;
  };

  int64_t ByteOf(int File, int32_t Sector, int32_t SectorBytes) const;
  int32_t SectorsToEnd(int File, int32_t Sector, int32_t SectorBytes) const;
  int32_t ContentSectors(const CueMark& From, const std::optional<CueMark>& To) const;
  int32_t LeadInSilence(size_t MarkIndex) const;
  void EmitContent(const CueMark& From, const std::optional<CueMark>& To);
  void EmitFilePiece(int File, int32_t Sector, int32_t Sectors, int32_t SectorBytes);
  void EmitSilence(int32_t Sectors);
  void SetAnchor(const CueMark& Mark);
  int32_t SectorBytesOf(const CueMark& Mark) const {
    return Sheet_.Tracks[static_cast<size_t>(Mark.Track)].SectorBytes;
  }

  const CueSheet& Sheet_;
  const std::vector<CueImage::ImageFile>& Files_;
  std::map<int, Anchor> Anchors_;
  std::vector<CueImage::Extent> Extents_;
  std::vector<int32_t> Starts_;
  int32_t Cursor_ = 0;
};

int64_t LayoutBuilder::ByteOf(int File, int32_t Sector, int32_t SectorBytes) const {
  auto found = Anchors_.find(File);
  const Anchor anchor = found != Anchors_.end() ? found->second : Anchor{0, 0, SectorBytes};
  return anchor.Byte + static_cast<int64_t>(Sector - anchor.Sector) * anchor.SectorBytes;
}

// Sectors from Sector to the end of the file's data; a last partial sector counts.
int32_t LayoutBuilder::SectorsToEnd(int File, int32_t Sector, int32_t SectorBytes) const {
  const int64_t left =
      Files_[static_cast<size_t>(File)].DataBytes - ByteOf(File, Sector, SectorBytes);
  return left <= 0 ? 0 : static_cast<int32_t>((left + SectorBytes - 1) / SectorBytes);
}

// Sectors from mark From to mark To (or to the end of the files, without To).
int32_t LayoutBuilder::ContentSectors(const CueMark& From, const std::optional<CueMark>& To) const {
  const int32_t sectorBytes = SectorBytesOf(From);
  if (To && To->File == From.File) return To->Position - From.Position;
  int32_t sectors = SectorsToEnd(From.File, From.Position, sectorBytes);
  const int lastFile = To ? To->File : static_cast<int>(Files_.size());
  for (int file = From.File + 1; file < lastFile; ++file)
    sectors += SectorsToEnd(file, 0, sectorBytes);
  return sectors + (To ? To->Position : 0);
}

void LayoutBuilder::EmitContent(const CueMark& From, const std::optional<CueMark>& To) {
  const int32_t sectorBytes = SectorBytesOf(From);
  if (To && To->File == From.File) {
    EmitFilePiece(From.File, From.Position, To->Position - From.Position, sectorBytes);
    return;
  }
  EmitFilePiece(From.File, From.Position, SectorsToEnd(From.File, From.Position, sectorBytes),
                sectorBytes);
  const int lastFile = To ? To->File : static_cast<int>(Files_.size());
  for (int file = From.File + 1; file <= lastFile && file < static_cast<int>(Files_.size());
       ++file) {
    Anchors_[file] = Anchor{0, 0, sectorBytes};
    const int32_t sectors =
        (To && file == lastFile) ? To->Position : SectorsToEnd(file, 0, sectorBytes);
    EmitFilePiece(file, 0, sectors, sectorBytes);
  }
}

void LayoutBuilder::EmitFilePiece(int File, int32_t Sector, int32_t Sectors, int32_t SectorBytes) {
  if (Sectors <= 0) return;
  Extents_.push_back(
      CueImage::Extent{Cursor_, Sectors, File, ByteOf(File, Sector, SectorBytes), SectorBytes});
  Cursor_ += Sectors;
}

void LayoutBuilder::EmitSilence(int32_t Sectors) {
  if (Sectors <= 0) return;
  Extents_.push_back(CueImage::Extent{Cursor_, Sectors, -1, 0, SectorBytes});
  Cursor_ += Sectors;
}

void LayoutBuilder::SetAnchor(const CueMark& Mark) {
  const int32_t sectorBytes = SectorBytesOf(Mark);
  Anchors_[Mark.File] =
      Anchor{Mark.Position, ByteOf(Mark.File, Mark.Position, sectorBytes), sectorBytes};
}

// The silence before a track's first mark: its PREGAP; for the first track of a later
// session, whatever the gap of 11400 sectors before its INDEX 01 leaves once the
// track's own pregap (PREGAP or INDEX 00 in the file) is counted.
int32_t LayoutBuilder::LeadInSilence(size_t MarkIndex) const {
  const std::vector<CueMark>& marks = Sheet_.Marks;
  const size_t track = static_cast<size_t>(marks[MarkIndex].Track);
  const CueTrack& current = Sheet_.Tracks[track];
  if (track == 0 || current.Session <= Sheet_.Tracks[track - 1].Session) return current.Pregap;
  int32_t inFilePregap = 0;
  if (marks[MarkIndex].Index == 0 && MarkIndex + 1 < marks.size())
    inFilePregap = ContentSectors(marks[MarkIndex], marks[MarkIndex + 1]);
  return std::max(current.Pregap, SessionGapSectors - inFilePregap);
}

std::optional<std::pair<std::vector<CueImage::Extent>, Toc>> LayoutBuilder::Build() {
  const std::vector<CueMark>& marks = Sheet_.Marks;
  for (size_t i = 0; i < marks.size(); ++i) {
    const CueMark& mark = marks[i];
    if (i > 0) EmitContent(marks[i - 1], mark);
    SetAnchor(mark);
    // An index past the end of its file: the sheet does not describe these files.
    if (Anchors_[mark.File].Byte > Files_[static_cast<size_t>(mark.File)].DataBytes)
      return std::nullopt;
    const bool firstOfTrack = i == 0 || marks[i - 1].Track != mark.Track;
    if (firstOfTrack) {
      if (i > 0) EmitSilence(Sheet_.Tracks[static_cast<size_t>(marks[i - 1].Track)].Postgap);
      EmitSilence(LeadInSilence(i));
    }
    if (mark.Index == 1) Starts_[static_cast<size_t>(mark.Track)] = Cursor_;
  }
  EmitContent(marks.back(), std::nullopt);
  EmitSilence(Sheet_.Tracks.back().Postgap);

  Toc contents;
  for (size_t t = 0; t < Sheet_.Tracks.size(); ++t) {
    const CueTrack& track = Sheet_.Tracks[t];
    const uint8_t flag = track.Audio ? 0x10 : 0x14;
    contents.Tracks.push_back(TrackEntry{Starts_[t], flag, static_cast<uint8_t>(track.Number)});
  }
  contents.LeadOut = Cursor_;
  for (size_t t = 0; t < Starts_.size(); ++t) {
    const int32_t next = t + 1 < Starts_.size() ? Starts_[t + 1] : contents.LeadOut;
    if (next <= Starts_[t]) return std::nullopt;
  }
  return std::make_pair(std::move(Extents_), std::move(contents));
}

void SwapSampleBytes(uint8_t* Bytes, int64_t Count) {
  for (int64_t i = 0; i + 1 < Count; i += 2) std::swap(Bytes[i], Bytes[i + 1]);
}

class ImageReader : public SectorReader {
 public:
  explicit ImageReader(std::shared_ptr<const CueImage> Image) : Image_(std::move(Image)) {}
  int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) override {
    return Image_->ReadSectors(Out, Lsn, Count);
  }

 private:
  std::shared_ptr<const CueImage> Image_;
};

}  // namespace

CueImage::CueImage(std::vector<ImageFile> Files, std::vector<Extent> Extents, Toc Contents,
                   FilesStamp Stamp)
    : Files_(std::move(Files)),
      Extents_(std::move(Extents)),
      Contents_(std::move(Contents)),
      Stamp_(std::move(Stamp)) {}

std::shared_ptr<const CueImage> CueImage::OpenCue(const std::string& CuePath) {
  const std::optional<std::string> text = ReadSheet(CuePath);
  if (!text) return nullptr;
  const std::optional<CueSheet> sheet = ParseCueSheet(*text);
  if (!sheet) return nullptr;
  const fs::path folder = fs::path(CuePath).parent_path();
  std::vector<std::string> paths{CuePath};
  for (const CueFile& named : sheet->Files)
    paths.push_back(ResolveFile(folder, named.Name).string());
  FilesStamp stamp;
  if (!stamp.Take(paths)) return nullptr;
  std::vector<ImageFile> files;
  for (size_t i = 0; i < sheet->Files.size(); ++i) {
    std::optional<ImageFile> file = OpenImageFile(paths[i + 1], sheet->Files[i].Kind);
    if (!file) return nullptr;
    files.push_back(std::move(*file));
  }
  auto layout = LayoutBuilder(*sheet, files).Build();
  if (!layout) return nullptr;
  return std::make_shared<const CueImage>(std::move(files), std::move(layout->first),
                                          std::move(layout->second), std::move(stamp));
}

int32_t CueImage::ReadSectors(uint8_t* Out, int32_t Lsn, int32_t Count) const {
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
int32_t CueImage::ReadFromFile(uint8_t* Out, const Extent& Piece, int32_t Lsn, int32_t Count) const {
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

std::unique_ptr<SectorReader> MakeImageReader(std::shared_ptr<const CueImage> Image) {
  return std::make_unique<ImageReader>(std::move(Image));
}

}  // namespace cdrip
