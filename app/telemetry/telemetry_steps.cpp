#include "app/telemetry/telemetry_steps.h"

#include "app/registry/varn_registry.h"

namespace {

struct Counters {
  std::atomic<uint8_t>* up;
  std::atomic<uint8_t>* down;
};

Counters countersOf(int b, int d, VARNRail rail) {
  switch (rail) {
    case VARN_RAIL_VCCBRAM:
      return {&deviceVCCBRAMIncReq[b][d], &deviceVCCBRAMDecReq[b][d]};
    case VARN_RAIL_VCCHBM:
      return {&deviceVCCHBMIncReq[b][d], &deviceVCCHBMDecReq[b][d]};
    case VARN_RAIL_VCCINT:
    default:
      return {&deviceVCCINTIncReq[b][d], &deviceVCCINTDecReq[b][d]};
  }
}

}  // namespace

VARNStepTarget VARNStepTargetFor(VARNRail rail, double measured, uint8_t up, uint8_t down) {
  VARNStepTarget t;
  if (up == down) return t;
  t.write = true;
  if (up > down) {
    t.volts = measured + (up - down) * 0.01;
    switch (rail) {
      case VARN_RAIL_VCCINT:
        if (t.volts > 0.935) t.volts = 0.94;
        break;
      case VARN_RAIL_VCCBRAM:
        if (t.volts > 0.925) t.volts = 0.92;
        break;
      case VARN_RAIL_VCCHBM:
        if (t.volts > 1.32) t.volts = 1.32;
        break;
    }
  } else {
    t.volts = measured - (down - up) * 0.01;
    double floor = rail == VARN_RAIL_VCCHBM ? 0.9 : 0.6;
    if (t.volts < floor) t.volts = floor;
  }
  return t;
}

VARNStepTarget VARNTakeBoardSteps(int board, int device, VARNRail rail, double measured) {
  Counters c = countersOf(board, device, rail);
  uint8_t up = regTakeRequests(*c.up);
  uint8_t down = regTakeRequests(*c.down);
  return VARNStepTargetFor(rail, measured, up, down);
}

bool VARNLocalStepsPending(int board, int device, VARNRail rail) {
  Counters c = countersOf(board, device, rail);
  return regLoad(*c.up) != regLoad(*c.down);
}

void VARNReturnLocalSteps(int board, int device, VARNRail rail, int hundredths) {
  Counters c = countersOf(board, device, rail);
  std::atomic<uint8_t>& counter = hundredths > 0 ? *c.up : *c.down;
  for (int n = hundredths > 0 ? hundredths : -hundredths; n > 0; --n)
    if (!regCountRequest(counter)) break;
}

int VARNTakeLocalSteps(int board, int device, VARNRail rail) {
  Counters c = countersOf(board, device, rail);
  if (regLoad(*c.up) == regLoad(*c.down)) return 0;
  // Taken by exchange, so steps counted since the comparison go into this change
  // instead of being zeroed unseen.
  int up = regTakeRequests(*c.up);
  int down = regTakeRequests(*c.down);
  return up - down;
}
