// Tag texts: the program holds them as UTF-8, as the user typed them; a tag stores
// them in its own character set. Here they are turned into the two that MP3 tags use.
#pragma once

#include <string>

// The characters of a UTF-8 text; a malformed sequence counts as one U+FFFD.
std::u32string TagCodePoints(const std::string& Utf8);

// True when every character of the text is one of Latin-1 (U+0000 to U+00FF).
bool FitsLatin1(const std::u32string& Text);

// The text in Latin-1, a character outside it turned into "?". Latin-1 stores one
// byte per character, so a cut of the result never splits one.
std::string Latin1TagText(const std::string& Utf8);

// The text in UTF-16, little-endian, without byte order mark; a character beyond
// U+FFFF becomes a surrogate pair.
std::u16string Utf16TagText(const std::u32string& Text);

// The name and value of one comment line NAME=value. A line without a name (no "=", or
// "=" first) is free text: it becomes the value of a COMMENT, so that it reaches the file
// instead of turning into an empty, invalid comment.
void SplitCommentLine(const std::string& Line, std::string& Name, std::string& Value);

// True for a comment name of Vorbis comments: printable ASCII from space to "}", without
// "=", not empty.
bool ValidCommentName(const std::string& Name);
