#include "sim/core/sysmon.h"

#include <cmath>

namespace varnsim {

namespace {

constexpr double kTempGain = 509.3140064;
constexpr double kTempOffset = 280.2308787;

uint16_t code10(double fraction) {
  double c = std::round(fraction * 1024.0);
  if (c < 0) c = 0;
  if (c > 1023) c = 1023;
  return static_cast<uint16_t>(static_cast<unsigned>(c) << 6);
}

}  // namespace

uint16_t Sysmon::tempCode(double celsius) { return code10((celsius + kTempOffset) / kTempGain); }
uint16_t Sysmon::voltCode(double volts) { return code10(volts / 3.0); }
double Sysmon::codeToTemp(uint16_t code) { return code * kTempGain / 65536.0 - kTempOffset; }
double Sysmon::codeToVolts(uint16_t code) { return code / 65536.0 * 3.0; }

void Sysmon::setRailOverride(int rail, bool on, double volts) {
  if (rail < 0 || rail > 1) return;
  railOn_[rail] = on;
  rail_[rail] = volts;
}

uint16_t Sysmon::readRegister(uint32_t addr) const {
  const double vint = railOn_[0] ? rail_[0] : vccint_;
  const double vbram = railOn_[1] ? rail_[1] : vccbram_;
  switch (addr) {
    case 0x00: case 0x20: case 0x24: return tempCode(temp_);  // current, maximum, minimum
    case 0x01: case 0x21: case 0x25: return voltCode(vint);
    case 0x02: case 0x22: case 0x26: return voltCode(vccaux_);
    case 0x06: return voltCode(vbram);
    default: return regs_[addr & 0x3FF];
  }
}

void Sysmon::update(uint32_t word) {
  const uint32_t cmd = (word >> 26) & 0xF;
  const uint32_t addr = (word >> 16) & 0x3FF;
  if (cmd == 1) {
    result_ = readRegister(addr);
    ++reads_;
  } else if (cmd == 2) {
    if (addr >= 0x40) regs_[addr] = static_cast<uint16_t>(word & 0xFFFF);  // sensors are read-only
    ++writes_;
  }
}

}  // namespace varnsim
