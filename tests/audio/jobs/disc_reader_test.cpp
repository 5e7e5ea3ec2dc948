// The disc reader and the encoders' side of its spools on their threads: the tracks of a
// disc image are read in order into their spools while as many consumers as a run has
// encoders take them, each getting its track's PCM exactly; a stop while consumers wait
// lets everybody go.
#include "jobs/disc_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "command_run.h"
#include "temp_dir.h"

namespace {

class DiscReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CDRipBinding().Unload();
    CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                         CDRipBinding().FileName());
    ASSERT_TRUE(CDRipBinding().Load(Dir.Path().string()));
    ASSERT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) +
                           "/korvane-mkdisc --tracks 4 --seconds 2,1,3,1 --content noise "
                           "--expect '" +
                           (Dir / "expect") + "' '" + (Dir / "disc.cue") + "' >/dev/null"));
    Source.emplace();
    Drive = CDRipAddImageDrive(Dir / "disc.cue");
    ASSERT_GE(Drive, 0);
  }
  void TearDown() override {
    Source.reset();
    CDRipBinding().Unload();
  }
  std::vector<uint8_t> Expected(int Track) {
    return ReadWholeFile(Dir / ("expect/track0" + std::to_string(Track) + ".pcm"));
  }

  TTempDir Dir;
  std::optional<TCDIn> Source;
  int Drive = -1;
};

std::vector<uint8_t> TakeAll(TTrackSpool& Spool) {
  std::vector<uint8_t> bytes(100000);
  size_t got = 0;
  for (int n; (n = Spool.Read(bytes.data() + got, 4099)) > 0;) {
    got += static_cast<size_t>(n);
    if (bytes.size() - got < 4099) bytes.resize(bytes.size() * 2);
  }
  bytes.resize(got);
  return bytes;
}

// Two consumers at a time, as a run of two encoders: each takes the next track once its
// spool is ready; the reader may run one track ahead of them.
TEST_F(DiscReaderTest, TracksReachTheirConsumersExactly) {
  std::vector<std::unique_ptr<TTrackSpool>> spools;
  std::vector<TTrackSpool*> pointers;
  std::vector<TTrackRead> reads;
  for (int track = 1; track <= 4; ++track) {
    spools.push_back(std::make_unique<TTrackSpool>(Dir.Path().string()));
    spools.back()->AllowSpill();
    pointers.push_back(spools.back().get());
    TTrackRead read;
    read.Drive = Drive;
    read.Track = track;
    reads.push_back(read);
  }
  TDiscReader reader(*Source, reads, pointers, [] {});
  std::atomic<size_t> ended{0};
  reader.Admit(3);
  reader.Start();
  std::vector<std::vector<uint8_t>> taken(4);
  auto consume = [&](size_t First) {
    for (size_t track = First; track < 4; track += 2) {
      taken[track] = TakeAll(*spools[track]);
      reader.Admit(++ended + 3);
    }
  };
  std::thread even(consume, 0), odd(consume, 1);
  even.join();
  odd.join();
  reader.Stop();
  for (int track = 1; track <= 4; ++track)
    EXPECT_TRUE(taken[static_cast<size_t>(track - 1)] == Expected(track)) << "track " << track;
}

TEST_F(DiscReaderTest, AStopLetsWaitingConsumersGo) {
  TTrackSpool spool(Dir.Path().string());
  TTrackRead read;
  read.Drive = Drive;
  read.Track = 1;
  TDiscReader reader(*Source, {read}, {&spool}, [] {});
  reader.Start();  // nothing admitted: the consumer waits for a read that never begins
  std::thread consumer([&] { TakeAll(spool); });
  spool.Cancel();
  reader.Stop();
  consumer.join();
  EXPECT_TRUE(spool.Cancelled());
}

}  // namespace
