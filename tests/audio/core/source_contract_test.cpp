// The pull contract as every consumer relies on it.
#include <gtest/gtest.h>

#include "pipeline_doubles.h"

namespace {

std::string MessageOf(const std::function<void()>& Call) {
  try {
    Call();
  } catch (const EAudioException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

TEST(SourceContract, ReadBeforeOpenAndAfterCloseRaises) {
  TMemoryInput input(100);
  uint8_t buffer[16];
  EXPECT_EQ(MessageOf([&] { input.ReadData(buffer, 16); }), "The Stream is not opened");
  input.Open();
  EXPECT_EQ(input.ReadData(buffer, 16), 16);
  input.Close();
  EXPECT_EQ(MessageOf([&] { input.ReadData(buffer, 16); }), "The Stream is not opened");
}

// Short reads are only what is staged; the bytes come in order with nothing lost or
// doubled at stage boundaries; after the end every read returns 0 and Position stays.
TEST(SourceContract, ShortReadsDeliverEveryByteOnceThenZero) {
  const int32_t total = 10000;
  TMemoryInput input(total, 4096);
  input.Open();
  EXPECT_EQ(input.Size, total);
  EXPECT_EQ(input.Position, 0);

  std::vector<uint8_t> received;
  uint8_t buffer[3000];
  int lastCount = -1;
  std::vector<int> counts;
  while ((lastCount = input.ReadData(buffer, 3000)) > 0) {
    counts.push_back(lastCount);
    received.insert(received.end(), buffer, buffer + lastCount);
  }
  // 4096 staged: 3000 then the 1096 left, never more than what is staged.
  EXPECT_EQ(counts, (std::vector<int>{3000, 1096, 3000, 1096, 1808}));
  ASSERT_EQ(received.size(), static_cast<size_t>(total));
  for (int32_t i = 0; i < total; ++i) ASSERT_EQ(received[i], TMemoryInput::ByteAt(i)) << i;
  EXPECT_EQ(input.ReadData(buffer, 3000), 0);
  EXPECT_EQ(input.ReadData(buffer, 1), 0);
  EXPECT_EQ(input.Position, total);
  input.Close();

  // A new pass starts over.
  input.Open();
  EXPECT_EQ(input.Position, 0);
  EXPECT_EQ(input.ReadData(buffer, 10), 10);
  EXPECT_EQ(buffer[0], TMemoryInput::ByteAt(0));
  input.Close();
}

TEST(SourceContract, ResetEndsThePassEvenWhenCloseRaises) {
  TMemoryInput input(100);
  input.Open();
  input.FailClose = true;
  EXPECT_NO_THROW(input.Reset());
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(input.TotalTime(), 0);
}

TEST(SourceContract, EmptySourceEndsAtOnce) {
  TMemoryInput input(0);
  input.Open();
  uint8_t buffer[8];
  EXPECT_EQ(input.ReadData(buffer, 8), 0);
  EXPECT_EQ(input.ReadData(buffer, 8), 0);
  input.Close();
}

}  // namespace
