// The AXI link: the host side of the 16-byte packet protocol, over a TCP connection to
// a port that carries one FPGA's serial channel (or to a multi-client AXI bridge port).
// Blocking and fire-and-forget register access, bulk writes, CDMA block copies and
// interrupts. Any number of threads may use one link at once.
//
// Result codes of every operation:
//   0 success
//   1 the target flagged an error (bulk write, CDMA), or the interrupt index has a callback
//   2 bad argument (bulk length not a multiple of 16, interrupt index out of range)
//   3 timed out waiting for the answer
//   4 no valid answer (not marked ok, or bulk checksum mismatch)
//   5 too many outstanding requests (255 already in flight)
//   6 not connected, or a send failed and the connection was dropped
#pragma once

#include <cstdint>

struct _VARNAXI;

constexpr int VARN_AXI_OK = 0;
constexpr int VARN_AXI_TARGET_ERROR = 1;
constexpr int VARN_AXI_BAD_ARGUMENT = 2;
constexpr int VARN_AXI_TIMEOUT = 3;
constexpr int VARN_AXI_NO_ANSWER = 4;
constexpr int VARN_AXI_RING_FULL = 5;
constexpr int VARN_AXI_NOT_CONNECTED = 6;

// Runs on the link's receive thread with the interrupt lock held: it must not call
// the interrupt operations of the same link.
using VARNAXIInterruptCallback = void (*)(_VARNAXI* axi, int index, uint64_t value, void* context);

// mode 0 connects to host:port (dotted IPv4); any other mode gives an unconnected
// handle on which every operation reports 6. Null on failure.
_VARNAXI* VARNAXICreate(int mode, const char* host, uint16_t port);
// Closes the connection, joins the receive thread and frees the handle; clears *axi.
// No other thread may be using the link when it is called.
void VARNAXIDestroy(_VARNAXI** axi);
int VARNAXIIsConnected(_VARNAXI* axi);
// Answer time-out in milliseconds (250 at creation).
int VARNAXISetTimeout(_VARNAXI* axi, int ms);

int VARNAXIRead(_VARNAXI* axi, uint32_t* out, uint64_t address);
// wait false: returns once the packet is sent; the answer is discarded when it comes.
int VARNAXIWrite(_VARNAXI* axi, uint32_t value, uint64_t address, bool wait);
// Loop-back test; logs the answer.
int VARNAXITest(_VARNAXI* axi);
// Writes length bytes (a multiple of 16) from address on. noSwap false sends each
// host-order 32-bit word big-endian; true sends the bytes unchanged. The target's
// CRC-32 of what it received is checked.
int VARNAXIWriteBulk(_VARNAXI* axi, const uint8_t* data, uint32_t length, uint64_t address, bool noSwap);

// Block copies through the design's CDMA engine and its 64 KiB staging memory. At
// most one CDMA operation per FPGA at a time.
int VARNAXICDMAWriteBytes(_VARNAXI* axi, const uint8_t* data, uint32_t length, uint64_t destination);
int VARNAXICDMAReadBytes(_VARNAXI* axi, uint8_t* data, uint32_t length, uint64_t source);
int VARNAXICDMACopyBytes(_VARNAXI* axi, uint64_t source, uint64_t destination, uint64_t length);

// Interrupts. index 0..3; a null callback removes it.
int VARNAXIRegisterForInterrupts(_VARNAXI* axi, unsigned index, VARNAXIInterruptCallback callback,
                                 void* context);
// Sends the interrupt-mask packet (registers the mask with a multi-client bridge).
int VARNAXIEnableInterruptsWithMask(_VARNAXI* axi, uint8_t mask);
// Waits for a queued interrupt; out[0] = low, out[1] = high word of its 64-bit value.
int VARNAXIWaitForInterrupt(_VARNAXI* axi, unsigned index, uint32_t* out, uint32_t timeoutMs);
// Wakes a waiter (it returns 3).
int VARNAXIKickInterrupts(_VARNAXI* axi);
