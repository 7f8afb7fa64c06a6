#include "app/mainloop/main_loop.h"

#include <cstring>

#include "app/log/varn_log.h"
#include "app/mainloop/local_axi_work.h"
#include "app/mainloop/telemetry_due.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "app/telemetry/telemetry.h"

void VARNMainLoopInit(VARNMainLoopState* state) {
  state->lastTelemetryTime = varn_now();
  std::memset(state->reportedBitstream, 0, sizeof(state->reportedBitstream));
  if (gBitList != nullptr) {
    std::strncpy(state->reportedBitstream, gBitList, sizeof(state->reportedBitstream) - 1);
  }
  state->deviceListRequested = state->telemetryRequested = state->loadAllRequested = false;
}

bool VARNMainLoopTurnWork(VARNMainLoopState* state) {
  if (state->loadAllRequested) {
    VARNLog("Asked to load %s on all devices, TODO - not supported\n", state->reportedBitstream);
  }
  int boards = regLoad(boardCnt);
  if (boards > MAX_BOARDS) boards = MAX_BOARDS;
  for (int b = 0; b < boards; ++b) {
    if (regLoad(devCounts[b]) > 0) VARNLocalAXIWork(b);
  }
  bool due = VARNTelemetryDue(state->lastTelemetryTime, varn_now(), gTelemetryInterval, state->telemetryRequested);
  if (due) {
    if (!gQuiet) VARNTelemetryPrintReport();
    state->lastTelemetryTime = varn_now();
  }
  state->deviceListRequested = state->telemetryRequested = state->loadAllRequested = false;
  return due;
}

void VARNMainLoopRun(VARNMainLoopState* state) {
  for (;;) {
    varn_sleep_ms(1);
    VARNMainLoopTurnWork(state);
  }
}
