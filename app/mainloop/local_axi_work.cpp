#include "app/mainloop/local_axi_work.h"

#include "app/registry/varn_registry.h"
#include "app/telemetry/telemetry.h"
#include "app/voltage/voltage_list.h"
#include "power/axi_i2c.h"

namespace {

bool deviceReady(int b, int d) {
  uint8_t state = regLoad(deviceStates[b][d]);
  if (state == ProgrammingDone) return true;
  return state == Waiting && regLoad(deviceUserCode[b][d]) != VARN_USER_CODE_NONE;
}

int writeLR(void* link, int, int, VARNRail rail, double volts) {
  return _VARNLRVoltWrite(static_cast<_VARNAXI*>(link), static_cast<uint8_t>(rail), volts);
}

int writeZK(void* link, int, int, VARNRail rail, double volts) {
  return _VARNZKVoltWrite(static_cast<_VARNAXI*>(link), static_cast<uint8_t>(rail), volts);
}

void firstTurn(int b, int d) {
  _VARNAXI* link = regLoad(localAXI[b][d]);
  bool zk = regLoad(localAXIIsZK[b][d]) != 0;
  VARNRailWriter write = nullptr;
  if (regLoad(localAXIIsLR[b][d])) {
    write = writeLR;
  } else if (zk) {
    write = writeZK;
  }
  // The module's regulator fixes go in before any command-line voltage is set; the
  // patch logs its own outcome.
  if (zk) _VARNZKPatch(link);
  // A link of neither family gets the log lines but no write.
  VARNApplyStartupVoltage(VARN_RAIL_VCCINT, b, d, write, link);
  VARNApplyStartupVoltage(VARN_RAIL_VCCBRAM, b, d, write, link);
  VARNApplyStartupVoltage(VARN_RAIL_VCCHBM, b, d, write, link);
}

}  // namespace

bool VARNLocalAXIBoardQualifies(int b) {
  if (b < 0 || b >= MAX_BOARDS) return false;
  int n = regLoad(devCounts[b]);
  if (n <= 0) return false;
  if (n > MAX_DEVICES) n = MAX_DEVICES;
  for (int d = 0; d < n; ++d) {
    if (!deviceReady(b, d) || regLoad(localAXI[b][d]) == nullptr) return false;
  }
  return true;
}

void VARNLocalAXIWork(int b) {
  if (!VARNLocalAXIBoardQualifies(b)) return;
  int n = regLoad(devCounts[b]);
  if (n > MAX_DEVICES) n = MAX_DEVICES;
  for (int d = 0; d < n; ++d) {
    uint8_t turns = regLoad(deviceInitialized[b][d]);
    if (turns < 2) regStore(deviceInitialized[b][d], turns + 1);
    if (turns == 0) firstTurn(b, d);
    VARNTelemetrySampleLocalAXI(b, d);
  }
}
