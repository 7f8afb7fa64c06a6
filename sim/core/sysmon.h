// One SLR's system monitor as its DRP port is reached through the SYSMON_DRP JTAG
// register: a 32-bit word with [29:26] command (1 read, 2 write), [25:16] register
// address and [15:0] data. Reads are pipelined: the word captured by the next scan
// carries the result in [15:0]. Sensor registers hold 10-bit ADC codes, MSB-justified
// in 16 bits, with the transfer functions of the on-chip sensors.
#pragma once

#include <cstdint>

namespace varnsim {

class Sysmon {
 public:
  static constexpr uint32_t kRegTemp = 0x00;
  static constexpr uint32_t kRegVccint = 0x01;
  static constexpr uint32_t kRegVccaux = 0x02;
  static constexpr uint32_t kRegVccbram = 0x06;

  static uint16_t tempCode(double celsius);
  static uint16_t voltCode(double volts);
  static double codeToTemp(uint16_t code);
  static double codeToVolts(uint16_t code);

  void setTemp(double c) { temp_ = c; }
  void setVccint(double v) { vccint_ = v; }
  void setVccaux(double v) { vccaux_ = v; }
  void setVccbram(double v) { vccbram_ = v; }
  double temp() const { return temp_; }
  double vccint() const { return vccint_; }
  double vccaux() const { return vccaux_; }
  double vccbram() const { return vccbram_; }

  // Rails the board produces override the set values (the design's regulators).
  void setRailOverride(int rail, bool on, double volts);

  // What Capture-DR loads: the result of the last read.
  uint32_t capture() const { return result_; }
  // Update-DR with the shifted word: runs the command.
  void update(uint32_t word);
  uint16_t readRegister(uint32_t addr) const;

  uint64_t reads() const { return reads_; }
  uint64_t writes() const { return writes_; }

 private:
  double temp_ = 45.0;
  double vccint_ = 0.85;
  double vccaux_ = 1.80;
  double vccbram_ = 0.85;
  bool railOn_[2] = {false, false};
  double rail_[2] = {0, 0};
  uint16_t regs_[1024] = {};  // configuration and alarm registers written over DRP
  uint32_t result_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
};

}  // namespace varnsim
