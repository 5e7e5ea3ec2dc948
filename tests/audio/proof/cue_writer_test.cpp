// Cue sheets written beside WAVE files and read back by korvane-cli --list: the same
// tracks, lengths and texts.
#include "proof/cue_writer.h"

#include <gtest/gtest.h>
#include <libcue.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "command_run.h"
#include "temp_dir.h"
#include "wave_io.h"

namespace {

// A WAVE file of CD audio, Sectors of silence.
void WriteSilentWave(const std::string& Path, int32_t Sectors) {
  const auto data = static_cast<uint32_t>(2352 * Sectors);
  const auto header = korvane::discimage::waveHeader(data);
  std::vector<uint8_t> file(header.begin(), header.end());
  file.resize(file.size() + data);
  WriteWholeFile(Path, file);
}

std::string ReadText(const std::string& Path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(Path);
  return std::string(bytes.begin(), bytes.end());
}

std::string Length(int32_t Sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d:%02d.%02d", Sectors / 75 / 60, Sectors / 75 % 60,
                Sectors % 75);
  return text;
}

struct TSheetCase {
  const char* Name;
  std::vector<int32_t> Sectors;
  std::vector<int32_t> Gaps;
};

void PrintTo(const TSheetCase& Case, std::ostream* Out) { *Out << Case.Name; }

class CueWriter : public testing::TestWithParam<TSheetCase> {};

// The "Disc ids: " line that korvane-cli --list gives the sheet (its output when none).
std::string DiscIds(const std::string& Cli, const std::string& Sheet) {
  const std::string listed = CaptureCommand(Cli + "--list " + Sheet).Output;
  const size_t at = listed.find("Disc ids: ");
  return at == std::string::npos ? listed : listed.substr(at, listed.find('\n', at) - at);
}

TEST_P(CueWriter, SheetReadsBackToTheSameTracks) {
  const TSheetCase& c = GetParam();
  TTempDir dir;
  TCueDisc disc;
  disc.Title = "Harbour \"Lights\"";
  disc.Performer = "Mira Voss";
  disc.Date = "1998";
  disc.Genre = "Folk Rock";
  disc.Catalog = "0123456789012";
  for (size_t i = 0; i < c.Sectors.size(); ++i) {
    TCueTrack track;
    track.Number = static_cast<int>(i) + 1;
    track.FileName = "0" + std::to_string(i + 1) + " Track.wav";
    track.Sectors = c.Sectors[i];
    track.Gap = c.Gaps[i];
    track.Title = "Song " + std::to_string(i + 1);
    track.Performer = i == 1 ? "Jun Ito" : "";
    track.Isrc = "USABC980000" + std::to_string(i + 1);
    WriteSilentWave(dir / track.FileName, track.Sectors);
    disc.Tracks.push_back(track);
  }
  WriteWholeFile(dir / "disc.cue", [&] {
    const std::string text = CueSheetText(disc);
    return std::vector<uint8_t>(text.begin(), text.end());
  }());
  const TCommandResult listed =
      CaptureCommand("'" KORVANE_BIN_DIR "/korvane-cli' --list '" + (dir / "disc.cue") + "'");
  ASSERT_EQ(listed.Status, 0) << listed.Output;
  for (size_t i = 0; i < c.Sectors.size(); ++i) {
    char entry[64];
    std::snprintf(entry, sizeof entry, "/Track%02zu.cda  %s  audio\n", i + 1,
                  Length(c.Sectors[i]).c_str());
    EXPECT_NE(listed.Output.find(entry), std::string::npos) << entry << "\nin\n" << listed.Output;
    const std::string title = "Track 0" + std::to_string(i + 1) + ": " + disc.Tracks[i].Title +
                              (i == 1 ? " / Jun Ito" : "") + "\n";
    EXPECT_NE(listed.Output.find(title), std::string::npos) << title << "\nin\n" << listed.Output;
  }
  char beyond[32];
  std::snprintf(beyond, sizeof beyond, "/Track%02zu.cda", c.Sectors.size() + 1);
  EXPECT_EQ(listed.Output.find(beyond), std::string::npos) << listed.Output;
  EXPECT_NE(listed.Output.find(
                "Album: Harbour 'Lights' / Artist: Mira Voss / Year: 1998 / Genre: Folk Rock\n"),
            std::string::npos)
      << listed.Output;
}

// An MP3 file is named one, so that cue readers decode it; other files stay WAVE files.
TEST(CueWriterFileTypes, FollowTheFilesFormat) {
  TCueDisc disc;
  disc.Tracks = {{1, "01 a.MP3", 150, 0, "", "", ""}, {2, "02 b.flac", 150, 0, "", "", ""}};
  const std::string sheet = CueSheetText(disc);
  EXPECT_NE(sheet.find("FILE \"01 a.MP3\" MP3\n"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("FILE \"02 b.flac\" WAVE\n"), std::string::npos) << sheet;
}

// Texts ending in backslashes, read back by libcue: each text stays on its line (a
// backslash before the closing quote would read as an escaped quote), the backslashes
// at the end written full-width, those within as they are.
TEST(CueWriterTexts, EndingInABackslashReadBackWithLibcue) {
  TCueDisc disc;
  disc.Title = "C:\\Music\\";
  disc.Tracks = {{1, "01.wav", 150, 0, "One\\", "", ""}, {2, "02.wav", 150, 0, "Two", "B", ""}};
  const std::unique_ptr<Cd, void (*)(Cd*)> cd(cue_parse_string(CueSheetText(disc).c_str()),
                                              cd_delete);
  ASSERT_NE(cd, nullptr) << CueSheetText(disc);
  ASSERT_EQ(cd_get_ntrack(cd.get()), 2) << CueSheetText(disc);
  const auto text = [](Cdtext* In, Pti F) {
    return std::string(cdtext_get(F, In) ? cdtext_get(F, In) : "-");
  };
  EXPECT_EQ(text(cd_get_cdtext(cd.get()), PTI_TITLE), "C:\\Music\xEF\xBC\xBC");
  EXPECT_EQ(text(track_get_cdtext(cd_get_track(cd.get(), 1)), PTI_TITLE), "One\xEF\xBC\xBC");
  EXPECT_EQ(text(track_get_cdtext(cd_get_track(cd.get(), 2)), PTI_TITLE), "Two");
  EXPECT_EQ(text(track_get_cdtext(cd_get_track(cd.get(), 2)), PTI_PERFORMER), "B");
}

// An image's pre-gaps (a PREGAP before track 1, INDEX 00 of the others; START in a .toc,
// the index of an .nrg) reach the rip log, and the sheet written beside the files
// describes the same disc: its disc ids are the image's.
TEST(CueWriterPregaps, TheWrittenSheetDescribesTheImagesDisc) {
  for (const std::string image : {"disc.cue", "disc.toc", "disc.nrg"}) {
    TTempDir dir;
    const std::string cli =
        "cd '" + dir.Path().string() + "' && '" KORVANE_BIN_DIR "/korvane-cli' ";
    ASSERT_TRUE(RunCommand("cd '" + dir.Path().string() +
                           "' && '" KORVANE_BIN_DIR
                           "/korvane-mkdisc' --tracks 3 --seconds 2 --pregap 75,33 " +
                           image + " >/dev/null"));
    if (image == "disc.cue") {
      std::string sheet = ReadText(dir / image);
      sheet.insert(sheet.find("\n", sheet.find("TRACK 01")) + 1, "    PREGAP 00:00:40\n");
      WriteWholeFile(dir / image, std::vector<uint8_t>(sheet.begin(), sheet.end()));
    }
    ASSERT_EQ(CaptureCommand(cli + "--log --out out " + image).Status, 0) << image;
    const std::string log = ReadText(dir / "out/disc.log");
    const std::string first = image == "disc.cue" ? "00:00.40" : "00:00.00";
    for (const auto& [track, gap] :
         {std::pair{"01", first}, {"02", "00:01.00"}, {"03", "00:00.33"}})
      EXPECT_NE(log.find(std::string("Track ") + track + "\n  File: Track" + track +
                         ".wav\n  Pre-gap: " + gap + "\n"),
                std::string::npos)
          << image << "\n"
          << log;
    EXPECT_EQ(DiscIds(cli, "out/disc.cue"), DiscIds(cli, image)) << image << "\n"
                                                                 << ReadText(dir / "out/disc.cue");
  }
}

// Audio before track 1: the log tells of it whether or not it is ripped; with --htoa it
// is track 0's file (its audio decoded by sox is the image's, its tag track 0), which the
// written sheet gives as track 1's INDEX 00, so that the sheet is of the same disc.
TEST(CueWriterPregaps, HiddenTrackOneAudioIsLoggedAndWithHtoaRippedAsTrackZero) {
  TTempDir dir;
  const std::string cli = "cd '" + dir.Path().string() + "' && '" KORVANE_BIN_DIR "/korvane-cli' ";
  ASSERT_TRUE(
      RunCommand("cd '" + dir.Path().string() +
                 "' && '" KORVANE_BIN_DIR
                 "/korvane-mkdisc' --tracks 2 --seconds 1 --hidden 2:tone:440 "
                 "--expect pcm disc.cue >/dev/null && sed -i '1i TITLE \"Album\"' disc.cue"));
  ASSERT_EQ(CaptureCommand(cli + "--htoa --log --name '%n - %t' --out out disc.cue").Status, 0);
  ASSERT_EQ(CaptureCommand(cli + "--log --out plain disc.cue").Status, 0);
  ASSERT_EQ(CaptureCommand(cli + "--htoa --format flac --out flac disc.cue").Status, 0);
  const std::string hiddenLine = "Hidden track one audio: 00:02.00 (sectors 0 to 149), ";
  EXPECT_NE(ReadText(dir / "out/Album.log").find(hiddenLine + "ripped as track 00\n"),
            std::string::npos);
  EXPECT_NE(ReadText(dir / "plain/Album.log").find(hiddenLine + "not ripped\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "plain/Track00.wav"));
  EXPECT_EQ(DiscIds(cli, "out/Album.cue"), DiscIds(cli, "disc.cue"))
      << ReadText(dir / "out/disc.cue");
  ASSERT_TRUE(RunCommand("cd '" + dir.Path().string() +
                         "' && sox 'out/00 - Hidden track.wav' -t raw hidden.raw"));
  EXPECT_TRUE(ReadWholeFile(dir / "hidden.raw") == ReadWholeFile(dir / "pcm/track00.pcm"));
  EXPECT_EQ(CaptureCommand("ffprobe -v error -show_entries format_tags=track -of csv=p=0 '" +
                           (dir / "flac/Track00.flac") + "'")
                .Output,
            "0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CueWriter,
    testing::Values(TSheetCase{"OneTrack", {150}, {0}},
                    TSheetCase{"GapsInThePreviousFiles", {300, 4500, 77}, {0, 150, 32}},
                    TSheetCase{"NoGaps", {225, 151}, {0, 0}},
                    TSheetCase{"SilenceBeforeTheFirst", {300, 200}, {33, 10}}),
    [](const testing::TestParamInfo<TSheetCase>& Info) { return Info.param.Name; });

}  // namespace
