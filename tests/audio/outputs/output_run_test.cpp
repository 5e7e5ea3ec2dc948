// A run as the window sees it: events, completion, abort, failures and exchange.
#include <gtest/gtest.h>

#include "pipeline_doubles.h"

namespace {

// Counts the events of one output and checks where and in which state they arrive.
struct EventLog {
  std::vector<int> Progress;
  int Done = 0;
  bool DoneSawIdle = true;
  bool EventsOnMainThread = true;
  std::atomic<int> Failures{0};
  std::string FailureText;
  std::atomic<bool> FailureOnMainThread{false};

  void Attach(TAudioOutput& Output, const std::thread::id& Main) {
    Output.OnProgress = [this, Main](TAudioOutput* Sender) {
      EventsOnMainThread &= std::this_thread::get_id() == Main;
      Progress.push_back(Sender->Progress());
    };
    Output.OnDone = [this, Main](TAudioOutput* Sender) {
      EventsOnMainThread &= std::this_thread::get_id() == Main;
      DoneSawIdle &= !Sender->Busy && Sender->Status() == osIdle;
      ++Done;
    };
    Output.OnThreadException = [this, Main](TAudioOutput*, const std::exception& E) {
      FailureText = E.what();
      FailureOnMainThread = std::this_thread::get_id() == Main;
      ++Failures;
    };
  }
};

class OutputRun : public PipelineTest {};

TEST_F(OutputRun, DeliversTheWholeInputWithOneDonePerRun) {
  TMemoryInput input(100000, 5000);
  TRecordingOutput output(1000);
  EventLog log;
  log.Attach(output, MainThread);
  output.SetInput(&input);

  for (int run = 1; run <= 2; ++run) {
    output.Start();
    ASSERT_TRUE(RunUntil([&] { return log.Done == run; }));
    ASSERT_EQ(output.Data.size(), 100000u);
    for (size_t i = 0; i < output.Data.size(); ++i)
      ASSERT_EQ(output.Data[i], TMemoryInput::ByteAt(i)) << i;
  }
  EXPECT_TRUE(log.DoneSawIdle);
  EXPECT_TRUE(log.EventsOnMainThread);
  EXPECT_EQ(output.Finishes, 2);
  EXPECT_EQ(input.Closes, 2);
  EXPECT_FALSE(input.Busy);
  // 1000 of 100000 bytes a step: each step reports the next whole percent, once.
  // The second run starts again from 0 because the first ended at 100.
  std::vector<int> oneRun;
  for (int p = 1; p <= 100; ++p) oneRun.push_back(p);
  std::vector<int> expected = oneRun;
  expected.push_back(0);
  expected.insert(expected.end(), oneRun.begin(), oneRun.end());
  EXPECT_EQ(log.Progress, expected);
  EXPECT_EQ(log.Failures, 0);
}

TEST_F(OutputRun, ProgressReportsOnlyChangedWholePercents) {
  // 3000 of 100000 bytes a step skips values; 300 a step repeats them.
  for (int block : {3000, 300}) {
    TMemoryInput input(100000, block * 10);
    TRecordingOutput output(block);
    EventLog log;
    log.Attach(output, MainThread);
    output.SetInput(&input);
    output.Start();
    ASSERT_TRUE(RunUntil([&] { return log.Done == 1; }));
    ASSERT_FALSE(log.Progress.empty());
    for (size_t i = 1; i < log.Progress.size(); ++i)
      EXPECT_LT(log.Progress[i - 1], log.Progress[i]) << "block " << block;
    EXPECT_EQ(log.Progress.back(), 100);
    EXPECT_EQ(log.Progress.size(), block == 3000 ? 34u : 100u);
  }
}

TEST_F(OutputRun, ProgressRoundsHalvesToEvenAndIsUnknownForUnknownSize) {
  TMemoryInput input(8, 1);
  TRecordingOutput output;
  EXPECT_EQ(output.Progress(), 0);  // no input
  output.SetInput(&input);
  input.Open();
  uint8_t byte;
  std::vector<int> seen;
  for (int i = 0; i < 8; ++i) {
    input.ReadData(&byte, 1);
    seen.push_back(output.Progress());
  }
  input.Close();
  // 12.5 -> 12, 37.5 -> 38, 62.5 -> 62, 87.5 -> 88
  EXPECT_EQ(seen, (std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100}));

  TMemoryInput unknown(50000, 4096, false);
  EventLog log;
  log.Attach(output, MainThread);
  output.SetInput(&unknown);
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Done == 1; }));
  EXPECT_EQ(log.Progress, (std::vector<int>{-1}));
  EXPECT_EQ(output.Data.size(), 50000u);
}

TEST_F(OutputRun, AbortEndsTheRunAsACompletion) {
  TMemoryInput input(100000, 5000);
  TRecordingOutput output(1000);
  EventLog log;
  log.Attach(output, MainThread);
  output.SetInput(&input);
  input.BeforeRead = [&output](TMemoryInput& self) {
    if (self.Position == 20000) output.Abort();
  };
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Done == 1; }));
  EXPECT_TRUE(log.DoneSawIdle);
  EXPECT_EQ(output.Data.size(), 21000u);  // the step in flight completes
  EXPECT_EQ(output.Finishes, 1);
  EXPECT_EQ(input.Closes, 1);

  // An abort that reaches a parked worker does nothing; the next run is whole.
  input.BeforeRead = nullptr;
  output.Abort();
  EXPECT_EQ(output.Status(), osIdle);
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Done == 2; }));
  EXPECT_EQ(output.Data.size(), 100000u);
  EXPECT_EQ(log.Failures, 0);
}

TEST_F(OutputRun, RefusalsOfStart) {
  TRecordingOutput output;
  EXPECT_THROW(
      {
        try {
          output.Start();
        } catch (const EAudioException& e) {
          EXPECT_STREQ(e.what(), "Input is not assigned");
          throw;
        }
      },
      EAudioException);

  TMemoryInput input(100000);
  output.SetInput(&input);
  std::string busyText;
  int done = 0;
  output.OnProgress = [&](TAudioOutput* Sender) {
    if (!busyText.empty()) return;
    try {
      Sender->Start();
      busyText = "(accepted)";
    } catch (const EAudioException& e) {
      busyText = e.what();
    }
  };
  output.OnDone = [&](TAudioOutput*) { ++done; };
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return done == 1; }));
  EXPECT_EQ(busyText, "Component is Busy");
  EXPECT_EQ(output.Data.size(), 100000u);  // the running run was untouched
}

TEST_F(OutputRun, SetupFailureReachesTheCallerThreadWithoutDone) {
  TMemoryInput input(1000);
  TRecordingOutput output;
  EventLog log;
  log.Attach(output, MainThread);
  output.SetInput(&input);
  output.FailSetup = true;
  EXPECT_NO_THROW(output.Start());
  EXPECT_EQ(log.Failures, 1);
  EXPECT_TRUE(log.FailureOnMainThread);
  EXPECT_EQ(log.FailureText, "setup failed");
  EXPECT_EQ(output.Status(), osIdle);
  EXPECT_EQ(output.Finishes, 0);
  Dispatcher.ProcessPending();
  EXPECT_EQ(log.Done, 0);
}

TEST_F(OutputRun, ReadFailureEndsTheRunOnTheWorkerAndTheNextRunWorks) {
  TMemoryInput input(100000);
  TRecordingOutput output(1000);
  EventLog log;
  log.Attach(output, MainThread);
  output.SetInput(&input);
  input.FailAtPosition = 30000;
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Failures == 1 && output.Status() == osIdle; }));
  EXPECT_FALSE(log.FailureOnMainThread);
  EXPECT_EQ(log.FailureText, "read failed");
  EXPECT_EQ(output.Finishes, 1);  // the started run is finished
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(log.Done, 0);

  // The lock the failed read held is clear: the next run goes through.
  input.FailAtPosition = -1;
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Done == 1; }));
  EXPECT_EQ(output.Data.size(), 100000u);
}

TEST_F(OutputRun, SetInputWhileRunningExchangesTheSourceBetweenBlocks) {
  TMemoryInput first(100000, 5000, true, 0);
  TMemoryInput second(50000, 5000, true, 7);
  TRecordingOutput output(1000);
  int done = 0;
  output.SetInput(&first);
  output.OnProgress = [&](TAudioOutput* Sender) {
    if (Sender->Input() == &first && Sender->Progress() == 30) Sender->SetInput(&second);
  };
  output.OnDone = [&](TAudioOutput*) { ++done; };
  output.Start();
  ASSERT_TRUE(RunUntil([&] { return done == 1; }));

  ASSERT_EQ(output.Data.size(), 30000u + 50000u);
  for (size_t i = 0; i < 30000; ++i) ASSERT_EQ(output.Data[i], TMemoryInput::ByteAt(i, 0));
  for (size_t i = 0; i < 50000; ++i)
    ASSERT_EQ(output.Data[30000 + i], TMemoryInput::ByteAt(i, 7)) << i;
  EXPECT_EQ(first.Closes, 1);
  EXPECT_EQ(second.Opens, 1);
  EXPECT_EQ(second.Closes, 1);
  EXPECT_EQ(output.Input(), &second);
}

// Parked worker: Start wakes it. Idle worker that keeps looping: Start only sets
// the flags, and it keeps reporting progress changes while idle.
TEST_F(OutputRun, StartWorksOnParkedAndOnLoopingWorkers) {
  for (bool suspendWhenIdle : {true, false}) {
    TMemoryInput input(20000);
    TRecordingOutput output(1000);
    EventLog log;
    log.Attach(output, MainThread);
    output.SetSuspendWhenIdle(suspendWhenIdle);
    output.SetInput(&input);
    for (int run = 1; run <= 3; ++run) {
      output.Start();
      ASSERT_TRUE(RunUntil([&] { return log.Done == run; }));
      EXPECT_EQ(output.Data.size(), 20000u);
    }
    if (suspendWhenIdle) {
      ASSERT_TRUE(RunUntil([&] { return output.Thread().Suspended(); }));
    } else {
      EXPECT_FALSE(output.Thread().Suspended());
      // Exchanging the idle output's input changes its progress; the looping worker
      // reports that on its own.
      TMemoryInput other(1000);
      other.Open();
      uint8_t half[500];
      other.ReadData(half, 500);
      const size_t before = log.Progress.size();
      output.SetInput(&other);
      ASSERT_TRUE(RunUntil([&] { return log.Progress.size() > before; }));
      EXPECT_EQ(log.Progress.back(), 50);
      other.Close();
    }
  }
}

TEST_F(OutputRun, DestroyedSourceLeavesNoDanglingInput) {
  TRecordingOutput output;
  {
    TMemoryInput input(10);
    output.SetInput(&input);
    EXPECT_EQ(output.Input(), &input);
  }
  EXPECT_EQ(output.Input(), nullptr);
  EXPECT_THROW(output.Start(), EAudioException);
}

class NullFileOut : public TAudioFileOut {
 public:
  ~NullFileOut() override { StopWorker(); }
  bool WriteStep(bool) override { return false; }

 protected:
  void StartFile() override {}
  void CompleteFile() override {}
};

TEST(FileOutput, BaseFileModeAlwaysRewrites) {
  NullFileOut output;
  EXPECT_EQ(output.FileMode(), foRewrite);
  output.SetFileMode(foAppend);
  EXPECT_EQ(output.FileMode(), foRewrite);
}

}  // namespace
