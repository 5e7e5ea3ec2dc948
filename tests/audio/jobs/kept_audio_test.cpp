// A read kept aside for test and copy: it reads back as it was written, through an
// encoder's source too, leaves nothing in the output folder, and on a full disk becomes
// unusable without failing the read that keeps it.
#include "jobs/kept_audio.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "small_disk.h"
#include "temp_dir.h"

namespace {

std::vector<uint8_t> Pattern(size_t Bytes) {
  std::vector<uint8_t> bytes(Bytes);
  std::iota(bytes.begin(), bytes.end(), uint8_t{7});
  return bytes;
}

TEST(KeptAudio, ReadsBackThroughItsSourceAndLeavesNoFile) {
  TTempDir dir;
  const std::vector<uint8_t> audio = Pattern(3 * 4096 + 12);
  TKeptAudio kept(dir.Path().string());
  kept.Append(audio.data(), 5000);
  kept.Append(audio.data() + 5000, audio.size() - 5000);
  ASSERT_TRUE(kept.Usable());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "the kept read has no name";

  TKeptAudioInput input(kept);
  uint8_t buffer[1000];
  EXPECT_THROW(input.ReadData(buffer, sizeof buffer), EAudioException);
  input.Open();
  EXPECT_EQ(input.Size, static_cast<int32_t>(audio.size()));
  std::vector<uint8_t> back;
  for (int n; (n = input.ReadData(buffer, sizeof buffer)) > 0;)
    back.insert(back.end(), buffer, buffer + n);
  EXPECT_EQ(back, audio);
  EXPECT_EQ(input.ReadData(buffer, sizeof buffer), 0);
  input.Close();
}

TEST(KeptAudio, AFullDiskMakesItUnusableWithoutRaising) {
  TTempDir dir;
  TSmallDisk disk(dir / "disk", 64 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << TSmallDisk::NeedsRoot;
  ASSERT_TRUE(disk.FillLeaving(8192));
  const std::vector<uint8_t> audio = Pattern(64 * 1024);
  TKeptAudio kept(dir / "disk");
  EXPECT_NO_THROW(kept.Append(audio.data(), audio.size()));
  EXPECT_FALSE(kept.Usable());
  TKeptAudio nowhere(dir / "absent");
  EXPECT_NO_THROW(nowhere.Append(audio.data(), 16));
  EXPECT_FALSE(nowhere.Usable());
}

}  // namespace
