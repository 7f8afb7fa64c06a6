#include "sim/design/jtag_uart.h"

#include <algorithm>

namespace varnsim {

void JtagUart::capture(int user) {
  if (!validUser(user)) return;
  Reg& r = regs_[user];
  r.shifted = 0;
  r.holdsByte = false;
  switch (user) {
    case 1:
      r.width = version_ == UartVersion::V2 ? 9 : 8;
      if (!ch_.out.empty()) {
        r.value = ch_.out.front();
        r.holdsByte = true;
      } else {
        r.value = version_ == UartVersion::V2 ? 0x100 : 0x00;
      }
      break;
    case 2:
      r.width = 8;
      r.value = 0;
      break;
    case 3: {
      r.width = 32;
      uint32_t w = 0;
      if (ch_.out.empty()) w |= 0x04;
      if (ch_.in.full()) w |= 0x08;
      w |= static_cast<uint32_t>(std::min<size_t>(ch_.out.size(), 255)) << 16;
      r.value = w;
      break;
    }
    default:
      r.width = 1;
      r.value = 0;
      break;
  }
}

bool JtagUart::tdo(int user) const {
  if (!validUser(user)) return false;
  return regs_[user].value & 1;
}

void JtagUart::shift(int user, bool tdi) {
  if (!validUser(user)) return;
  Reg& r = regs_[user];
  r.value = (r.value >> 1) | (static_cast<uint64_t>(tdi ? 1 : 0) << (r.width - 1));
  if (r.shifted < 1 << 30) ++r.shifted;
}

bool JtagUart::update(int user) {
  if (!validUser(user)) return false;
  Reg& r = regs_[user];
  const bool complete = r.shifted >= std::min(r.width, 8);
  bool queued = false;
  switch (user) {
    case 1:
      if (!complete) {
        ++counters_.shortScans;
      } else if (r.holdsByte) {
        if (!ch_.out.empty()) ch_.out.pop();
        ++counters_.bytesOut;
      } else {
        ++counters_.emptyReads;
      }
      break;
    case 2:
      if (!complete) {
        ++counters_.shortScans;
      } else {
        // A full FIFO drops the byte; ByteFifo counts it.
        if (ch_.in.push(static_cast<uint8_t>(r.value & 0xFF))) ++counters_.bytesIn;
        queued = true;
      }
      break;
    case 3:
      if (complete) ++counters_.statusReads;
      break;
    default:
      break;
  }
  r.shifted = 0;
  r.holdsByte = false;
  return queued;
}

}  // namespace varnsim
