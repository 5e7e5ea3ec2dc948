// The small text helpers of settings files, sheets and file names: blanks trimmed,
// ASCII letters in one case, UTF-8 checked, control characters removed. Header-only; the CD library
// uses it too.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
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

// True when Text is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
inline bool IsUtf8(const std::string& Text) {
  for (size_t i = 0; i < Text.size();) {
    const auto lead = static_cast<unsigned char>(Text[i]);
    const size_t length = lead < 0x80         ? 1
                          : (lead >> 5) == 6  ? 2
                          : (lead >> 4) == 14 ? 3
                          : (lead >> 3) == 30 ? 4
                                              : 0;
    if (length == 0 || i + length > Text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(Text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Latin-1 bytes as UTF-8.
inline std::string Latin1ToUtf8(const std::string& Text) {
  std::string out;
  for (unsigned char c : Text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Text fit for a tag, a file name or a terminal: line ends and tabs become spaces, and
// the other control characters (C0, DEL, and C1 in UTF-8, which a terminal may obey) go.
inline std::string PrintableText(const std::string& Text) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const bool c1 = c == 0xC2 && i + 1 < Text.size() &&
                    static_cast<unsigned char>(Text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(Text[i + 1]) <= 0x9F;
    if (c1) {
      ++i;
    } else if (c == '\t' || c == '\n' || c == '\r') {
      out += ' ';
    } else if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
    }
  }
  return out;
}
