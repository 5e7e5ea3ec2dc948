#include "cue_image.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "cue_sheet.h"
#include "image_error.h"

namespace cdrip {
namespace {

// The sheet's marks, with the start of the first file marked as track 1's INDEX 00 when
// track 1's INDEX 01 lies later in it and nothing marks the audio before: that audio is
// the track's pre-gap (hidden track one audio), as the disc the sheet was read from has it.
std::vector<CueMark> MarksFromFileStart(const std::vector<CueMark>& Marks) {
  std::vector<CueMark> marks = Marks;
  if (!marks.empty() && marks.front().Index == 1 && marks.front().Position > 0)
    marks.insert(marks.begin(), CueMark{marks.front().Track, 0, marks.front().File, 0});
  return marks;
}

// Lays the sheet's tracks out on the disc, one index mark after the other: the file
// content between two marks belongs to the earlier mark's track; silence goes before
// a track's first mark (PREGAP, or the gap before a new session) and after its content
// (POSTGAP). Track 1 without a pregap starts at sector 0.
class LayoutBuilder {
 public:
  LayoutBuilder(const std::string& Path, const CueSheet& Sheet,
                const std::vector<FileImage::ImageFile>& Files)
      : Path_(Path),
        Sheet_(Sheet),
        Marks_(MarksFromFileStart(Sheet.Marks)),
        Files_(Files),
        Starts_(Sheet.Tracks.size(), 0),
        PregapStarts_(Sheet.Tracks.size(), 0) {}

  // Throws EImageError when an index lies past the end of its file, a track would be
  // empty or the disc longer than a CD can address.
  std::pair<std::vector<FileImage::Extent>, Toc> Build();

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
  void CheckMarkInFile(const CueMark& Mark);
  void Advance(int32_t Sectors);
  Toc Contents() const;
  int32_t SectorBytesOf(const CueMark& Mark) const {
    return Sheet_.Tracks[static_cast<size_t>(Mark.Track)].SectorBytes;
  }

  const std::string& Path_;
  const CueSheet& Sheet_;
  const std::vector<CueMark> Marks_;
  const std::vector<FileImage::ImageFile>& Files_;
  std::map<int, Anchor> Anchors_;
  std::vector<FileImage::Extent> Extents_;
  std::vector<int32_t> Starts_;
  std::vector<int32_t> PregapStarts_;  // per track: where its PREGAP or INDEX 00 begins
  int32_t Cursor_ = 0;                 // never beyond MaxDiscSectors (Advance sees to it)
};

int64_t LayoutBuilder::ByteOf(int File, int32_t Sector, int32_t SectorBytes) const {
  auto found = Anchors_.find(File);
  const Anchor anchor = found != Anchors_.end() ? found->second : Anchor{0, 0, SectorBytes};
  return anchor.Byte + static_cast<int64_t>(Sector - anchor.Sector) * anchor.SectorBytes;
}

// Sectors from Sector to the end of the file's data; a last partial sector counts. A
// file that holds more than a disc gives one sector more than a disc, which the disc's
// length check then refuses.
int32_t LayoutBuilder::SectorsToEnd(int File, int32_t Sector, int32_t SectorBytes) const {
  const int64_t left =
      Files_[static_cast<size_t>(File)].DataBytes - ByteOf(File, Sector, SectorBytes);
  const int64_t sectors = left <= 0 ? 0 : (left + SectorBytes - 1) / SectorBytes;
  return static_cast<int32_t>(std::min<int64_t>(sectors, MaxDiscSectors + 1));
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

// A piece never reaches past the end of its file: only the start of a data track that
// the image left out may lie beyond it, and nothing of that track is in the file.
void LayoutBuilder::EmitFilePiece(int File, int32_t Sector, int32_t Sectors, int32_t SectorBytes) {
  Sectors = std::min(Sectors, SectorsToEnd(File, Sector, SectorBytes));
  if (Sectors <= 0) return;
  Extents_.push_back(
      FileImage::Extent{Cursor_, Sectors, File, ByteOf(File, Sector, SectorBytes), SectorBytes});
  Advance(Sectors);
}

void LayoutBuilder::EmitSilence(int32_t Sectors) {
  if (Sectors <= 0) return;
  Extents_.push_back(FileImage::Extent{Cursor_, Sectors, -1, 0, SectorBytes});
  Advance(Sectors);
}

void LayoutBuilder::Advance(int32_t Sectors) {
  const int64_t end = static_cast<int64_t>(Cursor_) + Sectors;
  if (end > MaxDiscSectors)
    throw EImageError(Path_ + ": the disc would last longer than " +
                      std::string(MaxDiscLengthText) +
                      ", the most a CD can hold; the sheet's times or gaps are wrong.");
  Cursor_ = static_cast<int32_t>(end);
}

// An index past the end of its file: the sheet does not describe these files. The
// start of a data track that the image left out may lie there.
void LayoutBuilder::CheckMarkInFile(const CueMark& Mark) {
  const FileImage::ImageFile& file = Files_[static_cast<size_t>(Mark.File)];
  const CueTrack& track = Sheet_.Tracks[static_cast<size_t>(Mark.Track)];
  if (track.LeftOut || Anchors_[Mark.File].Byte <= file.DataBytes) return;
  throw EImageError(Path_ + ": track " + std::to_string(track.Number) + " has an index at " +
                    MsfText(Mark.Position) + ", past the end of file " +
                    Sheet_.Files[static_cast<size_t>(Mark.File)].Name + " (" +
                    MsfText(file.DataBytes / track.SectorBytes) + " long).");
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
  const std::vector<CueMark>& marks = Marks_;
  const size_t track = static_cast<size_t>(marks[MarkIndex].Track);
  const CueTrack& current = Sheet_.Tracks[track];
  if (track == 0 || current.Session <= Sheet_.Tracks[track - 1].Session) return current.Pregap;
  int32_t inFilePregap = 0;
  if (marks[MarkIndex].Index == 0 && MarkIndex + 1 < marks.size())
    inFilePregap = ContentSectors(marks[MarkIndex], marks[MarkIndex + 1]);
  return std::max(current.Pregap, SessionGapSectors - inFilePregap);
}

std::pair<std::vector<FileImage::Extent>, Toc> LayoutBuilder::Build() {
  const std::vector<CueMark>& marks = Marks_;
  for (size_t i = 0; i < marks.size(); ++i) {
    const CueMark& mark = marks[i];
    if (i > 0) EmitContent(marks[i - 1], mark);
    SetAnchor(mark);
    CheckMarkInFile(mark);
    const bool firstOfTrack = i == 0 || marks[i - 1].Track != mark.Track;
    if (firstOfTrack) {
      if (i > 0) EmitSilence(Sheet_.Tracks[static_cast<size_t>(marks[i - 1].Track)].Postgap);
      EmitSilence(LeadInSilence(i));
      // A session gap is no pre-gap: the track's own begins with its PREGAP.
      PregapStarts_[static_cast<size_t>(mark.Track)] =
          Cursor_ - Sheet_.Tracks[static_cast<size_t>(mark.Track)].Pregap;
    }
    if (mark.Index == 1) Starts_[static_cast<size_t>(mark.Track)] = Cursor_;
  }
  EmitContent(marks.back(), std::nullopt);
  EmitSilence(Sheet_.Tracks.back().Postgap);
  return std::make_pair(std::move(Extents_), Contents());
}

Toc LayoutBuilder::Contents() const {
  Toc contents;
  for (size_t t = 0; t < Sheet_.Tracks.size(); ++t) {
    const CueTrack& track = Sheet_.Tracks[t];
    const int32_t next = t + 1 < Starts_.size() ? Starts_[t + 1] : Cursor_;
    // Only a data track that the image left out may hold no sector.
    if (next < Starts_[t] || (next == Starts_[t] && !track.LeftOut))
      throw EImageError(Path_ + ": track " + std::to_string(track.Number) +
                        " would be empty: its index lies at or after the next track's.");
    const uint8_t flag = track.Audio ? 0x10 : 0x14;
    contents.Tracks.push_back(TrackEntry{Starts_[t], flag, static_cast<uint8_t>(track.Number),
                                         static_cast<uint8_t>(track.Session),
                                         Starts_[t] - PregapStarts_[t]});
  }
  contents.LeadOut = Cursor_;
  contents.Text = Sheet_.Text;
  // REM SESSION lines are the sheet's answer to the drive's multisession question.
  const int lastSession = Sheet_.Tracks.back().Session;
  for (size_t t = 1; t < Sheet_.Tracks.size(); ++t)
    if (Sheet_.Tracks[t].Session == lastSession && Sheet_.Tracks[t - 1].Session < lastSession)
      contents.LastSessionStart = Starts_[t];
  return contents;
}

}  // namespace

std::shared_ptr<const FileImage> OpenCueImage(const std::string& CuePath) {
  const std::string text = ReadTextFile(CuePath);
  const CueSheet sheet = ParseCueSheet(text, CuePath);
  std::vector<std::string> paths{CuePath};
  for (const CueFile& named : sheet.Files) paths.push_back(ResolveSheetFile(CuePath, named.Name));
  std::vector<FileImage::ImageFile> files;
  for (size_t i = 0; i < sheet.Files.size(); ++i)
    files.push_back(OpenImageFile(paths[i + 1], sheet.Files[i].Kind));
  FilesStamp stamp;
  if (!stamp.Take(paths)) throw EImageError(CuePath + ": the image changed while it was opened.");
  auto layout = LayoutBuilder(CuePath, sheet, files).Build();
  return std::make_shared<const FileImage>(CuePath, std::move(files), std::move(layout.first),
                                           std::move(layout.second), std::move(stamp));
}

}  // namespace cdrip
