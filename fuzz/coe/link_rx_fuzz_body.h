// One fuzz case for the link's receive side: the input's first byte picks the chunk
// sizes, the rest is the byte stream from the controller. The link is bare (no
// thread), with requests waiting on a few tags and answer buffers fenced by canaries.
// Returns false when an invariant breaks: the reassembly buffer never holds a whole
// packet or more than 4096 bytes, and no answer is written past its capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "coe/coe_link_internal.h"

inline bool varnCoELinkRxFuzzOne(const uint8_t* data, size_t size) {
  if (size == 0) return true;
  // The link is large (its UART rings alone are 256 KiB): made once, and what the
  // receive side reads or writes is put back to a fresh link's state for every case.
  static _VNCoELink* const link = new _VNCoELink();
  link->rxLen = 0;
  std::memset(link->uartHead, 0, sizeof link->uartHead);
  std::memset(link->uartTail, 0, sizeof link->uartTail);
  for (CoeTransaction& t : link->slots) t = CoeTransaction{};
  for (CoeTransaction& t : link->posts) t = CoeTransaction{};
  link->helloPending = 0;
  constexpr uint32_t kCap[4] = {0, 3, 64, 4096};
  static uint8_t buffers[4][4096 + 16];
  std::memset(buffers, 0xC5, sizeof buffers);
  for (uint32_t i = 0; i < 4; i++) {
    CoeTransaction& t = link->slots[i];
    t.inUse = t.sent = 1;
    t.tag = static_cast<uint16_t>(i + 1);
    t.answerData = buffers[i];
    t.answerCapacity = kCap[i];
    t.sequence = i + 1;
  }
  uint32_t step = data[0] % 17 + 1;
  data++;
  size--;
  while (size > 0) {
    uint32_t n = step < size ? step : static_cast<uint32_t>(size);
    _VNCoELinkParsePacket(link, data, n);
    data += n;
    size -= n;
    step = step * 7 % 23 + 1;
    if (link->rxLen >= VN_COE_MAX_RX_PACKET) return false;
    if (link->rxLen >= VN_COE_HEADER_SIZE && link->rxLen >= _VNCoELe16(link->rxBuf)) return false;
  }
  for (uint32_t i = 0; i < 4; i++) {
    const CoeTransaction& t = link->slots[i];
    if (t.answerLen > kCap[i]) return false;
    for (uint32_t k = kCap[i]; k < kCap[i] + 16; k++)
      if (buffers[i][k] != 0xC5) return false;
  }
  return true;
}
