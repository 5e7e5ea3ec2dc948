// Reading a whole disc image through the CD track source (`TCDIn` over libcdrip.so,
// track after track, 64 KiB a read as the outputs ask) against reading the same sectors
// straight through libcdio (cdio_read_audio_sectors in runs of 75 sectors), side by
// side in one run. Prints both throughputs and their ratio for a bin/cue image (our
// library reads the .bin itself; libcdio reads the .bin named after the sheet) and for
// a cdrdao .toc image of the same disc (read by our library's own .toc reader, against
// libcdio reading the same sectors from the bin/cue). Exits 1 when the bin/cue ratio is
// below 0.8.
//
// Both sides read from the page cache, where copying memory is all the work; each is
// timed over many alternating passes and its fastest pass counts, which on a shared
// machine measures the code rather than its neighbours.
//
//   bench_cdin [seconds of audio, default 240] [passes, default 15]
#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bindings/cdrip_binding.h"
#include "cdrom/audio_cdrom.h"
#include "disc_image.h"

namespace {

namespace di = korvane::discimage;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double TargetRatio = 0.8;
constexpr int RunSectors = 75;
// What an output asks for at a time.
constexpr int ReadBlockBytes = 65536;

void Quiet(cdio_log_level_t, const char*) {}

struct TPass {
  double Seconds = 0;
  uint64_t Bytes = 0;
  uint64_t Checksum = 0;
};

// The whole disc through the source, track after track.
TPass ReadThroughSource(TCDIn& Source, int Drive, int Tracks, bool Check) {
  std::vector<uint8_t> block(ReadBlockBytes);
  TPass pass;
  const auto start = Clock::now();
  Source.SetCurrentDrive(Drive);
  for (int track = 1; track <= Tracks; ++track) {
    Source.SetStartTrack(track);
    Source.SetEndTrack(track);
    Source.Open();
    for (int n; (n = Source.ReadData(block.data(), ReadBlockBytes)) > 0;) {
      pass.Bytes += static_cast<uint64_t>(n);
      if (Check) pass.Checksum = di::fnv1a64(block.data(), static_cast<size_t>(n), pass.Checksum);
    }
    Source.Close();
  }
  pass.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return pass;
}

// The same sectors straight through libcdio's cue driver: track 1 to the lead-out in
// big runs.
TPass ReadThroughLibcdio(const std::string& Cue, bool Check) {
  std::vector<uint8_t> block(static_cast<size_t>(RunSectors) * TCDIn::SectorBytes);
  TPass pass;
  const auto start = Clock::now();
  CdIo_t* cdio = cdio_open_bincue(Cue.c_str());
  if (!cdio) return pass;
  const lsn_t first = cdio_get_track_lsn(cdio, cdio_get_first_track_num(cdio));
  const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
  for (lsn_t lsn = first; lsn < leadOut; lsn += RunSectors) {
    const int count = std::min<int>(RunSectors, leadOut - lsn);
    if (cdio_read_audio_sectors(cdio, block.data(), lsn, static_cast<uint32_t>(count)) !=
        DRIVER_OP_SUCCESS)
      break;
    const size_t bytes = static_cast<size_t>(count) * TCDIn::SectorBytes;
    pass.Bytes += bytes;
    if (Check) pass.Checksum = di::fnv1a64(block.data(), bytes, pass.Checksum);
  }
  cdio_destroy(cdio);
  pass.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return pass;
}

double Fastest(const std::vector<double>& Seconds) {
  return *std::min_element(Seconds.begin(), Seconds.end());
}

// One checked pass of each reader (they must deliver the same bytes; it also brings
// the image into the page cache), then Rounds timed passes of each, alternating;
// compares their fastest passes.
std::optional<double> Compare(TCDIn& Source, const char* Label, const std::string& Sheet,
                              const std::string& Cue, int Tracks, int Rounds) {
  const int drive = CDRipAddImageDrive(Sheet);
  if (drive < 0) {
    std::printf("%s: the image could not be added as a drive\n", Label);
    return std::nullopt;
  }
  const TPass warmSource = ReadThroughSource(Source, drive, Tracks, true);
  const TPass warmCdio = ReadThroughLibcdio(Cue, true);
  if (warmSource.Bytes != warmCdio.Bytes || warmSource.Checksum != warmCdio.Checksum) {
    std::printf("%s: the two readers disagree (%llu and %llu bytes)\n", Label,
                static_cast<unsigned long long>(warmSource.Bytes),
                static_cast<unsigned long long>(warmCdio.Bytes));
    return std::nullopt;
  }
  std::vector<double> source, cdio;
  for (int round = 0; round < Rounds; ++round) {
    source.push_back(ReadThroughSource(Source, drive, Tracks, false).Seconds);
    cdio.push_back(ReadThroughLibcdio(Cue, false).Seconds);
  }
  const double megabytes = static_cast<double>(warmSource.Bytes) / 1e6;
  const double sourceRate = megabytes / Fastest(source);
  const double cdioRate = megabytes / Fastest(cdio);
  const double ratio = sourceRate / cdioRate;
  std::printf("%-8s %7.1f MB  TCDIn %7.0f MB/s  libcdio %7.0f MB/s  ratio %.2f\n", Label, megabytes,
              sourceRate, cdioRate, ratio);
  return ratio;
}

di::DiscSpec BenchDisc(int Seconds) {
  di::DiscSpec disc;
  disc.seed = 42;
  const int tracks = 5;
  for (int i = 0; i < tracks; ++i) {
    di::TrackSpec track;
    track.content = i % 2 ? di::TrackContent::Noise : di::TrackContent::Ramp;
    track.sectors = Seconds * di::kSectorsPerSecond / tracks;
    track.pregapSectors = i == 0 ? 0 : 75;
    disc.tracks.push_back(track);
  }
  return disc;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 240;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  cdio_log_set_handler(Quiet);
  std::string pattern = (fs::temp_directory_path() / "korvane-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 2;
  const fs::path folder(pattern);
  bool met = false;
  try {
    const di::DiscSpec disc = BenchDisc(seconds);
    const int tracks = static_cast<int>(disc.tracks.size());
    // libcdio's own cue driver reads the .bin named after the sheet, which this is.
    di::writeDiscImage(disc, (folder / "bench.cue").string());
    di::ImageLayout toc;
    toc.sheet = di::SheetKind::Toc;
    di::writeDiscImage(disc, (folder / "benchtoc.toc").string(), toc);
    std::printf("Reading %d s of audio (%d tracks), fastest of %d passes each\n", seconds, tracks,
                rounds);
    // Creating the source loads the library, as the program's window does.
    TCDIn source;
    const std::string cueSheet = (folder / "bench.cue").string();
    const std::optional<double> cue =
        Compare(source, "bin/cue", cueSheet, cueSheet, tracks, rounds);
    Compare(source, ".toc", (folder / "benchtoc.toc").string(), cueSheet, tracks, rounds);
    met = cue && *cue >= TargetRatio;
    std::printf("bin/cue ratio %s the target of %.2f\n", met ? "meets" : "does NOT meet",
                TargetRatio);
  } catch (const std::exception& e) {
    std::printf("bench_cdin: %s\n", e.what());
  }
  CDRipBinding().Unload();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return met ? 0 : 1;
}
