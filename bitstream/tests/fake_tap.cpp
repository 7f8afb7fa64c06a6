#include "bitstream/tests/fake_tap.h"

#include <cstring>

#include "coe/coe_request.h"
#include "coe/coe_status.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

namespace faketap {

State& state() {
  static State s;
  return s;
}
void reset() { state() = State(); }

std::vector<Op> only(Kind kind) {
  std::vector<Op> out;
  for (const Op& op : state().ops)
    if (op.kind == kind) out.push_back(op);
  return out;
}

namespace {

// Only what the bitstream code asks of a transport besides the recorded TAP calls.
CoeStatusResult fakeConfigStatus(VARNJtag* jtag, uint32_t device, uint8_t* statusByte, uint32_t* answerLen) {
  return varn_coe_config_status(jtag->coeLink, jtag->coeSlot[device], statusByte, answerLen);
}
const VARNJtagTransport kFakeFtdi = {.name = "JTAG", .walksTap = true};
const VARNJtagTransport kFakeCoE = {.name = "CoE", .walksTap = false, .configStatus = fakeConfigStatus};

}  // namespace

VARNJtag makeHandle(std::vector<int32_t> rows, bool coe) {
  VARNJtag j{};
  j.tapState = RESET;
  j.deviceCount = static_cast<uint32_t>(rows.size());
  for (int i = 0; i < VARN_JTAG_MAX_DEVICES; ++i) {
    j.deviceType[i] = -1;
    j.coeSlot[i] = static_cast<uint8_t>(i);
  }
  int32_t total = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    j.deviceType[i] = rows[i];
    j.idcodes[i] = rows[i] >= 0 ? static_cast<uint32_t>(JTAG_IDCODES[rows[i]]) : 0x12345678u;
    j.irLength[i] = rows[i] >= 0 ? static_cast<int32_t>(JTAG_IRLENS[rows[i]]) : 6;
    total += j.irLength[i];
  }
  j.totalIrLength = coe ? 0 : total;
  static int dummyLink;
  j.coeLink = coe ? reinterpret_cast<_VNCoELink*>(&dummyLink) : nullptr;
  j.transport = coe ? &kFakeCoE : &kFakeFtdi;
  return j;
}

}  // namespace faketap

using faketap::Kind;
using faketap::Op;
using faketap::state;

int varn_jtag_comm_move_to_state(VARNJtag* jtag, uint32_t target, uint8_t, uint8_t*) {
  Op op{Kind::Move};
  op.endState = target;
  state().ops.push_back(op);
  jtag->tapState = target;
  return jtag->coeLink ? -1 : 0;
}

int varn_jtag_comm_reset_tap(VARNJtag* jtag) { return varn_jtag_comm_move_to_state(jtag, RESET, 0, nullptr); }

int varn_jtag_comm_flush(VARNJtag*) {
  state().ops.push_back(Op{Kind::Flush});
  return 0;
}

int varn_jtag_comm_tap_ir_shift(VARNJtag* jtag, int32_t tdiSide, int32_t irLength, int32_t totalIr,
                                uint64_t instruction, uint64_t* capture, uint32_t endState) {
  Op op{Kind::Ir};
  op.tdiSide = tdiSide;
  op.irLength = irLength;
  op.totalIr = totalIr;
  op.instruction = instruction;
  op.capture = capture != nullptr;
  op.endState = endState;
  // The addressed device: the one with tdiSide instruction bits before it.
  uint32_t device = 0;
  int32_t bits = 0;
  while (device < jtag->deviceCount && bits < tdiSide) bits += jtag->irLength[device++];
  op.device = device;
  state().ops.push_back(op);
  if (jtag->coeLink && jtag->xvcActive) return -1;
  if (device < 4) state().instr[device] = instruction;
  if (state().onIr) state().onIr(device, instruction);
  if (capture) *capture = state().irCapture ? state().irCapture(device, instruction) : 0;
  jtag->tapState = endState;
  return 0;
}

int varn_jtag_comm_tap_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t, const uint8_t* tdi,
                                uint8_t* tdo, uint32_t endState, bool reverse) {
  Op op{Kind::Dr};
  op.device = device;
  op.bits = bits;
  op.endState = endState;
  op.reverse = reverse;
  op.hasTdi = tdi != nullptr;
  op.hasTdo = tdo != nullptr;
  // Over FTDI every chunk but the last is passed with index 0; the instruction that
  // counts is the one of the device actually loaded (the tests load one device).
  uint32_t target = device;
  for (uint32_t d = 0; d < jtag->deviceCount && d < 4; ++d)
    if (state().cfgInstr != 0 && state().instr[d] == state().cfgInstr) target = d;
  op.activeInstr = target < 4 ? state().instr[target] : 0;
  state().ops.push_back(op);
  if (jtag->coeLink && jtag->xvcActive) return -1;
  if (tdo) std::memset(tdo, 0, static_cast<size_t>((bits + 7) / 8));
  if (tdi && state().keepCfgData && state().cfgInstr != 0 && op.activeInstr == state().cfgInstr)
    state().cfgData.insert(state().cfgData.end(), tdi, tdi + bits / 8);
  if (state().dr) state().dr(target, op.activeInstr, tdi, tdo, bits);
  jtag->tapState = endState;
  return state().drResult;
}

int varn_jtag_comm_tap_wait(VARNJtag* jtag, uint32_t clocks) {
  Op op{Kind::Wait};
  op.clocks = clocks;
  state().ops.push_back(op);
  if (jtag->coeLink && jtag->xvcActive) return -1;
  return 0;
}

int32_t varn_jtag_ir_offset(const VARNJtag* jtag, uint32_t device) {
  int32_t bits = 0;
  for (uint32_t i = 0; i < device && i < 4; ++i) bits += jtag->irLength[i];
  return bits;
}

int VNCoEStatus(_VNCoELink*, uint8_t* answer, uint32_t* answerLen, uint32_t capacity) {
  const uint16_t command = VN_COE_CMD_STATUS;
  Op op{Kind::CoE};
  op.command = command;
  op.bits = capacity;
  state().ops.push_back(op);
  if (answerLen) *answerLen = 0;
  faketap::CoeAnswer a = state().coe ? state().coe(command) : faketap::CoeAnswer{};
  if (a.rc != 0) return a.rc;
  uint32_t n = static_cast<uint32_t>(a.data.size());
  if (n > capacity) n = capacity;
  if (answer && n) std::memcpy(answer, a.data.data(), n);
  if (answerLen) *answerLen = n;
  return 0;
}

int IntelSDMCommand(VARNJtag*, uint32_t device, const uint32_t* entries, uint32_t* answers, uint32_t count,
                    uint32_t capacity, uint32_t pollLimit) {
  state().sdmCommands.emplace_back(entries, entries + 2 * count);
  if (!state().sdm) return 9;
  return state().sdm(device, entries, count, answers, capacity, pollLimit);
}
