#include "jobs/rip_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <utility>

#include "cdrom/track_entry.h"
#include "core/file_stream.h"
#include "jobs/disc_tags.h"

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

// Lines, and after them the lines of More whose names Lines does not hold.
std::vector<std::string> WithMissing(std::vector<std::string> Lines,
                                     const std::vector<std::string>& More) {
  std::set<std::string> given;
  for (const std::string& line : Lines) given.insert(CommentName(line));
  for (const std::string& line : More)
    if (given.count(CommentName(line)) == 0) Lines.push_back(line);
  return Lines;
}

// The user's lines with the job's own title and track number: a per-job value
// replaces a line of the same name given for every file.
std::vector<std::string> JobComments(const TRowTagRules& Rules, int Index,
                                     const std::string& Caption) {
  std::vector<std::string> own;
  if (Rules.TitleFromName) own.push_back("TITLE=" + Caption);
  if (Rules.FirstTrack) own.push_back("TRACKNUMBER=" + std::to_string(*Rules.FirstTrack + Index));
  std::set<std::string> ownNames;
  for (const std::string& line : own) ownNames.insert(CommentName(line));
  std::vector<std::string> lines;
  for (const std::string& line : Rules.Comments)
    if (ownNames.count(CommentName(line)) == 0) lines.push_back(line);
  lines.insert(lines.end(), own.begin(), own.end());
  return lines;
}

// The disc's values as comment lines. A track total belongs with the disc's own track
// number, so it is left out when the user numbers the tracks.
std::vector<std::string> DiscComments(const TTrackTags& Disc, bool UserNumbers) {
  const auto number = [](int Value) { return Value > 0 ? std::to_string(Value) : std::string(); };
  const std::pair<const char*, std::string> known[] = {
      {"TITLE", Disc.Title},
      {"ARTIST", Disc.Artist},
      {"ALBUM", Disc.Album},
      {"DATE", Disc.Date},
      {"GENRE", Disc.Genre},
      {"TRACKNUMBER", Disc.Hidden ? std::string("0") : number(Disc.Number)},
      {"TRACKTOTAL", UserNumbers ? std::string() : number(Disc.Total)},
      {"DISCNUMBER", number(Disc.Disc)},
      {"DISCTOTAL", number(Disc.Discs)}};
  std::vector<std::string> lines;
  for (const auto& [name, value] : known)
    if (!value.empty()) lines.push_back(std::string(name) + "=" + value);
  return lines;
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

TProblem OutputFolderProblem(const std::string& Folder) {
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  if (!error && ::access(Folder.c_str(), W_OK | X_OK) == 0) return TProblem();
  if (!error) error = std::error_code(errno, std::generic_category());
  return TProblem("The output folder " + Folder + " cannot be written (" + error.message() +
                  "). Choose another folder.");
}

void TRunFileNames::Written(const std::string& FileName) {
  Written_.insert(ResolvedPath(FileName));
}

void TRunFileNames::Forget(const std::string& FileName) { Written_.erase(ResolvedPath(FileName)); }

// ---------------------------------------------------------------------------------
// Starting a job
// ---------------------------------------------------------------------------------

TRowTagRules RunTagRules(const TRowTagRules& Rules, const TAudioFileOut& Model) {
  TRowTagRules rules = Rules;
  rules.BaseLines = Model.Tags();
  return rules;
}

std::vector<std::string> JobTagLines(const TRowTagRules& Rules, int Index,
                                     const std::string& Caption, const TTrackTags& Disc) {
  const std::vector<std::string> own = JobComments(Rules, Index, Caption);
  const bool userNumbers = std::any_of(own.begin(), own.end(), [](const std::string& Line) {
    return CommentName(Line) == "TRACKNUMBER";
  });
  return WithMissing(WithMissing(own, DiscComments(Disc, userNumbers)), Rules.BaseLines);
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
    Failure_ = TProblem(Message);
  }
  FailurePending_ = true;
}

TProblem TJobWatch::TakeFailure() {
  if (!FailurePending_) return TProblem();
  std::lock_guard<std::mutex> hold(FailureLock_);
  FailurePending_ = false;
  Ended_ = true;
  return std::exchange(Failure_, TProblem());
}

bool TJobWatch::Ended() const { return Ended_ || FailurePending_; }
