// The window side of a pipeline test: a queue dispatcher installed for the test, and
// a wait loop that runs the workers' hand-offs until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "audio_classes.h"

// The window side of a test: installs a queue dispatcher and runs its calls.
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
  bool OnMainThread() const { return std::this_thread::get_id() == MainThread; }

  TQueueDispatcher Dispatcher;
  std::thread::id MainThread;
};
