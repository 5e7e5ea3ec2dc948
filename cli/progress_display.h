// What korvane-cli shows while it rips: on a terminal one live line with every running
// track (percentage, speed as a multiple of real time, time left), and a line per track
// as it ends; otherwise only the line per track as it ends. A failure is told on the
// error stream, the live line cleared first. The tally of results makes the closing
// summary. Tracks are told apart by the caller's number for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

// "10 done, 1 failed, 0 aborted", with "1 suspicious" after the done ones when any;
// DoneWords "tracks done" gives "10 tracks done, ...".
std::string TallyText(int Done, int Suspicious, int Failed, int Aborted,
                      const std::string& DoneWords = "done");

class TProgressDisplay {
 public:
  TProgressDisplay(std::FILE* Out, std::FILE* Err, bool Terminal)
      : Out_(Out), Err_(Err), Terminal_(Terminal) {}

  void BeginTrack(int Track, const std::string& Name);
  // Percent -1: the size is unknown. Bytes are of the source's PCM stream, which
  // plays BytesPerSecond bytes a second.
  void Update(int Track, int Percent, int64_t BytesDone, int64_t BytesTotal,
              int64_t BytesPerSecond);
  void EndTrack(int Track, bool Aborted);
  void FailTrack(int Track, const std::string& Reason);
  // A whole file that no read confirms: told on the error stream, counted apart.
  void SuspectTrack(int Track, const std::string& Reason);
  // After a track's result: "NAME: Text".
  void Note(int Track, const std::string& Text);
  // After a track's result: what reading it from a drive met, when anything.
  void ReportReads(int Track, int Rereads, int Corrections, int Skips);
  // The tally of the tracks' results (`TallyText`).
  void PrintSummary();
  int Failed() const { return Failed_; }

 private:
  struct TRunning {
    std::string Name;
    std::chrono::steady_clock::time_point Started;
    std::string Progress;  // "45%  310.2x  0:00 left"
  };
  std::string Describe(const TRunning& Running, int Percent, int64_t BytesDone, int64_t BytesTotal,
                       int64_t BytesPerSecond) const;
  void ClearLiveLine();
  void TellEnd(int Track, std::FILE* Stream, const std::string& Text);
  void DrawLiveLine();
  std::string NameOf(int Track) const;

  std::FILE* Out_;
  std::FILE* Err_;
  bool Terminal_;
  int Done_ = 0, Failed_ = 0, Aborted_ = 0, Suspicious_ = 0;
  std::map<int, TRunning> Running_;
  std::map<int, std::string> Ended_;  // names of tracks whose result was told
};
