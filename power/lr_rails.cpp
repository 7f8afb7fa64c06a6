// LR boards: temperature sensors and potentiometers on the design's I2C bus, rail
// voltages and input currents from the system monitor.
#include <mutex>

#include "app/log/varn_log.h"
#include "axi/varn_axi.h"
#include "power/axi_i2c.h"
#include "power/axi_i2c_controller.h"

double LRVCCINTTbl[256];
double LRVCCBRAMTbl[256];
double LRVCCHBMTbl[256];
bool _LRVoltTablesInitialized = false;

namespace {

constexpr uint64_t kBase = varn_iic::kLrBase;
constexpr uint64_t kSysmonVolt[3] = {0x3404, 0x3418, 0x360C};
constexpr uint64_t kSysmonAmp[3] = {0x3454, 0x3474, 0x3470};
constexpr uint64_t kSysmonInput = 0x3440;
constexpr double kAmpScale[3] = {10.0, 1.6, 2.67};
constexpr uint8_t kTempSensor[3] = {0x18, 0x19, 0x1F};
std::once_flag tablesOnce;

const double* tableFor(uint8_t rail) {
  if (rail == 0) return LRVCCINTTbl;
  if (rail == 2) return LRVCCHBMTbl;
  return LRVCCBRAMTbl;
}

uint8_t potFor(uint8_t rail) {
  if (rail == 0) return 0x2C;
  if (rail == 2) return 0x2D;
  if (rail == 1) return 0x2E;
  return 0;
}

}  // namespace

void _VARNLRVoltTablesInit() {
  std::call_once(tablesOnce, [] {
    for (int i = 0; i < 256; ++i) {
      LRVCCINTTbl[i] = 2.661 / (20 - 2048 / (i + 153.6)) + 0.6;
      LRVCCBRAMTbl[i] = 3.45 / (20 - 2048 / (i + 204.8)) + 0.6;
      LRVCCHBMTbl[i] = 9.03 / (20 - 2048 / (i + 256.512)) + 0.6;
    }
    _LRVoltTablesInitialized = true;
  });
}

double ConvIICTemp(uint8_t upper, uint8_t lower) {
  if (upper & 0x10) return 256 - (lower * 0.0625 + (upper & 0x0F) * 16);
  return lower * 0.0625 + (upper & 0x1F) * 16;
}

double ConvVolt(uint32_t raw) { return raw * 3.0 / 65536; }

uint8_t _VARNLRVoltToCode(uint8_t rail, double volts) {
  _VARNLRVoltTablesInit();
  const double* t = tableFor(rail);
  // The table falls as the code rises.
  if (volts <= t[255]) return 255;
  if (volts >= t[0]) return 0;
  int d = 128;
  if (volts == t[128]) return 128;
  d = volts < t[128] ? 192 : 64;
  for (int step : {32, 16, 8, 4, 2}) {
    if (volts < t[d]) {
      d += step;
    } else if (volts > t[d]) {
      d -= step;
    } else {
      return uint8_t(d);
    }
  }
  if (volts < t[d]) {
    d += 1;
  } else if (volts > t[d]) {
    d -= 1;
  }
  return uint8_t(d);
}

int _VARNLRTempRead(_VARNAXI* axi, uint8_t rail, double* out) {
  uint8_t sensor = rail < 3 ? kTempSensor[rail] : 0;
  // Point the sensor at its temperature register (5), then read two bytes.
  if (varn_iic::waitIdle(axi, kBase) != 0) return 1;
  if (varn_iic::put(axi, kBase + varn_iic::kSoftReset, varn_iic::kSoftResetKey) != 0) return 1;
  const uint32_t words[] = {varn_iic::kStart | (uint32_t(sensor) << 1), varn_iic::kStop | 0x05};
  if (varn_iic::transmit(axi, kBase, words, 2) != 0) return 1;
  uint8_t b[2];
  if (_VARNLRI2CRead(axi, sensor, b, 2) != 0) return 1;
  *out = ConvIICTemp(b[0], b[1]);
  return 0;
}

int _VARNLRVoltRead(_VARNAXI* axi, uint8_t rail, double* out) {
  if (rail > 2) {
    *out = 0;
    return 0;
  }
  uint32_t raw = 0;
  if (VARNAXIRead(axi, &raw, kSysmonVolt[rail]) != 0) return 1;
  *out = ConvVolt(raw);
  return 0;
}

int _VARNLRAmpRead(_VARNAXI* axi, uint8_t rail, double* out) {
  if (rail > 2) return 1;
  uint32_t rawIn = 0;
  if (VARNAXIRead(axi, &rawIn, kSysmonInput) != 0) return 1;
  double input = rawIn * 15.2 / 65536;
  // A missing or idle input channel gives no current figure.
  if (input < 10 || input > 15) return 1;
  uint32_t c = 0, v = 0;
  VARNAXIRead(axi, &c, kSysmonAmp[rail]);
  if (VARNAXIRead(axi, &v, kSysmonVolt[rail]) != 0) return 1;
  // A rail reading of zero volts would divide by zero: no figure rather than infinity.
  if (v == 0) return 1;
  // Input power for the rail at 90 % conversion efficiency, over the rail voltage.
  *out = input * (c * kAmpScale[rail] / 65536) * 0.9 / (v * 3.0 / 65536);
  return 0;
}

int _VARNLRVoltWrite(_VARNAXI* axi, uint8_t rail, double volts) {
  uint8_t code = _VARNLRVoltToCode(rail, volts);
  uint8_t pot = potFor(rail);
  if (varn_iic::waitIdle(axi, kBase) != 0) return 1;
  if (varn_iic::put(axi, kBase + varn_iic::kSoftReset, varn_iic::kSoftResetKey) != 0) return 1;
  const uint32_t words[] = {varn_iic::kStart | (uint32_t(pot) << 1), 0x00, varn_iic::kStop | code};
  return varn_iic::transmit(axi, kBase, words, 3);
}

int _VARNLRVoltChg(_VARNAXI* axi, int8_t rail, int hundredths) {
  double present = 0;
  if (rail >= 0 && rail <= 2) {
    if (_VARNLRVoltRead(axi, uint8_t(rail), &present) != 0) return VARN_RAIL_READ_FAILED;
  }
  double target = present + hundredths * 0.01;
  if (rail == 0 && target > 0.935) target = 0.94;
  if (rail == 1 && target > 0.925) target = 0.92;
  if (rail == 2 && target > 1.325) target = 1.35;
  target = varnRailFloor(rail, target);
  VARNLog("Changing LR Rail %i to target %0.2f\n", rail, target);
  return _VARNLRVoltWrite(axi, uint8_t(rail), target);
}
