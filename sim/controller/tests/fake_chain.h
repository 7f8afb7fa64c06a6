// A JTAG chain double for the controller's tests: every device has an IR of its own
// length (capture value 0x1 | index << 2), IDCODE and BYPASS, and a 32-bit user data
// register (instruction 0x02) that captures `userValue` and keeps what is updated into
// it; it also records every bit its data register takes in a scan. Enough TAP to
// check the controller's walks, padding and bit order; the real silicon models live in
// sim/core.
#pragma once

#include <deque>
#include <vector>

#include "sim/controller/controller_chain.h"
#include "sim/controller/controller_tap.h"

namespace ctltest {

struct FakeUart : varnsim::SerialLink {
  std::vector<uint8_t> received;
  std::deque<uint8_t> output;
  void toFpga(const uint8_t* d, size_t n) override { received.insert(received.end(), d, d + n); }
  size_t fromFpga(uint8_t* out, size_t cap) override {
    size_t n = 0;
    while (n < cap && !output.empty()) {
      out[n++] = output.front();
      output.pop_front();
    }
    return n;
  }
  size_t fromFpgaAvailable() const override { return output.size(); }
};

struct FakeDevice {
  uint32_t irLen = 6;
  uint32_t idcode = 0;
  uint32_t ir = 0;          // current instruction
  uint64_t irShift = 0;
  uint64_t drShift = 0;
  uint32_t drLen = 32;
  uint32_t userValue = 0;   // captured by the user register
  std::vector<uint32_t> userWrites;
  std::vector<uint32_t> irLoads;
  // Every bit that entered the data register since its last Capture-DR, in order: what
  // a streaming register (a configuration port) would take.
  std::vector<bool> drIn;
  bool done = false;
  FakeUart uart;
};

class FakeChain : public varnsim::ControllerChain {
 public:
  static constexpr uint32_t kUser = 0x02, kIdcode = 0x09;
  std::vector<FakeDevice> dev;  // dev[0] nearest TDI
  varnsim::Tap state = varnsim::Tap::Reset;
  uint64_t advanced = 0;

  bool clock(bool tms, bool tdi) override;
  // Byte shifts as eight clocks, so the controller's byte path runs against the same model.
  bool byteShifts = true;
  bool shiftByte(uint8_t tdi, uint8_t* tdo) override {
    if (!byteShifts || (state != varnsim::Tap::ShiftDr && state != varnsim::Tap::ShiftIr)) return false;
    *tdo = 0;
    for (int k = 0; k < 8; ++k)
      if (clock(false, (tdi >> k) & 1)) *tdo = static_cast<uint8_t>(*tdo | 1 << k);
    return true;
  }
  size_t deviceCount() const override { return dev.size(); }
  uint32_t irLength(size_t d) const override { return dev[d].irLen; }
  uint32_t idcode(size_t d) const override { return dev[d].idcode; }
  bool configDone(size_t d) const override { return dev[d].done; }
  varnsim::SerialLink* uart(size_t d) override { return d < dev.size() ? &dev[d].uart : nullptr; }
  void advance(uint64_t ns) override { advanced += ns; }
};

}  // namespace ctltest
