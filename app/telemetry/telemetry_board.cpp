// Board-thread sampling: the SLR sensors of every device over JTAG and, for devices
// without a local AXI link, the regulators over PMBus with their step requests.
#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/telemetry/telemetry.h"
#include "app/telemetry/telemetry_steps.h"
#include "power/varn_vrm.h"

namespace {

// One regulator rail's readings. Each starts from the table's last value: a reading
// that fails leaves its output alone, so the table keeps the previous sample, which
// the validity flag then marks.
struct RailSample {
  double temp = 0, volts = 0, amps = 0;
  bool tempOk = false, voltsOk = false, ampsOk = false;
};

RailSample lastStored(int b, int d, int rail) {
  RailSample s;
  s.temp = regLoad(telemetryVRMTemps[b][d][rail]);
  s.volts = regLoad(telemetryVRMVolts[b][d][rail]);
  s.amps = regLoad(telemetryVRMAmps[b][d][rail]);
  return s;
}

void store(int b, int d, int rail, const RailSample& s, bool valid) {
  regStore(telemetryVRMTemps[b][d][rail], s.temp);
  regStore(telemetryVRMVolts[b][d][rail], s.volts);
  regStore(telemetryVRMAmps[b][d][rail], s.amps);
  regStore(telemetryVRMValid[b][d][rail], valid ? 1 : 0);
}

void sampleSLRs(VARNJtag* jtag, int b, int d) {
  uint32_t slrs = regLoad(slrCounts[b][d]);
  if (slrs > MAX_SLRS) slrs = MAX_SLRS;
  double t[MAX_SLRS], v[MAX_SLRS];
  for (uint32_t k = 0; k < slrs; ++k) {
    t[k] = regLoad(telemetryTemps[b][d][k]);
    v[k] = regLoad(telemetryVolts[b][d][k]);
  }
  // Result not examined: a failed read leaves t and v as last sampled.
  VARNJtagGetSLRSensors(jtag, static_cast<uint32_t>(d), slrs, t, v);
  for (uint32_t k = 0; k < slrs; ++k) {
    regStore(telemetryTemps[b][d][k], t[k]);
    regStore(telemetryVolts[b][d][k], v[k]);
    if (t[k] > regLoad(telemetryHighTemps[b][d][k])) regStore(telemetryHighTemps[b][d][k], t[k]);
  }
}

// Serves one rail's pending steps from its fresh reading and writes the new target.
void serveSteps(VARNJtag* jtag, int b, int d, VARNRail rail, double measured) {
  VARNStepTarget step = VARNTakeBoardSteps(b, d, rail, measured);
  if (!step.write) return;
  char fpga = static_cast<char>('A' + d);
  uint32_t vrmRail = VARN_VRM_VCCINT;
  switch (rail) {
    case VARN_RAIL_VCCINT:
      VARNLog("New Target VCCINT for Board %i FPGA %c is %0.2f\n", b, fpga, step.volts);
      break;
    case VARN_RAIL_VCCBRAM:
      VARNLog("New Target VCCBRAM for Board %i FPGA %c is %0.3f\n", b, fpga, step.volts);
      vrmRail = VARN_VRM_VCCBRAM;
      break;
    case VARN_RAIL_VCCHBM:
      VARNLog("New Target VCCHBM for Board %i FPGA %c is %0.3f\n", b, fpga, step.volts);
      vrmRail = VARN_VRM_VCCHBM;
      break;
  }
  int rc = VARNJtagSetVRMVoltSetpoint(jtag, static_cast<uint32_t>(d), vrmRail, step.volts);
  if (rc != 0) VARNLog("Failed to set VRM rail %u of Board %i FPGA %c to %0.3f: %i\n", vrmRail, b, fpga, step.volts, rc);
}

void sampleRegulators(VARNJtag* jtag, int b, int d) {
  uint32_t dev = static_cast<uint32_t>(d);
  RailSample vccint = lastStored(b, d, VARN_RAIL_VCCINT);
  RailSample vccbram = lastStored(b, d, VARN_RAIL_VCCBRAM);
  RailSample vcchbm = lastStored(b, d, VARN_RAIL_VCCHBM);

  // The regulators are read in this order on every pass; the controller serves the
  // transfers one after another, so the order is what a bus trace shows. They travel
  // together: one wait for the board instead of one per reading.
  bool hasHBM = VARNJtagHasVRMRail(jtag, dev, VARN_VRM_VCCHBM) == 0;
  VARNVrmReading r[9];
  uint32_t n = 0;
  auto add = [&](uint32_t rail, VARNVrmQuantity q, double* out) { r[n++] = VARNVrmReading{rail, q, out, 0}; };
  add(VARN_VRM_VCCINT, VARN_VRM_TEMP, &vccint.temp);
  add(VARN_VRM_VCCINT, VARN_VRM_VOLTS, &vccint.volts);
  add(VARN_VRM_VCCINT, VARN_VRM_AMPS, &vccint.amps);
  if (hasHBM) {
    add(VARN_VRM_VCCHBM, VARN_VRM_VOLTS, &vcchbm.volts);
    add(VARN_VRM_VCCHBM, VARN_VRM_AMPS, &vcchbm.amps);
  }
  add(VARN_VRM_VCCBRAM, VARN_VRM_VOLTS, &vccbram.volts);
  add(VARN_VRM_VCCBRAM, VARN_VRM_AMPS, &vccbram.amps);
  add(VARN_VRM_VCCHBM, VARN_VRM_TEMP, &vcchbm.temp);
  add(VARN_VRM_VCCBRAM, VARN_VRM_TEMP, &vccbram.temp);
  VARNJtagGetVRMReadings(jtag, dev, r, n);
  uint32_t i = 0;
  vccint.tempOk = r[i++].rc == 0;
  vccint.voltsOk = r[i++].rc == 0;
  vccint.ampsOk = r[i++].rc == 0;
  if (hasHBM) {
    vcchbm.voltsOk = r[i++].rc == 0;
    vcchbm.ampsOk = r[i++].rc == 0;
  }
  vccbram.voltsOk = r[i++].rc == 0;
  vccbram.ampsOk = r[i++].rc == 0;
  vcchbm.tempOk = r[i++].rc == 0;
  vccbram.tempOk = r[i++].rc == 0;

  store(b, d, VARN_RAIL_VCCINT, vccint, vccint.tempOk && vccint.voltsOk && vccint.ampsOk);
  store(b, d, VARN_RAIL_VCCBRAM, vccbram, vccbram.voltsOk && vccbram.ampsOk && vccbram.tempOk);
  // The HBM flag takes the VCCINT current read, not its own: the HBM regulator's
  // current channel is not what marks the rail usable.
  store(b, d, VARN_RAIL_VCCHBM, vcchbm, hasHBM && vcchbm.voltsOk && vcchbm.tempOk && vccint.ampsOk);

  // Requests wait for a rail whose voltage could not be read: a step is relative to
  // the present reading.
  if (vccint.voltsOk) serveSteps(jtag, b, d, VARN_RAIL_VCCINT, vccint.volts);
  if (hasHBM && vcchbm.voltsOk) serveSteps(jtag, b, d, VARN_RAIL_VCCHBM, vcchbm.volts);
  if (vccbram.voltsOk) serveSteps(jtag, b, d, VARN_RAIL_VCCBRAM, vccbram.volts);
}

}  // namespace

void VARNTelemetrySampleBoard(int board) {
  if (board < 0 || board >= MAX_BOARDS) return;
  VARNJtag* jtag = regLoad(varnJtags[board]);
  if (jtag == nullptr) return;
  int n = regLoad(devCounts[board]);
  if (n > MAX_DEVICES) n = MAX_DEVICES;
  for (int d = 0; d < n; ++d) {
    sampleSLRs(jtag, board, d);
    if (regLoad(localAXI[board][d]) == nullptr) sampleRegulators(jtag, board, d);
  }
}
