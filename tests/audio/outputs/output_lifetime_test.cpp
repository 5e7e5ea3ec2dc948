// Destroying an output never waits forever and never leaves its worker running on a
// destroyed object, whatever the worker is doing.
#include <gtest/gtest.h>

#include "pipeline_doubles.h"

namespace {

class OutputLifetime : public PipelineTest {};

TEST_F(OutputLifetime, DestroyingInEveryIdleState) {
  { TRecordingOutput neverStarted; }

  TMemoryInput input(5000);
  for (bool suspendWhenIdle : {true, false}) {
    int done = 0;
    auto output = std::make_unique<TRecordingOutput>();
    output->SetSuspendWhenIdle(suspendWhenIdle);
    output->OnDone = [&](TAudioOutput*) { ++done; };
    output->SetInput(&input);
    output->Start();
    ASSERT_TRUE(RunUntil([&] { return done == 1; }));
    output.reset();  // parked, or looping idle
  }
}

// A window thread that takes the calls posted to it but runs them only when told.
class HoldingDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()> Call) override {
    {
      std::lock_guard<std::mutex> hold(Lock_);
      Calls_.push_back(std::move(Call));
    }
    Posted_.notify_all();
  }
  void WaitForAPost() {
    std::unique_lock<std::mutex> hold(Lock_);
    Posted_.wait(hold, [this] { return !Calls_.empty(); });
  }
  void RunAll() {
    std::vector<std::function<void()>> calls;
    {
      std::lock_guard<std::mutex> hold(Lock_);
      calls.swap(Calls_);
    }
    for (auto& call : calls) call();
  }

 private:
  std::mutex Lock_;
  std::condition_variable Posted_;
  std::vector<std::function<void()>> Calls_;
};

// The worker waits in a progress hand-off that the window thread never runs, because
// the window thread is busy destroying the output. Destruction ends the worker,
// finishes the run, and the stale queued call later does nothing.
TEST_F(OutputLifetime, DestroyingWhileTheWorkerWaitsForTheWindowThread) {
  HoldingDispatcher window;
  SetMainThreadDispatcher(&window);
  TMemoryInput input(100000, 5000);
  int progressCalls = 0;
  auto output = std::make_unique<TRecordingOutput>(1000);
  output->OnProgress = [&](TAudioOutput*) { ++progressCalls; };
  output->SetInput(&input);
  output->Start();
  window.WaitForAPost();
  output.reset();
  EXPECT_FALSE(input.Busy);  // the unfinished run was finished on destruction
  EXPECT_EQ(input.Closes, 1);
  window.RunAll();
  EXPECT_EQ(progressCalls, 0);
  SetMainThreadDispatcher(&Dispatcher);
}

TEST_F(OutputLifetime, DestroyingInTheMiddleOfARunFinishesIt) {
  TMemoryInput input(1000000, 5000);
  std::atomic<bool> pastFirstBlocks{false};
  auto output = std::make_unique<TRecordingOutput>(1000);
  input.BeforeRead = [&](TMemoryInput& self) {
    if (self.Position >= 10000) pastFirstBlocks = true;
  };
  output->SetInput(&input);
  output->Start();
  ASSERT_TRUE(RunUntil([&] { return pastFirstBlocks.load(); }));
  output.reset();
  EXPECT_FALSE(input.Busy);
  EXPECT_EQ(input.Closes, 1);
}

}  // namespace
