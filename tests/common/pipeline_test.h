// The window side of a pipeline test: a queue dispatcher installed for the test, and
// a wait loop that runs the workers' hand-offs until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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
  bool OnMainThread() const { return std::this_thread::get_id() == MainThread; }

  TQueueDispatcher Dispatcher;
  std::thread::id MainThread;
};
