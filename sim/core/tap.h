// The IEEE 1149.1 TAP controller: sixteen states with the standard's 4-bit state
// assignment, and the next-state function clocked by TMS on each rising TCK edge.
#pragma once

#include <cstdint>

namespace varnsim {

enum class TapState : uint8_t {
  Exit2DR = 0x0,
  Exit1DR = 0x1,
  ShiftDR = 0x2,
  PauseDR = 0x3,
  SelectIR = 0x4,
  UpdateDR = 0x5,
  CaptureDR = 0x6,
  SelectDR = 0x7,
  Exit2IR = 0x8,
  Exit1IR = 0x9,
  ShiftIR = 0xA,
  PauseIR = 0xB,
  RunTestIdle = 0xC,
  UpdateIR = 0xD,
  CaptureIR = 0xE,
  TestLogicReset = 0xF,
};

TapState tapNext(TapState s, bool tms);
const char* tapStateName(TapState s);

// States in which TCK can run with TMS held at `tms` without the controller moving.
inline bool tapStable(TapState s, bool tms) {
  if (tms) return s == TapState::TestLogicReset;
  return s == TapState::RunTestIdle || s == TapState::ShiftDR || s == TapState::ShiftIR ||
         s == TapState::PauseDR || s == TapState::PauseIR;
}

}  // namespace varnsim
