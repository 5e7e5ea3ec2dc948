// The window side of a pipeline test: a queue dispatcher installed for the test, a
// wait loop that runs the workers' hand-offs until a condition holds, a run of an
// output to its end, and a scratch folder for the files the test writes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/audio_classes.h"
#include "temp_dir.h"

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMainThreadDispatcher(&Dispatcher);
    MainThread = std::this_thread::get_id();
  }
  void TearDown() override {
    Dispatcher.ProcessPending();
    SetMainThreadDispatcher(nullptr);
  }
  // Processes hand-offs until Done() holds; false after 20 seconds.
  bool RunUntil(const std::function<bool()>& Done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      Dispatcher.WaitAndProcess(std::chrono::milliseconds(10));
    }
    return true;
  }
  struct TRunResult {
    int Done = 0;
    int Failures = 0;
    std::string Failure;  // the message of the last failure
    bool Completed() const { return Done == 1 && Failures == 0; }
  };
  // Starts Output (setting its OnDone and OnThreadException) and runs the hand-offs
  // until the run has ended, by completion or by failure.
  TRunResult RunToEnd(TAudioOutput& Output) {
    auto result = std::make_shared<TRunResult>();
    auto failures = std::make_shared<std::atomic<int>>(0);
    auto failure = std::make_shared<std::string>();
    Output.OnDone = [result](TAudioOutput*) { ++result->Done; };
    Output.OnThreadException = [failures, failure](TAudioOutput*, const std::exception& E) {
      *failure = E.what();
      ++*failures;
    };
    Output.Start();
    EXPECT_TRUE(RunUntil([&] {
      return (result->Done > 0 || *failures > 0) && Output.Status() == osIdle;
    })) << "the run did not end";
    result->Failures = *failures;
    result->Failure = *failure;
    return *result;
  }
  TRunResult RunToEnd(TAudioOutput& Output, TAudioInput& Input) {
    Output.SetInput(&Input);
    return RunToEnd(Output);
  }
  // Runs Output over Input to its end; a failure unless the run completed.
  ::testing::AssertionResult Completes(TAudioOutput& Output, TAudioInput& Input) {
    const TRunResult run = RunToEnd(Output, Input);
    if (run.Completed()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run did not complete: " << run.Failure;
  }

  TQueueDispatcher Dispatcher;
  std::thread::id MainThread;
  TTempDir Dir;
};
