// TAP shift operations on a board handle. Over FTDI they become MPSSE commands and
// the handle tracks the TAP state itself; over CoE the instruction, data and idle
// operations become requests to the board controller, which walks the TAP itself.
// Everything queues: captured data is valid only after varn_jtag_comm_flush.
// All return 0 on success and -1 on failure.
#pragma once

#include <cstdint>

#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag_handle.h"

// Moves to a state. On FTDI the exit clock drives TDI = tdiBit, and with tdo given bit
// 7 of tdo[0] receives (by OR) the TDO sampled on the last TMS clock. On CoE nothing
// is sent, the tracked state changes and the result is -1.
int varn_jtag_comm_move_to_state(VARNJtag* jtag, uint32_t state, uint8_t tdiBit, uint8_t* tdo);
// Seven TMS ones: RESET from anywhere.
int varn_jtag_comm_reset_tap(VARNJtag* jtag);
int varn_jtag_comm_flush(VARNJtag* jtag);
// Shifts a whole register (FTDI only): enters shiftState (DRSHIFT or IRSHIFT), clocks
// the bits and leaves for endState on the last bit (or stays when they are equal).
// tdi/tdo may be null; tdo gets ceil(bits/8) bytes cleared first.
int varn_jtag_comm_reg_shift(VARNJtag* jtag, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, uint32_t shiftState,
                             uint32_t endState, bool reverse);
// Loads one device's instruction; every other device gets BYPASS. tdiSideBits is the
// number of instruction bits between the device and TDI, irLength the device's and
// totalIrLength the chain's. capture (may be null) receives the device's captured IR.
int varn_jtag_comm_tap_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength,
                                uint64_t instruction, uint64_t* capture, uint32_t endState);
// Shifts device's data register; the other devices are passed as one bypass bit each.
int varn_jtag_comm_tap_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount,
                                const uint8_t* tdi, uint8_t* tdo, uint32_t endState, bool reverse);
// Idle clocks in IDLE.
int varn_jtag_comm_tap_wait(VARNJtag* jtag, uint32_t clocks);

// --- the fixed forms the program uses ------------------------------------------------

// Instruction bits between device and TDI: the IR lengths of devices 0..device-1.
int32_t varn_jtag_ir_offset(const VARNJtag* jtag, uint32_t device);
// Instruction load for a scanned device, ending in IRUPDATE, no capture.
int varn_jtag_comm_load_instruction(VARNJtag* jtag, uint32_t device, uint64_t instruction);
// Data read (no TDI), ending in DRUPDATE.
int varn_jtag_comm_read_dr(VARNJtag* jtag, uint32_t device, uint64_t bits, uint8_t* tdo);
// Data write (no TDO), ending in DRUPDATE.
int varn_jtag_comm_write_dr(VARNJtag* jtag, uint32_t device, uint64_t bits, const uint8_t* tdi, bool reverse);

// --- CoE transport entries on a bare link ----------------------------------------------
int coe_clock_cycles(_VNCoELink* link, uint32_t clocks);  // idle clocks
// The controller has no raw TMS/data entries in device-abstraction mode.
int coe_clock_tms(_VNCoELink* link, uint8_t tms, uint8_t* tdo, uint64_t count, bool tdiHigh);
int coe_clock_data(_VNCoELink* link, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, bool reverse);
