#include "outputs/ogg_pages.h"

#include <array>

namespace {

constexpr int PageHeaderLength = 27;
constexpr int FlagsAt = 5;
constexpr int ChecksumAt = 22;
constexpr int SegmentCountAt = 26;
constexpr uint8_t EndOfStreamFlag = 0x04;

void PutLe32(uint8_t* Bytes, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[i] = static_cast<uint8_t>(Value >> (8 * i));
}

}  // namespace

uint32_t OggPageChecksum(const uint8_t* Page, size_t Length) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> entries{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      entries[i] = r;
    }
    return entries;
  }();
  uint32_t crc = 0;
  for (size_t i = 0; i < Length; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ Page[i]) & 0xFF];
  return crc;
}

void TOggPageLog::Written(int64_t Offset, const uint8_t* Header, int64_t Length, bool Audio) {
  const int segments = Header[SegmentCountAt];
  const bool endsAPacket = segments > 0 && Header[PageHeaderLength + segments - 1] < 255;
  Pages_.push_back(TPage{Offset, Length, Audio, endsAPacket});
}

// The last audio page that the file holds whole, with nothing lost before it, and on
// which a packet ends; null when there is none.
const TOggPageLog::TPage* TOggPageLog::LastWholeAudioPage(const TFileStream& Stream) const {
  const int64_t intact = Stream.IntactLength();
  const TPage* last = nullptr;
  for (const TPage& page : Pages_) {
    if (page.Offset + page.Length > intact) break;
    if (page.Audio && page.EndsAPacket) last = &page;
  }
  return last;
}

void TOggPageLog::EndAtLastWholePage(TFileStream& Stream) const {
  const TPage* last = LastWholeAudioPage(Stream);
  if (!last) return;
  const int64_t end = last->Offset + last->Length;
  if (end < Stream.Size()) Stream.Truncate(end);
  std::vector<uint8_t> bytes(static_cast<size_t>(last->Length));
  Stream.Seek(last->Offset);
  if (Stream.Read(bytes.data(), last->Length) != last->Length) return;
  bytes[FlagsAt] |= EndOfStreamFlag;
  PutLe32(bytes.data() + ChecksumAt, 0);
  PutLe32(bytes.data() + ChecksumAt, OggPageChecksum(bytes.data(), bytes.size()));
  Stream.Seek(last->Offset);
  Stream.Write(bytes.data(), PageHeaderLength + bytes[SegmentCountAt]);
}
