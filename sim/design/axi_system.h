// Everything on the design's AXI bus behind the UART-to-AXI master, wired per board
// family:
//
//   0x0000_3000 - 0x0000_3FFF   system monitor (LR)
//   0x0000_9000 - 0x0000_9FFF   AXI IIC controller (LR)
//   0x0000_A000 - 0x0000_AFFF   AXI IIC controller (ZK)
//   0x0012_0000 - 0x0012_FFFF   AXI CDMA registers
//   0x0020_0000 - 0x0020_FFFF   64 KiB staging memory, also at 0x2_0000_0000 (the
//                               address the CDMA engine is given for it)
//   elsewhere below 256 GiB     sparse RAM (backing capped by mem_limit_mib)
//   above                       decode error
//
// The LR I2C bus carries temperature sensors at 0x18 / 0x19 / 0x1F and potentiometers
// at 0x2C / 0x2E / 0x2D for rails 0 / 1 / 2; the ZK bus carries regulators at 0x4D
// (pages 0 and 1: rails 0 and 1, with the module identifier) and 0x4F (page 0: rail 2).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "sim/design/axi_cdma.h"
#include "sim/design/axi_iic.h"
#include "sim/design/axi_space.h"
#include "sim/design/board_power.h"
#include "sim/design/i2c_digipot.h"
#include "sim/design/i2c_temp_sensor.h"
#include "sim/design/lr_sysmon.h"
#include "sim/design/pmbus_regulator.h"
#include "sim/design/sparse_memory.h"

namespace varnsim {

namespace axiaddr {
constexpr uint64_t kSysmonBase = 0x3000, kLrIicBase = 0x9000, kZkIicBase = 0xA000, kCdmaBase = 0x00120000,
                   kStagingLink = 0x00200000, kStagingEngine = 0x200000000ull, kStagingSize = 0x10000;
}

class AxiSystem {
 public:
  AxiSystem(const DesignConfig& cfg, BoardPower& power);

  AxiSpace& space() { return space_; }
  void advance(uint64_t nowNs);

  // Null where the family has no such part.
  AxiIic* iic() { return iic_.get(); }
  LrSysmon* sysmon() { return sysmon_.get(); }
  AxiCdma& cdma() { return cdma_; }
  SparseMemory& ram() { return ram_; }
  FlatMemory& staging() { return staging_; }
  I2cBus& i2cBus() { return bus_; }
  I2cDigipot* pot(int rail) { return rail >= 0 && rail < 3 ? pots_[rail].get() : nullptr; }
  PmbusRegulator* regulator(uint8_t addr7);

 private:
  BoardPower& power_;
  AxiSpace space_;
  SparseMemory ram_;
  FlatMemory staging_;
  I2cBus bus_;
  std::unique_ptr<AxiIic> iic_;
  std::unique_ptr<LrSysmon> sysmon_;
  AxiCdma cdma_;
  std::unique_ptr<I2cTempSensor> temps_[3];
  std::unique_ptr<I2cDigipot> pots_[3];
  std::unique_ptr<PmbusRegulator> reg4D_, reg4F_;
};

}  // namespace varnsim
