// The command line of korvane-mkdisc, turned into a disc description and a layout.
// Kept apart from main() so that tests and benchmarks can describe discs the same way.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "disc_image.h"
#include "usage_error.h"

namespace korvane::discimage {

struct MkdiscRequest {
  DiscSpec disc;
  ImageLayout layout;
  std::string sheetPath;  // the cue sheet or .toc to write; empty: write no image
  std::string expectDir;  // where to write trackNN.pcm; empty: none
  bool print = false;
  bool help = false;
};

// Arguments without the program name. Throws EUsageError, or EDiscImageError when a WAV
// file given with --wav cannot be used.
MkdiscRequest parseMkdiscArguments(const std::vector<std::string>& args);

const char* mkdiscUsage();

}  // namespace korvane::discimage
