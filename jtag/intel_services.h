// Identity and sensors of Intel devices, read through SDM mailbox commands.
#pragma once

#include <cstdint>

#include "jtag/varn_jtag_handle.h"

int varn_intel_get_dna(VARNJtag* jtag, uint32_t device, uint8_t dna[12]);
int varn_intel_get_temp(VARNJtag* jtag, uint32_t device, double* celsius);
// rail: 0, 1, 2, 3 (answer entries 0, 1, 3, 2); another rail gives 4.
int varn_intel_get_voltage(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts);

// Response-word limits of the three queries.
constexpr uint32_t VARN_INTEL_DNA_POLLS = 50;
constexpr uint32_t VARN_INTEL_TEMP_POLLS = 20;
constexpr uint32_t VARN_INTEL_VOLT_POLLS = 300;
