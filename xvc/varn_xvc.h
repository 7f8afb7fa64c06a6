// The Xilinx Virtual Cable (XVC 1.0) server of a CoE board: a JTAG tool on another
// machine drives the board's chain through the board controller's raw TMS/TDI shifts.
// One client at a time; the server runs on its own thread for the life of the process.
#pragma once

#include <cstdint>

struct VARNJtag;
struct _VNCoELink;

constexpr uint16_t VARN_XVC_DEFAULT_PORT = 2542;  // what -j 0 selects
constexpr uint32_t VARN_XVC_VECTOR_BYTES = 4096;  // advertised by "getinfo:"
// A shift longer than this many bytes per vector ends the connection ("invalid length"):
// 16 times what is advertised, beyond every XVC client surveyed, and it bounds what one
// peer can make the server allocate (twice this).
constexpr uint32_t VARN_XVC_MAX_VECTOR_BYTES = 65536;

// Hands a CoE board to the XVC server: sets xvcActive (the engine's own JTAG requests
// on the board then fail) and starts the server thread. 3 for a board without a CoE
// link, or where this build has no XVC server; else the thread start's result.
int VARNJtagSwitchToXVC(VARNJtag* jtag, uint16_t port);

// The server: switches the controller to raw JTAG mode, then serves clients one after
// the other on `port` (0 = 2542). It does not return.
[[noreturn]] void VNCoEStartXVC(_VNCoELink* link, uint16_t port);
