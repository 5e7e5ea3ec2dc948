#include "bindings/cdrip_binding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "core/audio_exception.h"
#include "core/file_stream.h"
#include "text_case.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* SettingsFileName = "cdr.ini";
constexpr const char* SettingsSection = "CD-ROM";

// The path of the cdr.ini that the last load wrote. Written under the binding's lock,
// read by anyone.
struct TSettingsRecord {
  std::mutex Lock;
  std::string Path;
};

TSettingsRecord& SettingsRecord() {
  static TSettingsRecord record;
  return record;
}

// The lines of Text, each with its own line end, so untouched lines are written back
// exactly as they were.
std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < Text.size()) {
    const size_t end = Text.find('\n', at);
    const size_t next = end == std::string::npos ? Text.size() : end + 1;
    lines.push_back(Text.substr(at, next - at));
    at = next;
  }
  return lines;
}

bool IsSectionLine(const std::string& Line) { return Trim(Line).rfind('[', 0) == 0; }

bool IsSection(const std::string& Line, const std::string& Section) {
  const std::string trimmed = Trim(Line);
  return trimmed.size() >= 2 && trimmed.back() == ']' &&
         Lower(Trim(trimmed.substr(1, trimmed.size() - 2))) == Lower(Section);
}

bool IsKey(const std::string& Line, const std::string& Key) {
  const size_t equals = Line.find('=');
  return equals != std::string::npos && Lower(Trim(Line.substr(0, equals))) == Lower(Key);
}

std::string LineEndOf(const std::string& Line) {
  return Line.size() >= 2 && Line.compare(Line.size() - 2, 2, "\r\n") == 0 ? "\r\n" : "\n";
}

// Text with Key = Value in Section: the key's line replaced where it stands, else added
// after the section's last entry, else the section added at the end of the file.
std::string WithIniValue(const std::string& Text, const std::string& Section,
                         const std::string& Key, const std::string& Value) {
  std::vector<std::string> lines = SplitLines(Text);
  size_t header = 0;
  while (header < lines.size() && !IsSection(lines[header], Section)) ++header;
  if (header == lines.size()) {
    if (!lines.empty() && lines.back().back() != '\n') lines.back() += '\n';
    lines.push_back("[" + Section + "]\n");
    header = lines.size() - 1;
  }
  const std::string lineEnd = LineEndOf(lines[header]);
  size_t lastEntry = header;
  for (size_t i = header + 1; i < lines.size() && !IsSectionLine(lines[i]); ++i) {
    if (IsKey(lines[i], Key)) {
      lines[i] = Key + "=" + Value + LineEndOf(lines[i]);
      lastEntry = lines.size();
      break;
    }
    if (!Trim(lines[i]).empty()) lastEntry = i;
  }
  if (lastEntry < lines.size()) {
    if (lines[lastEntry].back() != '\n') lines[lastEntry] += lineEnd;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry) + 1,
                 Key + "=" + Value + lineEnd);
  }
  std::string result;
  for (const std::string& line : lines) result += line;
  return result;
}

// A settings file is a few lines; a larger one is not ours to rewrite.
constexpr off_t MaxSettingsBytes = 1 << 20;

// The settings file's text: empty when there is none; nothing when something else
// stands under its name (a folder, a device, a pipe, which is never waited on) or the
// file is too large to be one.
std::optional<std::string> ReadSettingsText(const fs::path& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
  struct stat info {};
  std::optional<std::string> text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxSettingsBytes) {
    text.emplace(static_cast<size_t>(info.st_size), '\0');
    const ssize_t got = ::pread(fd, text->data(), text->size(), 0);
    text->resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  ::close(fd);
  return text;
}

// Writes cdr.ini in Folder; false when the folder does not take it.
bool WriteSettingsIn(const fs::path& Folder) {
  const fs::path path = Folder / SettingsFileName;
  const std::optional<std::string> old = ReadSettingsText(path);
  if (!old) return false;
  const std::string text = WithIniValue(*old, SettingsSection, "nActive", "0");
  // "nTransportLayer" tells Windows families apart; on Linux it is left as it is.
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return static_cast<bool>(out);
}

fs::path UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg && fs::path(xdg).is_absolute()) return fs::path(xdg) / "korvane";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/") / ".config" / "korvane";
}

// The full path of the cdr.ini written: in the program's folder when it is writable,
// else in the user's configuration folder; empty when neither takes it.
std::string WriteSettingsFile(const std::string& ProgramFolder) {
  std::error_code error;
  if (!ProgramFolder.empty() && fs::is_directory(ProgramFolder, error) &&
      WriteSettingsIn(ProgramFolder))
    return fs::absolute(fs::path(ProgramFolder) / SettingsFileName).lexically_normal().string();
  const fs::path folder = UserConfigFolder();
  fs::create_directories(folder, error);
  if (WriteSettingsIn(folder)) return (folder / SettingsFileName).lexically_normal().string();
  return std::string();
}

// Writes cdr.ini and starts the library with it, once a load found every entry point.
void StartLibrary(const TCDRipFunctions& Functions, const std::string& ProgramFolder) {
  const std::string path = WriteSettingsFile(ProgramFolder);
  {
    TSettingsRecord& record = SettingsRecord();
    std::lock_guard<std::mutex> hold(record.Lock);
    record.Path = path;
  }
  Functions.CR_Init(path.empty() ? nullptr : path.c_str());
}

void StopLibrary(const TCDRipFunctions& Functions) { Functions.CR_DeInit(); }

}  // namespace

TRuntimeBinding<TCDRipFunctions>& CDRipBinding() {
  static TRuntimeBinding<TCDRipFunctions> binding("libcdrip.so", TLibraryNaming::FileNameOnly,
                                                  StartLibrary, StopLibrary);
  return binding;
}

std::string CDRipSettingsPath() {
  TSettingsRecord& record = SettingsRecord();
  std::lock_guard<std::mutex> hold(record.Lock);
  return record.Path;
}

std::string CDRipSetting(const std::string& Section, const std::string& Key) {
  const std::string path = CDRipSettingsPath();
  const std::optional<std::string> text = path.empty() ? std::nullopt : ReadSettingsText(path);
  if (!text) return std::string();
  bool inSection = false;
  for (const std::string& line : SplitLines(*text)) {
    if (IsSectionLine(line))
      inSection = IsSection(line, Section);
    else if (inSection && IsKey(line, Key))
      return Trim(line.substr(line.find('=') + 1));
  }
  return std::string();
}

namespace {

// A text that the library copies out as CR_GetDriveName does: first its length, then
// the text.
template <class Copy>
std::string LibraryText(Copy&& CopyOut) {
  const int32_t length = CopyOut(nullptr, 0);
  if (length < 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  CopyOut(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::string CDRipSettingsWarnings() {
  const std::shared_ptr<const TCDRipLibrary> library = CDRipBinding().Library();
  if (!library) return std::string();
  return LibraryText([&](char* Buffer, int32_t Size) {
    return library->Functions().CR_GetSettingsWarnings(Buffer, Size);
  });
}

std::string CDRipDriveName(int Drive) {
  const std::shared_ptr<const TCDRipLibrary> library = CDRipBinding().Library();
  if (!library) return std::string();
  return LibraryText([&](char* Buffer, int32_t Size) {
    return library->Functions().CR_GetDriveName(Drive, Buffer, Size);
  });
}

// The library's C interface answers with a status and keeps the failure's text; here
// the two become one exception.
int CDRipAddImageDrive(const std::string& Path) {
  const std::shared_ptr<const TCDRipLibrary> library = CDRipBinding().Library();
  if (!library) throw EAudioException(CDRipBinding().NotLoadedMessage());
  const int drive = library->Functions().CR_AddImageDrive(Path.c_str());
  if (drive >= 0) return drive;
  const std::string why = LibraryText([&](char* Buffer, int32_t Size) {
    return library->Functions().CR_GetLastError(Buffer, Size);
  });
  throw EAudioException(
      why.empty() ? "Not a disc image, a CD device or a track entry, or it cannot be read." : why);
}

void CDRipKeepReadOffset(int Drive, int Samples) {
  const std::shared_ptr<const TCDRipLibrary> library = CDRipBinding().Library();
  const std::string path = CDRipSettingsPath();
  if (!library || path.empty())
    throw EAudioException("No settings file (cdr.ini) is in use, so the offset cannot be kept.");
  std::string key = LibraryText([&](char* Buffer, int32_t Size) {
    return library->Functions().CR_GetDriveModel(Drive, Buffer, Size);
  });
  if (key.empty()) key = CDRipDriveName(Drive);
  const std::optional<std::string> old = ReadSettingsText(path);
  if (key.empty() || !old)
    throw EAudioException("The read offset cannot be kept in " + path + ": " +
                          (key.empty() ? "there is no such drive." : "it is not a settings file."));
  const std::string text = WithIniValue(*old, "ReadOffsets", key, std::to_string(Samples));
  // Written whole under another name first, so that a failed write leaves the file as it was.
  const std::string staging = path + ".new";
  std::ofstream out(staging, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out || std::rename(staging.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(staging.c_str());
    throw EAudioException("The read offset cannot be kept in " + path + " (" + why + ").");
  }
}

int CDRipFindDrive(const std::string& Name) {
  const std::shared_ptr<const TCDRipLibrary> library = CDRipBinding().Library();
  if (!library || Name.empty()) return -1;
  const int count = library->Functions().CR_GetNumCDROM();
  for (int drive = 0; drive < count; ++drive)
    if (CDRipDriveName(drive) == Name) return drive;
  const std::string resolved = ResolvedPath(Name);
  for (int drive = 0; drive < count; ++drive)
    if (ResolvedPath(CDRipDriveName(drive)) == resolved) return drive;
  return -1;
}
