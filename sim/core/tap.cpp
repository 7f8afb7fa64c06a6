#include "sim/core/tap.h"

namespace varnsim {

namespace {

using S = TapState;

// [state][tms]: the controller graph of IEEE 1149.1 figure 6-1.
constexpr S kNext[16][2] = {
    /* Exit2DR   */ {S::ShiftDR, S::UpdateDR},
    /* Exit1DR   */ {S::PauseDR, S::UpdateDR},
    /* ShiftDR   */ {S::ShiftDR, S::Exit1DR},
    /* PauseDR   */ {S::PauseDR, S::Exit2DR},
    /* SelectIR  */ {S::CaptureIR, S::TestLogicReset},
    /* UpdateDR  */ {S::RunTestIdle, S::SelectDR},
    /* CaptureDR */ {S::ShiftDR, S::Exit1DR},
    /* SelectDR  */ {S::CaptureDR, S::SelectIR},
    /* Exit2IR   */ {S::ShiftIR, S::UpdateIR},
    /* Exit1IR   */ {S::PauseIR, S::UpdateIR},
    /* ShiftIR   */ {S::ShiftIR, S::Exit1IR},
    /* PauseIR   */ {S::PauseIR, S::Exit2IR},
    /* RTI       */ {S::RunTestIdle, S::SelectDR},
    /* UpdateIR  */ {S::RunTestIdle, S::SelectDR},
    /* CaptureIR */ {S::ShiftIR, S::Exit1IR},
    /* TLR       */ {S::RunTestIdle, S::TestLogicReset},
};

constexpr const char* kNames[16] = {
    "Exit2-DR", "Exit1-DR", "Shift-DR", "Pause-DR", "Select-IR-Scan", "Update-DR",
    "Capture-DR", "Select-DR-Scan", "Exit2-IR", "Exit1-IR", "Shift-IR", "Pause-IR",
    "Run-Test/Idle", "Update-IR", "Capture-IR", "Test-Logic-Reset",
};

}  // namespace

TapState tapNext(TapState s, bool tms) { return kNext[static_cast<int>(s) & 15][tms ? 1 : 0]; }

const char* tapStateName(TapState s) { return kNames[static_cast<int>(s) & 15]; }

}  // namespace varnsim
