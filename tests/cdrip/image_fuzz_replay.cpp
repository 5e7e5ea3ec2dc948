// Every input the image fuzzer kept, through its entry: none may crash or trap.
#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

TEST(ImageFuzzCorpus, EveryKeptInputIsRefusedWithAReasonOrReads) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(IMAGE_CORPUS)) {
    const auto bytes = ReadWholeFile(entry.path().string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++files;
  }
  EXPECT_GT(files, 5);
}
