// Start-up voltages from -v (VCCINT), -y (VCCBRAM) and -w (VCCHBM): picking one
// device's target out of the list text, checking it against the rail's allowed range,
// logging and writing it. The board thread writes through the regulators over JTAG,
// the main loop through a local AXI link; both hand their write in as a callback.
#pragma once

// Rails as the telemetry tables and the AXI-I2C operations number them.
enum VARNRail : int {
  VARN_RAIL_VCCINT = 0,
  VARN_RAIL_VCCBRAM = 1,
  VARN_RAIL_VCCHBM = 2,
};

// Writes `volts` to one rail of one device; returns 0 on success.
using VARNRailWriter = int (*)(void* context, int board, int device, VARNRail rail, double volts);

// The target for (board, device) in a voltage list:
// - no comma: the text is one number (reading stops at the first character that
//   cannot continue it, so "0.85:0.80" is 0.85) for every device of every board;
// - commas: entry i (empty entries count) is board i's, a board without an entry gets
//   0; an entry without a colon covers all four devices, one with colons gives up to
//   four values for devices 0 to 3, a missing value repeating the last one given.
// A text that is no number reads as 0. `list` may be null (0).
double VARNVoltageListTarget(const char* list, int board, int device);

// Allowed ranges, bounds included: VCCINT and VCCBRAM 0.6-0.95 V, VCCHBM 1.0-1.3 V.
// Not-a-number is out of range.
bool VARNVoltageInRange(VARNRail rail, double volts);

enum VARNVoltageResult : int {
  VARN_VOLTAGE_WRITTEN = 0,      // in range and written (or nothing to write through)
  VARN_VOLTAGE_NOT_SET = 1,      // the rail's option was not given
  VARN_VOLTAGE_OUT_OF_RANGE = 2, // logged, nothing written
  VARN_VOLTAGE_WRITE_FAILED = 3, // logged "Failed to set voltage\n", not retried
};

// Checks one device's target, logs the in-range or out-of-range line for the rail,
// and writes an in-range value with `write` (null: the line is logged, nothing is
// written, as for a device with no way to reach its rails).
VARNVoltageResult VARNApplyVoltage(VARNRail rail, int board, int device, double volts, VARNRailWriter write,
                                   void* context);

// The same for the target the command line gives this device; nothing at all (not
// even a log line) when the rail's option was not given.
VARNVoltageResult VARNApplyStartupVoltage(VARNRail rail, int board, int device, VARNRailWriter write,
                                          void* context);
