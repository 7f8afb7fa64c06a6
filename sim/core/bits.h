// Bit helpers shared by the models.
#pragma once

#include <cstdint>

namespace varnsim {

// Bit 7 <-> bit 0 and so on: a byte sent most significant bit first, seen in the
// order the bits leave the wire.
inline uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

}  // namespace varnsim
