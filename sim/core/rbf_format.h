// The simulator's .rbf container. The real Stratix 10 configuration file is a signed
// SDM firmware image whose layout is not public in the detail a model would need, so
// the simulated SDM accepts this stand-in, which keeps what matters to a loader: the
// SDM learns the stream's length and target part from its head and knows it has the
// whole file only when the trailing checksum arrives.
//
//   offset 0       u32 LE  kRbfMagic
//   offset 4       u32 LE  total length in bytes (a multiple of 4, header and CRC included)
//   offset 8       u32 LE  IDCODE of the target part (version field ignored)
//   offset 12      u32 LE  flags (0)
//   offset 16 ...          configuration data
//   last 4 bytes   u32 LE  CRC-32 (IEEE) of every byte before it
#pragma once

#include <cstdint>

namespace varnsim::rbf {

constexpr uint32_t kRbfMagic = 0x31524653;  // "SFR1"
constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kMinLength = kHeaderBytes + 4;
constexpr uint32_t kMaxLength = 1u << 30;

// Bytes that precede every CONFIG_IN chunk, in shift order.
constexpr uint8_t kChunkFraming[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x2A, 0x7E, 0xA1};

// Error details the SDM reports for a failed stream.
enum Error : uint32_t {
  kErrNone = 0,
  kErrMagic = 1,
  kErrLength = 2,
  kErrPart = 3,
  kErrCrc = 4,
  kErrInjected = 5,
};

}  // namespace varnsim::rbf
