// Helpers shared by the device services, the JTAG-UART and the probe.
#pragma once

#include <cstdint>

#include "jtag/varn_jtag_handle.h"

// 4 for an index at or above deviceCount, 2 for a device with no row, else 0.
int varn_jtag_check_device(const VARNJtag* jtag, uint32_t device);
bool varn_jtag_is_intel(const VARNJtag* jtag, uint32_t device);

// SYSMON DRP over JTAG: writes the 32-bit command, 12 idle clocks, reads the 32-bit
// result (flushed). The instruction for the SLR must already be loaded.
// ok (optional) is cleared when the exchange failed.
uint32_t varn_jtag_sysmon_transfer(VARNJtag* jtag, uint32_t device, uint32_t command, bool* ok = nullptr);
double varn_jtag_sysmon_celsius(uint32_t word);
double varn_jtag_sysmon_volts(uint32_t word);

constexpr uint32_t VARN_SYSMON_READ_TEMP = 0x04000000;
constexpr uint32_t VARN_SYSMON_READ_VCCINT = 0x04010000;

// The carrier board lines in a VU35P boundary scan (1858 bits, 233 bytes).
constexpr uint32_t VARN_CARRIER_BSCAN_BITS = 1858;
constexpr uint32_t VARN_CARRIER_BSCAN_BYTES = (VARN_CARRIER_BSCAN_BITS + 7) / 8;
void varn_jtag_decode_carrier(const uint8_t* scan, uint8_t* carrier, uint8_t* slot, uint32_t* ledBits);
// LED bit numbers in ledBits (a set bit = the LED is on).
constexpr uint32_t VARN_LED_RED = 1u << 6, VARN_LED_GREEN = 1u << 5, VARN_LED_BLUE = 1u << 4;
constexpr uint32_t VARN_LED_A = 1u << 3, VARN_LED_B = 1u << 2, VARN_LED_C = 1u << 1, VARN_LED_D = 1u << 0;
