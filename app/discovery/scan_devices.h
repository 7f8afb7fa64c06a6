// Finding the boards to manage: the CoE boards of the -c list, then the FTDI USB
// devices. Runs once on the main thread before the main loop.
#pragma once

// How many CVP UART ports have been paired with boards so far (in list order, CVP
// UARTs go to boards 0, 1, 2 ...). Lives for the process.
extern int cvpUARTIdx;

// The name of the ports file in the working directory, rewritten by every scan.
constexpr const char* VARN_PORTS_FILE = "virtual_ports";

// scanTarget: VARN_SCAN_ALL, VARN_SCAN_LIST_ONLY, VARN_SCAN_FILTER (gUSBList) or the
// index of one FTDI JTAG device (app/cli/command_line.h). Returns the FTDI driver's
// status when the device list cannot be built, else the result of closing the ports
// file (0 when it could not be created).
int scanDevices(int scanTarget);
