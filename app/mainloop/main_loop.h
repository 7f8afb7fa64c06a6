// The main thread's loop after start-up: the local-AXI rail work, the telemetry
// timing and the console report.
#pragma once

#include <cstdint>

#include "app/platform/varn_platform.h"

struct VARNMgmt;

constexpr int VARN_REPORTED_BITSTREAM_SIZE = 256;
// The management wait: idle turns come this often; a turn right after requests comes
// sooner, so that a client is answered at once while requests that arrive together
// still give one frame.
constexpr int64_t VARN_MGMT_WAIT_US = 75000;
constexpr int64_t VARN_MGMT_ANSWER_WAIT_US = 1000;

struct VARNMainLoopState {
  varn_walltime lastTelemetryTime{};
  // The text a device-list frame reports: gBitList at start (at most 255 characters),
  // replaced by a management load request.
  char reportedBitstream[VARN_REPORTED_BITSTREAM_SIZE] = {};
  // Management requests, set by client messages and cleared after every turn's work.
  bool deviceListRequested = false;
  bool telemetryRequested = false;
  bool loadAllRequested = false;
  // The management clients, or null without a listener.
  VARNMgmt* mgmt = nullptr;
  // The console view's turn (-g): waits up to a second for keys and redraws; null
  // without the view.
  void (*consoleTurn)() = nullptr;
};

// Start-up step 9: the telemetry clock starts now and reportedBitstream gets its copy
// of the -b list.
void VARNMainLoopInit(VARNMainLoopState* state);

// One turn's work: the device-list frame when asked for, local-AXI work for every
// board with devices, the console view's turn, then the telemetry frame and the report (unless -q) when
// telemetry is due, then the request flags cleared. Returns whether telemetry was due.
bool VARNMainLoopTurnWork(VARNMainLoopState* state);

// The loop itself, for the rest of the process. Without a management listener each
// turn sleeps 1 ms and then does the turn work; with one it waits for the clients and
// does the turn work after a wait that saw nothing.
[[noreturn]] void VARNMainLoopRun(VARNMainLoopState* state);
