// CPU time that idle outputs take: one parked after its run, one that keeps looping
// idle (as the Ogg Vorbis output of the window does). Prints both over a few seconds.
#include <sys/resource.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/audio_classes.h"

namespace {

class TIdleOutput : public TAudioOutput {
 public:
  ~TIdleOutput() override { StopWorker(); }
  bool WriteStep(bool Abort) override {
    if (!Active) return true;
    return !Abort && ReadInput(Block_, sizeof Block_) > 0;
  }
  void Finish() override { CloseInput(); }

 protected:
  void Setup() override { Input()->Open(); }

 private:
  char Block_[4096];
};

class TSilence : public TAudioInput {
 public:
  ~TSilence() override { DetachConsumers(); }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int ReadData(void*, int) override { return 0; }
  void Open() override { BeginReadPass(0); }
  void Close() override { Busy = false; }
};

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double IdleCpuShare(bool SuspendWhenIdle, double Seconds) {
  TSilence input;
  TIdleOutput output;
  output.SetSuspendWhenIdle(SuspendWhenIdle);
  output.SetInput(&input);
  output.Start();
  while (output.Status() != osIdle) std::this_thread::yield();
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));
  return (ProcessCpuSeconds() - before) / Seconds;
}

}  // namespace

int main() {
  const double seconds = 3.0;
  std::printf("idle output, parked:         %.4f of a core over %.0f s\n",
              IdleCpuShare(true, seconds), seconds);
  std::printf("idle output, looping idle:   %.4f of a core over %.0f s\n",
              IdleCpuShare(false, seconds), seconds);
  return 0;
}
