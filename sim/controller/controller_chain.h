// What a board controller's JTAG master and UART transceivers are wired to: the pins
// of the board's JTAG chain and the serial channel of each FPGA. The simulated silicon
// (sim/core) sits behind it; the controller knows nothing else of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/common/fpga_fabric.h"

namespace varnsim {

class ControllerChain {
 public:
  virtual ~ControllerChain() = default;
  // One TCK with the given TMS and TDI; returns TDO as sampled on that clock.
  virtual bool clock(bool tms, bool tdi) = 0;
  // Eight TCKs with TMS low, bit k of tdi clocked k-th, when the chain can take them
  // at once (every device in a shift state); false when not, and nothing was clocked.
  virtual bool shiftByte(uint8_t tdi, uint8_t* tdo) {
    (void)tdi;
    (void)tdo;
    return false;
  }
  // Devices on the chain, numbered from the TDI side: device i has i devices between
  // itself and TDI.
  virtual size_t deviceCount() const = 0;
  // What the board's controller knows of its own hardware.
  virtual uint32_t irLength(size_t device) const = 0;
  virtual uint32_t idcode(size_t device) const = 0;
  // The device's configuration DONE pin.
  virtual bool configDone(size_t device) const = 0;
  // The serial channel of the device's design, or null when it has none.
  virtual SerialLink* uart(size_t device) = 0;
  // Simulated time passes for every device (designs run, consoles print).
  virtual void advance(uint64_t ns) = 0;
};

}  // namespace varnsim
