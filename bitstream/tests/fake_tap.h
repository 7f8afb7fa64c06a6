// A recording stand-in for the JTAG engine's TAP operations, the SDM mailbox and the
// CoE request, linked into the bitstream unit tests instead of the engine. Each call
// is kept as an Op; devices answer through scripted hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jtag/varn_jtag_handle.h"

namespace faketap {

enum class Kind { Move, Ir, Dr, Wait, Flush, CoE };

struct Op {
  Kind kind;
  uint32_t device = 0;     // Dr: device index passed; Ir: t / n
  int32_t tdiSide = 0, irLength = 0, totalIr = 0;
  uint64_t instruction = 0;
  bool capture = false;
  uint64_t bits = 0;
  uint32_t endState = 0;   // Ir/Dr end state; Move target
  bool reverse = false;
  bool hasTdi = false, hasTdo = false;
  uint64_t clocks = 0;     // Wait
  uint16_t command = 0;    // CoE
  uint64_t activeInstr = 0;  // Dr: the instruction the device held
};

struct CoeAnswer {
  int rc = 0;
  std::vector<uint8_t> data;
};

struct State {
  std::vector<Op> ops;
  uint64_t instr[4] = {};          // the last instruction loaded per device
  std::vector<uint8_t> cfgData;    // every byte shifted while the device held CFG_IN
  uint64_t cfgInstr = 0;           // which instruction counts as CFG_IN (set by tests)
  bool keepCfgData = true;
  // Device answers. onIr sees every instruction load, irCapture answers captured ones.
  std::function<void(uint32_t device, uint64_t instr)> onIr;
  std::function<uint64_t(uint32_t device, uint64_t instr)> irCapture;
  std::function<void(uint32_t device, uint64_t instr, const uint8_t* tdi, uint8_t* tdo, uint64_t bits)> dr;
  std::function<CoeAnswer(uint16_t command)> coe;
  std::function<int(uint32_t device, const uint32_t* entries, uint32_t count, uint32_t* answers, uint32_t capacity,
                    uint32_t pollLimit)>
      sdm;
  std::vector<std::vector<uint32_t>> sdmCommands;  // every command's entries
  int drResult = 0;                // what data shifts return
};

State& state();
void reset();
// Ops of one kind.
std::vector<Op> only(Kind kind);

// A handle with a scanned chain: rows listed TDI side first. coe gives it a CoE link
// (a dummy pointer: nothing reaches a real link here).
VARNJtag makeHandle(std::vector<int32_t> rows, bool coe);

}  // namespace faketap
