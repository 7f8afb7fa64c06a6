// The main thread's loop after start-up: the local-AXI rail work, the telemetry
// timing and the console report.
#pragma once

#include <cstdint>

#include "app/platform/varn_platform.h"

constexpr int VARN_REPORTED_BITSTREAM_SIZE = 256;

struct VARNMainLoopState {
  varn_walltime lastTelemetryTime{};
  // The text a device-list frame reports: gBitList at start (at most 255 characters),
  // replaced by a management load request.
  char reportedBitstream[VARN_REPORTED_BITSTREAM_SIZE] = {};
  // Management requests, set by client messages and cleared after every turn's work.
  bool deviceListRequested = false;
  bool telemetryRequested = false;
  bool loadAllRequested = false;
};

// Start-up step 9: the telemetry clock starts now and reportedBitstream gets its copy
// of the -b list.
void VARNMainLoopInit(VARNMainLoopState* state);

// One turn's work: local-AXI work for every board with devices, then the report when
// telemetry is due (unless -q), then the request flags cleared. Returns whether
// telemetry was due.
bool VARNMainLoopTurnWork(VARNMainLoopState* state);

// The loop itself, for the rest of the process. Without a management listener each
// turn sleeps 1 ms and then does the turn work.
[[noreturn]] void VARNMainLoopRun(VARNMainLoopState* state);
