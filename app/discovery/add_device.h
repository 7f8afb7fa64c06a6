// Opening one board: its JTAG connection, its place in the tables, one listening TCP
// port per FPGA (or a multi-client AXI bridge behind it), the identity of every FPGA,
// and the board's thread. Runs on the main thread during the scan.
#pragma once

#include <cstdio>

#include "ftdi/ftd2xx.h"

// A CoE board: `address` is the controller's address text and `ftdiHandle` null. A USB
// board: `address` null and `ftdiHandle` the opened JTAG channel. `serial` is stored as
// the board's serial (the USB serial, or the address again). Port lines go to
// `portsFile` when it is open. Failures are logged; nothing is returned.
void addDevice(const char* address, FT_HANDLE ftdiHandle, const char* serial, FILE* portsFile);

// The JTAG clock and latency timer a USB board gets from its serial: boards whose
// serial contains "ZKQ4T" run at 20 MHz with a 2 ms timer, the others at 30 MHz with
// 4 ms; -r replaces the timer either way.
uint32_t VARNUsbJtagClockHz(const char* serial);
uint32_t VARNUsbJtagLatencyMs(const char* serial);

constexpr uint32_t VARN_COE_JTAG_CLOCK_HZ = 13500000;
