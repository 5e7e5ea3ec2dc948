// The Opus output on its own, as korvane rips a track: the first track of a disc image
// read through the CD track source (`TCDIn` over libcdrip.so) and encoded by `TOpusOut`
// into one file, through the output's worker and a dispatcher as the front ends run it.
// bench/run.sh times it against `opusenc` at the same settings.
//
//   bench_opus [--bitrate KBPS] [--complexity N] [--cbr] SHEET OUTPUT
//
// Exits 0 when the file was written, 1 with the reason on standard error otherwise, 2
// for a command line it cannot use.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "audio_cdrom.h"
#include "audio_opus.h"
#include "cdrip.h"

namespace {

struct TOptions {
  int Bitrate = 160;
  int Complexity = 10;
  bool Vbr = true;
  std::string Sheet, Output;
};

bool ParseNumber(const char* Text, int& Value) {
  char* end = nullptr;
  const long number = std::strtol(Text, &end, 10);
  if (end == Text || *end != '\0') return false;
  Value = static_cast<int>(number);
  return true;
}

bool ParseOptions(int Count, char** Arguments, TOptions& Options) {
  int at = 1;
  for (; at < Count && std::strncmp(Arguments[at], "--", 2) == 0; ++at) {
    const std::string option = Arguments[at];
    if (option == "--cbr") {
      Options.Vbr = false;
    } else if (at + 1 >= Count) {
      return false;
    } else if (option == "--bitrate") {
      if (!ParseNumber(Arguments[++at], Options.Bitrate)) return false;
    } else if (option == "--complexity") {
      if (!ParseNumber(Arguments[++at], Options.Complexity)) return false;
    } else {
      return false;
    }
  }
  if (Count - at != 2) return false;
  Options.Sheet = Arguments[at];
  Options.Output = Arguments[at + 1];
  return true;
}

// Runs Output to its end on this thread's dispatcher; the failure's text, empty when the
// run completed.
std::string RunToEnd(TOpusOut& Output) {
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  bool done = false;
  std::string failure;
  Output.OnDone = [&done](TAudioOutput*) { done = true; };
  Output.OnThreadException = [&](TAudioOutput*, const std::exception& E) {
    failure = E.what();
    done = true;
  };
  try {
    Output.Start();
    while (!done || Output.Status() != osIdle)
      dispatcher.WaitAndProcess(std::chrono::milliseconds(50));
  } catch (const std::exception& E) {
    failure = E.what();
  }
  SetMainThreadDispatcher(nullptr);
  return failure;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: bench_opus [--bitrate KBPS] [--complexity N] [--cbr] SHEET OUTPUT\n");
    return 2;
  }
  try {
    TCDIn source;
    const int drive = CDRipAddImageDrive(options.Sheet);
    if (drive < 0) {
      std::fprintf(stderr, "bench_opus: %s\n", CDRipLastError().c_str());
      return 1;
    }
    source.SetCurrentDrive(drive);
    source.SetStartTrack(1);
    source.SetEndTrack(1);
    TOpusOut output;
    output.Bitrate = options.Bitrate;
    output.Complexity = options.Complexity;
    output.Vbr = options.Vbr;
    output.FileName = options.Output;
    output.SetInput(&source);
    const std::string failure = RunToEnd(output);
    if (!failure.empty()) {
      std::fprintf(stderr, "bench_opus: %s\n", failure.c_str());
      return 1;
    }
  } catch (const std::exception& E) {
    std::fprintf(stderr, "bench_opus: %s\n", E.what());
    return 1;
  }
  return 0;
}
