// The operator's 10 mV voltage-step requests (counted up in the registry's six
// Inc/Dec tables) as the two collectors serve them.
#pragma once

#include <cstdint>

#include "app/voltage/voltage_list.h"

struct VARNStepTarget {
  bool write = false;  // the counters differed: write `volts`
  double volts = 0;
};

// The regulator target for `up` and `down` pending steps from the present reading,
// limited per rail: upwards VCCINT above 0.935 V becomes 0.94, VCCBRAM above 0.925
// becomes 0.92, VCCHBM above 1.32 becomes 1.32; downwards VCCINT and VCCBRAM below
// 0.6 become 0.6, VCCHBM below 0.9 becomes 0.9. Equal counts write nothing.
VARNStepTarget VARNStepTargetFor(VARNRail rail, double measured, uint8_t up, uint8_t down);

// Board-thread path: takes (reads and zeroes) both of the rail's counters, whatever
// they hold, and gives the target to write.
VARNStepTarget VARNTakeBoardSteps(int board, int device, VARNRail rail, double measured);

// Local-AXI path: when the rail's counters differ, takes both and returns up - down
// in hundredths of a volt; equal counters are left as they are and give 0.
int VARNTakeLocalSteps(int board, int device, VARNRail rail);
// True when the rail's counters differ (steps wait to be served).
bool VARNLocalStepsPending(int board, int device, VARNRail rail);
// Puts steps taken with VARNTakeLocalSteps back (a change that could not be made).
void VARNReturnLocalSteps(int board, int device, VARNRail rail, int hundredths);
