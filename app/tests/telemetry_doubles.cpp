#include "app/tests/telemetry_doubles.h"

#include <cstdint>
#include <cstdio>

#include "power/axi_i2c.h"
#include "power/varn_vrm.h"

namespace teldouble {

Script script;

namespace {
char jtagCell;
char linkCells[4];

std::string text(const char* what, uint32_t device, uint32_t rail) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s d%u r%u", what, device, rail);
  return buf;
}

// Records the call; true when the script makes it fail.
bool fails(const std::string& call) {
  script.calls.push_back(call);
  return script.failing.count(call) != 0;
}

int vrmRead(const char* what, uint32_t device, uint32_t rail, double Rail::*field, double* out) {
  if (fails(text(what, device, rail))) return 7;
  if (rail == 4 && !script.hasHBM[device]) return 4;
  *out = script.vrm[device][rail].*field;
  return 0;
}

int axiRead(const char* what, _VARNAXI* axi, uint8_t rail, double Rail::*field, double* out) {
  int d = deviceOf(axi);
  if (fails(text(what, static_cast<uint32_t>(d), rail))) return 1;
  *out = script.axi[d][rail].*field;
  return 0;
}

std::string change(const char* what, _VARNAXI* axi, int rail, int hundredths) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s d%d r%d %+d", what, deviceOf(axi), rail, hundredths);
  return buf;
}

std::string write(const char* what, uint32_t device, uint32_t rail, double volts) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s d%u r%u %.3f", what, device, rail, volts);
  return buf;
}
}  // namespace

VARNJtag* jtag() { return reinterpret_cast<VARNJtag*>(&jtagCell); }
_VARNAXI* link(int device) { return reinterpret_cast<_VARNAXI*>(&linkCells[device]); }
int deviceOf(_VARNAXI* axi) { return static_cast<int>(reinterpret_cast<char*>(axi) - linkCells); }

void reset() { script = Script(); }

std::vector<std::string> callsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& c : script.calls)
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

}  // namespace teldouble

using namespace teldouble;

int VARNJtagGetSLRTemp(VARNJtag*, uint32_t device, uint32_t slr, double* celsius) {
  if (fails(text("slr.temp", device, slr))) return 5;
  *celsius = script.slrTemp[device][slr];
  return 0;
}

int VARNJtagGetSLRVoltage(VARNJtag*, uint32_t device, uint32_t slr, uint32_t rail, double* volts) {
  if (fails(text(rail == 0 ? "slr.vccint" : "slr.other", device, slr))) return 5;
  *volts = script.slrVolts[device][slr];
  return 0;
}

// One exchange for all SLRs: a failed read fails the whole exchange, outputs untouched.
int VARNJtagGetSLRSensors(VARNJtag*, uint32_t device, uint32_t slrCount, double* celsius, double* volts) {
  bool failed = false;
  for (uint32_t k = 0; k < slrCount; ++k) {
    failed |= fails(text("slr.temp", device, k));
    failed |= fails(text("slr.vccint", device, k));
  }
  if (failed) return 5;
  for (uint32_t k = 0; k < slrCount; ++k) {
    celsius[k] = script.slrTemp[device][k];
    volts[k] = script.slrVolts[device][k];
  }
  return 0;
}

int VARNJtagHasVRMRail(VARNJtag*, uint32_t device, uint32_t rail) {
  script.calls.push_back(text("vrm.has", device, rail));
  if (rail == 0 || rail == 2) return 0;
  return rail == 4 && script.hasHBM[device] ? 0 : 4;
}

int VARNJtagGetVRMTemp(VARNJtag*, uint32_t device, uint32_t rail, double* out) {
  return vrmRead("vrm.temp", device, rail, &Rail::temp, out);
}
int VARNJtagGetVRMVoltage(VARNJtag*, uint32_t device, uint32_t rail, double* out) {
  return vrmRead("vrm.volts", device, rail, &Rail::volts, out);
}
int VARNJtagGetVRMCurrent(VARNJtag*, uint32_t device, uint32_t rail, double* out) {
  return vrmRead("vrm.amps", device, rail, &Rail::amps, out);
}
void VARNJtagGetVRMReadings(VARNJtag* jtag, uint32_t device, VARNVrmReading* readings, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    VARNVrmReading& r = readings[i];
    r.rc = r.quantity == VARN_VRM_TEMP    ? VARNJtagGetVRMTemp(jtag, device, r.rail, r.out)
           : r.quantity == VARN_VRM_VOLTS ? VARNJtagGetVRMVoltage(jtag, device, r.rail, r.out)
                                          : VARNJtagGetVRMCurrent(jtag, device, r.rail, r.out);
  }
}
int VARNJtagSetVRMVoltSetpoint(VARNJtag*, uint32_t device, uint32_t rail, double volts) {
  return fails(write("vrm.set", device, rail, volts)) ? 7 : 0;
}

int _VARNLRTempRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("lr.temp", axi, rail, &Rail::temp, out); }
int _VARNLRVoltRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("lr.volts", axi, rail, &Rail::volts, out); }
int _VARNLRAmpRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("lr.amps", axi, rail, &Rail::amps, out); }
int _VARNZKTempRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("zk.temp", axi, rail, &Rail::temp, out); }
int _VARNZKVoltRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("zk.volts", axi, rail, &Rail::volts, out); }
int _VARNZKAmpRead(_VARNAXI* axi, uint8_t rail, double* out) { return axiRead("zk.amps", axi, rail, &Rail::amps, out); }

// A change listed in `failing` (as "zk.chg d0 r1") finds its present reading failed.
int _VARNLRVoltChg(_VARNAXI* axi, int8_t rail, int hundredths) {
  script.calls.push_back(change("lr.chg", axi, rail, hundredths));
  bool fails = script.failing.count("lr.chg d" + std::to_string(deviceOf(axi)) + " r" + std::to_string(rail)) > 0;
  return fails ? VARN_RAIL_READ_FAILED : 0;
}
int _VARNZKVoltChg(_VARNAXI* axi, uint8_t rail, int hundredths) {
  script.calls.push_back(change("zk.chg", axi, rail, hundredths));
  bool fails = script.failing.count("zk.chg d" + std::to_string(deviceOf(axi)) + " r" + std::to_string(rail)) > 0;
  return fails ? VARN_RAIL_READ_FAILED : 0;
}
int _VARNLRVoltWrite(_VARNAXI* axi, uint8_t rail, double volts) {
  script.calls.push_back(write("lr.write", static_cast<uint32_t>(deviceOf(axi)), rail, volts));
  return script.voltWriteResult;
}
int _VARNZKVoltWrite(_VARNAXI* axi, uint8_t rail, double volts) {
  script.calls.push_back(write("zk.write", static_cast<uint32_t>(deviceOf(axi)), rail, volts));
  return script.voltWriteResult;
}
int _VARNZKPatch(_VARNAXI* axi) {
  script.calls.push_back(text("zk.patch", static_cast<uint32_t>(deviceOf(axi)), 0));
  return script.zkPatchResult;
}
