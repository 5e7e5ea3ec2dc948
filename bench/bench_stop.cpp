// How long a stop takes to end a read of a CD drive: the CD track source reads a track on
// a worker thread, as a run does, and after a while another thread asks it to stop
// (TCDIn::RequestStop); the time from the request until the worker's ReadData returns is
// printed. Run it with the software CD drive preloaded (bench/stop.sh does), so that the
// drive's speed and faults set the state the read is in when the stop comes.
//
//   bench_stop DEVICE TRACK SECONDS_BEFORE_STOP PARANOIA_MODE [RETRIES]
//
// Prints "stopped after X s (Y bytes read)"; exits 1 when the stop took 2 s or more.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bindings/cdrip_binding.h"
#include "cdrom/audio_cdrom.h"
#include "core/program_files.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double TargetSeconds = 2.0;

// Loads the library as from a program in Folder, whose cdr.ini sets the paranoia layer.
bool LoadLibrary(const std::filesystem::path& Folder, const std::string& Mode, int Retries) {
  std::filesystem::create_directories(Folder);
  std::ofstream(Folder / "cdr.ini")
      << "[CD-ROM]\nParanoiaMode=" << Mode << "\nParanoiaRetries=" << Retries << "\n";
  CDRipBinding().SetFileNameForTesting(ProgramFiles().LibraryFolder + CDRipBinding().FileName());
  return CDRipBinding().Load(Folder.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_stop DEVICE TRACK SECONDS MODE [RETRIES]\n");
    return 2;
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("korvane-bench-stop-" + std::to_string(::getpid()));
  if (!LoadLibrary(folder, argv[4], argc > 5 ? std::atoi(argv[5]) : 20)) return 2;
  int status = 2;
  {
    TCDIn source;
    const int drive = CDRipAddImageDrive(argv[1]);
    if (drive < 0) return 2;
    source.SetCurrentDrive(drive);
    source.SetStartTrack(std::atoi(argv[2]));
    source.SetEndTrack(std::atoi(argv[2]));
    source.Open();
    size_t bytes = 0;
    std::string ended = "the end of the track";
    Clock::time_point returned;
    std::thread worker([&] {
      std::vector<uint8_t> block(65536);
      try {
        for (int got; (got = source.ReadData(block.data(), 65536)) > 0;)
          bytes += static_cast<size_t>(got);
      } catch (const EAudioException& e) {
        ended = e.what();
      }
      returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(argv[3])));
    const Clock::time_point asked = Clock::now();
    source.RequestStop();
    worker.join();
    source.Close();
    const double seconds = std::chrono::duration<double>(returned - asked).count();
    std::printf("stopped after %.2f s (%zu bytes read; %s)\n", seconds, bytes, ended.c_str());
    status = seconds < TargetSeconds && ended == "The read was stopped." ? 0 : 1;
  }
  CDRipBinding().Unload();
  std::filesystem::remove_all(folder);
  return status;
}
