#include <gtest/gtest.h>
#include <libcue.h>

#include <map>
#include <memory>
#include <sstream>

#include "image_readback.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace korvane::readback {

std::vector<uint8_t> ReadBack::rip(int number) const {
  const discimage::TocTrack& track = tracks[size_t(number) - 1];
  int64_t end = leadOut;
  if (size_t(number) < tracks.size()) {
    const discimage::TocTrack& next = tracks[size_t(number)];
    end = next.session == track.session ? next.startLsn : secondSessionStart;
  }
  return std::vector<uint8_t>(image.begin() + track.startLsn * kSector,
                              image.begin() + end * kSector);
}

std::vector<uint8_t> canonicalWaveHeader(uint32_t dataBytes) {
  std::vector<uint8_t> header;
  auto text = [&](const char* word) { header.insert(header.end(), word, word + 4); };
  auto number = [&](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) header.push_back(uint8_t(value >> (8 * i)));
  };
  text("RIFF"), number(36 + dataBytes, 4), text("WAVE"), text("fmt "), number(16, 4), number(1, 2),
      number(2, 2);
  number(44100, 4), number(176400, 4), number(4, 2), number(16, 2), text("data"),
      number(dataBytes, 4);
  return header;
}

namespace {

std::vector<uint8_t> fileAsDiscBytes(const fs::path& path, const std::string& type) {
  std::vector<uint8_t> bytes = ReadWholeFile(path.string());
  if (type == "WAVE") {
    EXPECT_GE(bytes.size(), 44u) << path;
    const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 44);
    EXPECT_EQ(header, canonicalWaveHeader(uint32_t(bytes.size() - 44))) << path;
    bytes.erase(bytes.begin(), bytes.begin() + 44);
  }
  if (type == "MOTOROLA") {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  }
  EXPECT_EQ(bytes.size() % kSector, 0u) << path;
  return bytes;
}

// FILE types by name, and the first track after "REM SESSION 02" (0: none).
void scanCueLines(const std::string& text, std::map<std::string, std::string>& types,
                  int& secondSessionTrack) {
  std::istringstream lines(text);
  std::string line;
  bool inSecondSession = false;
  secondSessionTrack = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "FILE") {
      const size_t open = line.find('"'), close = line.rfind('"');
      types[line.substr(open + 1, close - open - 1)] = line.substr(line.find_last_of(' ') + 1);
    } else if (line == "REM SESSION 02") {
      inSecondSession = true;
    } else if (word == "TRACK" && inSecondSession && secondSessionTrack == 0) {
      words >> secondSessionTrack;
    }
  }
}

}  // namespace

ReadBack readCueImage(const fs::path& cue) {
  const std::vector<uint8_t> raw = ReadWholeFile(cue.string());
  const std::string text(raw.begin(), raw.end());
  std::map<std::string, std::string> types;
  int secondSessionTrack = 0;
  scanCueLines(text, types, secondSessionTrack);
  std::unique_ptr<Cd, void (*)(Cd*)> cd(cue_parse_string(text.c_str()), cd_delete);
  EXPECT_TRUE(cd) << text;
  ReadBack back;
  if (!cd) return back;
  std::map<std::string, int64_t> fileStart;
  for (int number = 1; number <= cd_get_ntrack(cd.get()); ++number) {
    const Track* track = cd_get_track(cd.get(), number);
    const std::string name = track_get_filename(track);
    if (!fileStart.count(name)) {
      fileStart[name] = int64_t(back.image.size()) / kSector;
      const std::vector<uint8_t> bytes = fileAsDiscBytes(cue.parent_path() / name, types[name]);
      back.image.insert(back.image.end(), bytes.begin(), bytes.end());
    }
    const bool second = secondSessionTrack > 0 && number >= secondSessionTrack;
    const long index00 = track_get_index(track, 0);
    if (second && back.secondSessionStart < 0) {
      back.secondSessionStart = fileStart[name] + (index00 >= 0 ? index00 : track_get_start(track));
    }
    discimage::TocTrack entry;
    entry.number = number;
    entry.startLsn =
        int32_t(fileStart[name] + track_get_start(track) + (second ? kGapBeforeSecondSession : 0));
    entry.data = track_get_mode(track) != MODE_AUDIO;
    entry.session = second ? 2 : 1;
    back.tracks.push_back(entry);
  }
  back.leadOut = int32_t(int64_t(back.image.size()) / kSector +
                         (back.secondSessionStart >= 0 ? kGapBeforeSecondSession : 0));
  return back;
}

}  // namespace korvane::readback
