#include "ini_file.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "file_handle.h"
#include "image_error.h"
#include "text_case.h"

namespace cdrip {
namespace {

std::string KeyOf(const std::string& Section, const std::string& Key) {
  return Lower(Trim(Section)) + '\n' + Lower(Trim(Key));
}

}  // namespace

IniFile IniFile::Parse(const std::string& Text) {
  IniFile ini;
  std::istringstream lines(Text);
  std::string line;
  std::string section;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos) section = line.substr(1, close - 1);
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    ini.Values_[KeyOf(section, line.substr(0, equals))] = Trim(line.substr(equals + 1));
    ini.Lines_.push_back(
        {Lower(Trim(section)), {Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))}});
  }
  return ini;
}

IniFile IniFile::Load(const std::string& Path) {
  try {
    return Parse(ReadTextFile(Path));
  } catch (const EImageError&) {
    return IniFile();
  }
}

std::optional<std::string> IniFile::Value(const std::string& Section,
                                          const std::string& Key) const {
  auto found = Values_.find(KeyOf(Section, Key));
  if (found == Values_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::pair<std::string, std::string>> IniFile::Entries(
    const std::string& Section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  const std::string section = Lower(Trim(Section));
  for (const auto& [lineSection, entry] : Lines_)
    if (lineSection == section) entries.push_back(entry);
  return entries;
}

}  // namespace cdrip
