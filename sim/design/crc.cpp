#include "sim/design/crc.h"

#include <array>

namespace varnsim {

namespace {

constexpr std::array<uint16_t, 256> makeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t r = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b) r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0xA001) : static_cast<uint16_t>(r >> 1);
    t[i] = r;
  }
  return t;
}

constexpr std::array<uint32_t, 256> makeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int b = 0; b < 8; ++b) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    t[i] = r;
  }
  return t;
}

constexpr auto kCrc16 = makeCrc16Table();
constexpr auto kCrc32 = makeCrc32Table();

}  // namespace

uint16_t crc16Modbus(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrc16[(crc ^ data[i]) & 0xFF]);
  return crc;
}

void Crc32::update(uint8_t byte) { state_ = (state_ >> 8) ^ kCrc32[(state_ ^ byte) & 0xFF]; }

void Crc32::update(const uint8_t* data, size_t n) {
  uint32_t s = state_;
  for (size_t i = 0; i < n; ++i) s = (s >> 8) ^ kCrc32[(s ^ data[i]) & 0xFF];
  state_ = s;
}

uint32_t crc32Ieee(const uint8_t* data, size_t n) {
  Crc32 c;
  c.update(data, n);
  return c.value();
}

}  // namespace varnsim
