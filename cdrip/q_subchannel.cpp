#include "q_subchannel.h"

namespace cdrip {

uint16_t QCrc(const uint8_t* Bytes, size_t Count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < Count; ++i) {
    crc ^= static_cast<uint16_t>(Bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

}  // namespace cdrip
