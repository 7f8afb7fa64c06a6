// Chain scans behind VARNJtagGetDeviceCount: fill deviceCount, idcodes, deviceType,
// irLength and totalIrLength. 0, or 5 when the FTDI scan reads a stuck TDO.
#pragma once

#include <cstdint>

#include "jtag/varn_jtag_handle.h"

int varn_jtag_scan_ftdi(VARNJtag* jtag);
int varn_jtag_scan_coe(VARNJtag* jtag);

// Shared by both scans.
void varn_jtag_clear_devices(VARNJtag* jtag);
// The device-table row of a scanned IDCODE; logs an unknown one (-1).
int32_t varn_jtag_classify_scanned(uint32_t idcode);

// Measures the chain's total IR length: shifts a 0 and 319 ones through IRSHIFT and
// returns the position of the last 0 that comes out (-1 when none). Needs a flush
// inside, so it runs on FTDI handles only.
int32_t varn_jtag_measure_ir_length(VARNJtag* jtag);
// Reads the next 32 bits in DRSHIFT (shifting in 0xFF, 0, 0, 0), flushed.
uint32_t varn_jtag_read_idcode_word(VARNJtag* jtag);

// The pattern shifted in while reading IDCODEs: once it comes back, the chain ended.
constexpr uint32_t VARN_JTAG_END_PATTERN = 0x000000FF;
