#include "outputs/tag_text.h"

#include <algorithm>

namespace {

constexpr char32_t Replacement = 0xFFFD;

// The length of the sequence that Lead starts; 0 when Lead cannot start one.
int SequenceLength(unsigned char Lead) {
  if (Lead < 0x80) return 1;
  if ((Lead >> 5) == 0x6) return 2;
  if ((Lead >> 4) == 0xE) return 3;
  if ((Lead >> 3) == 0x1E) return 4;
  return 0;
}

// Decodes one UTF-8 sequence at Text[At] and moves At past it; a malformed one is one
// replacement character, and At moves on by a single byte.
char32_t NextCodePoint(const std::string& Text, size_t& At) {
  const auto byte = [&](size_t I) { return static_cast<unsigned char>(Text[I]); };
  const unsigned char lead = byte(At);
  const int length = SequenceLength(lead);
  if (length == 0 || At + length > Text.size()) {
    ++At;
    return Replacement;
  }
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(At + i) & 0xC0) != 0x80) {
      ++At;
      return Replacement;
    }
    code = code << 6 | (byte(At + i) & 0x3F);
  }
  At += length;
  // Halves of UTF-16 surrogate pairs are no characters of their own.
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code > 0x10FFFF || surrogate ? Replacement : code;
}

}  // namespace

std::u32string TagCodePoints(const std::string& Utf8) {
  std::u32string text;
  for (size_t at = 0; at < Utf8.size();) text += NextCodePoint(Utf8, at);
  return text;
}

bool FitsLatin1(const std::u32string& Text) {
  return std::all_of(Text.begin(), Text.end(), [](char32_t Code) { return Code <= 0xFF; });
}

std::string Latin1TagText(const std::string& Utf8) {
  std::string latin1;
  for (char32_t code : TagCodePoints(Utf8)) latin1 += code <= 0xFF ? static_cast<char>(code) : '?';
  return latin1;
}

std::u16string Utf16TagText(const std::u32string& Text) {
  std::u16string utf16;
  for (char32_t code : Text) {
    if (code < 0x10000) {
      utf16 += static_cast<char16_t>(code);
      continue;
    }
    code -= 0x10000;
    utf16 += static_cast<char16_t>(0xD800 + (code >> 10));
    utf16 += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
  return utf16;
}

void SplitCommentLine(const std::string& Line, std::string& Name, std::string& Value) {
  const size_t equals = Line.find('=');
  if (equals == std::string::npos || equals == 0) {
    Name = "COMMENT";
    Value = equals == 0 ? Line.substr(1) : Line;
  } else {
    Name = Line.substr(0, equals);
    Value = Line.substr(equals + 1);
  }
}

bool ValidCommentName(const std::string& Name) {
  for (const char c : Name)
    if (c < 0x20 || c > 0x7D || c == '=') return false;
  return !Name.empty();
}
