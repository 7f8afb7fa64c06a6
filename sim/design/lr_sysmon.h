// The LR board's AXI system monitor (SYSMONE4 behind its AXI wrapper, window base
// 0x3000). Status registers hold 16-bit codes, 10-bit conversions left-justified:
//   0x400 die temperature       (code x 509.3140064 / 65536 - 280.23087 degrees)
//   0x404 VCCINT  0x418 VCCBRAM  0x60C VCCHBM   (code x 3 / 65536 volts)
//   0x440 VAUX0: board input through a 1:15.2 divider (code x 15.2 / 65536 volts)
//   0x454 / 0x474 / 0x470  VAUX5 / VAUX13 / VAUX12: input current of the VCCINT,
//         VCCBRAM, VCCHBM converters through shunt amplifiers of 10, 1.6 and 2.67 A
//         full scale (code x k / 65536 amps)
#pragma once

#include "sim/design/axi_space.h"
#include "sim/design/board_power.h"

namespace varnsim {

class LrSysmon : public AxiRegisters {
 public:
  explicit LrSysmon(const BoardPower& power) : power_(power) {}
  AxiResp read32(uint32_t off, uint32_t* value) override;
  AxiResp write32(uint32_t, uint32_t) override { return AxiResp::Okay; }

  // The 16-bit code for a value on a full scale (10-bit conversion, saturating).
  static uint16_t code(double value, double fullScale);

  void setDieTempC(double t) { dieTemp_ = t; }

 private:
  const BoardPower& power_;
  double dieTemp_ = 50.0;
};

}  // namespace varnsim
