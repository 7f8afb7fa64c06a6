// What the bitstream operations share among themselves: device checks, the instruction
// load that addresses one device on either transport, and progress reporting.
#pragma once

#include <cstdint>

#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

// The longest list entry taken as a path.
constexpr uint32_t VARN_BIT_PATH_MAX = 4096;

// Vendor of a scanned device: every row whose vendor is not Intel is treated as Xilinx.
inline bool varn_bit_is_intel(const VARNJtag* jtag, uint32_t device) {
  const int32_t row = jtag->deviceType[device];
  return row >= 0 && row < JTAG_DEVICE_ROWS && JTAG_VENDORS[row] == JTAG_VENDOR_INTEL;
}

// The device's instruction-map entry (0 for a device without a row).
inline uint64_t varn_bit_instruction(const VARNJtag* jtag, uint32_t device, int column) {
  const int32_t row = jtag->deviceType[device];
  return (row >= 0 && row < JTAG_DEVICE_ROWS) ? JTAG_I_MAP[row][column] : 0;
}

// Loads one device's instruction, ending in IRUPDATE; capture (may be null) receives
// the device's captured IR value (valid after a flush).
int varn_bit_load_instruction(VARNJtag* jtag, uint32_t device, uint64_t instruction, uint64_t* capture);

// Progress in percent; nothing when the caller passed no cell.
inline void varn_bit_progress(VARNProgressCell* cell, double percent) {
  if (cell != nullptr) cell->store(percent, std::memory_order_relaxed);
}
// While a load runs the display may not reach 100: that value means the load succeeded.
constexpr double VARN_BIT_PROGRESS_RUNNING_MAX = 99.0;

// The Intel path of VARNJtagLoadBitstream, after the index check and the progress reset.
int varn_bit_load_intel(VARNJtag* jtag, uint32_t device, const char* path, VARNProgressCell* progress);

// How long a CoE load waits before asking the controller for the DONE state (1000 ms).
// Tests of many loads shorten it.
void varn_bit_set_coe_status_pause_ms(uint32_t ms);
uint32_t varn_bit_coe_status_pause_ms();
