// The console telemetry report and the power estimate it shares with the console view.
#include <mutex>

#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/telemetry/telemetry.h"

double VARNTelemetryPowerEstimate(double v0, double a0, double v1, double a1, double v2, double a2, bool rail2Valid) {
  double watts = v0 * a0 + v1 * a1;
  if (rail2Valid) watts += v2 * a2;
  // A fixed 10 W for everything off the three rails, and 85 % conversion efficiency.
  return (watts + 10.0) / 0.85;
}

static void printDevice(int b, int d) {
  // The byte totals are unsigned 32-bit counters: printed as such, so that a port past
  // 2 GiB of traffic does not show a negative count.
  VARNLogNL("Board %i FPGA %c TX %u / RX %u (", b, static_cast<char>('A' + d), regLoad(deviceTxBytes[b][d]),
            regLoad(deviceRxBytes[b][d]));
  uint32_t slrs = regLoad(slrCounts[b][d]);
  if (slrs > MAX_SLRS) slrs = MAX_SLRS;
  for (uint32_t k = 0; k < slrs; ++k) {
    VARNLogNL("%0.2f C %0.3f V, ", regLoad(telemetryTemps[b][d][k]), regLoad(telemetryVolts[b][d][k]));
  }
  bool valid[MAX_RAILS];
  double volts[MAX_RAILS], amps[MAX_RAILS];
  for (int r = 0; r < MAX_RAILS; ++r) {
    valid[r] = regLoad(telemetryVRMValid[b][d][r]) != 0;
    volts[r] = regLoad(telemetryVRMVolts[b][d][r]);
    amps[r] = regLoad(telemetryVRMAmps[b][d][r]);
  }
  if (valid[0]) {
    VARNLogNL("VRM %0.0f C, ", regLoad(telemetryVRMTemps[b][d][0]));
    VARNLogNL("%0.3f V, ", volts[0]);
    VARNLogNL("%0.2f A, ", amps[0]);
  }
  if (valid[1]) {
    VARNLogNL("BRAMVRM %0.3f V, ", volts[1]);
    VARNLogNL("%0.2f A, ", amps[1]);
  }
  if (valid[2]) {
    VARNLogNL("HBMVRM %0.3f V, ", volts[2]);
    VARNLogNL("%0.2f A, ", amps[2]);
  }
  if (valid[0] && valid[1]) {
    VARNLogNL("Total Watts: %0.2f W",
              VARNTelemetryPowerEstimate(volts[0], amps[0], volts[1], amps[1], volts[2], amps[2], valid[2]));
  }
  VARNLogNL(")\n");
}

void VARNTelemetryPrintReport() {
  // Held for the whole block, so no other thread's message lands inside it.
  std::lock_guard<std::mutex> hold(logMutex);
  VARNLogNL("Telemetry:\n");
  int boards = regLoad(boardCnt);
  if (boards > MAX_BOARDS) boards = MAX_BOARDS;
  for (int b = 0; b < boards; ++b) {
    int n = regLoad(devCounts[b]);
    if (n > MAX_DEVICES) n = MAX_DEVICES;
    for (int d = 0; d < n; ++d) printDevice(b, d);
  }
  VARNLogNL("\n");
}
