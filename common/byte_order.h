// Little-endian integers in byte buffers: the byte order of RIFF WAVE headers, Ogg
// page headers and CD audio samples. Header-only; the CD library and the tools use it
// too.
#pragma once

#include <cstdint>

inline uint16_t GetLe16(const uint8_t* At) { return static_cast<uint16_t>(At[0] | (At[1] << 8)); }

inline uint32_t GetLe32(const uint8_t* At) {
  return GetLe16(At) | (static_cast<uint32_t>(GetLe16(At + 2)) << 16);
}

inline void PutLe16(uint8_t* At, uint32_t Value) {
  At[0] = static_cast<uint8_t>(Value);
  At[1] = static_cast<uint8_t>(Value >> 8);
}

inline void PutLe32(uint8_t* At, uint32_t Value) {
  PutLe16(At, Value & 0xFFFF);
  PutLe16(At + 2, Value >> 16);
}
