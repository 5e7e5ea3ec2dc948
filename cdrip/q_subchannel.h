// The Q sub-channel of a CD sector as READ CD returns it formatted (sub-channel
// selection 010b, 16 bytes): control and ADR, then for a position (ADR 1) the track,
// the index, the time within the track, a zero and the time on the disc, all BCD; then
// the CRC of those ten bytes, inverted, high byte first; then zeros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cdrip {

constexpr int FormattedQBytes = 16;
// The bytes of Q that its CRC covers.
constexpr size_t QCrcCovered = 10;

// The CRC of Count bytes as Q carries it: CRC-16 of polynomial x^16 + x^12 + x^5 + 1,
// initial value 0, every bit inverted.
uint16_t QCrc(const uint8_t* Bytes, size_t Count);

}  // namespace cdrip
