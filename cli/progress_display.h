// What korvane-cli shows while it rips: on a terminal one live line per track
// (percentage, speed as a multiple of real time, time left), ending in its result;
// otherwise one plain line per track when it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class TProgressDisplay {
 public:
  TProgressDisplay(std::FILE* Out, bool Terminal) : Out_(Out), Terminal_(Terminal) {}

  void BeginTrack(const std::string& Name);
  // Percent -1: the size is unknown. Bytes are of the source's PCM stream, which
  // plays BytesPerSecond bytes a second.
  void Update(int Percent, int64_t BytesDone, int64_t BytesTotal, int64_t BytesPerSecond);
  void EndTrack(const std::string& Result);

 private:
  std::string Describe(int Percent, int64_t BytesDone, int64_t BytesTotal,
                       int64_t BytesPerSecond) const;

  std::FILE* Out_;
  bool Terminal_;
  std::string Name_;
  std::chrono::steady_clock::time_point Started_;
};
