#include "sim/design/lr_sysmon.h"

#include <cmath>

namespace varnsim {

uint16_t LrSysmon::code(double value, double fullScale) {
  if (!(value > 0) || fullScale <= 0) return 0;
  long ten = std::lround(value / fullScale * 1024.0);
  if (ten > 1023) ten = 1023;
  return static_cast<uint16_t>(ten << 6);
}

AxiResp LrSysmon::read32(uint32_t off, uint32_t* value) {
  switch (off) {
    case 0x400: *value = code(dieTemp_ + 280.23087, 509.3140064); break;
    case 0x404: *value = code(power_.volts(0), 3.0); break;
    case 0x418: *value = code(power_.volts(1), 3.0); break;
    case 0x60C: *value = code(power_.volts(2), 3.0); break;
    case 0x440: *value = code(power_.inputVolts(), 15.2); break;
    case 0x454: *value = code(power_.inputAmps(0), 10.0); break;
    case 0x474: *value = code(power_.inputAmps(1), 1.6); break;
    case 0x470: *value = code(power_.inputAmps(2), 2.67); break;
    default: *value = 0; break;
  }
  return AxiResp::Okay;
}

}  // namespace varnsim
