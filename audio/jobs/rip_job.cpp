#include "rip_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <utility>

#include "audio_flac.h"
#include "audio_lame.h"
#include "audio_vorbis.h"
#include "disc_tags.h"
#include "file_stream.h"
#include "track_entry.h"

const char* OutputExtension(TOutputFormat Format) {
  switch (Format) {
    case TOutputFormat::Mp3: return ".mp3";
    case TOutputFormat::Ogg: return ".ogg";
    case TOutputFormat::Flac: return ".flac";
    case TOutputFormat::Wav: break;
  }
  return ".wav";
}

std::string JobFileName(const std::string& Folder, const std::string& Caption,
                        TOutputFormat Format) {
  const std::string safe = SafeFileName(Caption);
  return Folder + "/" + (safe.empty() ? std::string("_") : safe) + OutputExtension(Format);
}

namespace {

// "Track01.wav" with Number 2: "Track01 (2).wav".
std::string NumberedName(const std::string& FileName, int Number) {
  const std::filesystem::path path(FileName);
  std::filesystem::path numbered = path;
  numbered.replace_filename(path.stem().string() + " (" + std::to_string(Number) + ")" +
                            path.extension().string());
  return numbered.string();
}

using TFileIdentity = std::pair<uint64_t, uint64_t>;  // device and inode

std::optional<TFileIdentity> FileIdentity(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return TFileIdentity{info.st_dev, info.st_ino};
}

// The regular files this process holds open: the CD library keeps a disc image's audio
// files open while the image is a drive.
std::set<TFileIdentity> OpenFileIdentities() {
  std::set<TFileIdentity> open;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
    if (const auto identity = FileIdentity(entry.path().string())) open.insert(*identity);
  return open;
}

// The comment name of a line NAME=value, in capitals (comment names ignore case).
std::string CommentName(const std::string& Line) {
  const size_t equals = Line.find('=');
  std::string name = Line.substr(0, equals == std::string::npos ? 0 : equals);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

// The run's comment lines with the job's own title and track number: a per-job value
// replaces a line of the same name given for every file.
std::vector<std::string> JobComments(const TRowTagRules& Rules, int Index,
                                     const std::string& Caption) {
  std::vector<std::string> own;
  if (Rules.TitleFromName) own.push_back("TITLE=" + Caption);
  if (Rules.FirstTrack) own.push_back("TRACKNUMBER=" + std::to_string(*Rules.FirstTrack + Index));
  std::vector<std::string> lines;
  for (const std::string& line : Rules.Comments) {
    const bool replaced = std::any_of(own.begin(), own.end(), [&](const std::string& Own) {
      return CommentName(Own) == CommentName(line);
    });
    if (!replaced) lines.push_back(line);
  }
  lines.insert(lines.end(), own.begin(), own.end());
  return lines;
}

// The disc's values as comment lines, for the names that Lines does not hold already.
std::vector<std::string> WithDiscComments(std::vector<std::string> Lines, const TTrackTags& Disc) {
  const std::pair<const char*, std::string> known[] = {
      {"TITLE", Disc.Title},
      {"ARTIST", Disc.Artist},
      {"ALBUM", Disc.Album},
      {"DATE", Disc.Year},
      {"GENRE", Disc.Genre},
      {"TRACKNUMBER", Disc.Number > 0 ? std::to_string(Disc.Number) : ""},
      {"TRACKTOTAL", Disc.Total > 0 ? std::to_string(Disc.Total) : ""},
      {"DISCNUMBER", Disc.Disc > 0 ? std::to_string(Disc.Disc) : ""},
      {"DISCTOTAL", Disc.Discs > 0 ? std::to_string(Disc.Discs) : ""}};
  std::set<std::string> given;
  for (const std::string& line : Lines) given.insert(CommentName(line));
  for (const auto& [name, value] : known)
    if (!value.empty() && given.count(name) == 0) Lines.push_back(std::string(name) + "=" + value);
  return Lines;
}

// The MP3 output's tag texts by their field names.
std::vector<std::pair<const char*, TSharedText*>> Id3Fields(TMP3Out& Mp3) {
  return {{"title", &Mp3.Id3TagTitle}, {"artist", &Mp3.Id3TagArtist}, {"album", &Mp3.Id3TagAlbum},
          {"year", &Mp3.Id3TagYear},   {"genre", &Mp3.Id3TagGenre},   {"track", &Mp3.Id3TagTrack},
          {"disc", &Mp3.Id3TagDisc}};
}

// "7/10" as ID3 numbers a track (or a disc) of a whole; "7" when the whole is unknown.
std::string PartOf(int Number, int Total) {
  if (Number <= 0) return std::string();
  return std::to_string(Number) + (Total > 0 ? "/" + std::to_string(Total) : std::string());
}

// The disc's values in the ID3 fields that the user left to it. The output keeps its
// fields from job to job, so a field the disc does not know for this track (or a disc
// that says nothing) gets back the value the run started with.
void ApplyDiscId3(TMP3Out& Mp3, const TRowTagRules& Rules, const TTrackTags& Disc) {
  auto fill = [&](const char* Field, TSharedText& Tag, const std::string& Value) {
    if (Rules.UserMp3Fields.count(Field) != 0) return;
    const auto base = Rules.Id3Base.find(Field);
    Tag = !Value.empty() || base == Rules.Id3Base.end() ? Value : base->second;
  };
  if (!Rules.TitleFromName) fill("title", Mp3.Id3TagTitle, Disc.Title);
  fill("artist", Mp3.Id3TagArtist, Disc.Artist);
  fill("album", Mp3.Id3TagAlbum, Disc.Album);
  fill("year", Mp3.Id3TagYear, Disc.Year);
  fill("genre", Mp3.Id3TagGenre, Disc.Genre);
  if (!Rules.FirstTrack) fill("track", Mp3.Id3TagTrack, PartOf(Disc.Number, Disc.Total));
  fill("disc", Mp3.Id3TagDisc, PartOf(Disc.Disc, Disc.Discs));
}

}  // namespace

std::string TRunFileNames::Free(const std::string& FileName) const {
  std::string name = FileName;
  for (int number = 2; Written_.count(ResolvedPath(name)) != 0 || IsSource(name); ++number)
    name = NumberedName(FileName, number);
  return name;
}

void TRunFileNames::Protect(const std::string& Path) {
  if (const auto identity = FileIdentity(Path)) Sources_.insert(*identity);
}

bool TRunFileNames::IsSource(const std::string& FileName) const {
  const auto identity = FileIdentity(FileName);
  if (!identity) return false;
  return Sources_.count(*identity) != 0 || OpenFileIdentities().count(*identity) != 0;
}

std::string OutputFolderProblem(const std::string& Folder) {
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  if (!error && ::access(Folder.c_str(), W_OK | X_OK) == 0) return std::string();
  if (!error) error = std::error_code(errno, std::generic_category());
  return "The output folder " + Folder + " cannot be written (" + error.message() +
         "). Choose another folder.";
}

void TRunFileNames::Written(const std::string& FileName) {
  Written_.insert(ResolvedPath(FileName));
}

void TRunFileNames::Forget(const std::string& FileName) { Written_.erase(ResolvedPath(FileName)); }

// ---------------------------------------------------------------------------------
// Starting a job
// ---------------------------------------------------------------------------------

TRowTagRules RunTagRules(const TRowTagRules& Rules, bool DiscTags, TAudioFileOut& Model) {
  TRowTagRules rules = Rules;
  rules.DiscTags = DiscTags;
  if (auto* mp3 = dynamic_cast<TMP3Out*>(&Model))
    for (const auto& [name, text] : Id3Fields(*mp3)) rules.Id3Base[name] = text->Get();
  return rules;
}

// The MP3 output keeps its tags from job to job, so only the per-job ones change. The
// Ogg Vorbis and FLAC outputs empty their comment lists when they finish a file, but not
// after a set-up that failed; the lists are therefore set rather than appended to, so
// that every file carries each line exactly once.
void ApplyRowTags(TAudioFileOut& Output, const TRowTagRules& Rules, int Index,
                  const std::string& Caption, const TTrackTags& Disc) {
  if (auto* mp3 = dynamic_cast<TMP3Out*>(&Output)) {
    if (Rules.TitleFromName) mp3->Id3TagTitle = Caption;
    if (Rules.FirstTrack) mp3->Id3TagTrack = std::to_string(*Rules.FirstTrack + Index);
    if (Rules.DiscTags) ApplyDiscId3(*mp3, Rules, Disc);
  } else if (auto* vorbis = dynamic_cast<TVorbisOut*>(&Output)) {
    vorbis->SetComments(WithDiscComments(Rules.Comments, Disc));
  } else if (auto* flac = dynamic_cast<TFlacOut*>(&Output)) {
    flac->SetComments(WithDiscComments(JobComments(Rules, Index, Caption), Disc));
  }
}

// ---------------------------------------------------------------------------------
// Following its end
// ---------------------------------------------------------------------------------

void TJobWatch::Begin(TAudioOutput* Output) {
  Output_ = Output;
  Ended_ = Output == nullptr;
}

bool TJobWatch::OwnsProgress(const TAudioOutput* Sender) const {
  return Sender == Output_ && Sender->Busy;
}

bool TJobWatch::Done(const TAudioOutput* Sender) {
  if (Sender != Output_) return false;
  Ended_ = true;
  return true;
}

void TJobWatch::Failed(const std::string& Message) {
  {
    std::lock_guard<std::mutex> hold(FailureLock_);
    Failure_ = Message;
  }
  FailurePending_ = true;
}

std::optional<std::string> TJobWatch::TakeFailure() {
  if (!FailurePending_) return std::nullopt;
  std::lock_guard<std::mutex> hold(FailureLock_);
  FailurePending_ = false;
  Ended_ = true;
  return std::exchange(Failure_, std::string());
}

bool TJobWatch::Ended() const { return Ended_ || FailurePending_; }
