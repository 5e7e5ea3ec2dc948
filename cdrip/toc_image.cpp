#include "toc_image.h"

#include <utility>

#include "image_error.h"
#include "toc_sheet.h"

namespace cdrip {
namespace {

// Lays the tracks out one after the other from sector 0: each piece of a track's
// contents becomes an extent, a track's INDEX 01 its entry in the table, the end of the
// last track the lead-out. Sector counts stay 64-bit while they grow and are checked
// against the CD's address range before they are narrowed.
class TocLayout {
 public:
  TocLayout(const TocSheet& Sheet, const std::vector<FileImage::ImageFile>& Files,
            const std::string& Path)
      : Sheet_(Sheet), Files_(Files), Path_(Path) {}

  std::pair<std::vector<FileImage::Extent>, Toc> Build();

 private:
  int64_t PlaceTrack(const TocTrack& Track, size_t Number);
  int64_t SectorsOf(const TocContent& Content, int32_t SectorBytes) const;
  void Emit(const TocContent& Content, int64_t Sectors, int32_t SectorBytes);
  [[noreturn]] void Fail(int Line, const std::string& What) const {
    throw EImageError(LineMessage(Path_, Line, What));
  }

  const TocSheet& Sheet_;
  const std::vector<FileImage::ImageFile>& Files_;
  const std::string& Path_;
  std::vector<FileImage::Extent> Extents_;
  int64_t Cursor_ = 0;
};

std::pair<std::vector<FileImage::Extent>, Toc> TocLayout::Build() {
  Toc contents;
  for (size_t t = 0; t < Sheet_.Tracks.size(); ++t) {
    const TocTrack& track = Sheet_.Tracks[t];
    const int64_t begin = Cursor_;  // what lies before the track's START is its pre-gap
    const int64_t start = PlaceTrack(track, t + 1);
    contents.Tracks.push_back(
        TrackEntry{static_cast<int32_t>(start), static_cast<uint8_t>(track.Audio ? 0x10 : 0x14),
                   static_cast<uint8_t>(t + 1), 0, static_cast<int32_t>(start - begin)});
  }
  contents.LeadOut = static_cast<int32_t>(Cursor_);
  contents.Text = Sheet_.Text;
  return std::make_pair(std::move(Extents_), std::move(contents));
}

// Emits the track's contents; returns the sector of its INDEX 01.
int64_t TocLayout::PlaceTrack(const TocTrack& Track, size_t Number) {
  const int64_t begin = Cursor_;
  int64_t index01 = begin;
  for (size_t i = 0; i < Track.Contents.size(); ++i) {
    if (i == Track.StartAfter) index01 = Cursor_;
    const TocContent& content = Track.Contents[i];
    Emit(content, SectorsOf(content, Track.SectorBytes), Track.SectorBytes);
  }
  if (Track.StartAfter >= Track.Contents.size()) index01 = Cursor_;
  index01 += Track.StartOffset;
  const std::string name = "track " + std::to_string(Number);
  if (Cursor_ == begin)
    Fail(Track.Line, name + " has no contents: give it a FILE, DATAFILE, SILENCE or ZERO.");
  if (index01 >= Cursor_)
    Fail(Track.StartLine, "the START of " + name + " lies at " + MsfText(index01 - begin) +
                              ", not before the end of its contents (" + MsfText(Cursor_ - begin) +
                              ").");
  return index01;
}

// The sectors a piece takes: its length, or the rest of its file, where a last partial
// sector counts as a whole one (it reads padded with silence).
int64_t TocLayout::SectorsOf(const TocContent& Content, int32_t SectorBytes) const {
  if (Content.File < 0) return Content.Sectors.value_or(0);
  const TocFile& named = Sheet_.Files[static_cast<size_t>(Content.File)];
  const int64_t dataBytes = Files_[static_cast<size_t>(Content.File)].DataBytes;
  const std::string file = "\"" + named.Name + "\"";
  if (Content.FirstByte > dataBytes)
    Fail(Content.Line, "the start at byte " + std::to_string(Content.FirstByte) +
                           " lies past the end of " + file + ", which holds " +
                           std::to_string(dataBytes) + " bytes of data.");
  const int64_t available = (dataBytes - Content.FirstByte + SectorBytes - 1) / SectorBytes;
  if (!Content.Sectors && available == 0)
    Fail(Content.Line, file + " holds no data from its start at byte " +
                           std::to_string(Content.FirstByte) + " on.");
  if (Content.Sectors && *Content.Sectors > available)
    Fail(Content.Line, "the length " + MsfText(*Content.Sectors) + " reaches past the end of " +
                           file + ", which holds " + MsfText(available) + " from the start on.");
  return Content.Sectors.value_or(available);
}

void TocLayout::Emit(const TocContent& Content, int64_t Sectors, int32_t SectorBytes) {
  if (Sectors > MaxDiscSectors - Cursor_)
    Fail(Content.Line, "the disc would last " + MsfText(Cursor_ + Sectors) + ", longer than the " +
                           std::string(MaxDiscLengthText) + " a CD holds at most.");
  if (Sectors == 0) return;
  FileImage::Extent piece;
  piece.Lsn = static_cast<int32_t>(Cursor_);
  piece.Sectors = static_cast<int32_t>(Sectors);
  piece.File = Content.File;
  piece.ByteOffset = Content.FirstByte;
  piece.SectorBytes = SectorBytes;
  Extents_.push_back(piece);
  Cursor_ += Sectors;
}

// Opens the files in the order the .toc names them; a file that cannot be read is
// reported at the line that first names it.
std::vector<FileImage::ImageFile> OpenFiles(const TocSheet& Sheet, const std::string& TocPath,
                                            std::vector<std::string>& Paths) {
  std::vector<FileImage::ImageFile> files;
  for (const TocFile& named : Sheet.Files) {
    Paths.push_back(ResolveSheetFile(TocPath, named.Name));
    try {
      files.push_back(OpenImageFile(Paths.back(), named.Kind));
    } catch (const EImageError& error) {
      throw EImageError(LineMessage(TocPath, named.Line, error.what()));
    }
  }
  return files;
}

}  // namespace

std::shared_ptr<const FileImage> OpenTocImage(const std::string& TocPath) {
  const TocSheet sheet = ParseTocSheet(ReadTextFile(TocPath), TocPath);
  std::vector<std::string> paths{TocPath};
  std::vector<FileImage::ImageFile> files = OpenFiles(sheet, TocPath, paths);
  // Taken after the files were opened, as they were read: a later change re-reads them.
  FilesStamp stamp;
  if (!stamp.Take(paths)) throw EImageError(TocPath + ": the image changed while it was opened.");
  auto [extents, contents] = TocLayout(sheet, files, TocPath).Build();
  return std::make_shared<const FileImage>(TocPath, std::move(files), std::move(extents),
                                           std::move(contents), std::move(stamp));
}

}  // namespace cdrip
