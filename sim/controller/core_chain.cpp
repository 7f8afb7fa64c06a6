#include "sim/controller/core_chain.h"

#include "sim/core/intel_device.h"
#include "sim/core/xilinx_device.h"

namespace varnsim {

bool CoreChain::shiftByte(uint8_t tdi, uint8_t* tdo) {
  if (!chain_.canShiftBytes()) return false;
  *tdo = chain_.shiftByte(tdi);
  return true;
}

uint32_t CoreChain::irLength(size_t device) const { return static_cast<uint32_t>(chain_.device(device).irLength()); }

uint32_t CoreChain::idcode(size_t device) const {
  const TapDevice& d = chain_.device(device);
  if (auto* x = dynamic_cast<const XilinxDevice*>(&d))
    return x->part().idcode | const_cast<XilinxDevice*>(x)->settings().version << 28;
  if (auto* i = dynamic_cast<const IntelDevice*>(&d))
    return i->part().idcode | const_cast<IntelDevice*>(i)->settings().version << 28;
  return 0;
}

bool CoreChain::configDone(size_t device) const {
  TapDevice& d = const_cast<JtagChain&>(chain_).device(device);
  if (auto* x = dynamic_cast<XilinxDevice*>(&d)) return x->done();
  if (auto* i = dynamic_cast<IntelDevice*>(&d)) return i->configured();
  return false;
}

FpgaDesign* CoreChain::design(size_t device) const {
  const TapDevice& d = chain_.device(device);
  if (auto* x = dynamic_cast<const XilinxDevice*>(&d)) return x->design();
  if (auto* i = dynamic_cast<const IntelDevice*>(&d)) return i->design();
  return nullptr;
}

SerialLink* CoreChain::uart(size_t device) {
  FpgaDesign* d = device < chain_.size() ? design(device) : nullptr;
  return d ? &d->uart() : nullptr;
}

void CoreChain::advance(uint64_t ns) {
  for (size_t i = 0; i < chain_.size(); ++i)
    if (FpgaDesign* d = design(i)) d->advance(ns);
}

}  // namespace varnsim
