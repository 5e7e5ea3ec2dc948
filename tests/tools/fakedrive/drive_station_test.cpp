// Several software drives at once, and disc after disc: two drives read in one run give
// the files of two runs of one drive each; korvane-cli --batch rips the discs put into a
// drive's tray folder one after another (an unreadable one among them is reported and
// ejected), and Ctrl-C while it waits ends it with a total.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "command_run.h"
#include "temp_dir.h"

namespace {

const std::string Bin = KORVANE_BIN_DIR;

std::string Quoted(const std::string& Text) { return "'" + Text + "'"; }

class DriveStation : public ::testing::Test {
 protected:
  // Writes a disc image into Folder (its sheet under a name no drive takes for a disc)
  // and returns the sheet.
  std::string MakeDisc(const std::string& Name, const std::string& Options) {
    std::filesystem::create_directories(Dir / "discs");
    const std::string cue = Dir / ("discs/" + Name + ".cue");
    const auto made =
        CaptureCommand(Bin + "/korvane-mkdisc " + Options + " --expect " +
                       Quoted(Dir / ("discs/" + Name + ".expect")) + " " + Quoted(cue));
    EXPECT_EQ(made.Status, 0) << made.Output;
    return cue;
  }
  std::string Drives(const std::vector<std::pair<std::string, std::string>>& PathsAndImages) {
    std::string setting;
    for (const auto& [path, image] : PathsAndImages) {
      std::ofstream(path).flush();
      setting += (setting.empty() ? "" : ";") + path + ":" + image;
    }
    return "LD_PRELOAD=" + Quoted(Bin + "/libkorvane-fakedrive.so") +
           " KORVANE_FAKE_DRIVE=" + Quoted(setting) + " ";
  }
  TCommandResult Cli(const std::string& Environment, const std::string& Arguments) {
    return CaptureCommand("cd " + Quoted(Dir.Path().string()) + " && " + Environment + Bin +
                          "/korvane-cli " + Arguments);
  }
  // Puts the disc image Cue into a tray folder: its audio first, its sheet last and
  // renamed into place, so that the drive never sees half a disc.
  void PutIn(const std::string& Cue, const std::string& Tray) {
    const std::filesystem::path cue(Cue), tray(Tray);
    const std::filesystem::path bin = cue.parent_path() / (cue.stem().string() + ".bin");
    if (std::filesystem::exists(bin))
      std::filesystem::copy_file(bin, tray / bin.filename(),
                                 std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(cue, tray / "incoming",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(tray / "incoming", tray / cue.filename());
  }

  TTempDir Dir;
};

std::vector<uint8_t> Bytes(const std::filesystem::path& Path) { return ReadWholeFile(Path); }

// The tracks of two discs read by two drives at once, encoded by the shared encoders,
// are the files (and the cue sheets and CRCs of the logs) that a run of each drive
// alone writes; the name template's disc id keeps the two discs' names apart.
TEST_F(DriveStation, TwoDrivesInOneRunGiveTheFilesOfTwoRuns) {
  const std::string first = MakeDisc("first", "--tracks 3 --seconds 2,1,3 --content noise");
  const std::string second = MakeDisc("second", "--tracks 2 --seconds 3,2 --seed 7");
  const std::string sr0 = Dir / "sr0", sr1 = Dir / "sr1";
  const std::string drives = Drives({{sr0, first}, {sr1, second}});
  const std::string options = "--format mp3 --jobs 2 --log --name '%i %n' ";
  const auto together = Cli(drives, options + "--out both " + Quoted(sr0) + " " + Quoted(sr1));
  ASSERT_EQ(together.Status, 0) << together.Output;
  EXPECT_NE(together.Output.find("5 done, 0 failed, 0 aborted"), std::string::npos)
      << together.Output;
  for (const std::string& drive : {sr0, sr1}) {
    const std::string alone = "alone-" + std::filesystem::path(drive).filename().string();
    const auto single = Cli(drives, options + "--out " + alone + " " + Quoted(drive));
    ASSERT_EQ(single.Status, 0) << single.Output;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Dir / alone)) {
      const std::filesystem::path name = entry.path().filename();
      if (name.extension() == ".log") continue;  // dated
      EXPECT_TRUE(Bytes(entry.path()) == Bytes(Dir / "both" / name)) << name;
      files += name.extension() == ".mp3" ? 1 : 0;
    }
    EXPECT_EQ(files, drive == sr0 ? 3u : 2u);
  }
  // Each disc's log holds the CRCs of its own tracks, as its drive alone proved them.
  auto crcLines = [](const std::filesystem::path& Log) {
    std::ifstream in(Log);
    std::string crcs;
    for (std::string line; std::getline(in, line);)
      if (line.find("Copy CRC") != std::string::npos) crcs += line + "\n";
    return crcs;
  };
  EXPECT_EQ(crcLines(Dir / "both/sr0.log"), crcLines(Dir / "alone-sr0/sr0.log"));
  EXPECT_EQ(crcLines(Dir / "both/sr1.log"), crcLines(Dir / "alone-sr1/sr1.log"));
  EXPECT_FALSE(crcLines(Dir / "both/sr1.log").empty());
}

// korvane-cli --batch, followed line by line: a line as each disc ends is the event the
// test waits for before it puts the next disc in.
class BatchRun {
 public:
  // Command runs in Folder, with the Environment's variables.
  BatchRun(const std::string& Folder, const std::string& Environment, const std::string& Command) {
    Pipe_.reset(::popen(
        ("cd " + Quoted(Folder) + " && echo $$ && exec env " + Environment + Command + " 2>&1")
            .c_str(),
        "r"));
    if (const std::optional<std::string> pid = NextLine()) Pid_ = std::stoi(*pid);
  }
  ~BatchRun() {
    if (Pid_ > 0) ::kill(Pid_, SIGKILL);
  }
  // The next line of its output, without the line end; nothing at its end.
  std::optional<std::string> NextLine() {
    char line[4096];
    if (!Pipe_ || !std::fgets(line, sizeof line, Pipe_.get())) return std::nullopt;
    Output += line;
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  // Reads up to the first line that starts with Start; false when the output ended.
  bool WaitFor(const std::string& Start) {
    while (const std::optional<std::string> line = NextLine())
      if (line->rfind(Start, 0) == 0) return true;
    return false;
  }
  // Ctrl-C, then the rest of the output and the exit status.
  int Interrupt() {
    ::kill(Pid_, SIGINT);
    while (NextLine()) {
    }
    const int status = ::pclose(Pipe_.release());
    Pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Output;

 private:
  struct TCloser {
    void operator()(std::FILE* Pipe) const { ::pclose(Pipe); }
  };
  std::unique_ptr<std::FILE, TCloser> Pipe_;
  int Pid_ = -1;
};

// Three discs put in one after another: the second cannot be read (its sheet names audio
// that is not there), the third has the names of the first. Each readable disc is ripped
// whole into a folder of its own, each disc is ejected, and Ctrl-C while the batch waits
// for a fourth ends it with status 130 and the total.
TEST_F(DriveStation, ABatchOfThreeDiscsThroughTheTrayWithAnUnreadableOne) {
  const std::string disc = MakeDisc("disc", "--tracks 2 --seconds 1,2 --content noise");
  const std::string unreadable = Dir / "discs/broken.cue";
  std::ofstream(unreadable)
      << "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const std::string tray = Dir / "tray";
  std::filesystem::create_directories(tray);
  const std::string drive = Dir / "sr0";
  BatchRun batch(Dir.Path().string(), Drives({{drive, tray + "/"}}),
                 Bin + "/korvane-cli --batch --log --out O " + Quoted(drive));
  ASSERT_TRUE(batch.WaitFor("Waiting for a disc in " + drive)) << batch.Output;
  PutIn(disc, tray);
  ASSERT_TRUE(batch.WaitFor("Disc 1: ")) << batch.Output;
  PutIn(unreadable, tray);
  ASSERT_TRUE(batch.WaitFor("Disc 2: ")) << batch.Output;
  PutIn(disc, tray);
  ASSERT_TRUE(batch.WaitFor("Disc 3: ")) << batch.Output;
  EXPECT_EQ(batch.Interrupt(), 130) << batch.Output;

  const std::string& out = batch.Output;
  EXPECT_NE(out.find("Disc 1: " + drive + ": ripped: 2 done, 0 failed"), std::string::npos) << out;
  EXPECT_NE(out.find("Disc 2: " + drive + ": failed: its table of contents cannot be read"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Disc 3: " + drive + ": ripped: 2 done, 0 failed"), std::string::npos) << out;
  EXPECT_NE(out.find("Batch: 3 discs, 1 failed; 4 tracks done, 0 failed, 0 aborted"),
            std::string::npos)
      << out;
  std::vector<std::filesystem::path> folders;
  for (const auto& entry : std::filesystem::directory_iterator(Dir / "O"))
    folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  ASSERT_EQ(folders.size(), 2u) << out;
  EXPECT_EQ(folders[1].filename().string(), folders[0].filename().string() + " (2)");
  for (const auto& folder : folders) {
    EXPECT_TRUE(std::filesystem::exists(folder / "sr0.log")) << folder;
    for (int track = 1; track <= 2; ++track) {
      const std::string number = "0" + std::to_string(track);
      const auto wav = Bytes(folder / ("Track" + number + ".wav"));
      ASSERT_GT(wav.size(), 44u) << folder << track;
      EXPECT_TRUE(std::vector<uint8_t>(wav.begin() + 44, wav.end()) ==
                  Bytes(Dir / ("discs/disc.expect/track" + number + ".pcm")))
          << folder << track;
    }
  }
  for (const char* sheet : {"disc.cue", "broken.cue"}) {
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(tray) / sheet)) << sheet;
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(tray) / (sheet + std::string(".ejected"))))
        << sheet;
  }
}

// A disc whose folder cannot be made (a dangling link has its name) fails alone: it is
// told and ejected, and the batch rips the next disc.
TEST_F(DriveStation, ADiscWhoseFolderCannotBeMadeFailsAlone) {
  const std::string disc = MakeDisc("disc", "--tracks 1 --seconds 1");
  const std::string next = MakeDisc("next", "--tracks 1 --seconds 2");
  const std::string listed = Cli("", "--list " + Quoted(disc)).Output;
  const size_t id = listed.find("freedb ");
  ASSERT_NE(id, std::string::npos) << listed;
  std::filesystem::create_directories(Dir / "O");
  std::filesystem::create_symlink(Dir / "gone/x", Dir / ("O/Disc " + listed.substr(id + 7, 8)));
  const std::string tray = Dir / "tray", drive = Dir / "sr0";
  std::filesystem::create_directories(tray);
  BatchRun batch(Dir.Path().string(), Drives({{drive, tray + "/"}}),
                 Bin + "/korvane-cli --batch --out O " + Quoted(drive));
  ASSERT_TRUE(batch.WaitFor("Waiting for a disc in " + drive)) << batch.Output;
  PutIn(disc, tray);
  ASSERT_TRUE(batch.WaitFor("Disc 1: " + drive + ": failed: its folder ")) << batch.Output;
  PutIn(next, tray);
  ASSERT_TRUE(batch.WaitFor("Disc 2: " + drive + ": ripped: 1 done")) << batch.Output;
  EXPECT_EQ(batch.Interrupt(), 130) << batch.Output;
  EXPECT_NE(batch.Output.find("Batch: 2 discs, 1 failed; 1 track done"), std::string::npos)
      << batch.Output;
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(tray) / "disc.cue.ejected"));
}

// Ctrl-C while no disc ever came: status 130 and a total of nothing.
TEST_F(DriveStation, CtrlCWhileTheBatchWaits) {
  const std::string tray = Dir / "tray";
  std::filesystem::create_directories(tray);
  const std::string drive = Dir / "sr0";
  BatchRun batch(Dir.Path().string(), Drives({{drive, tray + "/"}}),
                 Bin + "/korvane-cli --batch --out O " + Quoted(drive));
  ASSERT_TRUE(batch.WaitFor("Waiting for a disc")) << batch.Output;
  EXPECT_EQ(batch.Interrupt(), 130) << batch.Output;
  EXPECT_NE(batch.Output.find("Batch: 0 discs, 0 failed; 0 tracks done"), std::string::npos)
      << batch.Output;
}

}  // namespace
