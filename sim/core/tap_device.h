// One device on a JTAG chain as its pins see it: an IEEE 1149.1 TAP controller, the
// instruction register and whatever data register the current instruction selects.
//
// Edge model (per TCK):
//   - the level on TDO before the rising edge is what the cable samples (tick()
//     returns it); TDO changes only on the falling edge;
//   - rising edge: Capture-xR loads the register, Shift-xR shifts TDI in, the
//     controller moves on TMS;
//   - falling edge: Update-xR latches, entering Test-Logic-Reset resets, and in the
//     Shift states the register's new LSB is driven on TDO. Outside them the driver
//     is off and the line keeps its last driven level (the bus keeper that a real
//     line with its pull-up and capacitance amounts to at MHz clock rates).
#pragma once

#include <cstdint>

#include "sim/core/tap.h"

namespace varnsim {

class TapDevice {
 public:
  explicit TapDevice(int irLength);
  virtual ~TapDevice() = default;
  TapDevice(const TapDevice&) = delete;
  TapDevice& operator=(const TapDevice&) = delete;

  int irLength() const { return irLen_; }
  TapState state() const { return state_; }
  uint64_t instruction() const { return ir_; }
  bool tdo() const { return tdo_; }

  // Power-on: Test-Logic-Reset with the reset instruction. The chain calls it when the
  // device is wired in; the first TCK does it otherwise.
  void powerOn();

  // One TCK. Returns the TDO level present before the rising edge.
  bool tick(bool tms, bool tdi);
  // Eight TCKs with TMS low while in Shift-DR or Shift-IR (the caller checks);
  // bit k of `tdi` is clocked k-th; bit k of the result is the k-th TDO sample.
  uint8_t shiftByte(uint8_t tdi);
  // n TCKs with TMS held at a level that keeps the controller where it is
  // (tapStable); the caller checks. Shift states are not held here.
  void holdClocks(uint64_t n);

  uint64_t tcks() const { return tcks_; }
  // Rising edges spent in Run-Test/Idle.
  uint64_t idleTcks() const { return idle_; }

 protected:
  // Capture-IR value; IEEE 1149.1 asks for ...01 in the two low bits.
  virtual uint64_t captureIR() = 0;
  // Update-IR: `ir` is the new instruction.
  virtual void updateIR(uint64_t ir) = 0;
  // Entering Test-Logic-Reset; returns the instruction it forces (IDCODE or BYPASS).
  virtual uint64_t testLogicReset() = 0;
  virtual void captureDR() = 0;
  virtual bool drOut() const = 0;
  virtual void shiftDR(bool tdi) = 0;
  // Eight Shift-DR clocks at once; the default clocks shiftDR eight times.
  virtual uint8_t shiftDRByte(uint8_t tdi);
  virtual void updateDR() = 0;

  uint64_t irMask() const { return irLen_ >= 64 ? ~uint64_t{0} : (uint64_t{1} << irLen_) - 1; }

 private:
  void fallingEdge(TapState prev);

  int irLen_;
  TapState state_ = TapState::TestLogicReset;
  uint64_t ir_ = 0;
  uint64_t irShift_ = 0;
  bool tdo_ = true;  // the line idles at its pull-up level until first driven
  uint64_t tcks_ = 0;
  uint64_t idle_ = 0;
  bool resetDone_ = false;
};

}  // namespace varnsim
