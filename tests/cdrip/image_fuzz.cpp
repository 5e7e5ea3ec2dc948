// Fuzz entry of the disc-image readers: the first byte picks the kind of sheet (cue
// sheet, .toc or .nrg), the rest is the sheet's bytes. The sheet may name the small
// files a.bin and a.wav that lie beside it. Whatever it holds, adding it as a drive
// either fails with a reason or gives a table whose every entry lies on the disc and a
// disc that reads. Built with libFuzzer by scripts/fuzz-images.sh; the test suite
// replays the kept corpus through the same entry.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdrip.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t MaxChunksRead = 8;

void WriteFile(const fs::path& Path, const void* Data, size_t Size) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc)
      .write(static_cast<const char*>(Data), static_cast<std::streamsize>(Size));
}

// A header of a WAVE file of CD audio holding Bytes of data.
std::vector<uint8_t> WaveHeader(uint32_t Bytes) {
  std::vector<uint8_t> header;
  const auto put = [&header](uint32_t Value, int Width) {
    for (int i = 0; i < Width; ++i) header.push_back(static_cast<uint8_t>(Value >> (8 * i)));
  };
  const auto tag = [&header](const char* Text) { header.insert(header.end(), Text, Text + 4); };
  tag("RIFF");
  put(36 + Bytes, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);
  put(2, 2);
  put(44100, 4);
  put(176400, 4);
  put(4, 2);
  put(16, 2);
  tag("data");
  put(Bytes, 4);
  return header;
}

// A folder of this process's own (in memory where the machine offers it), with the
// files a sheet may name; removed at exit.
struct Scratch {
  fs::path Folder;
  Scratch() {
    std::error_code error;
    const fs::path base =
        fs::is_directory("/dev/shm", error) ? "/dev/shm" : fs::temp_directory_path();
    std::string pattern = (base / "korvane-image-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    Folder = pattern;
    std::vector<uint8_t> sectors(2352 * 20);
    for (size_t i = 0; i < sectors.size(); ++i) sectors[i] = static_cast<uint8_t>(i * 7);
    WriteFile(Folder / "a.bin", sectors.data(), sectors.size());
    std::vector<uint8_t> wave = WaveHeader(static_cast<uint32_t>(sectors.size()));
    wave.insert(wave.end(), sectors.begin(), sectors.end());
    WriteFile(Folder / "a.wav", wave.data(), wave.size());
  }
  ~Scratch() {
    std::error_code error;
    fs::remove_all(Folder, error);
  }
};

// The table as the library gives it must describe a disc: ascending starts on the
// disc, the lead-out at its end.
void CheckTable() {
  if (CR_ReadToc() != 0) return;
  const int32_t tracks = CR_GetNumTocEntries();
  if (tracks < 1 || tracks > 99) __builtin_trap();
  int32_t previous = -1;
  for (int32_t i = 0; i <= tracks; ++i) {
    const CR_TocEntry entry = CR_GetTocEntry(i);
    if (entry.StartSector < previous || entry.StartSector > 449850) __builtin_trap();
    previous = entry.StartSector;
  }
}

// Reads a few chunks of every track: no read may crash or run past what was asked.
void ReadTracks() {
  static std::vector<uint8_t> buffer(CR_MAX_CHUNK_BYTES);
  const int32_t tracks = CR_GetNumTocEntries();
  for (int32_t i = 0; i < tracks; ++i) {
    int32_t size = CR_MAX_CHUNK_BYTES;
    if (CR_OpenRipper(&size, CR_GetTocEntry(i).StartSector, CR_GetTocEntry(i + 1).StartSector) != 0)
      continue;
    for (int32_t chunk = 0; chunk < MaxChunksRead; ++chunk) {
      int32_t count = 0;
      int32_t abort = 0;
      CR_RipChunk(buffer.data(), &count, &abort);
      if (count < 0 || count > size) __builtin_trap();
      if (count == 0) break;
    }
    CR_CloseRipper();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static Scratch scratch;
  if (Size == 0) return 0;
  static const char* const names[] = {"sheet.cue", "sheet.toc", "sheet.nrg"};
  const fs::path sheet = scratch.Folder / names[Data[0] % 3];
  WriteFile(sheet, Data + 1, Size - 1);
  CR_Init(nullptr);
  const int32_t drive = CR_AddImageDrive(sheet.c_str());
  if (drive < 0) {
    char reason[512];
    if (CR_GetLastError(reason, sizeof reason) <= 0) __builtin_trap();  // a refusal says why
  } else {
    CR_SetActiveCDROM(drive);
    CheckTable();
    ReadTracks();
  }
  CR_DeInit();
  fs::remove(sheet);
  return 0;
}
