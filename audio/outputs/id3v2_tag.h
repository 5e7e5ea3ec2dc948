// The ID3v2 tag at the start of an MP3 file, in version 2.3: the version that most
// players and systems read, whose UTF-16 (with byte order mark) holds every character.
//
// Each text is one frame: title TIT2, artist TPE1, album TALB, year TYER, track TRCK,
// comment COMM (language "eng", empty description), genre TCON, disc TPOS, and a user
// text TXXX for each further named text. A frame is in Latin-1
// when its text fits it, else in UTF-16; an empty text has no frame.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The texts of an MP3 file's tags, in UTF-8 as the user typed them.
struct TTagTexts {
  std::string Title, Artist, Album, Year, Track, Comment, Genre;
  std::string Disc;                                            // TPOS: "2/3"
  std::vector<std::pair<std::string, std::string>> UserTexts;  // TXXX: description, text
  bool Empty() const;
};

// The frames of the tag for Texts; empty when every text is.
std::vector<uint8_t> Id3v2Frames(const TTagTexts& Texts);

// The length of the room given to a tag with FrameBytes bytes of frames: its header,
// the frames and some padding (so that texts which grow a little still fit), in whole
// 4 KiB. A file whose texts fit the room it got at the start need not be copied.
int64_t Id3v2Room(size_t FrameBytes);

// A whole tag of Length bytes: the header, Frames and zero padding up to Length.
// Length must hold at least the header and the frames.
std::vector<uint8_t> Id3v2Tag(const std::vector<uint8_t>& Frames, int64_t Length);

// The ten bytes of a tag's header.
constexpr int Id3v2HeaderLength = 10;
