// The FTDI MPSSE transport: JTAG activity becomes MPSSE command bytes gathered in one
// large buffer with a queue of read requests; a flush writes the commands, reads back
// every reply byte and hands each request its bits. Nothing read is valid before the
// flush that delivers it.
#pragma once

#include <cstdint>

#include "ftdi/ftd2xx.h"

constexpr int32_t MPSSE_BUFFER_SIZE = 65536;
constexpr int32_t MPSSE_REQUEST_SLOTS = 65536;
constexpr int32_t MPSSE_AUTOFLUSH_LEVEL = 32768;
// The largest byte-mode data command whose 3-byte header and data fit an empty buffer.
constexpr uint32_t MPSSE_MAX_DATA_BYTES = 65533;
constexpr uint64_t MPSSE_MAX_IDLE_CLOCKS = 524288;

struct MpsseBuffer {
  uint8_t cmd[MPSSE_BUFFER_SIZE];
  int32_t cmdLen;
  uint8_t rx[MPSSE_BUFFER_SIZE];
  int32_t rxExpected;
  uint8_t* reqDst[MPSSE_REQUEST_SLOTS];
  // Bit count per request; negative keeps a trailing partial byte where the chip puts
  // it (top bits) instead of moving it down to bit 0.
  int32_t reqBits[MPSSE_REQUEST_SLOTS];
  int32_t reqCount;
  // 1 + the offset in cmd of the newest write-only byte-mode data command when the
  // buffer ends with one, else 0. A following write-only shift with the
  // same opcode extends that command instead of adding another 3-byte header.
  int32_t openDataCmd;
  // Set to 1 to let a write-only shift extend the command the buffer ends with. The
  // chip clocks the same bits either way; off by default so every call emits exactly
  // its own command bytes.
  uint8_t coalesceWrites;
  // Requests a flush could not satisfy because the chip returned too few bytes. Callers
  // that must tell missing data from real zeros compare it before and after a flush.
  uint32_t lostRequests;
  // 1 ends every flush that expects replies with 0x87 (send immediate), so the chip
  // returns them at once instead of when its latency timer expires. On by default; 0
  // leaves the replies to the timer (kept for measurements).
  uint8_t sendImmediate;
  int32_t rxGot;  // reply bytes the last flush received
  // Set when a flush that ran inside a queuing or clocking call failed, so that its
  // caller, which may not see that call's result, learns it from its own flush. While
  // set, nothing more is queued; the next ftdi_mpsse_flush returns -1 and clears it.
  uint8_t failed;
};

// An empty buffer on the heap, send-immediate on (nullptr when memory runs out); free
// with mpsse_buffer_free.
MpsseBuffer* mpsse_buffer_alloc();
void mpsse_buffer_free(MpsseBuffer* buffer);

// Channel initialisation: bit-mode reset, MPSSE mode, latency, time-outs, USB
// transfer sizes, purge. Results are not examined. Returns 0.
int initD2XX(FT_HANDLE handle, uint32_t latencyMs);

// The set-up groups, each flushed at once. Divisor: TCK = 30 MHz / (1 + divisor).
int ftdi_mpsse_setup_clock(FT_HANDLE handle, MpsseBuffer* buffer, uint16_t divisor);
int ftdi_mpsse_setup_loopback_off(FT_HANDLE handle, MpsseBuffer* buffer);
// Pin directions and levels for the chip's USB product ID; another ID emits nothing.
int ftdi_mpsse_setup_pins(FT_HANDLE handle, MpsseBuffer* buffer, uint16_t usbPid);

// -1 when the transfer failed, the chip returned fewer reply bytes than requested, or
// an earlier flush inside a queuing or clocking call failed. A failed transfer discards
// everything queued (the chip may have run any part of it, and the requests' buffers
// may belong to callers that have returned) and purges the chip's buffers.
int ftdi_mpsse_flush(FT_HANDLE handle, MpsseBuffer* buffer);
int ftdi_mpsse_queue(FT_HANDLE handle, MpsseBuffer* buffer, const uint8_t* bytes, int32_t count, uint8_t* readDst,
                     int32_t readBits, bool reverse);
int ftdi_mpsse_clock_tms(FT_HANDLE handle, MpsseBuffer* buffer, uint8_t tms, uint8_t* readDst, uint64_t count,
                         bool tdiHigh, bool readNegEdge, bool writeNegEdge);
int ftdi_mpsse_clock_data(FT_HANDLE handle, MpsseBuffer* buffer, const uint8_t* tdi, uint8_t* tdo, uint64_t bits,
                          bool reverse, bool readNegEdge, bool writeNegEdge);
int ftdi_mpsse_clock_cycles(FT_HANDLE handle, MpsseBuffer* buffer, uint64_t cycles);
