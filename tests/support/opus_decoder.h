// Reading back .opus files with tools we did not write: `opusdec` decodes them (at the
// input rate the header states), `opusinfo` checks every page and packet, and mutagen
// (Debian's python3-mutagen) reads the comments.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "command_run.h"
#include "wav_decoder.h"

namespace opustest {

// Decodes with `opusdec` to interleaved 16-bit samples; empty when it fails.
inline std::vector<int16_t> Decode(const std::string& File) {
  return AsSamples(CommandBytes("opusdec --quiet '" + File + "' -"));
}

// What `opusinfo` says of a file that it found anything wrong with; empty for a clean
// file.
inline std::string Complaints(const std::string& File) {
  const TCommandResult info = CaptureCommand("opusinfo '" + File + "'");
  if (info.Status != 0) return info.Output;
  for (const char* word : {"WARNING", "ERROR", "Warning", "Error"})
    if (info.Output.find(word) != std::string::npos) return info.Output;
  return std::string();
}

// The stereo frames of a file that `opusinfo` reads clean and `opusdec` decodes; -1 for
// any other file.
inline int64_t CleanFileFrames(const std::string& File, int Channels = 2) {
  if (!Complaints(File).empty()) return -1;
  const std::vector<int16_t> samples = Decode(File);
  return samples.empty() ? -1 : static_cast<int64_t>(samples.size()) / Channels;
}

// The comments as mutagen reads them, NAME to value.
inline std::multimap<std::string, std::string> ReadComments(const std::string& File) {
  constexpr const char* script = R"(
import sys
from mutagen.oggopus import OggOpus
sys.stdout.reconfigure(encoding="utf-8")
for name, value in (OggOpus(sys.argv[1]).tags or []):
    print("%s=%s" % (name, value))
)";
  const TCommandResult run =
      CaptureCommand("/usr/bin/python3 -c '" + std::string(script) + "' '" + File + "'");
  std::multimap<std::string, std::string> comments;
  size_t at = 0;
  while (run.Status == 0 && at < run.Output.size()) {
    const size_t end = std::min(run.Output.find('\n', at), run.Output.size());
    const std::string line = run.Output.substr(at, end - at);
    at = end + 1;
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      comments.emplace(line.substr(0, equals), line.substr(equals + 1));
  }
  return comments;
}

}  // namespace opustest
