// Main-loop sampling of the rails of a device that has a local AXI link: the
// design's I2C controller and system monitor (LR) or its regulator controllers (ZK).
#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/telemetry/telemetry.h"
#include "app/telemetry/telemetry_steps.h"
#include "power/axi_i2c.h"

namespace {

using RailRead = int (*)(_VARNAXI*, uint8_t, double*);

struct Family {
  RailRead temp, volts, amps;
  int (*change)(_VARNAXI*, uint8_t rail, int hundredths);
};

// _VARNLRVoltChg takes its rail as a signed byte; the rails here are 0..2 either way.
int lrChange(_VARNAXI* axi, uint8_t rail, int hundredths) {
  return _VARNLRVoltChg(axi, static_cast<int8_t>(rail), hundredths);
}

const Family kLR = {_VARNLRTempRead, _VARNLRVoltRead, _VARNLRAmpRead, lrChange};
const Family kZK = {_VARNZKTempRead, _VARNZKVoltRead, _VARNZKAmpRead, _VARNZKVoltChg};

}  // namespace

void VARNTelemetrySampleLocalAXI(int b, int d) {
  if (b < 0 || b >= MAX_BOARDS || d < 0 || d >= MAX_DEVICES) return;
  _VARNAXI* link = regLoad(localAXI[b][d]);
  const Family* family = nullptr;
  if (regLoad(localAXIIsLR[b][d])) {
    family = &kLR;
  } else if (regLoad(localAXIIsZK[b][d])) {
    family = &kZK;
  }
  if (link == nullptr || family == nullptr) {
    for (auto& valid : telemetryVRMValid[b][d]) regStore(valid, 0);
    return;
  }

  bool tempOk[MAX_RAILS], voltsOk[MAX_RAILS], ampsOk[MAX_RAILS];
  for (int rail = 0; rail < MAX_RAILS; ++rail) {
    // A failed read leaves its output alone: the table keeps the last sample.
    double t = regLoad(telemetryVRMTemps[b][d][rail]);
    double v = regLoad(telemetryVRMVolts[b][d][rail]);
    double a = regLoad(telemetryVRMAmps[b][d][rail]);
    uint8_t r = static_cast<uint8_t>(rail);
    tempOk[rail] = family->temp(link, r, &t) == 0;
    voltsOk[rail] = family->volts(link, r, &v) == 0;
    ampsOk[rail] = family->amps(link, r, &a) == 0;
    regStore(telemetryVRMTemps[b][d][rail], t);
    regStore(telemetryVRMVolts[b][d][rail], v);
    regStore(telemetryVRMAmps[b][d][rail], a);
  }
  regStore(telemetryVRMValid[b][d][0], tempOk[0] && voltsOk[0] && ampsOk[0]);
  regStore(telemetryVRMValid[b][d][1], tempOk[1] && voltsOk[1] && ampsOk[1]);
  // Rail 2's own voltage read is not part of its flag; its current reading (which
  // needs the voltage) and the VCCINT current are.
  regStore(telemetryVRMValid[b][d][2], tempOk[2] && ampsOk[2] && ampsOk[0]);

  // Steps move a rail from its present reading: without one they wait, reported once.
  static bool reported[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
  for (int rail = 0; rail < MAX_RAILS; ++rail) {
    const VARNRail which = static_cast<VARNRail>(rail);
    int hundredths = voltsOk[rail] ? VARNTakeLocalSteps(b, d, which) : 0;
    int rc = hundredths != 0 ? family->change(link, static_cast<uint8_t>(rail), hundredths) : 0;
    if (rc == VARN_RAIL_READ_FAILED) VARNReturnLocalSteps(b, d, which, hundredths);
    if (!voltsOk[rail] || rc == VARN_RAIL_READ_FAILED) {
      if (!reported[b][d][rail] && VARNLocalStepsPending(b, d, which))
        VARNLog("Board %i Device %i rail %i: the voltage reading failed; its steps wait for a good reading\n", b,
                d, rail);
      reported[b][d][rail] = reported[b][d][rail] || VARNLocalStepsPending(b, d, which);
    } else {
      reported[b][d][rail] = false;
    }
  }
}
