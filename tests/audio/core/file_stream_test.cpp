// The file stream that every output writes through: gathered writes land where they
// were written, across block boundaries, overwrites and read-backs. The staging files
// beside the file: those of killed runs are removed, and files the user protected
// stay as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "core/audio_classes.h"
#include "outputs/audio_wave.h"
#include "pcm_source.h"
#include "pipeline_test.h"
#include "temp_dir.h"

namespace {

TEST(FileStream, GatheredWritesMatchAPlainModelOfTheFile) {
  TTempDir dir;
  const std::string name = dir / "stream.bin";
  std::vector<uint8_t> model;
  std::mt19937 random(3);
  {
    TFileStream stream(name, TFileStream::TMode::Create);
    int64_t position = 0;
    for (int step = 0; step < 400; ++step) {
      const int action = static_cast<int>(random() % 10);
      if (action == 0 && !model.empty()) {  // seek back and patch, like a header fix-up
        position = random() % model.size();
        stream.Seek(position);
      } else if (action == 1 && !model.empty()) {  // read back
        const int64_t at = random() % model.size();
        std::vector<uint8_t> got(std::min<size_t>(1000, model.size() - at));
        stream.Seek(at);
        ASSERT_EQ(stream.Read(got.data(), static_cast<int64_t>(got.size())),
                  static_cast<int64_t>(got.size()));
        ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + at)) << "step " << step;
        position = at + static_cast<int64_t>(got.size());
      } else {
        const size_t count = random() % 3 ? random() % 20000 : random() % 1500000;
        std::vector<uint8_t> bytes(count);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        stream.Seek(position);
        stream.Write(bytes.data(), static_cast<int64_t>(count));
        if (model.size() < position + count) model.resize(position + count);
        std::copy(bytes.begin(), bytes.end(), model.begin() + position);
        position += static_cast<int64_t>(count);
      }
      ASSERT_EQ(stream.Size(), static_cast<int64_t>(model.size())) << "step " << step;
      ASSERT_EQ(stream.Position(), position);
    }
    stream.Close();
  }
  EXPECT_TRUE(ReadWholeFile(name) == model);
}

TEST(FileStream, AFailedFlushRaisesAndLeavesTheSizeTrue) {
  TFileStream stream("/dev/full", TFileStream::TMode::OpenReadWrite);
  std::vector<uint8_t> bytes(5000, 1);
  stream.Write(bytes.data(), 5000);  // gathered, not yet written
  EXPECT_THROW(stream.Flush(), EAudioException);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_NO_THROW(stream.Close());
}

// The id of a process that has ended.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// A staging name of this process for Name, made as the outputs make it, with the
// process id changed to Process.
std::string StagingNameOf(pid_t Process, const std::string& Name) {
  std::string staged = std::filesystem::path(StagingNameFor(Name)).filename().string();
  const std::string own = "-" + std::to_string(::getpid()) + "-";
  return staged.replace(staged.find(own), own.size(), "-" + std::to_string(Process) + "-");
}

TEST(StagingFiles, OnlyThoseOfEndedProcessesAreRemoved) {
  TTempDir dir;
  const pid_t ended = EndedProcess();
  const std::string track = dir / "Track01.wav";
  const std::pair<std::string, bool> files[] = {
      {StagingNameOf(ended, track), true},
      {".Track01.wav.korvane-" + std::to_string(ended) + "-7", true},  // an earlier version's
      {StagingNameOf(::getpid(), track), false},
      {StagingNameOf(1, track), false},  // a process that runs
      {"Track01.wav.korvane-" + std::to_string(ended) + "-0123abcd", false},
      {".Track01.wav.korvane-" + std::to_string(ended) + "-part", false},
  };
  for (const auto& [name, goes] : files) WriteWholeFile(dir / name, {1});
  EXPECT_EQ(RemoveAbandonedStagingFiles(dir.Path().string()), 2);
  for (const auto& [name, goes] : files)
    EXPECT_EQ(std::filesystem::exists(dir / name), !goes) << name;
}

class ProtectedFiles : public PipelineTest {};

// The output removes what killed runs left in its folder when it first writes there.
TEST_F(ProtectedFiles, AnOutputClearsItsFolderOfKilledRunsStagingFiles) {
  const std::string abandoned = Dir / StagingNameOf(EndedProcess(), Dir / "Track01.wav");
  WriteWholeFile(abandoned, {1, 2, 3});
  TPcmMemoryInput input(TestSignal::Sine16(4410, {440.0}, 0.4), 2);
  TWaveOut output;
  output.FileName = Dir / "Track02.wav";
  ASSERT_TRUE(Completes(output, input));
  EXPECT_FALSE(std::filesystem::exists(abandoned));
}

// A file without write permission is refused, as it was; one that may be written is
// replaced and keeps its permissions.
TEST_F(ProtectedFiles, AReadOnlyFileIsRefusedAndAReplacedOneKeepsItsMode) {
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  TPcmMemoryInput input(TestSignal::Sine16(4410, {440.0}, 0.4), 2);
  TWaveOut output;
  output.FileName = Dir / "Track01.wav";
  for (const mode_t mode : {0444, 0400, 0666, 0600, 0640}) {
    WriteWholeFile(output.FileName, earlier);
    ASSERT_EQ(::chmod(output.FileName.c_str(), mode), 0);
    const TRunResult run = RunToEnd(output, input);
    const bool readOnly = (mode & 0222) == 0;
    EXPECT_EQ(run.Failures, readOnly ? 1 : 0) << run.Failure;
    if (readOnly) {
      EXPECT_NE(run.Failure.find("is read-only"), std::string::npos) << run.Failure;
    }
    EXPECT_EQ(ReadWholeFile(output.FileName) == earlier, readOnly) << std::oct << mode;
    struct stat info {};
    ASSERT_EQ(::stat(output.FileName.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1);
}

}  // namespace
