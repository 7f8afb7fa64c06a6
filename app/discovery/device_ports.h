// The listening TCP port of each FPGA: bound from the start port upwards past ports
// that other programs hold, listed in the ports file, and in AXI-bridge mode served by
// a multi-client bridge with, where the board family allows, the program's own local
// AXI link through it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/platform/varn_platform.h"

// How far the port search goes past ports in use before giving up on a device.
constexpr int VARN_PORT_SEARCH_LIMIT = 2048;

// Binds `s` to the first port from `start` upwards (16-bit, wrapping) that is not in
// use, trying at most VARN_PORT_SEARCH_LIMIT ports; port 0 is never taken (the system
// would hand out a random port for it). Returns the port, or 0 when none was bound
// (any bind error other than "in use" is reported and ends the search).
uint16_t VARNBindFirstFreePort(varn_socket s, uint16_t start);

enum VARNPortsResult {
  VARN_PORTS_OPENED = 0,     // every device has its port (or its failure was logged)
  VARN_PORTS_ABANDONED = 1,  // a socket could not be created: the board gets no more ports and no thread
};

// Opens the ports of board `b` (devCounts[b] devices) and writes their lines to
// `portsFile` (may be null). A failed socket pair in AXI-bridge mode ends the process
// with status 1.
VARNPortsResult VARNOpenDevicePorts(int b, FILE* portsFile);
