// Reading a range ahead of its consumer, with a scripted reader in place of a drive: the
// chunks and their bytes, the bound of the queue, a sector given up, and stopping while
// the reader is in the middle of a read. Runs under ThreadSanitizer too; ranges ended
// over and over are tested through the library's interface (cdrip_test.cpp).
#include "read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "cdrip.h"

namespace {

using cdrip::ReadAhead;
using cdrip::SectorBytes;

uint8_t PatternByte(int32_t Lsn, int Index) { return static_cast<uint8_t>(Lsn * 7 + Index); }

// What the scripted reader saw, shared with the test: the reads it was asked for, how
// many chunks the consumer had asked for at each read, and a gate that can hold one
// read until the test opens it.
struct Script {
  int32_t GiveUpAt = -1;  // the first sector that cannot be read; -1: none
  int HeldRead = -1;      // the read (0-based) that waits for the gate; -1: none
  // Interrupt opens the gate, as a drive's read ends when it is interrupted.
  bool GateOpensOnInterrupt = false;
  std::atomic<int> Asked{0};  // chunks the consumer has asked for, counted before it asks

  struct Call {
    int32_t Lsn, Count;
    int AskedThen;
  };
  std::vector<Call> Calls;  // written by the reading thread, read once it has stopped

  std::mutex Lock;
  std::condition_variable Changed;
  bool HeldReadEntered = false;
  bool GateOpen = false;

  void WaitForHeldRead() {
    std::unique_lock<std::mutex> hold(Lock);
    Changed.wait(hold, [this] { return HeldReadEntered; });
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> hold(Lock);
      GateOpen = true;
    }
    Changed.notify_all();
  }
};

// Sector n holds PatternByte(n, i) at byte i. Its report counts its reads in Rereads,
// kept unguarded as a drive's reader keeps its counts: only the reading thread may ask.
class ScriptedReader : public cdrip::SectorReader {
 public:
  explicit ScriptedReader(Script& S) : S_(S) {}

  void Interrupt() override {
    if (S_.GateOpensOnInterrupt) S_.OpenGate();
  }

  int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) override {
    const int call = static_cast<int>(S_.Calls.size());
    S_.Calls.push_back({Lsn, Count, S_.Asked.load()});
    ++Reads_;
    if (call == S_.HeldRead) {
      std::unique_lock<std::mutex> hold(S_.Lock);
      S_.HeldReadEntered = true;
      S_.Changed.notify_all();
      S_.Changed.wait(hold, [this] { return S_.GateOpen; });
    }
    int32_t got = 0;
    for (; got < Count && Lsn + got != S_.GiveUpAt; ++got)
      for (int i = 0; i < SectorBytes; ++i)
        Out[static_cast<size_t>(got) * SectorBytes + i] = PatternByte(Lsn + got, i);
    if (got < Count) GaveUp_ = true;
    return got;
  }

  cdrip::ReadReport Report() const override { return {Reads_, 0, GaveUp_ ? 1 : 0}; }

 private:
  Script& S_;
  int32_t Reads_ = 0;
  bool GaveUp_ = false;
};

cdrip::RipRange RangeOf(Script& S, int32_t First, int32_t End, int32_t ChunkSectors) {
  return cdrip::RipRange{std::make_unique<ScriptedReader>(S), First, End, ChunkSectors};
}

// Takes chunks until the end, counting each before asking for it.
std::vector<std::vector<uint8_t>> TakeAll(ReadAhead& Range, Script& S) {
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint8_t> buffer(static_cast<size_t>(Range.ChunkBytes()));
  for (;;) {
    ++S.Asked;
    const int32_t bytes = Range.Next(buffer.data());
    if (bytes == 0) return chunks;
    chunks.emplace_back(buffer.begin(), buffer.begin() + bytes);
  }
}

bool HoldsSectors(const std::vector<uint8_t>& Chunk, int32_t FirstLsn) {
  for (size_t i = 0; i < Chunk.size(); ++i)
    if (Chunk[i] != PatternByte(FirstLsn + static_cast<int32_t>(i / SectorBytes),
                                static_cast<int>(i % SectorBytes)))
      return false;
  return true;
}

struct RangeCase {
  const char* Name;
  int32_t First, End, ChunkSectors, GiveUpAt;
  std::vector<int32_t> ChunkSectorCounts;  // what the consumer gets
};

void PrintTo(const RangeCase& Case, std::ostream* Out) { *Out << Case.Name; }

const RangeCase RangeCases[] = {
    {"FullChunksThenTheRest", 0, 230, 75, -1, {75, 75, 75, 5}},
    {"SmallChunks", 3, 80, 5, -1, {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 2}},
    {"GivenUpMidChunk", 10, 300, 75, 170, {75, 75, 10}},
    {"GivenUpAtAChunksStart", 0, 300, 75, 150, {75, 75}},
    {"GivenUpAtTheFirstSector", 20, 300, 75, 20, {}},
    {"EmptyRange", 40, 40, 75, -1, {}},
};

// Depth 0 reads on the consumer's thread; the others read ahead.
class ReadAheadRange : public ::testing::TestWithParam<std::tuple<RangeCase, int>> {};

TEST_P(ReadAheadRange, DeliversTheSectorsInOrderAndStaysWithinItsQueue) {
  const auto& [range, depth] = GetParam();
  Script script;
  script.GiveUpAt = range.GiveUpAt;
  ReadAhead reading(RangeOf(script, range.First, range.End, range.ChunkSectors), depth);
  const std::vector<std::vector<uint8_t>> chunks = TakeAll(reading, script);

  ASSERT_EQ(chunks.size(), range.ChunkSectorCounts.size());
  int32_t lsn = range.First;
  for (size_t c = 0; c < chunks.size(); ++c) {
    EXPECT_EQ(chunks[c].size(), static_cast<size_t>(range.ChunkSectorCounts[c]) * SectorBytes);
    EXPECT_TRUE(HoldsSectors(chunks[c], lsn)) << "chunk " << c;
    lsn += range.ChunkSectorCounts[c];
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(reading.ChunkBytes()));
  EXPECT_EQ(reading.Next(buffer.data()), 0) << "an exhausted range stays exhausted";
  reading.Stop();

  // Read i needs a free slot: the consumer must have asked for chunk i - depth by then.
  for (size_t i = 0; i < script.Calls.size(); ++i)
    EXPECT_GT(script.Calls[i].AskedThen, static_cast<int>(i) - depth) << "read " << i;
  const cdrip::ReadReport report = reading.Report();
  EXPECT_EQ(report.Rereads, static_cast<int32_t>(script.Calls.size()));
  EXPECT_EQ(report.Skips, range.GiveUpAt >= 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ReadAheadRange,
                         ::testing::Combine(::testing::ValuesIn(RangeCases),
                                            ::testing::Values(0, 1, 3, CR_READ_AHEAD_CHUNKS)),
                         [](const auto& Info) {
                           return std::string(std::get<0>(Info.param).Name) + "_Depth" +
                                  std::to_string(std::get<1>(Info.param));
                         });

class ReadAheadStop : public ::testing::TestWithParam<int> {};

// The consumer waits for a chunk the reader is still reading: Stop wakes it at once
// with nothing, returns once that read is done, and nothing more is read.
TEST_P(ReadAheadStop, StoppingMidReadWakesTheConsumerAndReadsNoMore) {
  Script script;
  script.HeldRead = 1;
  ReadAhead reading(RangeOf(script, 0, 750, 75), GetParam());
  std::vector<uint8_t> buffer(static_cast<size_t>(reading.ChunkBytes()));
  ASSERT_EQ(reading.Next(buffer.data()), 75 * SectorBytes);
  script.WaitForHeldRead();

  auto waiting = std::async(std::launch::async, [&] { return reading.Next(buffer.data()); });
  auto stopping = std::async(std::launch::async, [&] { reading.Stop(); });
  // Bounds on waits that only a fault reaches; the gate stays shut until the consumer
  // has its answer.
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), 0);
  EXPECT_NE(stopping.wait_for(std::chrono::seconds(0)), std::future_status::ready)
      << "Stop waits for the read in progress";
  script.OpenGate();
  stopping.get();
  EXPECT_EQ(script.Calls.size(), 2u);
  EXPECT_EQ(reading.Next(buffer.data()), 0);
  EXPECT_EQ(reading.Report().Rereads, 2);
}

// A stop asked for while the reader is stuck in a read: the consumer gets nothing at
// once, and the read is interrupted, so that Stop returns without the read ending by
// itself.
TEST_P(ReadAheadStop, ARequestedStopInterruptsTheReadInProgress) {
  Script script;
  script.HeldRead = 1;
  script.GateOpensOnInterrupt = true;
  ReadAhead reading(RangeOf(script, 0, 750, 75), GetParam());
  std::vector<uint8_t> buffer(static_cast<size_t>(reading.ChunkBytes()));
  ASSERT_EQ(reading.Next(buffer.data()), 75 * SectorBytes);
  script.WaitForHeldRead();
  reading.RequestStop();
  EXPECT_EQ(reading.Next(buffer.data()), 0);
  auto stopping = std::async(std::launch::async, [&] { reading.Stop(); });
  // A bound that only a fault reaches; the gate then opens so that the test ends.
  const bool interrupted = stopping.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  script.OpenGate();
  stopping.get();
  EXPECT_TRUE(interrupted) << "Stop waited for the read instead of interrupting it";
  EXPECT_EQ(script.Calls.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Depths, ReadAheadStop, ::testing::Values(1, CR_READ_AHEAD_CHUNKS));

}  // namespace
