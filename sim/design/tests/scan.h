// Drives a BscanUser the way the TAP does for one complete DR scan:
// Capture-DR, n shifts (TDO sampled before each TCK), Update-DR.
#pragma once

#include <cstdint>

#include "sim/common/fpga_fabric.h"

namespace varnsim::test {

inline uint64_t scanDr(BscanUser& u, int user, int bits, uint64_t tdiBits = 0, bool doUpdate = true) {
  u.capture(user);
  uint64_t out = 0;
  for (int i = 0; i < bits; ++i) {
    if (u.tdo(user)) out |= uint64_t{1} << i;
    u.shift(user, (tdiBits >> i) & 1);
  }
  if (doUpdate) u.update(user);
  return out;
}

inline void writeByteV(BscanUser& u, uint8_t b) { scanDr(u, 2, 8, b); }

}  // namespace varnsim::test
