// The board thread's work every 100 ms: telemetry sampling (with the operator's
// voltage steps), requested bitstream loads, and without -b the user codes.
#pragma once

#include <cstdint>

#include "app/boardthread/channel_backoff.h"

struct VARNBoardPump;

// The work is due when more than this has passed since the last step ended.
constexpr uint64_t VARN_PERIODIC_INTERVAL_NS = 100000000ull;
// A sampling step that takes longer than this is a board whose link answers slowly or
// not at all: the next steps are spaced out so that its serial channels keep moving.
constexpr uint64_t VARN_SLOW_SAMPLING_NS = 1000000000ull;

struct VARNBoardPeriodic {
  uint64_t lastNs = 0;  // when the last step ended
  VARNChannelBackoff sampling{1000, 30000};
  bool linkDown = false;  // the board's link was down at the last step
};

// How long until the step is due (0 when it is).
uint64_t VARNBoardPeriodicWaitNs(const VARNBoardPeriodic* state, uint64_t nowNs);

// Runs the step when it is due. Returns true when it ran.
bool VARNBoardPeriodicStep(VARNBoardPump* p, VARNBoardPeriodic* state);

// One device's requested load: file choice from gBitList, states, progress, user
// code after success.
void VARNServeBitstreamLoad(VARNBoardPump* p, int d);
