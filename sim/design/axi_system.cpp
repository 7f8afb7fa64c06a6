#include "sim/design/axi_system.h"

namespace varnsim {

AxiSystem::AxiSystem(const DesignConfig& cfg, BoardPower& power)
    : power_(power),
      ram_(AxiSpace::kRamTop, uint64_t{cfg.memLimitMiB} << 20),
      staging_(axiaddr::kStagingSize),
      cdma_(space_, cfg.cdmaMBps, cfg.cdmaLatencyNs) {
  space_.setRam(&ram_);
  space_.mapRegisters(axiaddr::kCdmaBase, 0x10000, &cdma_);
  space_.mapMemory(axiaddr::kStagingLink, axiaddr::kStagingSize, &staging_);
  space_.mapMemory(axiaddr::kStagingEngine, axiaddr::kStagingSize, &staging_);

  if (cfg.family == BoardFamily::LR) {
    iic_ = std::make_unique<AxiIic>(bus_, cfg.i2cKhz);
    space_.mapRegisters(axiaddr::kLrIicBase, 0x1000, iic_.get());
    sysmon_ = std::make_unique<LrSysmon>(power_);
    space_.mapRegisters(axiaddr::kSysmonBase, 0x1000, sysmon_.get());
    const uint8_t tempAddr[3] = {0x18, 0x19, 0x1F};
    const uint8_t potAddr[3] = {0x2C, 0x2E, 0x2D};
    for (int r = 0; r < 3; ++r) {
      temps_[r] = std::make_unique<I2cTempSensor>([this, r] { return power_.tempC(r); });
      pots_[r] = std::make_unique<I2cDigipot>(lrPotCodeFor(r, power_.volts(r)),
                                             [this, r](int code) { power_.setVolts(r, lrPotVolts(r, code)); });
      bus_.attach(tempAddr[r], temps_[r].get());
      bus_.attach(potAddr[r], pots_[r].get());
    }
  } else if (cfg.family == BoardFamily::ZK) {
    iic_ = std::make_unique<AxiIic>(bus_, cfg.i2cKhz);
    space_.mapRegisters(axiaddr::kZkIicBase, 0x1000, iic_.get());
    reg4D_ = std::make_unique<PmbusRegulator>(power_, std::vector<int>{0, 1}, true, cfg.vrmModuleId);
    reg4F_ = std::make_unique<PmbusRegulator>(power_, std::vector<int>{2}, false, 0);
    bus_.attach(0x4D, reg4D_.get());
    bus_.attach(0x4F, reg4F_.get());
  }
}

PmbusRegulator* AxiSystem::regulator(uint8_t addr7) {
  if (addr7 == 0x4D) return reg4D_.get();
  if (addr7 == 0x4F) return reg4F_.get();
  return nullptr;
}

void AxiSystem::advance(uint64_t nowNs) {
  if (iic_) iic_->advance(nowNs);
  cdma_.advance(nowNs);
}

}  // namespace varnsim
