// SHA-256 (FIPS 180-4), for the rip log's closing line. Any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
 public:
  TSha256();
  void Add(const void* Bytes, size_t Size);
  // The digest of everything added; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  void Compress(const uint8_t* Block);

  std::array<uint32_t, 8> State_;
  std::array<uint8_t, 64> Block_{};
  size_t BlockBytes_ = 0;
  uint64_t TotalBytes_ = 0;
};

// The digest of Text as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& Text);
