// The small text helpers of settings files, sheets and file names: blanks trimmed,
// ASCII letters in one case, UTF-8 checked, control characters removed, years of dates.
// Header-only; the CD library uses it too.
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

// The code point of the UTF-8 character at At (in well-formed text); At moves past it.
inline uint32_t NextCodePoint(const std::string& Text, size_t& At) {
  const auto lead = static_cast<unsigned char>(Text[At]);
  const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length && At + k < Text.size(); ++k)
    code = (code << 6) | (static_cast<unsigned char>(Text[At + k]) & 0x3F);
  At = std::min(At + length, Text.size());
  return code;
}

// The value 0 to 9 of the decimal digit Code in any of the common scripts (ASCII, the
// Arabic, Indic and South-East Asian digits, the full-width ones), or -1.
inline int DigitValue(uint32_t Code) {
  static const uint32_t zeros[] = {0x30,  0x660, 0x6F0,  0x7C0,  0x966,  0x9E6, 0xA66,
                                   0xAE6, 0xB66, 0xBE6,  0xC66,  0xCE6,  0xD66, 0xE50,
                                   0xED0, 0xF20, 0x1040, 0x17E0, 0x1810, 0xFF10};
  for (const uint32_t zero : zeros)
    if (Code >= zero && Code <= zero + 9) return static_cast<int>(Code - zero);
  return -1;
}

// The year of a date text as four ASCII digits: the first four digits of its first run
// of digits, in whatever script ("２００１年" and "2001-05-12" give "2001"); empty when the
// text holds no run of four digits. Text is UTF-8.
inline std::string YearOfDate(const std::string& Date) {
  std::string year;
  for (size_t i = 0; i < Date.size() && year.size() < 4;) {
    const int digit = DigitValue(NextCodePoint(Date, i));
    if (digit >= 0)
      year += static_cast<char>('0' + digit);
    else if (!year.empty())
      year.clear();  // a run shorter than four digits is not a year
  }
  return year.size() == 4 ? year : std::string();
}
