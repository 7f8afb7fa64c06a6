// Rail readings, set points and module patches on top of the register transfers.
#include <cmath>

#include "app/log/varn_log.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/varn_jtag_handle.h"
#include "power/module_patch.h"
#include "power/varn_vrm.h"
#include "power/vrm_internal.h"

namespace {

bool validRail(uint32_t rail) { return rail == 0 || rail == 2 || rail == 4; }

// Device checks, then the rail: valid and served by a regulator on this device type.
int checkRail(VARNJtag* jtag, uint32_t device, uint32_t rail, uint8_t* addr, uint8_t* page) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  if (!validRail(rail)) return VARN_VRM_BAD_ARGUMENT;
  int32_t type = jtag->deviceType[device];
  *addr = _VARNVRMRailI2CAddr(type, rail);
  *page = _VARNVRMRailI2CPage(type, rail);
  return *addr ? 0 : 4;
}

uint16_t readingRegister(uint16_t base, uint8_t page) { return static_cast<uint16_t>(base + page * 0x400); }
// The limit registers step by 400 per page, not 0x400.
uint16_t limitRegister(uint16_t base, uint8_t page) { return static_cast<uint16_t>(base + page * 400); }

double decodeTemp(const uint8_t b[2]) { return b[0]; }

double decodeVolts(const uint8_t b[2]) { return (b[1] << 8 | b[0]) / 256.0; }

// Linear-11: signed 5-bit exponent in the top bits of the high byte; the mantissa is
// taken without sign.
double decodeAmps(const uint8_t b[2]) {
  int exponent = static_cast<int8_t>(b[1]) >> 3;
  int mantissa = ((b[1] & 0x07) << 8) | b[0];
  return std::ldexp(static_cast<double>(mantissa), exponent);
}

int readRail(VARNJtag* jtag, uint32_t device, uint32_t rail, uint16_t base, uint8_t out[2]) {
  uint8_t addr, page;
  int rc = checkRail(jtag, device, rail, &addr, &page);
  if (rc) return rc;
  return _VARNVRMReadBytes(jtag, device, addr, readingRegister(base, page), out);
}

// volts x 256 as the register holds it; false when the register cannot hold it (a
// negative, non-finite or too large request would otherwise wrap into a different
// voltage).
bool voltsCode(double volts, uint16_t* code) {
  double scaled = volts * 256.0;
  if (!std::isfinite(scaled) || scaled < 0 || scaled >= 65536.0) {
    VARNLog("VRM voltage %f V out of the register's range\n", volts);
    return false;
  }
  *code = static_cast<uint16_t>(static_cast<unsigned>(scaled));
  return true;
}

}  // namespace

int VARNJtagHasVRMRail(VARNJtag* jtag, uint32_t device, uint32_t rail) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  if (rail == 0 || rail == 2) return 0;
  if (rail != 4) return VARN_VRM_BAD_ARGUMENT;
  int32_t type = jtag->deviceType[device];
  return type == JTAG_DEV_VU33P || type == JTAG_DEV_VU35P || type == JTAG_DEV_MX2100 ? 0 : 4;
}

int VARNJtagGetVRMTemp(VARNJtag* jtag, uint32_t device, uint32_t rail, double* celsius) {
  uint8_t b[2];
  int rc = readRail(jtag, device, rail, VARN_VRM_REG_TEMP, b);
  if (rc) return rc;
  if (celsius) *celsius = decodeTemp(b);
  return 0;
}

int VARNJtagGetVRMVoltage(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts) {
  uint8_t b[2];
  int rc = readRail(jtag, device, rail, VARN_VRM_REG_VOUT, b);
  if (rc) return rc;
  if (volts) *volts = decodeVolts(b);
  return 0;
}

int VARNJtagGetVRMCurrent(VARNJtag* jtag, uint32_t device, uint32_t rail, double* amps) {
  uint8_t b[2];
  int rc = readRail(jtag, device, rail, VARN_VRM_REG_IOUT, b);
  if (rc) return rc;
  if (amps) *amps = decodeAmps(b);
  return 0;
}

void VARNJtagGetVRMReadings(VARNJtag* jtag, uint32_t device, VARNVrmReading* readings, uint32_t count) {
  if (count > VARN_VRM_MAX_READINGS) count = VARN_VRM_MAX_READINGS;
  uint8_t answers[VARN_VRM_MAX_READINGS][16];
  uint32_t lengths[VARN_VRM_MAX_READINGS] = {};
  bool queued[VARN_VRM_MAX_READINGS] = {};
  {
    VarnJtagQueueScope queue(jtag);
    for (uint32_t i = 0; i < count; ++i) {
      VARNVrmReading& r = readings[i];
      uint8_t addr, page;
      r.rc = checkRail(jtag, device, r.rail, &addr, &page);
      if (r.rc != 0) continue;
      const uint16_t base = r.quantity == VARN_VRM_TEMP    ? VARN_VRM_REG_TEMP
                            : r.quantity == VARN_VRM_VOLTS ? VARN_VRM_REG_VOUT
                                                           : VARN_VRM_REG_IOUT;
      r.rc = _VARNVRMQueueRead(jtag, device, addr, readingRegister(base, page), answers[i], &lengths[i]);
      queued[i] = r.rc == 0;
    }
    // Each reading is judged by its own answer, not by the flush as a whole.
    varn_jtag_comm_flush(jtag);
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!queued[i]) continue;
    VARNVrmReading& r = readings[i];
    if (lengths[i] != 2) {
      r.rc = VARN_VRM_TRANSFER_FAILED;
      continue;
    }
    const double v = r.quantity == VARN_VRM_TEMP    ? decodeTemp(answers[i])
                     : r.quantity == VARN_VRM_VOLTS ? decodeVolts(answers[i])
                                                    : decodeAmps(answers[i]);
    if (r.out) *r.out = v;
  }
}

int VARNJtagSetVRMVoltSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double volts) {
  uint8_t addr, page;
  int rc = checkRail(jtag, device, rail, &addr, &page);
  if (rc) return rc;
  uint16_t code;
  if (!voltsCode(volts, &code)) return VARN_VRM_BAD_ARGUMENT;
  return _VARNVRMWrite(jtag, device, addr, readingRegister(VARN_VRM_REG_VOUT_TARGET, page), code);
}

int VARNJtagSetVRMVoltOVSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double volts) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  int32_t type = jtag->deviceType[device];
  if (JTAG_VENDORS[type] == JTAG_VENDOR_INTEL) return VARN_VRM_BAD_ARGUMENT;
  if (rail != 0 && rail != 2) return VARN_VRM_BAD_ARGUMENT;
  uint8_t addr = _VARNVRMRailI2CAddr(type, rail);
  uint8_t page = _VARNVRMRailI2CPage(type, rail);
  uint16_t code;
  if (!voltsCode(volts, &code)) return VARN_VRM_BAD_ARGUMENT;
  return _VARNVRMWrite(jtag, device, addr, limitRegister(VARN_VRM_REG_OV_LIMIT, page), code);
}

int VARNJtagSetVRMOCSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double amps) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  if (rail != 4) return VARN_VRM_BAD_ARGUMENT;
  int32_t type = jtag->deviceType[device];
  if (type == JTAG_DEV_VU9P || type == JTAG_DEV_GX2800L || type == JTAG_DEV_GX2800H || type == JTAG_DEV_VU13P)
    return VARN_VRM_BAD_ARGUMENT;
  uint8_t addr = type == JTAG_DEV_VU33P || type == JTAG_DEV_VU35P ? 0x4F : 0x4D;
  uint8_t page = _VARNVRMRailI2CPage(type, rail);
  // amps x 4 in 12 bits: a larger limit would be masked into a much smaller one.
  double scaled = amps * 4.0;
  if (!std::isfinite(scaled) || scaled < 0 || scaled >= 4096.0) {
    VARNLog("VRM current limit %f A out of the register's range\n", amps);
    return VARN_VRM_BAD_ARGUMENT;
  }
  uint16_t code = static_cast<uint16_t>(0xF000 | (static_cast<unsigned>(scaled) & 0x0FFF));
  return _VARNVRMWrite(jtag, device, addr, limitRegister(VARN_VRM_REG_OC_LIMIT, page), code);
}

int VARNJtagGetVRMVoltSetpoint(VARNJtag*, uint32_t, uint32_t, double*) { return VARN_VRM_NOT_SUPPORTED; }
int VARNJtagGetVRMVoltUVSetpoint(VARNJtag*, uint32_t, uint32_t, double*) { return VARN_VRM_NOT_SUPPORTED; }
int VARNJtagSetVRMVoltUVSetpoint(VARNJtag*, uint32_t, uint32_t, double) { return VARN_VRM_NOT_SUPPORTED; }
int VARNJtagGetVRMVoltOVSetpoint(VARNJtag*, uint32_t, uint32_t, double*) { return VARN_VRM_NOT_SUPPORTED; }
int VARNJtagGetVRMOCSetpoint(VARNJtag*, uint32_t, uint32_t, double*) { return VARN_VRM_NOT_SUPPORTED; }

int VARNJtagApplyVRMPMICPatches(VARNJtag* jtag, uint32_t device) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  uint8_t b[2];
  if (_VARNVRMReadBytes(jtag, device, 0x4D, VARN_VRM_REG_MODULE_ID, b) != 0) return VARN_VRM_TRANSFER_FAILED;
  uint16_t id = static_cast<uint16_t>(b[0] | b[1] << 8);
  if (!VARNModuleNeedsPatch(id)) return 0;
  int32_t type = jtag->deviceType[device];
  if (VARNJtagHasVRMRail(jtag, device, VARN_VRM_VCCHBM) == 0) {
    // 32 A over-current limit on the HBM rail; its outcome does not stop the patch.
    uint8_t addr = _VARNVRMRailI2CAddr(type, VARN_VRM_VCCHBM);
    uint8_t page = _VARNVRMRailI2CPage(type, VARN_VRM_VCCHBM);
    _VARNVRMWrite(jtag, device, addr, limitRegister(VARN_VRM_REG_OC_LIMIT, page), 0xF080);
  }
  for (const VARNModulePatchStep& step : kVARNModulePatch) {
    if (_VARNVRMWrite(jtag, device, 0x4D, step.reg, step.value) != 0) return VARN_VRM_TRANSFER_FAILED;
  }
  return 0;
}
