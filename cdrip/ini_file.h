// A small reader of INI settings files: "[Section]" headers and "Key=Value" lines;
// lines starting with ';' or '#' are comments. Section and key names match without
// regard to case; values are trimmed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cdrip {

class IniFile {
 public:
  static IniFile Parse(const std::string& Text);
  // An empty file when Path cannot be read or is no regular text file of at most
  // MaxTextFileBytes.
  static IniFile Load(const std::string& Path);

  std::optional<std::string> Value(const std::string& Section, const std::string& Key) const;
  // The keys and values of Section in the file's order, keys as written (trimmed).
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& Section) const;

 private:
  std::map<std::string, std::string> Values_;  // "section\nkey" in lower case
  // Section in lower case, key as written, value.
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> Lines_;
};

}  // namespace cdrip
