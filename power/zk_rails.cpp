// ZK boards: two regulator controllers on the design's I2C bus, 0x4D for VCCINT and
// VCCBRAM (and the module identifier) and 0x4F for VCCHBM, with 16-bit registers
// reached through command 0xD0.
#include <cmath>

#include "app/log/varn_log.h"
#include "axi/varn_axi.h"
#include "power/axi_i2c.h"
#include "power/axi_i2c_controller.h"
#include "power/module_patch.h"

namespace {

constexpr uint8_t kMain = 0x4D;
constexpr uint8_t kHbm = 0x4F;
constexpr uint16_t kModuleId = 0x003C;

struct RailRegs {
  uint8_t device;
  uint16_t volt, amp, temp, target;
};
constexpr RailRegs kRails[3] = {
    {kMain, 0x0716, 0x0718, 0x071A, 0x0642},
    {kMain, 0x0B16, 0x0B18, 0x0B1A, 0x0A42},
    {kHbm, 0x0716, 0x0718, 0x071A, 0x0642},
};

const RailRegs* railRegs(uint8_t rail) {
  if (rail > 2) {
    VARNLog("ZK rail %u does not exist (0 VCCINT, 1 VCCBRAM, 2 VCCHBM)\n", unsigned(rail));
    return nullptr;
  }
  return &kRails[rail];
}

int readTwo(_VARNAXI* axi, uint8_t device, uint16_t reg, uint8_t* b) { return _VARNZKI2CReadEx(axi, device, reg, b, 2); }

// A register write is the 6-byte sequence D0 04 reg-low reg-high value-low value-high.
int writeRegister(_VARNAXI* axi, uint8_t device, uint16_t reg, uint16_t value) {
  const uint8_t bytes[] = {0xD0, 0x04, uint8_t(reg & 0xFF), uint8_t(reg >> 8), uint8_t(value & 0xFF),
                           uint8_t(value >> 8)};
  return _VARNZKI2CWrite(axi, device, bytes, sizeof(bytes));
}

}  // namespace

int _VARNZKTempRead(_VARNAXI* axi, uint8_t rail, double* out) {
  const RailRegs* r = railRegs(rail);
  uint8_t b[2];
  if (!r || readTwo(axi, r->device, r->temp, b) != 0) return 1;
  *out = b[0] + b[1] / 256.0;
  return 0;
}

int _VARNZKVoltRead(_VARNAXI* axi, uint8_t rail, double* out) {
  const RailRegs* r = railRegs(rail);
  uint8_t b[2];
  if (!r || readTwo(axi, r->device, r->volt, b) != 0) return 1;
  *out = b[1] + b[0] / 256.0;
  return 0;
}

int _VARNZKAmpRead(_VARNAXI* axi, uint8_t rail, double* out) {
  const RailRegs* r = railRegs(rail);
  uint8_t b[2];
  if (!r || readTwo(axi, r->device, r->amp, b) != 0) return 1;
  uint8_t low = b[0], high = b[1];
  int mantissa = ((high & 0x07) << 8) | low;
  int exponent = int(int8_t(high)) >> 3;  // signed 5-bit
  *out = std::ldexp(double(mantissa), exponent);
  return 0;
}

int _VARNZKVoltWrite(_VARNAXI* axi, uint8_t rail, double volts) {
  const RailRegs* r = railRegs(rail);
  if (!r) return 1;
  // Volts in 1/256 steps, truncated; kept inside the 16-bit register.
  double scaled = volts * 256;
  if (!(scaled >= 0)) scaled = 0;
  if (scaled > 65535) scaled = 65535;
  return writeRegister(axi, r->device, r->target, uint16_t(unsigned(scaled)));
}

int _VARNZKVoltChg(_VARNAXI* axi, uint8_t rail, int hundredths) {
  double present = 0;
  if (_VARNZKVoltRead(axi, rail, &present) != 0) return VARN_RAIL_READ_FAILED;
  double target = present + hundredths * 0.01;
  if (rail == 0 && target > 0.935) target = 0.94;
  if (rail == 1 && target > 0.925) target = 0.92;
  if (rail == 2 && target > 1.325) target = 1.35;
  target = varnRailFloor(rail, target);
  VARNLog("Changing ZK Rail %i to target %0.2f\n", rail, target);
  return _VARNZKVoltWrite(axi, rail, target);
}

int _VARNZKPatch(_VARNAXI* axi) {
  uint8_t b[2];
  if (readTwo(axi, kMain, kModuleId, b) != 0) {
    VARNLog("Failed checking VRM ID during patch check\n");
    return 1;
  }
  uint16_t id = uint16_t(b[0] | (b[1] << 8));
  if (!VARNModuleNeedsPatch(id)) return 0;
  for (const VARNModulePatchStep& s : kVARNModulePatch) {
    if (writeRegister(axi, kMain, s.reg, s.value) != 0) {
      VARNLog("%s", s.failure);
      return 1;
    }
  }
  return 0;
}
