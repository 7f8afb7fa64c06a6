// Scripted stand-ins for the JTAG sensor reads, the PMBus regulators and the AXI-I2C
// rail operations, so the collectors can be driven with chosen readings and failures
// and every call they make can be checked in order.
#pragma once

#include <set>
#include <string>
#include <vector>

struct VARNJtag;
struct _VARNAXI;

namespace teldouble {

// Any non-null pointer works: the doubles never look behind it.
VARNJtag* jtag();
_VARNAXI* link(int device);
int deviceOf(_VARNAXI* link);

struct Rail {
  double temp = 0, volts = 0, amps = 0;
};

struct Script {
  // JTAG SYSMON per device and SLR.
  double slrTemp[4][4] = {};
  double slrVolts[4][4] = {};
  // Regulators per device and VRM rail (0, 2, 4).
  Rail vrm[4][5];
  bool hasHBM[4] = {true, true, true, true};
  // Local AXI rails per device and rail (0, 1, 2).
  Rail axi[4][3];
  int zkPatchResult = 0;
  int voltWriteResult = 0;
  // Calls that fail, by their log text (for example "vrm.volts d0 r2").
  std::set<std::string> failing;
  // Every call made, in order.
  std::vector<std::string> calls;
};

extern Script script;
void reset();
// The calls whose text starts with `prefix`, in order.
std::vector<std::string> callsStartingWith(const std::string& prefix);

}  // namespace teldouble
