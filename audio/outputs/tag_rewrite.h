// Replacing the whole tag set of a finished file by a list of comment lines NAME=value,
// after its run (ReplayGain is known only once a disc's tracks are all measured). The
// audio stays byte for byte as it was; the format is told from the file's content:
//   - FLAC: its VORBIS_COMMENT block, through libFLAC's metadata chain. When the new
//     block fits the room of the old one and the padding, the blocks are written in
//     place; otherwise the file is copied with the new blocks.
//   - Ogg Vorbis and Ogg Opus: the comment header packet (Vorbis packet 2, OpusTags) is
//     replaced and the header packets paged anew; the audio pages are copied with their
//     sequence numbers moved by the change in header pages and their CRCs recomputed.
//     One logical stream only.
//   - MP3: the ID3v2 tag at the file's start is replaced by an ID3v2.3 tag made from
//     the lines (TITLE, ARTIST, ALBUM, DATE, TRACKNUMBER with TRACKTOTAL as "7/10",
//     DISCNUMBER with DISCTOTAL, COMMENT, GENRE into their frames, any other name as a
//     user text TXXX of that name); an ID3v1 tag at the end stays as it is.
// A copy is written under a staging name beside the file and renamed over it, with the
// file's permissions, so the file is never half-written. Any failure leaves the file as
// it was and raises EAudioException, naming the file and why.
//
// A line without "=" (or with "=" first) is free text, stored as COMMENT, as the
// outputs do.
#pragma once

#include <string>
#include <vector>

#include "outputs/id3v2_tag.h"

using TTagLines = std::vector<std::string>;

enum class TTaggedFormat { Flac, OggVorbis, OggOpus, Mp3 };

// The format of FileName from its first bytes; raises EAudioException for a file of no
// format above, or one that cannot be read.
TTaggedFormat TaggedFormatOf(const std::string& FileName);

// Replaces the tags of FileName (of any format above) by Lines.
void RewriteTags(const std::string& FileName, const TTagLines& Lines);

void RewriteFlacTags(const std::string& FileName, const TTagLines& Lines);
void RewriteOggTags(const std::string& FileName, const TTagLines& Lines);
void RewriteMp3Tags(const std::string& FileName, const TTagLines& Lines);

// The ID3v2 texts that Lines give.
TTagTexts Id3TextsOfLines(const TTagLines& Lines);
