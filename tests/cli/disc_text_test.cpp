// What is known of a disc, in korvane-cli's files: a cue sheet's texts (the disc's
// CD-Text on a drive) and the answers of a loopback stand-in for the online databases
// become tags, read back with mutagen, and file names from a --name template.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "command_run.h"
#include "cue_text.h"
#include "loopback_server.h"
#include "temp_dir.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

// Prints "key=value" for the common tags of any audio file (mutagen's easy keys).
constexpr const char* EasyTags = R"(
import sys, mutagen
sys.stdout.reconfigure(encoding="utf-8")
f = mutagen.File(sys.argv[1], easy=True)
for key in ("title", "artist", "album", "date", "genre", "tracknumber", "tracktotal",
            "discnumber", "disctotal"):
    if f.tags and key in f.tags:
        print(key + "=" + "/".join(f.tags[key]))
)";

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// File in double quotes: a name may hold "'".
std::map<std::string, std::string> TagsOf(const std::string& File) {
  const auto read =
      CaptureCommand("/usr/bin/python3 -c '" + std::string(EasyTags) + "' \"" + File + "\"");
  std::map<std::string, std::string> tags;
  std::istringstream lines(read.Output);
  for (std::string line; std::getline(lines, line);)
    if (const size_t equals = line.find('='); equals != std::string::npos)
      tags[line.substr(0, equals)] = line.substr(equals + 1);
  return tags;
}

class DiscText : public ::testing::Test {
 protected:
  // A disc of three audio tracks whose sheet names the album and each track.
  std::string MakeTitledDisc() {
    const std::string cue = Dir / "disc.cue";
    EXPECT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 3 --seconds 1 --content chord '" + cue +
                           "' >/dev/null"));
    AddCueTexts(
        cue, {"PERFORMER \"The Band\"", "TITLE \"Café Album\"", "REM DATE 1999", "REM GENRE Rock"},
        {"Song One", "Song/Two", ".Three"});
    return cue;
  }
  TCommandResult Cli(const std::string& Arguments) {
    return CaptureCommand("cd '" + Dir.Path().string() + "' && " + Bin + "/korvane-cli " +
                          Arguments);
  }
  TTempDir Dir;
};

struct FormatCase {
  const char* Name;
  const char* Options;
  const char* Extension;
};

void PrintTo(const FormatCase& Case, std::ostream* Out) { *Out << Case.Name; }

class DiscTextFormats : public DiscText, public ::testing::WithParamInterface<FormatCase> {};

// No option but the template: the files are named and tagged from the sheet; a name is
// made safe ("/" replaced, no leading dot), and a value the user gives wins.
TEST_P(DiscTextFormats, TheSheetsTextsNameAndTagTheFiles) {
  const std::string cue = MakeTitledDisc();
  const auto result =
      Cli(std::string("--format ") + GetParam().Options + " --name '%n - %t' --out out disc.cue");
  ASSERT_EQ(result.Status, 0) << result.Output;
  const std::string ext = GetParam().Extension;
  const std::string names[] = {"01 - Song One", "02 - Song_Two", "03 - .Three"};
  for (const std::string& name : names)
    EXPECT_TRUE(std::filesystem::exists(Dir / ("out/" + name + ext))) << name << result.Output;
  const auto first = TagsOf(Dir / ("out/01 - Song One" + ext));
  EXPECT_EQ(first.at("title"), "Song One");
  EXPECT_EQ(first.at("artist"), "The Band");
  EXPECT_EQ(first.at("album"), "Café Album");
  EXPECT_EQ(first.at("genre"), "Rock");
  EXPECT_EQ(first.at("date"), "1999");
  EXPECT_EQ(first.at("tracknumber").substr(0, 1), "1");
  if (ext == ".mp3") {
    EXPECT_EQ(first.at("tracknumber"), "1/3");
  }
  EXPECT_EQ(TagsOf(Dir / ("out/02 - Song_Two" + ext)).at("title"), "Song/Two");

  const auto given = Cli(std::string("--format ") + GetParam().Options + " " + GetParam().Name +
                         std::string(" --out given disc.cue/Track03.cda"));
  ASSERT_EQ(given.Status, 0) << given.Output;
  const auto third = TagsOf(Dir / ("given/Track03" + ext));
  EXPECT_EQ(third.at("artist"), "Someone Else");
  EXPECT_EQ(third.at("title"), ".Three");
}

const FormatCase Formats[] = {
    {"--artist 'Someone Else'", "mp3", ".mp3"},
    {"--tag 'ARTIST=Someone Else'", "ogg", ".ogg"},
    {"--tag 'artist=Someone Else'", "flac", ".flac"},
};

INSTANTIATE_TEST_SUITE_P(Formats, DiscTextFormats, ::testing::ValuesIn(Formats),
                         [](const auto& Info) { return std::string(Info.param.Options); });

// A date in another script and a title with double quotes and a bidi control: no format
// fails, the year in names and ID3 tags is the date's four digits while the comments keep
// it whole, a quote becomes "'" and the control goes, and the cue sheet names the file.
TEST_F(DiscText, ADateAndATitleOfAnyTextGiveSoundNamesAndTags) {
  const std::string cue = Dir / "disc.cue";
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 1 --seconds 1 '" + cue + "' >/dev/null"));
  AddCueTexts(cue, {"REM DATE \"２００１年\"", "TITLE say \"hi\" \xE2\x80\xAEgpj"}, {});
  for (const auto& [format, date] : {std::pair<std::string, std::string>{"flac", "２００１年"},
                                     {"ogg", "２００１年"},
                                     {"mp3", "2001"}}) {
    const auto result =
        Cli("--format " + format + " --log --name '%y %A' --out " + format + " disc.cue");
    ASSERT_EQ(result.Status, 0) << result.Output;
    EXPECT_EQ(TagsOf(Dir / (format + "/2001 say 'hi' gpj." + format)).at("date"), date);
    const std::string sheet = ReadText(Dir / (format + "/say 'hi' gpj.cue"));
    EXPECT_NE(sheet.find("FILE \"2001 say 'hi' gpj." + format + "\""), std::string::npos) << sheet;
  }
}

// Each MP3 file's tags are its own: a disc without texts after a titled one in the same
// run gets none of the titled disc's fields.
TEST_F(DiscText, Mp3TagsDoNotLeakFromOneDiscToTheNext) {
  MakeTitledDisc();
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 1 --seconds 1 '" + (Dir / "plain.cue") +
                         "' >/dev/null"));
  const auto result = Cli("--format mp3 --name '%n %t' --out out disc.cue plain.cue");
  ASSERT_EQ(result.Status, 0) << result.Output;
  EXPECT_EQ(TagsOf(Dir / "out/03 .Three.mp3").at("album"), "Café Album");
  const auto plain = TagsOf(Dir / "out/01 Track01.mp3");
  for (const char* field : {"title", "artist", "album", "genre", "date", "tracknumber"})
    EXPECT_EQ(plain.count(field), 0u) << field << "=" << plain.at(field);
}

// The tag options mean the same in every tagged format; MP3 keeps a --tag of a known
// name in its ID3 field and any other as a user text (TXXX).
TEST_F(DiscText, TagOptionsTagEveryFormatAlike) {
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 1 --seconds 1 '" + (Dir / "disc.cue") +
                         "' >/dev/null"));
  const std::string tags =
      " --title Tí --artist Ar --album Al --year 2020 --track 7 --genre Jazz --tag MOOD=calm";
  for (const std::string format : {"mp3", "ogg", "flac"}) {
    const auto result = Cli("--format " + format + tags + " --out " + format + " disc.cue");
    ASSERT_EQ(result.Status, 0) << format << "\n" << result.Output;
    const std::string file = Dir / (format + "/Track01." + format);
    const std::map<std::string, std::string> expected = {{"title", "Tí"},      {"artist", "Ar"},
                                                         {"album", "Al"},      {"date", "2020"},
                                                         {"tracknumber", "7"}, {"genre", "Jazz"}};
    EXPECT_EQ(TagsOf(file), expected) << format;
    const std::string mood = format == "mp3" ? "mutagen.id3.ID3(sys.argv[1])[\"TXXX:MOOD\"].text[0]"
                                             : "mutagen.File(sys.argv[1])[\"MOOD\"][0]";
    EXPECT_EQ(CaptureCommand("/usr/bin/python3 -c 'import sys, mutagen, mutagen.id3; print(" +
                             mood + ")' '" + file + "'")
                  .Output,
              "calm\n")
        << format;
  }
}

// A sheet's catalogue number and ISRCs go into the cue sheet written beside the files.
TEST_F(DiscText, CatalogAndIsrcReachTheWrittenCueSheet) {
  const std::string cue = Dir / "disc.cue";
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 2 --seconds 1 '" + cue + "' >/dev/null"));
  AddCueTexts(cue, {"CATALOG 0123456789012", "TITLE \"Album\""}, {"One", "Two"});
  std::string text = ReadText(cue);
  const size_t second = text.find("TRACK 02");
  ASSERT_NE(second, std::string::npos) << text;
  text.insert(text.find('\n', second) + 1, "    ISRC GBAYE0000351\n");
  std::ofstream(cue) << text;
  const auto result = Cli("--log --out out disc.cue");
  ASSERT_EQ(result.Status, 0) << result.Output;
  const std::string written = ReadText(Dir / "out/Album.cue");
  EXPECT_NE(written.find("CATALOG 0123456789012\n"), std::string::npos) << written;
  EXPECT_NE(written.find("ISRC GBAYE0000351\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("ISRC", written.find("TRACK 01")), written.find("ISRC GBAYE")) << written;
}

// The loopback stand-in for MusicBrainz and a CDDB server (tests/audio/lookup): its first path
// element picks what it answers.
class Lookup : public DiscText {
 protected:
  void SetUp() override {
    Server_.emplace("tests/audio/lookup/lookup_server.py", Dir / "requests.log");
    ASSERT_TRUE(Server_->Started()) << "the server did not start: " << Server_->StartLine;
  }
  std::string Url(const std::string& Scenario, const std::string& Path) const {
    return Server_->Url("/" + Scenario + Path);
  }
  std::optional<TLoopbackServer> Server_;
};

struct LookupCase {
  const char* Name;
  const char* Options;  // %s: the server's address for the scenario
  const char* Scenario;
  const char* Path;
  std::vector<const char*> Files;  // in out/
  std::vector<const char*> Said;
};

void PrintTo(const LookupCase& Case, std::ostream* Out) { *Out << Case.Name; }

class LookupCases : public Lookup, public ::testing::WithParamInterface<LookupCase> {};

// A lookup fills names and tags; several matches are listed and --release picks one;
// no match, an error or malformed data never stop the rip, which goes on with the
// sheet's texts.
TEST_P(LookupCases, FillNamesOrGoOnWithWhatTheDiscSays) {
  MakeTitledDisc();
  const LookupCase& c = GetParam();
  const auto result = Cli(std::string(c.Options) + " --lookup-server '" + Url(c.Scenario, c.Path) +
                          "' --name '%n %t' --out out disc.cue");
  EXPECT_EQ(result.Status, 0) << result.Output;
  for (const char* file : c.Files)
    EXPECT_TRUE(std::filesystem::exists(Dir / (std::string("out/") + file))) << file << "\n"
                                                                             << result.Output;
  for (const char* said : c.Said)
    EXPECT_NE(result.Output.find(said), std::string::npos) << said << "\n" << result.Output;
}

const LookupCase LookupCases_[] = {
    {"MusicBrainzOne", "--lookup musicbrainz", "one", "/ws/2", {"01 Pier.wav"}, {"3 done"}},
    {"MusicBrainzSeveral",
     "--lookup musicbrainz --release 2",
     "several",
     "/ws/2",
     {"01 Pier (Remastered).wav"},
     {"has 2 matches", "  2. Mira Voss - Harbour Lights (Deluxe) (2008), CD 2 of 2",
      "going on with match 2"}},
    {"MusicBrainzOneOfAskedTwo",
     "--lookup musicbrainz --release 2",
     "one",
     "/ws/2",
     {"01 Pier.wav"},
     {"has 1 match for the disc", "there is no match 2"}},
    {"CddbOne",
     "--lookup gnudb",
     "one",
     "/cddb",
     {"01 Pier.wav", "03 Lantern_Lamp Light.wav"},  // a tab in a text is a space
     {}},
    {"NoMatch",
     "--lookup musicbrainz",
     "none",
     "/ws/2",
     {"01 Song One.wav"},
     {"MusicBrainz does not know the disc"}},
    {"ServerError",
     "--lookup gnudb",
     "error",
     "/cddb",
     {"01 Song One.wav"},
     {"the lookup failed", "HTTP 500", "going on with what the disc says"}},
    {"Malformed",
     "--lookup musicbrainz",
     "malformed",
     "/ws/2",
     {"01 Song One.wav"},
     {"the lookup failed"}},
    {"NestedTooDeep",
     "--lookup musicbrainz",
     "deep",
     "/ws/2",
     {"01 Song One.wav"},
     {"the lookup failed", "nests deeper than 64 levels", "going on with what the disc says"}},
};

// A CDDB entry in Latin-1 with control characters: names and FLAC tags in UTF-8 without
// them, and nothing of them reaches the terminal.
TEST_F(Lookup, ServerTextsAreConvertedAndCleanedOfControlCharacters) {
  MakeTitledDisc();
  const auto result = Cli("--format flac --lookup gnudb --lookup-server '" +
                          Url("latin1", "/cddb") + "' --name '%n %t' --out out disc.cue");
  ASSERT_EQ(result.Status, 0) << result.Output;
  EXPECT_EQ(result.Output.find('\x1b'), std::string::npos) << result.Output;
  const auto first = TagsOf(Dir / "out/01 Façade.flac");
  EXPECT_EQ(first.at("title"), "Façade");
  EXPECT_EQ(first.at("album"), "Café Nights");
  EXPECT_EQ(TagsOf(Dir / "out/02 [2JClear Forged line.flac").at("title"), "[2JClear Forged line");
}

// A CDDB server is greeted with the e-mail given, and a single inexact match is named.
TEST_F(Lookup, CddbGreetingAndAnInexactMatch) {
  MakeTitledDisc();
  const auto result = Cli("--lookup gnudb --cddb-user me@example.org --lookup-server '" +
                          Url("inexact", "/cddb") + "' --out out disc.cue");
  ASSERT_EQ(result.Status, 0) << result.Output;
  EXPECT_NE(result.Output.find("only an inexact match: Mira Voss - Harbour Lights"),
            std::string::npos)
      << result.Output;
  EXPECT_NE(ReadText(Dir / "requests.log").find("&hello=me+example.org+Korvane+"),
            std::string::npos);
}

// Without --cddb-user the greeting takes cdr.ini's [Lookup] CddbUser, when it is an
// address; a copy of the program keeps its own cdr.ini beside it.
TEST_F(Lookup, CddbGreetingFromTheSettingsFile) {
  MakeTitledDisc();
  std::filesystem::create_directory(Dir / "bin");
  std::filesystem::copy_file(Bin + "/korvane-cli", Dir / "bin/korvane-cli");
  std::filesystem::create_symlink(Bin + "/libcdrip.so", Dir / "bin/libcdrip.so");
  for (const std::string user : {"ini@example.org", "not an address"}) {
    std::ofstream(Dir / "bin/cdr.ini") << "[Lookup]\nCddbUser = " << user << "\n";
    std::ofstream(Dir / "requests.log", std::ios::trunc).close();
    const auto result = CaptureCommand("cd '" + Dir.Path().string() + "' && bin/korvane-cli " +
                                       "--lookup gnudb --out out --lookup-server '" +
                                       Url("inexact", "/cddb") + "' disc.cue");
    ASSERT_EQ(result.Status, 0) << result.Output;
    const bool address = user.find('@') != std::string::npos;
    EXPECT_EQ(ReadText(Dir / "requests.log").find("&hello=ini+example.org+") != std::string::npos,
              address);
    EXPECT_EQ(
        result.Output.find("CddbUser \"not an address\" is no e-mail address") != std::string::npos,
        !address)
        << result.Output;
  }
}

// The numbers of a track and its disc: the track total counts audio tracks only (the
// last track holds data), the disc is the second of a release of two (MusicBrainz), and
// the release's genre fills the genre; in ID3 as "1/2", in comments as two fields.
TEST_F(Lookup, TrackAndDiscNumbersCountAudioTracksAndTheReleasesMedia) {
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 3 --data-track last --seconds 1 '" +
                         (Dir / "disc.cue") + "' >/dev/null"));
  const std::string options = " --lookup musicbrainz --release 2 --lookup-server '" +
                              Url("several", "/ws/2") + "' --name '%n' disc.cue/Track01.cda";
  ASSERT_EQ(Cli("--format mp3 --out mp3" + options).Status, 0);
  const auto mp3 = TagsOf(Dir / "mp3/01.mp3");
  EXPECT_EQ(mp3.at("tracknumber"), "1/2");
  EXPECT_EQ(mp3.at("discnumber"), "2/2");
  EXPECT_EQ(mp3.at("genre"), "Pop");  // ID3 names a genre of its table as the table does
  ASSERT_EQ(Cli("--format flac --out flac" + options).Status, 0);
  const auto flac = TagsOf(Dir / "flac/01.flac");
  EXPECT_EQ(flac.at("tracktotal"), "2");
  EXPECT_EQ(flac.at("discnumber") + " " + flac.at("disctotal"), "2 2");
  EXPECT_EQ(flac.at("genre"), "pop");
}

INSTANTIATE_TEST_SUITE_P(Answers, LookupCases, ::testing::ValuesIn(LookupCases_),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
