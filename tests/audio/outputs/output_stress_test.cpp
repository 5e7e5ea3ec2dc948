// Many runs started, aborted and re-sourced across several outputs at once. Under
// ThreadSanitizer this shows the run machinery free of races; everywhere it shows it
// free of deadlocks and lost or doubled completions.
#include <gtest/gtest.h>

#include <random>

#include "pipeline_doubles.h"

namespace {

class OutputStress : public PipelineTest {};

TEST_F(OutputStress, StartAbortAndExchangeCycles) {
  constexpr int Outputs = 3;
  constexpr int Cycles = 400;
  std::vector<std::unique_ptr<TMemoryInput>> sources;
  for (int i = 0; i < Outputs * 2; ++i)
    sources.push_back(std::make_unique<TMemoryInput>(40000 + 1000 * i, 3000, i % 3 != 0, i));

  std::mt19937 random(12345);
  std::vector<std::unique_ptr<TRecordingOutput>> outputs;
  std::vector<int> starts(Outputs, 0), done(Outputs, 0), failures(Outputs, 0);
  for (int o = 0; o < Outputs; ++o) {
    outputs.push_back(std::make_unique<TRecordingOutput>(700 + 300 * o));
    auto& output = *outputs.back();
    output.SetSuspendWhenIdle(o != 1);  // one output keeps looping while idle
    output.OnDone = [&done, o](TAudioOutput*) { ++done[o]; };
    output.OnThreadException = [&failures, o](TAudioOutput*, const std::exception&) {
      ++failures[o];
    };
    output.OnProgress = [&, o](TAudioOutput* Sender) {
      // Now and then exchange the running output's source for its spare one.
      if (Sender->Busy && random() % 7 == 0) {
        TAudioInput* spare = sources[2 * o + (Sender->Input() == sources[2 * o].get())].get();
        Sender->SetInput(spare);
      }
      if (random() % 11 == 0) Sender->Abort();
    };
  }

  for (int cycle = 0; cycle < Cycles; ++cycle) {
    for (int o = 0; o < Outputs; ++o) {
      if (outputs[o]->Status() != osIdle) continue;
      outputs[o]->SetInput(sources[2 * o + random() % 2].get());
      outputs[o]->Start();
      ++starts[o];
    }
    Dispatcher.WaitAndProcess(std::chrono::milliseconds(1));
    if (random() % 5 == 0) outputs[random() % Outputs]->Abort();
  }
  ASSERT_TRUE(RunUntil([&] {
    for (int o = 0; o < Outputs; ++o)
      if (done[o] + failures[o] != starts[o] || outputs[o]->Status() != osIdle) return false;
    return true;
  }));
  for (int o = 0; o < Outputs; ++o) {
    EXPECT_EQ(failures[o], 0);
    EXPECT_EQ(done[o], starts[o]);
  }
  for (auto& source : sources) EXPECT_FALSE(source->Busy);
  outputs.clear();
}

}  // namespace
