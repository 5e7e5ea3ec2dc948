// Every input the image fuzzer kept, through its entry: none may crash or trap, and
// none may make the library or the parsers under it print to the terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

TEST(ImageFuzzCorpus, EveryKeptInputIsRefusedWithAReasonOrReads) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(IMAGE_CORPUS)) {
    const auto bytes = ReadWholeFile(entry.path().string());
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    const std::string printed =
        ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "") << entry.path().filename();
    ++files;
  }
  EXPECT_GT(files, 5);
}
