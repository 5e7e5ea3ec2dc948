// The file stream that every output writes through: gathered writes land where they
// were written, across block boundaries, overwrites and read-backs.
#include <gtest/gtest.h>

#include <random>

#include "audio_classes.h"
#include "temp_dir.h"

namespace {

TEST(FileStream, GatheredWritesMatchAPlainModelOfTheFile) {
  TTempDir dir;
  const std::string name = dir / "stream.bin";
  std::vector<uint8_t> model;
  std::mt19937 random(3);
  {
    TFileStream stream(name, TFileStream::TMode::Create);
    int64_t position = 0;
    for (int step = 0; step < 400; ++step) {
      const int action = static_cast<int>(random() % 10);
      if (action == 0 && !model.empty()) {  // seek back and patch, like a header fix-up
        position = random() % model.size();
        stream.Seek(position);
      } else if (action == 1 && !model.empty()) {  // read back
        const int64_t at = random() % model.size();
        std::vector<uint8_t> got(std::min<size_t>(1000, model.size() - at));
        stream.Seek(at);
        ASSERT_EQ(stream.Read(got.data(), static_cast<int64_t>(got.size())),
                  static_cast<int64_t>(got.size()));
        ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + at)) << "step " << step;
        position = at + static_cast<int64_t>(got.size());
      } else {
        const size_t count = random() % 3 ? random() % 20000 : random() % 1500000;
        std::vector<uint8_t> bytes(count);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        stream.Seek(position);
        stream.Write(bytes.data(), static_cast<int64_t>(count));
        if (model.size() < position + count) model.resize(position + count);
        std::copy(bytes.begin(), bytes.end(), model.begin() + position);
        position += static_cast<int64_t>(count);
      }
      ASSERT_EQ(stream.Size(), static_cast<int64_t>(model.size())) << "step " << step;
      ASSERT_EQ(stream.Position(), position);
    }
    stream.Close();
  }
  EXPECT_TRUE(ReadWholeFile(name) == model);
}

TEST(FileStream, AFailedFlushRaisesAndLeavesTheSizeTrue) {
  TFileStream stream("/dev/full", TFileStream::TMode::OpenReadWrite);
  std::vector<uint8_t> bytes(5000, 1);
  stream.Write(bytes.data(), 5000);  // gathered, not yet written
  EXPECT_THROW(stream.Flush(), EAudioException);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_NO_THROW(stream.Close());
}

}  // namespace
