// Reading back the tags of MP3 files with mutagen (Debian's python3-mutagen, which we
// did not write), and the texts that the tag tests type with what each tag must hold
// of them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "command_run.h"

namespace tagtest {

// Prints one line KEY=value per field: "v2.version", then "v2.FRAME" for every frame of
// the ID3v2 tag as stored (no conversion to a later version), with ".encoding" and for
// comments ".lang" and ".desc", for the genre ".genres" (as mutagen reads the text);
// "v1.FRAME" for the ID3v1 tag, as mutagen maps its
// fields to frames (the genre as its number).
constexpr const char* ReaderScript = R"(
import sys
from mutagen.id3 import ID3, ParseID3v1, ID3NoHeaderError
sys.stdout.reconfigure(encoding="utf-8")
def show(prefix, frames):
    for f in frames:
        key = prefix + f.FrameID
        if f.FrameID == "COMM":
            print(key + ".lang=" + f.lang)
            print(key + ".desc=" + f.desc)
        if f.FrameID == "TCON":
            print(key + ".genres=" + "/".join(f.genres))
        print(key + ".encoding=" + str(int(f.encoding)))
        print(key + "=" + "/".join(str(t) for t in f.text))
path = sys.argv[1]
try:
    tag = ID3(path, translate=False, load_v1=False)
    print("v2.version=%d.%d" % tag.version[:2])
    show("v2.", tag.values())
except ID3NoHeaderError:
    pass
with open(path, "rb") as f:
    f.seek(-128, 2)
    v1 = ParseID3v1(f.read())
if v1:
    show("v1.", v1.values())
)";

using TTags = std::map<std::string, std::string>;

inline TTags ReadTags(const std::string& File) {
  const TCommandResult run =
      CaptureCommand("/usr/bin/python3 -c '" + std::string(ReaderScript) + "' '" + File + "'");
  EXPECT_EQ(run.Status, 0) << run.Output;
  TTags tags;
  size_t at = 0;
  while (at < run.Output.size()) {
    const size_t end = std::min(run.Output.find('\n', at), run.Output.size());
    const std::string line = run.Output.substr(at, end - at);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) tags[line.substr(0, equals)] = line.substr(equals + 1);
    at = end + 1;
  }
  return tags;
}

// The texts typed: Latin-1 and other characters (one of them in the first 30), a
// title and a comment longer than the ID3v1 fields.
struct TTyped {
  std::string Title = "Björk sings of 東 and of roadsides that run past thirty chars";
  std::string Artist = "Björk";
  std::string Album = "Homogenic";
  std::string Year = "1998";
  std::string Track = "7";
  std::string Comment = "A comment on 東 that runs well past the twenty-eight bytes";
  std::string Genre;
};

// A genre typed and the number the ID3v1 tag gives it: one of the table, one outside
// it ("Other").
struct TGenreCase {
  const char* Typed;
  const char* V1Number;
};
inline const TGenreCase GenreCases[] = {{"Chiptune", "12"}, {"Psychadelic", "67"}};

inline TTyped Typed(const TGenreCase& Genre) {
  TTyped typed;
  typed.Genre = Genre.Typed;
  return typed;
}

// The ID3v2.3 tag holds the texts whole, in Latin-1 (encoding 0) when they fit it,
// else UTF-16 (1); the ID3v1 tag holds them in Latin-1, "?" for other characters, cut
// to 30 bytes (the comment to 28, as the track number takes the last two).
inline std::vector<std::pair<std::string, std::string>> ExpectedTags(const TGenreCase& Genre) {
  const TTyped typed = Typed(Genre);
  return {{"v2.version", "2.3"},
          {"v2.TIT2", typed.Title},
          {"v2.TIT2.encoding", "1"},
          {"v2.TPE1", typed.Artist},
          {"v2.TPE1.encoding", "0"},
          {"v2.TALB", typed.Album},
          {"v2.TYER", typed.Year},
          {"v2.TRCK", typed.Track},
          {"v2.COMM", typed.Comment},
          {"v2.COMM.lang", "eng"},
          {"v2.COMM.desc", ""},
          {"v2.TCON", typed.Genre},
          {"v1.TIT2", "Björk sings of ? and of roadsi"},
          {"v1.TPE1", typed.Artist},
          {"v1.TALB", typed.Album},
          {"v1.TDRC", typed.Year},
          {"v1.TRCK", typed.Track},
          {"v1.COMM", "A comment on ? that runs wel"},
          {"v1.TCON", Genre.V1Number}};
}

inline void ExpectTypedTags(const std::string& File, const TGenreCase& Genre) {
  const TTags tags = ReadTags(File);
  for (const auto& [key, value] : ExpectedTags(Genre)) {
    const auto found = tags.find(key);
    EXPECT_EQ(found == tags.end() ? "(missing)" : found->second, value) << File << " " << key;
  }
}

}  // namespace tagtest
