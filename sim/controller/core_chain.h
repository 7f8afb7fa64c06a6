// The controller wired to sim/core's silicon: a JtagChain of XilinxDevice and
// IntelDevice parts, their DONE pins and the UARTs of the designs they run.
#pragma once

#include "sim/controller/controller_chain.h"
#include "sim/core/jtag_chain.h"

namespace varnsim {

class CoreChain : public ControllerChain {
 public:
  explicit CoreChain(JtagChain& chain) : chain_(chain) {}
  bool clock(bool tms, bool tdi) override { return chain_.tick(tms, tdi); }
  bool shiftByte(uint8_t tdi, uint8_t* tdo) override;
  size_t deviceCount() const override { return chain_.size(); }
  uint32_t irLength(size_t device) const override;
  uint32_t idcode(size_t device) const override;
  bool configDone(size_t device) const override;
  SerialLink* uart(size_t device) override;
  void advance(uint64_t ns) override;

 private:
  FpgaDesign* design(size_t device) const;
  JtagChain& chain_;
};

}  // namespace varnsim
