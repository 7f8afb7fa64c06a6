// The controller's JTAG master: drives TMS/TDI clock by clock and keeps track of the
// TAP state the chain is in, so it can walk the TAP itself in device-abstraction mode.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/controller/controller_chain.h"

namespace varnsim {

// IEEE 1149.1 state codes.
enum class Tap : uint8_t {
  Exit2Dr = 0, Exit1Dr, ShiftDr, PauseDr, SelectIr, UpdateDr, CaptureDr, SelectDr,
  Exit2Ir, Exit1Ir, ShiftIr, PauseIr, Idle, UpdateIr, CaptureIr, Reset,
};

Tap tapNext(Tap s, bool tms);

class TapMaster {
 public:
  explicit TapMaster(ControllerChain& chain) : chain_(chain) {}
  Tap state() const { return state_; }
  uint64_t clocks() const { return clocks_; }

  bool clock(bool tms, bool tdi);
  // Five clocks with TMS high reach Test-Logic-Reset from anywhere.
  void reset();
  // Shortest TMS walk to the target (no move when already there).
  void goTo(Tap target);
  // In a shift state: clocks n bits, TMS high on the last one when exitAfter.
  // tdi/tdo hold bit k at bit (k % 8) of byte k / 8, or bit 7 - k % 8 with msbFirst;
  // a null tdi shifts fill, a null tdo discards.
  void shift(uint32_t n, const uint8_t* tdi, uint8_t* tdo, bool exitAfter, bool msbFirst = false, bool fill = false);

 private:
  ControllerChain& chain_;
  // Unknown at power-up: the first walk resets first.
  Tap state_ = Tap::Reset;
  bool known_ = false;
  uint64_t clocks_ = 0;
};

}  // namespace varnsim
