#include "axi/varn_axi_packet.h"

#include <array>
#include <cstring>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"

int _VARNAXIMakePacket(uint8_t* buf, uint8_t command, uint8_t sequence, uint64_t address, uint32_t data) {
  buf[0] = command;
  buf[1] = sequence;
  for (int i = 0; i < 8; ++i) buf[2 + i] = uint8_t(address >> (56 - 8 * i));
  buf[10] = uint8_t(data >> 24);
  buf[11] = uint8_t(data >> 16);
  buf[12] = uint8_t(data >> 8);
  buf[13] = uint8_t(data);
  VARNAXIPacketSeal(buf);
  return int(VARN_AXI_PACKET_SIZE);
}

namespace {

// Table-driven forms of the bit-serial loops: one table step equals eight shifts.
constexpr std::array<uint16_t, 256> makeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = uint16_t(i);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> makeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
    t[i] = c;
  }
  return t;
}
constexpr auto kCrc16 = makeCrc16Table();
constexpr auto kCrc32 = makeCrc32Table();

}  // namespace

uint16_t ModRTU_CRC(const uint8_t* buf, int len) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < len; ++i) crc = uint16_t((crc >> 8) ^ kCrc16[(crc ^ buf[i]) & 0xFF]);
  return crc;
}

uint16_t _ModRTU_CRC(const uint8_t* buf, int len) { return ModRTU_CRC(buf, len); }

uint32_t crc32(const uint8_t* data, int len) {
  if (len <= 0) return 0;
  uint32_t crc = 0xFFFFFFFFu;
  for (int i = 0; i < len; ++i) crc = (crc >> 8) ^ kCrc32[(crc ^ data[i]) & 0xFF];
  return ~crc;
}

uint32_t crc32_endian(const uint8_t* data, int len) {
  if (len <= 0) return 0;
  uint32_t crc = 0xFFFFFFFFu;
  for (int group = 0; group < len; group += 4) {
    // A short last group (a count that is not a multiple of 4) is reversed within
    // itself, so nothing past the data is ever read.
    int last = len - group < 4 ? len - group - 1 : 3;
    for (int k = last; k >= 0; --k) crc = (crc >> 8) ^ kCrc32[(crc ^ data[group + k]) & 0xFF];
  }
  return ~crc;
}

bool VARNAXIPacketCheckOK(const uint8_t* p) { return ModRTU_CRC(p, 14) == VARNAXIPacketCheck(p); }

void VARNAXIPacketSeal(uint8_t* p) {
  uint16_t crc = ModRTU_CRC(p, 14);
  p[14] = uint8_t(crc >> 8);
  p[15] = uint8_t(crc & 0xFF);
}

void VARNAXIAssemblerReset(VARNAXIAssembler* a) {
  a->fill = 0;
  a->badWindows = 0;
  a->unlogged = 0;
  a->loggedNs = 0;
}

namespace {

void summarise(VARNAXIAssembler* a, uint64_t now) {
  if (a->unlogged == 0 || now - a->loggedNs < VARN_AXI_BAD_LOG_PERIOD_NS) return;
  VARNLog("%u more windows failed their check and were skipped\n", a->unlogged);
  a->unlogged = 0;
  a->loggedNs = now;
}

void rejected(VARNAXIAssembler* a, const char* badMessage) {
  ++a->badWindows;
  if (!badMessage) return;
  const uint64_t now = varn_monotonic_ns();
  summarise(a, now);
  if (a->loggedNs != 0 && now - a->loggedNs < VARN_AXI_BAD_LOG_PERIOD_NS) {
    ++a->unlogged;
    return;
  }
  VARNLog("%s", badMessage);
  a->loggedNs = now;
}

// A packet came through: the count of what went before it is due once its second is over.
inline void accepted(VARNAXIAssembler* a) {
  if (a->unlogged) summarise(a, varn_monotonic_ns());
}

}  // namespace

bool VARNAXIAssemblerNext(VARNAXIAssembler* a, const uint8_t** data, size_t* len, uint8_t* packet,
                          const char* badMessage) {
  const uint8_t* d = *data;
  size_t n = *len;
  for (;;) {
    if (a->fill == 0) {
      // Aligned stream: check packets where they lie, without copying them first.
      if (n < VARN_AXI_PACKET_SIZE) break;
      if (VARNAXIPacketCheckOK(d)) {
        std::memcpy(packet, d, VARN_AXI_PACKET_SIZE);
        *data = d + VARN_AXI_PACKET_SIZE;
        *len = n - VARN_AXI_PACKET_SIZE;
        accepted(a);
        return true;
      }
      rejected(a, badMessage);
      ++d;
      --n;
      continue;
    }
    size_t take = VARN_AXI_PACKET_SIZE - a->fill;
    if (take > n) take = n;
    std::memcpy(a->window + a->fill, d, take);
    a->fill = uint8_t(a->fill + take);
    d += take;
    n -= take;
    if (a->fill < VARN_AXI_PACKET_SIZE) break;
    if (VARNAXIPacketCheckOK(a->window)) {
      std::memcpy(packet, a->window, VARN_AXI_PACKET_SIZE);
      a->fill = 0;
      *data = d;
      *len = n;
      accepted(a);
      return true;
    }
    rejected(a, badMessage);
    std::memmove(a->window, a->window + 1, VARN_AXI_PACKET_SIZE - 1);
    a->fill = VARN_AXI_PACKET_SIZE - 1;
  }
  // Keep a partial packet for the next feed.
  if (n > 0) {
    std::memcpy(a->window + a->fill, d, n);
    a->fill = uint8_t(a->fill + n);
  }
  *data = d + n;
  *len = 0;
  return false;
}
