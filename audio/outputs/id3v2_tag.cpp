#include "outputs/id3v2_tag.h"

#include "outputs/tag_text.h"
#include "text_case.h"

namespace {

constexpr uint8_t EncodingLatin1 = 0;
constexpr uint8_t EncodingUtf16 = 1;
constexpr int64_t RoomUnit = 4096;
constexpr int64_t MinimumPadding = 1024;

using TBytes = std::vector<uint8_t>;

void PutBigEndian32(TBytes& Out, uint32_t Value) {
  for (int shift = 24; shift >= 0; shift -= 8) Out.push_back(static_cast<uint8_t>(Value >> shift));
}

// The header's size: 28 bits, seven to a byte, so that no byte of it looks like the
// start of an MPEG frame.
void PutSyncSafe32(TBytes& Out, uint32_t Value) {
  for (int shift = 21; shift >= 0; shift -= 7) Out.push_back((Value >> shift) & 0x7F);
}

// Text in the frame's encoding, without a terminator; UTF-16 starts with its byte
// order mark (little-endian).
void PutText(TBytes& Out, const std::u32string& Text, uint8_t Encoding) {
  if (Encoding == EncodingLatin1) {
    for (char32_t code : Text) Out.push_back(static_cast<uint8_t>(code));
    return;
  }
  Out.insert(Out.end(), {0xFF, 0xFE});
  for (char16_t unit : Utf16TagText(Text)) {
    Out.push_back(static_cast<uint8_t>(unit & 0xFF));
    Out.push_back(static_cast<uint8_t>(unit >> 8));
  }
}

void PutTerminator(TBytes& Out, uint8_t Encoding) {
  Out.push_back(0);
  if (Encoding == EncodingUtf16) Out.push_back(0);
}

uint8_t EncodingFor(const std::u32string& Text) {
  return FitsLatin1(Text) ? EncodingLatin1 : EncodingUtf16;
}

void PutFrame(TBytes& Out, const char* Id, const TBytes& Body) {
  Out.insert(Out.end(), Id, Id + 4);
  PutBigEndian32(Out, static_cast<uint32_t>(Body.size()));
  Out.insert(Out.end(), {0, 0});  // no flags
  Out.insert(Out.end(), Body.begin(), Body.end());
}

void PutTextFrame(TBytes& Out, const char* Id, const std::string& Utf8) {
  if (Utf8.empty()) return;
  const std::u32string text = TagCodePoints(Utf8);
  const uint8_t encoding = EncodingFor(text);
  TBytes body{encoding};
  PutText(body, text, encoding);
  PutFrame(Out, Id, body);
}

// A comment: encoding, language, an empty description with its terminator, the text.
void PutCommentFrame(TBytes& Out, const std::string& Utf8) {
  if (Utf8.empty()) return;
  const std::u32string text = TagCodePoints(Utf8);
  const uint8_t encoding = EncodingFor(text);
  TBytes body{encoding, 'e', 'n', 'g'};
  PutText(body, std::u32string(), encoding);
  PutTerminator(body, encoding);
  PutText(body, text, encoding);
  PutFrame(Out, "COMM", body);
}

// A user text: encoding, its description with a terminator, the text.
void PutUserTextFrame(TBytes& Out, const std::string& Description, const std::string& Utf8) {
  const std::u32string name = TagCodePoints(Description);
  const std::u32string text = TagCodePoints(Utf8);
  const uint8_t encoding = FitsLatin1(name + text) ? EncodingLatin1 : EncodingUtf16;
  TBytes body{encoding};
  PutText(body, name, encoding);
  PutTerminator(body, encoding);
  PutText(body, text, encoding);
  PutFrame(Out, "TXXX", body);
}

}  // namespace

bool TTagTexts::Empty() const {
  return Title.empty() && Artist.empty() && Album.empty() && Year.empty() && Track.empty() &&
         Comment.empty() && Genre.empty() && Disc.empty() && UserTexts.empty();
}

std::vector<uint8_t> Id3v2Frames(const TTagTexts& Texts) {
  TBytes frames;
  PutTextFrame(frames, "TIT2", Texts.Title);
  PutTextFrame(frames, "TPE1", Texts.Artist);
  PutTextFrame(frames, "TALB", Texts.Album);
  PutTextFrame(frames, "TYER", YearOfDate(Texts.Year));  // four digits, by the format
  PutTextFrame(frames, "TRCK", Texts.Track);
  PutTextFrame(frames, "TPOS", Texts.Disc);
  PutCommentFrame(frames, Texts.Comment);
  // A genre text that starts with "(" would be read as a genre number in parentheses;
  // "((" says the parenthesis is text.
  const bool parenthesis = !Texts.Genre.empty() && Texts.Genre[0] == '(';
  PutTextFrame(frames, "TCON", parenthesis ? "(" + Texts.Genre : Texts.Genre);
  for (const auto& [description, text] : Texts.UserTexts)
    PutUserTextFrame(frames, description, text);
  return frames;
}

int64_t Id3v2Room(size_t FrameBytes) {
  const int64_t needed = Id3v2HeaderLength + static_cast<int64_t>(FrameBytes) + MinimumPadding;
  return (needed + RoomUnit - 1) / RoomUnit * RoomUnit;
}

std::vector<uint8_t> Id3v2Tag(const std::vector<uint8_t>& Frames, int64_t Length) {
  TBytes tag{'I', 'D', '3', 3, 0, 0};  // version 2.3.0, no flags
  PutSyncSafe32(tag, static_cast<uint32_t>(Length - Id3v2HeaderLength));
  tag.insert(tag.end(), Frames.begin(), Frames.end());
  tag.resize(static_cast<size_t>(Length), 0);
  return tag;
}
