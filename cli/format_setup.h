// The output of the chosen format, configured from the command line's options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli_options.h"
#include "core/audio_classes.h"
#include "jobs/output_formats.h"
#include "jobs/rip_job.h"

class TFormatSetup {
 public:
  // Creates the output of Options.Format and applies its options; raises EUsageError
  // for a value it cannot take, EAudioException when the format's library is missing.
  static std::unique_ptr<TFormatSetup> Create(const TCliOptions& Options);
  virtual ~TFormatSetup() = default;

  virtual TAudioFileOut& Output() = 0;
  virtual TOutputFormat Format() const = 0;
  // What every job's file carries beyond the format's settings.
  const TRowTagRules& RowTags() const { return RowTags_; }
  // Values the encoder will change (a bit rate its sample rate cannot carry), each in
  // a sentence; the rip goes on with the changed value.
  const std::vector<std::string>& Warnings() const { return Warnings_; }

 protected:
  void ApplyTagOptions(const TCliOptions& Options);

  TRowTagRules RowTags_;
  std::vector<std::string> Warnings_;
};
