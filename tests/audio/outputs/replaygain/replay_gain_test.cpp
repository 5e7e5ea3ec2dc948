// ReplayGain checked with tools we did not write: loudgain measures the same audio,
// ffmpeg decodes every file before and after its tags are rewritten, mutagen reads the
// tags back (and re-serialises each Ogg page, which must give the page's own bytes).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "command_run.h"
#include "core/audio_classes.h"
#include "jobs/replay_gain_pass.h"
#include "outputs/audio_flac.h"
#include "outputs/loudness.h"
#include "outputs/tag_rewrite.h"
#include "small_disk.h"
#include "temp_dir.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

// Prints NAME=value per tag (MP3: the frame, TXXX:DESCRIPTION), and "badpage=N" for an
// Ogg page whose sequence number is not N or whose bytes mutagen would write otherwise.
constexpr const char* TagScript = R"(
import sys, mutagen
from mutagen.id3 import ID3
path = sys.argv[1]
tags = mutagen.File(path).tags
if isinstance(tags, ID3):
    print("id3=%d.%d" % tags.version[:2])
    for fr in tags.values():
        name = "TXXX:" + fr.desc if fr.FrameID == "TXXX" else fr.FrameID
        print(name + "=" + "/".join(str(t) for t in fr.text))
else:
    for k, v in tags: print(k.upper() + "=" + v)
if path.endswith((".ogg", ".opus")):
    from mutagen.ogg import OggPage
    with open(path, "rb") as fh:
        seq = 0
        while True:
            at = fh.tell()
            try: page = OggPage(fh)
            except EOFError: break
            end = fh.tell(); fh.seek(at)
            if page.write() != fh.read(end - at) or page.sequence != seq: print("badpage=%d" % seq)
            seq += 1
)";

std::multimap<std::string, std::string> Tags(const std::string& File) {
  const TCommandResult run =
      CaptureCommand("/usr/bin/python3 -c '" + std::string(TagScript) + "' '" + File + "'");
  EXPECT_EQ(run.Status, 0) << run.Output;
  std::multimap<std::string, std::string> tags;
  std::istringstream lines(run.Output);
  for (std::string line; std::getline(lines, line);)
    if (line.find('=') != std::string::npos)
      tags.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
  return tags;
}

std::vector<uint8_t> Pcm(const std::string& File) {
  return CommandBytes("ffmpeg -v error -i '" + File + "' -f s16le -");
}

// loudgain's gains (dB) of Files, in order, the album's last.
std::vector<double> LoudgainGains(const std::string& Files) {
  const TCommandResult run = CaptureCommand("loudgain -a -s s -O -q " + Files);
  EXPECT_EQ(run.Status, 0) << run.Output;
  std::vector<double> gains;
  std::istringstream lines(run.Output);
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (fields.size() > 8) gains.push_back(std::stod(fields[8]));
  }
  return gains;
}

class ReplayGainTest : public ::testing::Test {
 protected:
  TTempDir Dir;
  // A file of the tone (or noise) from sox, encoded by ffmpeg with a title of its own.
  std::string Make(const std::string& Name, const std::string& Synth, const std::string& Codec) {
    const std::string wav = Dir / (Name + ".wav"), file = Dir / Name;
    EXPECT_TRUE(RunCommand("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + Synth));
    EXPECT_TRUE(RunCommand("ffmpeg -v error -y -i '" + wav + "' -c:a " + Codec +
                           " -metadata title=Old '" + file + "'"));
    return file;
  }
};

// Track and album gains within 0.1 dB of loudgain's, from PCM fed in pieces that split
// sample pairs; the Opus gains are the same loudness against -23 LUFS, in 1/256 dB.
TEST_F(ReplayGainTest, GainsAgreeWithLoudgain) {
  const std::vector<std::string> files = {Make("a.flac", "5 sine 440 vol 0.3", "flac"),
                                          Make("b.flac", "3 pinknoise vol 0.6", "flac")};
  std::vector<std::unique_ptr<TLoudnessMeter>> meters;
  for (const std::string& file : files) {
    meters.push_back(std::make_unique<TLoudnessMeter>());
    const std::vector<uint8_t> pcm = Pcm(file);
    for (size_t at = 0; at < pcm.size(); at += 4099)
      meters.back()->Add(pcm.data() + at, std::min<size_t>(4099, pcm.size() - at));
  }
  const std::vector<double> expected = LoudgainGains(files[0] + " " + files[1]);
  ASSERT_EQ(expected.size(), 3u);
  const TLoudness album = TLoudnessMeter::Album({meters[0].get(), meters[1].get()});
  for (size_t i = 0; i < 3; ++i) {
    const TLoudness loudness = i < 2 ? meters[i]->Result() : album;
    ASSERT_TRUE(loudness.Lufs);
    EXPECT_NEAR(GainTo(ReplayGainReference, *loudness.Lufs), expected[i], 0.1) << i;
    EXPECT_NEAR(R128Q78(*loudness.Lufs) / 256.0, expected[i] - 5, 0.1) << i;
  }
  EXPECT_NEAR(meters[0]->Result().Peak, 0.3, 0.001);
}

// Silence has no loudness: no track gain is written, the album's still is.
TEST_F(ReplayGainTest, SilenceGetsNoGain) {
  TLoudnessMeter meter;
  const std::vector<uint8_t> silence(44100 * 4 * 3, 0);
  meter.Add(silence.data(), silence.size());
  EXPECT_FALSE(meter.Result().Lufs);
  const std::vector<std::string> lines =
      ReplayGainLines(meter.Result(), TLoudness{-12.0, 0.5}, false);
  EXPECT_EQ(lines, (std::vector<std::string>{"REPLAYGAIN_ALBUM_GAIN=-6.00 dB",
                                             "REPLAYGAIN_ALBUM_PEAK=0.500000"}));
}

struct TRewriteCase {
  const char* Name;
  const char* Codec;
  size_t ValueBytes;  // a long comment: beyond a FLAC file's padding
  const char* GainName;
};

class TagRewriteTest : public ReplayGainTest, public ::testing::WithParamInterface<TRewriteCase> {};

// The old tags go, the lines come in (the track number with its total in MP3), and the
// file keeps its permissions and decodes to the same PCM.
TEST_P(TagRewriteTest, ReplacesTheTagsAndKeepsTheAudio) {
  const TRewriteCase& c = GetParam();
  const std::string file = Make(c.Name, "3 pluck 220 vol 0.5", c.Codec);
  const std::vector<uint8_t> before = Pcm(file);
  ASSERT_FALSE(before.empty());
  const std::string gain = std::string(c.GainName) + "=-7.03 dB";
  const std::string note = "NOTE=" + std::string(c.ValueBytes, 'n');
  ::chmod(file.c_str(), 0640);
  RewriteTags(file, {"TITLE=Björk", "TRACKNUMBER=7", "TRACKTOTAL=10", gain, note});
  EXPECT_EQ(Pcm(file), before);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  const auto tags = Tags(file);
  EXPECT_EQ(tags.count("badpage"), 0u);
  const bool mp3 = tags.count("id3") > 0;
  EXPECT_EQ(tags.count(mp3 ? "TIT2" : "TITLE"), 1u);
  EXPECT_EQ(tags.find(mp3 ? "TIT2" : "TITLE")->second, "Björk");
  EXPECT_EQ(tags.find(mp3 ? "TRCK" : "TRACKNUMBER")->second, mp3 ? "7/10" : "7");
  const auto found = tags.find(mp3 ? "TXXX:" + std::string(c.GainName) : c.GainName);
  ASSERT_NE(found, tags.end());
  EXPECT_EQ(found->second, "-7.03 dB");
  EXPECT_EQ(tags.find(mp3 ? "TXXX:NOTE" : "NOTE")->second.size(), c.ValueBytes);
  if (mp3) {
    EXPECT_EQ(tags.find("id3")->second, "2.3");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TagRewriteTest,
    ::testing::Values(TRewriteCase{"InPadding.flac", "flac", 10, "REPLAYGAIN_TRACK_GAIN"},
                      TRewriteCase{"Grown.flac", "flac", 20000, "REPLAYGAIN_TRACK_GAIN"},
                      TRewriteCase{"Vorbis.ogg", "libvorbis", 70000, "REPLAYGAIN_TRACK_GAIN"},
                      TRewriteCase{"Opus.opus", "libopus", 70000, "R128_TRACK_GAIN"},
                      TRewriteCase{"Mp3.mp3", "libmp3lame", 10, "REPLAYGAIN_TRACK_GAIN"}),
    [](const auto& Info) {
      const std::string name = Info.param.Name;
      return name.substr(0, name.find('.'));
    });

enum class TDamage { ReadOnlyFile, Truncated, FullDisk };

struct TFailureCase {
  const char* Name;
  const char* Codec;
  TDamage Damage;
  long Keep;  // Truncated: bytes kept (negative: cut from the end)
};

class TagRewriteFailureTest : public ReplayGainTest,
                              public ::testing::WithParamInterface<TFailureCase> {};

// A rewrite that cannot be done raises a message naming the file and leaves it byte for
// byte as it was, with no staging file beside it.
TEST_P(TagRewriteFailureTest, LeavesTheFileAsItWas) {
  const TFailureCase& c = GetParam();
  std::string file = Make(c.Name, "4 pinknoise vol 0.5", c.Codec);
  std::unique_ptr<TSmallDisk> disk;
  if (c.Damage == TDamage::Truncated) {
    std::vector<uint8_t> bytes = ReadWholeFile(file);
    bytes.resize(c.Keep < 0 ? bytes.size() + c.Keep : c.Keep);
    WriteWholeFile(file, bytes);
  } else if (c.Damage == TDamage::ReadOnlyFile) {
    ::chmod(file.c_str(), 0444);
  } else {
    disk = std::make_unique<TSmallDisk>(Dir / "disk", 2 << 20);
    if (!disk->Mounted()) GTEST_SKIP() << TSmallDisk::NeedsRoot;
    std::filesystem::copy_file(file, Dir / ("disk/" + std::string(c.Name)));
    file = Dir / ("disk/" + std::string(c.Name));
    ASSERT_TRUE(disk->FillLeaving(4096));
  }
  const std::vector<uint8_t> before = ReadWholeFile(file);
  try {
    RewriteTags(file, {"TITLE=New", "NOTE=" + std::string(20000, 'n')});
    ADD_FAILURE() << "the rewrite succeeded";
  } catch (const EAudioException& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("stays as it was"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadWholeFile(file), before);
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(file).parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".korvane-"), std::string::npos)
        << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TagRewriteFailureTest,
    ::testing::Values(TFailureCase{"ReadOnly.flac", "flac", TDamage::ReadOnlyFile, 0},
                      TFailureCase{"CutInMetadata.flac", "flac", TDamage::Truncated, 60},
                      TFailureCase{"CutInPage.ogg", "libvorbis", TDamage::Truncated, -100},
                      TFailureCase{"CutInTag.mp3", "libmp3lame", TDamage::Truncated, 30},
                      TFailureCase{"FullDisk.flac", "flac", TDamage::FullDisk, 0},
                      TFailureCase{"FullDisk.opus", "libopus", TDamage::FullDisk, 0},
                      TFailureCase{"FullDisk.mp3", "libmp3lame", TDamage::FullDisk, 0}),
    [](const auto& Info) {
      std::string name = Info.param.Name;
      return name.replace(name.find('.'), 1, "_");
    });

// The pass writes a disc's files only once its last job ended, with the job's own tags;
// a file it cannot rewrite is named in a warning, stays as it was, and is counted.
TEST_F(ReplayGainTest, PassWritesTheDiscOnceItsLastJobEnded) {
  std::vector<TPlannedJob> jobs(2);
  std::vector<std::string> warnings;
  TReplayGainPass pass(jobs, [&](const std::string& Text) { warnings.push_back(Text); });
  TFlacOut output;
  output.Comments = {"TITLE=Kept", "REPLAYGAIN_TRACK_GAIN=+9.00 dB"};
  const std::string good = Make("good.flac", "3 sine 330 vol 0.4", "flac");
  const std::string bad = Dir / "bad.flac";
  WriteWholeFile(bad, std::vector<uint8_t>(100, 'x'));
  const std::vector<uint8_t> pcm = Pcm(good);
  TTrackEnd end;
  end.Result = TTrackResult::Done;
  for (size_t job = 0; job < 2; ++job) pass.Started(job, output)->Add(pcm.data(), pcm.size());
  end.FileName = good;
  pass.Ended(0, &end);
  EXPECT_EQ(Tags(good).count("REPLAYGAIN_ALBUM_GAIN"), 0u);
  end.FileName = bad;
  pass.Ended(1, &end);
  const auto tags = Tags(good);
  EXPECT_EQ(tags.find("TITLE")->second, "Kept");
  EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), 1u);
  EXPECT_EQ(tags.find("REPLAYGAIN_TRACK_GAIN")->second, tags.find("REPLAYGAIN_ALBUM_GAIN")->second);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(bad), std::string::npos) << warnings[0];
  EXPECT_TRUE(pass.AnyUnwritten());
  EXPECT_EQ(ReadWholeFile(bad), std::vector<uint8_t>(100, 'x'));
}

// A kill at the second write into a FLAC file while its comments (filling most of its
// padding) are rewritten in place leaves a file that flac decodes.
TEST_F(ReplayGainTest, AKillDuringTheFlacRewriteLeavesAFileThatDecodes) {
  const std::string cue = Dir / "disc.cue", file = Dir / "out/Track01.flac";
  ASSERT_TRUE(RunCommand(Bin + "/korvane-mkdisc --tracks 1 --seconds 2 '" + cue + "' >/dev/null"));
  const std::string calls = "write,pwrite64,pwritev,pwritev2";
  CaptureCommand(
      "strace -f -qq -o /dev/null -P '" + file + "' -e trace=" + calls + " -e inject=" + calls +
      ":signal=KILL:when=2 " + Bin + "/korvane-cli --format flac --replaygain" +
      " --tag NOTE=" + std::string(3950, 'n') + " --out '" + Dir / "out" + "' '" + cue + "'");
  EXPECT_TRUE(RunCommand("flac -t -s '" + file + "' 2>/dev/null"));
}

// korvane-cli --replaygain on a disc image: every file of the disc carries the same
// album gain, each its own track gain, and the FLAC gains agree with loudgain's.
TEST_F(ReplayGainTest, CliWritesOneAlbumGainPerDisc) {
  const std::string cue = Dir / "disc.cue";
  ASSERT_TRUE(RunCommand(Bin +
                         "/korvane-mkdisc --tracks 3 --seconds 4,3,5 --content "
                         "music,tone:440,noise '" +
                         cue + "' >/dev/null"));
  for (const std::string format : {"flac", "ogg", "mp3"}) {
    const std::string out = Dir / format;
    const TCommandResult run =
        CaptureCommand(Bin + "/korvane-cli --format " + format + " --replaygain --jobs 2 --out '" +
                       out + "' '" + cue + "'");
    ASSERT_EQ(run.Status, 0) << run.Output;
    const std::string prefix = format == "mp3" ? "TXXX:" : "";
    std::set<std::string> albumGains, trackGains;
    std::string files;
    for (int track = 1; track <= 3; ++track) {
      const std::string file = out + "/Track0" + std::to_string(track) + "." + format;
      files += " '" + file + "'";
      const auto tags = Tags(file);
      ASSERT_EQ(tags.count(prefix + "REPLAYGAIN_ALBUM_GAIN"), 1u) << file;
      albumGains.insert(tags.find(prefix + "REPLAYGAIN_ALBUM_GAIN")->second);
      trackGains.insert(tags.find(prefix + "REPLAYGAIN_TRACK_GAIN")->second);
    }
    EXPECT_EQ(albumGains.size(), 1u) << format;
    EXPECT_EQ(trackGains.size(), 3u) << format;
    if (format != "flac") continue;
    const std::vector<double> expected = LoudgainGains(files);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_NEAR(std::stod(*albumGains.begin()), expected[3], 0.1);
  }
  const TCommandResult wav = CaptureCommand(Bin + "/korvane-cli --replaygain '" + cue + "'");
  EXPECT_EQ(wav.Status, 2);
  EXPECT_NE(wav.Output.find("WAV carries no tags"), std::string::npos) << wav.Output;
}

}  // namespace
