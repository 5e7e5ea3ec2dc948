#include "jobs/kept_audio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

TKeptAudio::TKeptAudio(const std::string& Folder) {
  std::string pattern = Folder + "/.korvane-read-XXXXXX";
  File_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (File_ >= 0) ::unlink(pattern.c_str());
}

TKeptAudio::~TKeptAudio() {
  if (File_ >= 0) ::close(File_);
}

void TKeptAudio::Append(const uint8_t* Data, size_t Count) {
  if (!Usable()) return;
  for (size_t written = 0; written < Count;) {
    const ssize_t n = ::pwrite(File_, Data + written, Count - written,
                               static_cast<off_t>(Size_ + static_cast<int64_t>(written)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Whole_ = false;
      return;
    }
    written += static_cast<size_t>(n);
  }
  Size_ += static_cast<int64_t>(Count);
}

size_t TKeptAudio::ReadAt(int64_t Offset, void* Out, size_t Count) const {
  const auto wanted =
      static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(Size_ - Offset, Count)));
  if (wanted == 0) return 0;
  ssize_t n;
  do {
    n = ::pread(File_, Out, wanted, static_cast<off_t>(Offset));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) throw EAudioException("The kept read of the track could not be read back.");
  return static_cast<size_t>(n);
}

int TKeptAudioInput::ReadAudio(void* Buffer, int BufferSize) {
  return static_cast<int>(
      Audio_.ReadAt(Position, Buffer, static_cast<size_t>(std::max(BufferSize, 0))));
}
