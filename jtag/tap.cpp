// The varn_jtag_comm_* entry points: each goes to the board's transport.
#include "jtag/tap.h"

#include "jtag/transport.h"

int varn_jtag_comm_move_to_state(VARNJtag* jtag, uint32_t state, uint8_t tdiBit, uint8_t* tdo) {
  return jtag->transport->moveToState(jtag, state, tdiBit, tdo);
}

int varn_jtag_comm_reset_tap(VARNJtag* jtag) { return varn_jtag_comm_move_to_state(jtag, RESET, 0, nullptr); }

int varn_jtag_comm_flush(VARNJtag* jtag) { return jtag->transport->flush(jtag); }

int varn_jtag_comm_reg_shift(VARNJtag* jtag, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, uint32_t shiftState,
                             uint32_t endState, bool reverse) {
  return jtag->transport->regShift(jtag, tdi, tdo, bits, shiftState, endState, reverse);
}

int varn_jtag_comm_tap_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength,
                                uint64_t instruction, uint64_t* capture, uint32_t endState) {
  return jtag->transport->irShift(jtag, tdiSideBits, irLength, totalIrLength, instruction, capture, endState);
}

int varn_jtag_comm_tap_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount,
                                const uint8_t* tdi, uint8_t* tdo, uint32_t endState, bool reverse) {
  return jtag->transport->drShift(jtag, device, bits, deviceCount, tdi, tdo, endState, reverse);
}

int varn_jtag_comm_tap_wait(VARNJtag* jtag, uint32_t clocks) {
  varn_jtag_comm_move_to_state(jtag, IDLE, 0, nullptr);
  return jtag->transport->idleClocks(jtag, clocks);
}

int32_t varn_jtag_ir_offset(const VARNJtag* jtag, uint32_t device) {
  int32_t bits = 0;
  for (uint32_t i = 0; i < device && i < static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES); ++i) bits += jtag->irLength[i];
  return bits;
}

int varn_jtag_comm_load_instruction(VARNJtag* jtag, uint32_t device, uint64_t instruction) {
  if (device >= static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES)) return -1;
  return varn_jtag_comm_tap_ir_shift(jtag, varn_jtag_ir_offset(jtag, device), jtag->irLength[device],
                                     jtag->totalIrLength, instruction, nullptr, IRUPDATE);
}

int varn_jtag_comm_read_dr(VARNJtag* jtag, uint32_t device, uint64_t bits, uint8_t* tdo) {
  return varn_jtag_comm_tap_dr_shift(jtag, device, bits, jtag->deviceCount, nullptr, tdo, DRUPDATE, false);
}

int varn_jtag_comm_write_dr(VARNJtag* jtag, uint32_t device, uint64_t bits, const uint8_t* tdi, bool reverse) {
  return varn_jtag_comm_tap_dr_shift(jtag, device, bits, jtag->deviceCount, tdi, nullptr, DRUPDATE, reverse);
}
