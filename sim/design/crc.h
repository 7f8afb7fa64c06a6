// Checksums the UART-to-AXI master computes on its side of the link: CRC-16/MODBUS
// over each 16-byte packet and the IEEE 802.3 CRC-32 over bulk-write payloads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnsim {

// CRC-16/MODBUS: reflected polynomial 0x8005, initial 0xFFFF, no final XOR.
uint16_t crc16Modbus(const uint8_t* data, size_t n);

// CRC-32 (IEEE 802.3, reflected 0xEDB88320), computed incrementally so a bulk payload
// can be checked as it streams in without buffering it.
class Crc32 {
 public:
  void update(const uint8_t* data, size_t n);
  void update(uint8_t byte);
  uint32_t value() const { return ~state_; }
  void reset() { state_ = 0xFFFFFFFFu; }

 private:
  uint32_t state_ = 0xFFFFFFFFu;
};

uint32_t crc32Ieee(const uint8_t* data, size_t n);

}  // namespace varnsim
