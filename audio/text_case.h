// The small text helpers of settings files, sheets and file names: blanks trimmed,
// ASCII letters in one case. Header-only; the CD library uses it too.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// Text without the blanks (spaces, tabs, line ends) at either end.
inline std::string Trim(const std::string& Text) {
  const char* const blanks = " \t\r\n";
  const size_t first = Text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return Text.substr(first, Text.find_last_not_of(blanks) - first + 1);
}

inline std::string Lower(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return Text;
}

inline std::string Upper(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return Text;
}
