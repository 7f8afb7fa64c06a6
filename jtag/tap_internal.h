// The TAP entries of the two transports' tables (jtag/transport.h).
#pragma once

#include <cstdint>

#include "jtag/varn_jtag_handle.h"

int tap_ftdi_move_to_state(VARNJtag* jtag, uint32_t state, uint8_t tdiBit, uint8_t* tdo);
int tap_ftdi_reg_shift(VARNJtag* jtag, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, uint32_t shiftState,
                       uint32_t endState, bool reverse);
int tap_ftdi_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength,
                      uint64_t instruction, uint64_t* capture, uint32_t endState);
int tap_ftdi_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount, const uint8_t* tdi,
                      uint8_t* tdo, uint32_t endState, bool reverse);
int tap_ftdi_wait(VARNJtag* jtag, uint32_t clocks);

int tap_coe_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength,
                     uint64_t instruction, uint64_t* capture, uint32_t endState);
int tap_coe_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount, const uint8_t* tdi,
                     uint8_t* tdo, uint32_t endState, bool reverse);
int tap_coe_wait(VARNJtag* jtag, uint32_t clocks);
