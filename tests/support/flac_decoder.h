// Reading back .flac files with tools we did not write: the `flac` program decodes and
// tests them (its test checks the MD5 of the audio against STREAMINFO), and mutagen
// (Debian's python3-mutagen) reads STREAMINFO, the seek table and the comments.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "command_run.h"
#include "wav_decoder.h"

namespace flactest {

// Decodes with `flac -d` to interleaved 16-bit samples; empty when it fails.
inline std::vector<int16_t> Decode(const std::string& File) {
  return AsSamples(CommandBytes("flac -d -s -c --force-raw-format --endian=little --sign=signed '" +
                                File + "'"));
}

// `flac -t`: every frame decodes and, when STREAMINFO has one, the MD5 matches.
inline bool PassesFlacTest(const std::string& File) {
  return CaptureCommand("flac -t -s '" + File + "'").Status == 0;
}

// Prints "samples=", "md5=" (hex, 0 when unset), a "point=first,offset,samples" line per
// seek point that is not a placeholder, and "NAME=value" per comment, as stored.
constexpr const char* ReaderScript = R"(
import sys
from mutagen.flac import FLAC
sys.stdout.reconfigure(encoding="utf-8")
f = FLAC(sys.argv[1])
print("samples=%d" % f.info.total_samples)
print("md5=%x" % f.info.md5_signature)
if f.seektable:
    for p in f.seektable.seekpoints:
        if p.first_sample != 0xFFFFFFFFFFFFFFFF:
            print("point=%d,%d,%d" % (p.first_sample, p.byte_offset, p.num_samples))
for name, value in (f.tags or []):
    print("%s=%s" % (name, value))
)";

struct TFileInfo {
  bool Read = false;
  int64_t Samples = -1;
  std::string Md5;
  struct TPoint {
    int64_t FirstSample, Offset, Samples;
  };
  std::vector<TPoint> Points;
  std::multimap<std::string, std::string> Comments;

  // The value of the comment Name; "(missing)" when there is none.
  std::string Comment(const std::string& Name) const {
    const auto found = Comments.find(Name);
    return found == Comments.end() ? "(missing)" : found->second;
  }
};

inline TFileInfo ReadInfo(const std::string& File) {
  const TCommandResult run =
      CaptureCommand("/usr/bin/python3 -c '" + std::string(ReaderScript) + "' '" + File + "'");
  TFileInfo info;
  info.Read = run.Status == 0;
  size_t at = 0;
  while (info.Read && at < run.Output.size()) {
    const size_t end = std::min(run.Output.find('\n', at), run.Output.size());
    const std::string line = run.Output.substr(at, end - at);
    at = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals), value = line.substr(equals + 1);
    if (name == "samples") {
      info.Samples = std::stoll(value);
    } else if (name == "md5") {
      info.Md5 = value;
    } else if (name == "point") {
      TFileInfo::TPoint point{};
      std::sscanf(value.c_str(), "%ld,%ld,%ld", &point.FirstSample, &point.Offset, &point.Samples);
      info.Points.push_back(point);
    } else {
      info.Comments.emplace(name, value);
    }
  }
  return info;
}

// The seek points lie in the audio that STREAMINFO states, each at a frame of its own,
// in order.
inline bool SeekTableFitsTheStream(const TFileInfo& Info) {
  int64_t previous = -1;
  for (const TFileInfo::TPoint& point : Info.Points) {
    if (point.FirstSample <= previous || point.FirstSample >= Info.Samples || point.Samples <= 0 ||
        point.Offset < 0)
      return false;
    previous = point.FirstSample;
  }
  return true;
}

// The stereo frames of a file that passes `flac -t` and whose STREAMINFO and seek table
// state what it holds; -1 for any other file.
inline int64_t TrueFileFrames(const std::string& File, int Channels = 2) {
  if (!PassesFlacTest(File)) return -1;
  const TFileInfo info = ReadInfo(File);
  const std::vector<int16_t> samples = Decode(File);
  const auto frames = static_cast<int64_t>(samples.size()) / Channels;
  if (!info.Read || info.Samples != frames || !SeekTableFitsTheStream(info)) return -1;
  return frames;
}

}  // namespace flactest
