// The output of the chosen format, configured from the command line's options.
#pragma once

#include <memory>
#include <string>

#include "audio_classes.h"
#include "cli_options.h"

class TFormatSetup {
 public:
  // Creates the output of Options.Format and applies its options; raises TUsageError
  // for a value it cannot take, EAudioException when the format's library is missing.
  static std::unique_ptr<TFormatSetup> Create(const TCliOptions& Options);
  virtual ~TFormatSetup() = default;

  virtual TAudioFileOut& Output() = 0;
  // The file name extension, dot included.
  virtual std::string Extension() const = 0;
  // Called before each job is started: Index counts the jobs from 0, Caption is the
  // name its file is given.
  virtual void PrepareJob(int /*Index*/, const std::string& /*Caption*/) {}
};

// Whole-number option values, refused with a clear message when they are not.
int IntegerOption(const std::string& Name, const std::string& Value, int Min, int Max);
