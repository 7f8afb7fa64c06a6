// A JTAG chain: devices wired TDI -> device 0 -> device 1 -> ... -> TDO, all on one
// TMS and TCK. Device 0 is the one nearest TDI. An empty chain is a wire from TDI to
// TDO. Faults model what goes wrong on real boards: a TDO line stuck at a level, or
// a break in the chain before some device (its TDI, or the TDO pin, left open and
// pulled up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/core/tap_device.h"

namespace varnsim {

struct ChainFault {
  enum class Kind { None, TdoStuck0, TdoStuck1, Break };
  Kind kind = Kind::None;
  // Break: the input of device `at` is open (at == device count: the TDO pin).
  size_t at = 0;
};

class JtagChain {
 public:
  JtagChain() = default;
  JtagChain(const JtagChain&) = delete;
  JtagChain& operator=(const JtagChain&) = delete;

  void add(std::unique_ptr<TapDevice> dev);
  size_t size() const { return devs_.size(); }
  TapDevice& device(size_t i) { return *devs_[i]; }
  const TapDevice& device(size_t i) const { return *devs_[i]; }

  void setFault(const ChainFault& f) { fault_ = f; }
  const ChainFault& fault() const { return fault_; }

  // The level on the chain's TDO pin right now.
  bool tdo() const;
  // One TCK with these TMS and TDI levels; returns the TDO sample taken before the
  // rising edge.
  bool tick(bool tms, bool tdi);
  // True when every device is in Shift-DR or Shift-IR, so eight clocks with TMS low
  // can run through shiftByte.
  bool canShiftBytes() const;
  // Eight TCKs, TMS low; bit k of tdi is clocked k-th; returns the eight samples.
  uint8_t shiftByte(uint8_t tdi);
  // n TCKs with fixed TMS and TDI whose TDO samples nobody reads (clock-only
  // commands): runs in O(1) once the controllers sit in a state TMS keeps them in.
  void clocks(uint64_t n, bool tms, bool tdi);

  uint64_t tcks() const { return tcks_; }

 private:
  bool inputOpen(size_t i) const { return fault_.kind == ChainFault::Kind::Break && fault_.at == i; }
  bool faultOut(bool level) const;

  std::vector<std::unique_ptr<TapDevice>> devs_;
  ChainFault fault_;
  bool lastTdi_ = true;
  uint64_t tcks_ = 0;
};

}  // namespace varnsim
