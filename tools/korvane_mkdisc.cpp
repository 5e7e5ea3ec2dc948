// korvane-mkdisc: writes a disc image and tells what ripping each of its tracks yields.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "disc_image.h"
#include "mkdisc_options.h"

using namespace korvane::discimage;

namespace {

struct TrackSummary {
  RipRange range;
  uint64_t checksum = kFnvOffsetBasis;
};

// Streams one audio track's PCM once: into its checksum and, when asked, DIR/trackNN.pcm.
TrackSummary summariseTrack(const DiscSpec& disc, int number, const std::string& expectDir) {
  TrackSummary summary;
  summary.range = ripRange(disc, number);
  std::optional<std::ofstream> file;
  std::filesystem::path path;
  if (!expectDir.empty()) {
    char name[32];
    std::snprintf(name, sizeof name, "track%02d.pcm", number);
    path = std::filesystem::path(expectDir) / name;
    file.emplace(path, std::ios::binary | std::ios::trunc);
    if (!*file)
      throw EDiscImageError("cannot write " + path.string() + ": " + std::strerror(errno));
  }
  streamTrackPcm(disc, number, [&](const uint8_t* data, size_t size) {
    summary.checksum = fnv1a64(data, size, summary.checksum);
    if (file) file->write(reinterpret_cast<const char*>(data), std::streamsize(size));
  });
  if (file) {
    file->close();
    if (!*file)
      throw EDiscImageError("cannot write " + path.string() + ": " + std::strerror(errno));
  }
  return summary;
}

void printRow(const TocTrack& track, int32_t sectors, const TrackSummary* audio) {
  if (audio) {
    std::printf("%5d  audio  %9d  %8d  %11lld  %016" PRIx64 "\n", track.number, int(track.startLsn),
                int(sectors), static_cast<long long>(sectors) * kSectorBytes, audio->checksum);
  } else {
    std::printf("%5d  data   %9d  %8d  %11s  %s\n", track.number, int(track.startLsn), int(sectors),
                "-", "-");
  }
}

void describeTracks(const MkdiscRequest& request) {
  const DiscToc toc = discToc(request.disc);
  if (!request.expectDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(request.expectDir, error);
    if (error) throw EDiscImageError("cannot create " + request.expectDir + ": " + error.message());
  }
  if (request.print) std::printf("track  type   start LSN   sectors    rip bytes  FNV-1a 64\n");
  if (request.disc.hiddenSectors > 0) {  // track 0: the audio before track 1
    const TrackSummary summary = summariseTrack(request.disc, 0, request.expectDir);
    if (request.print) printRow(TocTrack{}, summary.range.sectors, &summary);
  }
  for (size_t i = 0; i < toc.tracks.size(); ++i) {
    const TocTrack& track = toc.tracks[i];
    if (track.data) {
      const int32_t next = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLsn : toc.leadOutLsn;
      if (request.print) printRow(track, next - track.startLsn, nullptr);
      continue;
    }
    const TrackSummary summary = summariseTrack(request.disc, track.number, request.expectDir);
    if (request.print) printRow(track, summary.range.sectors, &summary);
  }
  if (request.print) std::printf("lead-out      %9d\n", int(toc.leadOutLsn));
}

}  // namespace

int main(int argc, char** argv) {
  MkdiscRequest request;
  try {
    request = parseMkdiscArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::cerr << "korvane-mkdisc: " << error.what() << "\n";
    return 2;
  }
  if (request.help) {
    std::cout << mkdiscUsage();
    return 0;
  }
  try {
    if (!request.sheetPath.empty()) writeDiscImage(request.disc, request.sheetPath, request.layout);
    if (request.print || !request.expectDir.empty()) describeTracks(request);
  } catch (const std::exception& error) {
    std::cerr << "korvane-mkdisc: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
