// Fuzz entry of the .wav header scan: any bytes at all, as a file about to be
// appended to. Built with libFuzzer by scripts/fuzz-wav-header.sh; the test suite
// replays the kept corpus through the same entry.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "outputs/audio_wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const int fd = memfd_create("wav-header", 0);
  if (fd < 0) return 0;
  if (Size == 0 || write(fd, Data, Size) == static_cast<ssize_t>(Size)) {
    TFileStream stream("/proc/self/fd/" + std::to_string(fd), TFileStream::TMode::OpenReadWrite);
    const TExistingWavFormat found = ScanWavHeader(stream);
    if (found.Type != wtUnsupported) {
      // A found data chunk lies inside the file, after its own size field.
      if (found.DataOffset < 8 || found.DataOffset > static_cast<int64_t>(Size) ||
          found.DataSizeOffset + 4 != found.DataOffset || stream.Position() != found.DataOffset)
        __builtin_trap();
    }
  }
  close(fd);
  return 0;
}
