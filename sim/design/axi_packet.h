// The 16-byte frames the UART-to-AXI master exchanges with the host:
//   0 command, 1 sequence, 2..9 address (64-bit big-endian), 10..13 data (32-bit
//   big-endian), 14..15 CRC-16/MODBUS of bytes 0..13, high byte first.
#pragma once

#include <array>
#include <cstdint>

#include "sim/design/crc.h"

namespace varnsim {

using AxiFrame = std::array<uint8_t, 16>;

namespace axicmd {
constexpr uint8_t kTest = 0x00, kRead = 0x01, kWrite = 0x02, kBulkWrite = 0x42, kIrqMask = 0xFF;
constexpr uint8_t kIrqLowNibble = 0x07;
// Flags in the command byte of an answer.
constexpr uint8_t kFlagOverflow = 0x10, kFlagSlaveError = 0x40, kFlagDecodeError = 0x80;
}  // namespace axicmd

inline uint64_t frameAddress(const AxiFrame& f) {
  uint64_t a = 0;
  for (int i = 2; i < 10; ++i) a = a << 8 | f[i];
  return a;
}

inline uint32_t frameData(const AxiFrame& f) {
  return uint32_t{f[10]} << 24 | uint32_t{f[11]} << 16 | uint32_t{f[12]} << 8 | f[13];
}

inline bool frameCheckOk(const uint8_t* f) {
  uint16_t c = crc16Modbus(f, 14);
  return f[14] == (c >> 8) && f[15] == (c & 0xFF);
}

inline AxiFrame makeFrame(uint8_t cmd, uint8_t seq, uint64_t addr, uint32_t data) {
  AxiFrame f{};
  f[0] = cmd;
  f[1] = seq;
  for (int i = 0; i < 8; ++i) f[2 + i] = static_cast<uint8_t>(addr >> (56 - 8 * i));
  for (int i = 0; i < 4; ++i) f[10 + i] = static_cast<uint8_t>(data >> (24 - 8 * i));
  uint16_t c = crc16Modbus(f.data(), 14);
  f[14] = static_cast<uint8_t>(c >> 8);
  f[15] = static_cast<uint8_t>(c);
  return f;
}

}  // namespace varnsim
