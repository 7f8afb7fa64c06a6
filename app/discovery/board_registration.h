// Where the board scan hands over what it found: opening a board and registering it
// in the tables (its JTAG connection, ports, identity and thread), and attaching a
// companion UART to a registered board.
#pragma once

#include <cstdio>

#include "ftdi/ftd2xx.h"

// Opens entry `ftdiIndex` of the current FTDI device list and registers it as a board
// with `serial`, writing its port lines to `portsFile` (may be null).
void registerFtdiBoard(DWORD ftdiIndex, const char* serial, FILE* portsFile);

// Connects to the board controller at `address` ("a.b.c.d", or "usb://bus.device")
// and registers the board, writing its port lines to `portsFile` (may be null).
void registerCoEBoard(const char* address, FILE* portsFile);

// Opens UART entry `ftdiIndex` of the FTDI device list and makes it registered board
// `board`'s serial channel.
void attachFtdiUart(int board, DWORD ftdiIndex);
