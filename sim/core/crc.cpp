#include "sim/core/crc.h"

#include <array>

namespace varnsim {

namespace {

constexpr uint32_t kPolyC = 0x82F63B78u;
constexpr uint32_t kPolyIeee = 0xEDB88320u;

constexpr std::array<uint32_t, 256> makeTable(uint32_t poly) {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
    t[i] = c;
  }
  return t;
}

constexpr auto kTableC = makeTable(kPolyC);
constexpr auto kTableIeee = makeTable(kPolyIeee);

}  // namespace

uint32_t crc32cConfigWord(uint32_t crc, uint32_t reg, uint32_t data) {
  for (int k = 0; k < 4; ++k) crc = kTableC[(crc ^ (data >> (8 * k))) & 0xFF] ^ (crc >> 8);
  for (int k = 0; k < 5; ++k) {
    uint32_t bit = (reg >> k) & 1;
    crc = ((crc ^ bit) & 1) ? (crc >> 1) ^ kPolyC : crc >> 1;
  }
  return crc;
}

uint32_t crc32cConfigWordBitwise(uint32_t crc, uint32_t reg, uint32_t data) {
  uint64_t v = uint64_t{data} | (uint64_t{reg & 0x1F} << 32);
  for (int k = 0; k < 37; ++k) {
    uint32_t bit = static_cast<uint32_t>(v & 1);
    crc = ((crc ^ bit) & 1) ? (crc >> 1) ^ kPolyC : crc >> 1;
    v >>= 1;
  }
  return crc;
}

uint32_t crc32IeeeByte(uint32_t crc, uint8_t b) { return kTableIeee[(crc ^ b) & 0xFF] ^ (crc >> 8); }

uint32_t crc32Ieee(uint32_t crc, const uint8_t* p, size_t n) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = crc32IeeeByte(crc, p[i]);
  return ~crc;
}

}  // namespace varnsim
