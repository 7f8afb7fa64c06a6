// The regulators of one FPGA module as the board controller's I2C bus for that slot
// reaches them: 0x4D and 0x4F, Infineon-style, with the page layout of the module's
// FPGA type. The regulator models are sim/design's; the rails they feed live here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/design/board_power.h"
#include "sim/design/pmbus_regulator.h"

namespace varnsim {

enum class VrmLayout {
  Vu3xP,   // 0x4D: VCCINT, VCCBRAM (pages 0, 1); 0x4F: VCCHBM
  TwoRail, // 0x4D: VCCINT; 0x4F: VCCBRAM (VU9P, VU13P, GX2800)
  Mx2100,  // 0x4D: VCCINT, VCCHBM (pages 0, 1); 0x4F: VCCBRAM
};

// The layout that the module around an FPGA with this IDCODE carries.
VrmLayout vrmLayoutFor(uint32_t idcode);
bool parseVrmLayout(const std::string& text, VrmLayout* out);

struct SlotPowerConfig {
  VrmLayout layout = VrmLayout::Vu3xP;
  uint16_t moduleId = 0x00A3;
  double railVolts[3] = {0.85, 0.85, 1.20};  // VCCINT, VCCBRAM, VCCHBM
  double railAmps[3] = {40.0, 3.0, 8.0};
  double railTempC[3] = {45.0, 40.0, 42.0};
};

class SlotPower {
 public:
  explicit SlotPower(const SlotPowerConfig& cfg);
  // One I2C transfer: the write bytes (if any), then, after a repeated START, readCount
  // bytes. Register reads are SMBus block reads: the device's byte count is consumed
  // here, the data bytes are returned. 0, or a negative-answer code: 4 when the address
  // is not acknowledged.
  int transfer(uint8_t addr7, const uint8_t* write, size_t writeLen, uint16_t readCount, std::vector<uint8_t>* out);
  PmbusRegulator* regulator(uint8_t addr7);
  BoardPower& power() { return power_; }

 private:
  BoardPower power_;
  std::unique_ptr<PmbusRegulator> vrm4d_, vrm4f_;
};

}  // namespace varnsim
