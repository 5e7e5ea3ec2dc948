// The command line of korvane-cli: what to rip, into which format, where.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "usage_error.h"

struct TCliOptions {
  std::string Format = "wav";  // wav, mp3, ogg
  std::string OutDir = ".";
  int Jobs = DefaultJobs();       // tracks encoded at a time
  std::string NameTemplate;       // empty: files are named after the track entries
  std::string Lookup = "none";    // none, musicbrainz, gnudb
  std::string LookupServer;       // empty: the service's own address
  std::string CddbUser;           // the e-mail a CDDB server is greeted with
  int Release = 0;                // which match of a lookup (from 1); 0: not chosen
  std::optional<int> Offset;      // the drive's read offset in samples (else cdr.ini's)
  bool Verify = false;            // test and copy: every track read twice, CRCs compared
  int Retries = 3;                // further reads when test and copy differ
  bool AccurateRip = false;       // look the rips up in the AccurateRip database
  std::string AccurateRipServer;  // empty: the database's own address
  bool Log = false;               // a rip log and a cue sheet beside the files, per disc
  bool ReplayGain = false;        // ReplayGain tags on every file, per track and per disc
  bool HiddenTrackOne = false;    // audio before track 1 ripped as track 0
  static constexpr int MaxOffset = 44100;
  bool List = false;
  bool FindOffset = false;  // find the drive's read offset with the AccurateRip database
  bool KeepOffset = false;  // and keep it in cdr.ini
  bool Batch = false;       // disc after disc from the drives named (Sources), until a stop
  bool Help = false;
  bool Version = false;
  std::vector<std::string> Sources;  // track entries, disc images, devices
  // The format options as given ("--wav-type" -> "ima", "--vbr" -> ""), in order;
  // repeatable options keep every value.
  std::vector<std::pair<std::string, std::string>> FormatOptions;

  // The number of the machine's cores (at least 1).
  static int DefaultJobs();
  static constexpr int MaxJobs = 64;

  // True when the format option Name was given.
  bool Has(const std::string& Name) const;
};

TCliOptions ParseCommandLine(const std::vector<std::string>& Arguments);

// Text that is a whole number in plain decimal digits, with a leading "-" only when
// Negative allows it: no blanks, no "+", no other base. Empty when it is not one or
// lies outside Min to Max.
std::optional<long> WholeNumber(const std::string& Text, long Min, long Max, bool Negative);
std::string UsageText();

// Whole-number option values (What: what the number is, for the message), refused with
// a clear message when they are not one or lie outside Min to Max.
int IntegerOption(const std::string& Name, const std::string& Value, int Min, int Max,
                  const std::string& What = "");
