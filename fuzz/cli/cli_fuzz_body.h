// The body of the command-line fuzzer, shared with a replay test: the input's
// NUL-separated pieces become argv (after the program name, at most 64), the options
// are parsed into the settings, and every voltage list is read for every board and
// device of the tables; each argument is also read as a voltage list and as a number.
// Command lines with an 'f' in an option word are left out: -f would create a file
// named by the input. Nothing may read outside its text, overflow or divide by zero
// (ASan and UBSan check that), and a target that is not a finite number ("nan", "inf"
// in the text) must never count as inside a rail's range.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/settings/varn_settings.h"
#include "app/voltage/voltage_list.h"

struct VarnCliFuzzResult {
  bool consistent = true;
  bool skipped = false;
  int refused = 0;
};

inline bool varnCliTargetsSane(const char* list) {
  for (int board = 0; board <= 64; ++board) {
    for (int device = 0; device < 5; ++device) {
      const double v = VARNVoltageListTarget(list, board, device);
      for (VARNRail rail : {VARN_RAIL_VCCINT, VARN_RAIL_VCCBRAM, VARN_RAIL_VCCHBM})
        if (!std::isfinite(v) && VARNVoltageInRange(rail, v)) return false;
    }
  }
  return true;
}

inline VarnCliFuzzResult varnCliFuzzOne(const uint8_t* data, size_t size) {
  VarnCliFuzzResult result;
  std::vector<std::string> args{"varn_tcp_bridge"};
  std::string current;
  for (size_t i = 0; i < size && args.size() <= 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && args.size() <= 64) args.push_back(current);
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].size() > 1 && args[i][0] == '-' &&
        (args[i].find('f') != std::string::npos || args[i].find('F') != std::string::npos)) {
      result.skipped = true;
      return result;
    }
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  VARNSettingsReset();
  result.refused = VARNParseOptions(static_cast<int>(args.size()), argv.data());
  if (result.refused < 0) result.consistent = false;
  for (const char* list : {gVCCINTList, gVCCBRAMList, gVCCHBMList})
    if (!varnCliTargetsSane(list)) result.consistent = false;
  for (size_t i = 1; i < args.size(); ++i) {
    (void)VARNParseDecimal(args[i].c_str());
    if (!varnCliTargetsSane(args[i].c_str())) result.consistent = false;
  }
  VARNSettingsReset();
  return result;
}
