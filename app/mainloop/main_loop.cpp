#include "app/mainloop/main_loop.h"

#include <cstring>

#include "app/log/varn_log.h"
#include "app/management/management_clients.h"
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
  VARNMgmt* m = state->mgmt;
  if (m != nullptr && state->deviceListRequested) {
    const size_t n = VARNMgmtBuildDeviceList(m->frame, sizeof m->frame, state->reportedBitstream);
    if (n > 0) VARNMgmtBroadcast(m, m->frame, n);
  }
  if (state->loadAllRequested) {
    VARNLog("Asked to load %s on all devices, TODO - not supported\n", state->reportedBitstream);
  }
  int boards = regLoad(boardCnt);
  if (boards > MAX_BOARDS) boards = MAX_BOARDS;
  for (int b = 0; b < boards; ++b) {
    if (regLoad(devCounts[b]) > 0) VARNLocalAXIWork(b);
  }
  if (state->consoleTurn != nullptr) state->consoleTurn();
  bool due = VARNTelemetryDue(state->lastTelemetryTime, varn_now(), gTelemetryInterval, state->telemetryRequested);
  if (due) {
    if (m != nullptr) {
      const size_t n = VARNMgmtBuildTelemetry(m->frame, sizeof m->frame);
      if (n > 0) VARNMgmtBroadcast(m, m->frame, n);
    }
    if (!gQuiet) VARNTelemetryPrintReport();
    state->lastTelemetryTime = varn_now();
  }
  state->deviceListRequested = state->telemetryRequested = state->loadAllRequested = false;
  return due;
}

void VARNMainLoopRun(VARNMainLoopState* state) {
  VARNMgmt* m = state->mgmt;
  if (m == nullptr || !varn_socket_valid(m->listener)) {
    for (;;) {
      varn_sleep_ms(1);
      VARNMainLoopTurnWork(state);
    }
  }
  for (;;) {
    fd_set readSet, writeSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    const int nfds = VARNMgmtFillSets(m, &readSet, &writeSet);
    const bool asked = state->deviceListRequested || state->telemetryRequested || state->loadAllRequested;
    const int ready = varn_select(nfds, &readSet, &writeSet, asked ? VARN_MGMT_ANSWER_WAIT_US : VARN_MGMT_WAIT_US);
    if (ready < 0) continue;
    if (ready > 0) {
      VARNMgmtRequests r;
      VARNMgmtServe(m, &readSet, &writeSet, &r, state->reportedBitstream, sizeof state->reportedBitstream);
      state->deviceListRequested |= r.deviceList;
      state->telemetryRequested |= r.telemetry;
      state->loadAllRequested |= r.loadAll;
      continue;
    }
    VARNMainLoopTurnWork(state);
  }
}
