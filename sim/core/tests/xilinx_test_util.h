// Helpers for driving UltraScale+ devices in a chain from the test side: chain-wide
// instruction vectors and a pin-level configuration load, as a JTAG master would do it.
#pragma once

#include <vector>

#include "sim/core/parts.h"
#include "sim/core/tests/chain_driver.h"
#include "sim/core/xilinx_device.h"

namespace varnsim::test {

// The IR scan vector that gives device `target` the instruction `code` (repeated over
// its SLRs, or addressed to one SLR with feed-through elsewhere) and BYPASS to all
// others. The device nearest TDO takes the first bits.
inline Bits irVector(JtagChain& c, size_t target, uint64_t value) {
  Bits v;
  for (size_t i = c.size(); i-- > 0;) {
    const int n = c.device(i).irLength();
    Bits part = i == target ? bitsOf(value, n) : Bits(n, true);
    v.insert(v.end(), part.begin(), part.end());
  }
  return v;
}

inline uint64_t everySlr(int slrs, uint32_t code) {
  uint64_t v = 0;
  for (int s = 0; s < slrs; ++s) v = (v << 6) | code;
  return v;
}
inline uint64_t oneSlr(int slrs, int slr, uint32_t code) {
  uint64_t v = 0;
  for (int s = 0; s < slrs; ++s) v = (v << 6) | (s == slr ? code : xinst::kFeedThrough);
  return v;
}

// The captured IR bits of device `target` out of a full chain IR scan.
inline uint64_t irCaptureOf(JtagChain& c, size_t target, const Bits& captured) {
  size_t pos = 0;
  for (size_t i = c.size(); i-- > 0;) {
    const int n = c.device(i).irLength();
    if (i == target) return valueOf(captured, pos, static_cast<size_t>(n));
    pos += static_cast<size_t>(n);
  }
  return 0;
}

struct LoadSteps {
  uint64_t houseclean = 40000;  // idle TCKs after JPROGRAM
  uint64_t startup = 2000;      // idle TCKs after JSTART
  bool program = true;
  bool extraBit = false;        // one more 0 bit at the end of the data scan
};

// JPROGRAM, wait, CFG_IN with the whole file (each byte most significant bit first),
// JSTART, idle, Test-Logic-Reset. Returns the target's IR capture taken afterwards.
inline uint64_t loadBitstream(JtagChain& c, size_t target, const std::vector<uint8_t>& file,
                              const LoadSteps& st = {}) {
  ChainDriver d(c);
  auto& dev = static_cast<XilinxDevice&>(c.device(target));
  const int slrs = dev.slrs();
  d.reset();
  if (st.program) {
    d.irScan(irVector(c, target, everySlr(slrs, xinst::kJprogram)));
    c.clocks(st.houseclean, false, false);
  }
  d.irScan(irVector(c, target, oneSlr(slrs, 0, xinst::kCfgIn)));
  d.enterShiftDR();
  // Bytes reach the target through one bypass bit per device on its TDI side.
  Bits tail;
  for (size_t i = 0; i + 1 < file.size(); ++i) c.shiftByte(reverseBits(file[i]));
  if (!file.empty()) tail = bitsOf(reverseBits(file.back()), 8);
  for (size_t i = 0; i < target; ++i) tail.push_back(false);
  if (st.extraBit) tail.push_back(false);
  for (size_t i = 0; i < tail.size(); ++i) d.clock(i + 1 == tail.size(), tail[i]);
  if (tail.empty()) d.clock(true);
  d.tms("10");
  d.irScan(irVector(c, target, everySlr(slrs, xinst::kJstart)));
  c.clocks(st.startup, false, false);
  d.reset();
  Bits cap = d.irScan(irVector(c, target, everySlr(slrs, xinst::kIscNoop)));
  return irCaptureOf(c, target, cap);
}

inline std::unique_ptr<XilinxDevice> makeXilinx(const char* part, DesignFactory f = nullptr,
                                                void (*tweak)(DeviceConfig&) = nullptr) {
  DeviceConfig cfg;
  cfg.part = findPart(part);
  fillDefaultIdentity(cfg, 7);
  if (tweak) tweak(cfg);
  return std::make_unique<XilinxDevice>(cfg, std::move(f));
}

}  // namespace varnsim::test
