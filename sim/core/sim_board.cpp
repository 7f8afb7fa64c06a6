#include "sim/core/sim_board.h"

#include "app/platform/varn_platform.h"
#include "sim/design/design.h"

namespace varnsim {

DesignFactory standardDesignFactory() {
  return [](const DesignOptions& o, std::string* error) -> std::unique_ptr<FpgaDesign> {
    return makeDesignChecked(o, error);
  };
}

std::unique_ptr<SimBoard> SimBoard::empty(const std::string& name) {
  std::unique_ptr<SimBoard> b(new SimBoard());
  b->name_ = name;
  b->desc_.name = name;
  return b;
}

std::unique_ptr<SimBoard> SimBoard::build(const BoardSpec& desc, const DesignFactory& factory, std::string* error) {
  std::unique_ptr<SimBoard> b(new SimBoard());
  b->name_ = desc.name;
  b->desc_ = desc;
  b->wall_ = desc.wallClock;
  if (b->wall_) b->wallStartNs_ = varn_monotonic_ns();
  for (size_t i = 0; i < desc.devices.size(); ++i) {
    const DeviceConfig& cfg = desc.devices[i].cfg;
    // Refuse bad design options now, not when the FPGA is first configured.
    if (factory && !cfg.preconfigured) {
      std::string e;
      if (!factory(cfg.design, &e)) {
        if (error) *error = "board '" + desc.name + "' device " + std::to_string(i) + ": " + e;
        return nullptr;
      }
    }
    if (cfg.part->vendor == Vendor::Xilinx) {
      auto d = std::make_unique<XilinxDevice>(cfg, factory);
      if (cfg.preconfigured && factory && !d->design()) {
        if (error)
          *error = "board '" + desc.name + "' device " + std::to_string(i) + ": " + d->designSlot().lastError();
        return nullptr;
      }
      b->xilinx_.push_back(d.get());
      b->intel_.push_back(nullptr);
      b->chain_.add(std::move(d));
    } else {
      auto d = std::make_unique<IntelDevice>(cfg, factory);
      b->xilinx_.push_back(nullptr);
      b->intel_.push_back(d.get());
      b->chain_.add(std::move(d));
    }
  }
  b->chain_.setFault(desc.fault);
  return b;
}

FpgaDesign* SimBoard::design(size_t i) {
  if (XilinxDevice* x = xilinx(i)) {
    x->settle();
    return x->design();
  }
  if (IntelDevice* d = intel(i)) return d->design();
  return nullptr;
}

uint64_t SimBoard::now() {
  if (wall_) {
    const uint64_t wallPs = (varn_monotonic_ns() - wallStartNs_) * 1000;
    if (wallPs > nowPs_) advanceTo(wallPs);
  }
  return nowPs_;
}

void SimBoard::advanceTo(uint64_t ps) {
  if (ps > nowPs_) nowPs_ = ps;
  const uint64_t ns = (nowPs_ - designPs_) / 1000;
  if (!ns) return;
  designPs_ += ns * 1000;
  for (size_t i = 0; i < chain_.size(); ++i)
    if (FpgaDesign* d = design(i)) d->advance(ns);
}

}  // namespace varnsim
