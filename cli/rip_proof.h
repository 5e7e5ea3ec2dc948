// What a run of korvane-cli proves of each disc it read, once its tracks are done: the
// AccurateRip verdict of every track (when --lookup accuraterip asks for it), and a rip
// log and a cue sheet beside the files (--log, and with --verify or the database).
#pragma once

#include <cstdio>
#include <vector>

#include "cli_options.h"
#include "disc_knowledge.h"
#include "progress_display.h"
#include "track_runner.h"

class TRunProof {
 public:
  TRunProof(const TCliOptions& Options, TDiscKnowledge& Knowledge, TProgressDisplay& Display,
            std::FILE* Err)
      : Options_(Options), Knowledge_(Knowledge), Display_(Display), Err_(Err) {}

  // Jobs and Outcomes by the same index.
  void Prove(const std::vector<TPlannedJob>& Jobs, const std::vector<TJobOutcome>& Outcomes);

 private:
  const TCliOptions& Options_;
  TDiscKnowledge& Knowledge_;
  TProgressDisplay& Display_;
  std::FILE* Err_;
};
