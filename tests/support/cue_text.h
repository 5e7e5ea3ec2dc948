// Texts added to a cue sheet that the disc-image maker wrote, as a ripper's sheet holds
// them: the disc's TITLE, PERFORMER and REM lines first, a TITLE for each audio track.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// DiscLines go before the sheet's first line; TrackTitles[i] becomes the TITLE of the
// i-th audio track (none where it is empty).
inline void AddCueTexts(const std::string& Cue, const std::vector<std::string>& DiscLines,
                        const std::vector<std::string>& TrackTitles) {
  std::ifstream in(Cue);
  std::ostringstream out;
  for (const std::string& line : DiscLines) out << line << "\n";
  size_t audio = 0;
  for (std::string line; std::getline(in, line);) {
    out << line << "\n";
    if (line.find("TRACK") != std::string::npos && line.find("AUDIO") != std::string::npos &&
        audio < TrackTitles.size() && !TrackTitles[audio++].empty())
      out << "    TITLE \"" << TrackTitles[audio - 1] << "\"\n";
  }
  in.close();
  std::ofstream(Cue) << out.str();
}
