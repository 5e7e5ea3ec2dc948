// What korvane-cli shows while it rips: on a terminal one live line per track
// (percentage, speed as a multiple of real time, time left), ending in its result;
// otherwise one plain line per track when it ends. A failure is told on the error
// stream, the live line cleared first. The tally of results makes the closing summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class TProgressDisplay {
 public:
  TProgressDisplay(std::FILE* Out, std::FILE* Err, bool Terminal)
      : Out_(Out), Err_(Err), Terminal_(Terminal) {}

  void BeginTrack(const std::string& Name);
  // Percent -1: the size is unknown. Bytes are of the source's PCM stream, which
  // plays BytesPerSecond bytes a second.
  void Update(int Percent, int64_t BytesDone, int64_t BytesTotal, int64_t BytesPerSecond);
  void EndTrack(bool Aborted);
  void FailTrack(const std::string& Reason);
  // After a track's result: what reading it from a drive met, when anything.
  void ReportReads(int Rereads, int Corrections, int Skips);
  // "10 done, 1 failed, 0 aborted"
  void PrintSummary();
  int Failed() const { return Failed_; }

 private:
  std::string Describe(int Percent, int64_t BytesDone, int64_t BytesTotal,
                       int64_t BytesPerSecond) const;

  std::FILE* Out_;
  std::FILE* Err_;
  bool Terminal_;
  int Done_ = 0, Failed_ = 0, Aborted_ = 0;
  std::string Name_;
  std::chrono::steady_clock::time_point Started_;
};
