// The state one board thread keeps for its devices' serial channels, and the turn
// that moves bytes between them and their TCP clients (or, in AXI-bridge mode, the
// bridge's socket pairs).
#pragma once

#include <cstdint>

#include "app/boardthread/channel_backoff.h"
#include "app/boardthread/uart_pacer.h"
#include "app/platform/varn_wake.h"
#include "app/registry/varn_registry.h"

struct VARNJtag;

// One receive or one drain moves at most this much per device and turn.
constexpr uint32_t VARN_TRANSFER_SIZE = 2048;
// A device whose bytes arrive only when asked (JTAG-UART, an FTDI UART) is polled at
// once while bytes flow, then at growing intervals from the shortest to the longest
// while it stays quiet: an idle board costs a few polls per 10 ms, and a first byte
// after a quiet spell still reaches its client within the longest interval.
constexpr uint64_t VARN_POLL_MIN_NS = 250000;
constexpr uint64_t VARN_POLL_MAX_NS = 5000000;
// A client held back by the controller UART's pace is looked at again this soon.
constexpr uint64_t VARN_PACED_RECHECK_NS = 3000000;
// A failing channel's retry time is looked at this often.
constexpr uint64_t VARN_BACKOFF_RECHECK_NS = 10000000;
// A board controller's UART runs at 1 Mbaud (the rate the JTAG engine configures),
// ten bit times per byte; the pace keeps a margin below it.
constexpr double VARN_COE_UART_PACE_BYTES_PER_S = 95000.0;
constexpr uint32_t VARN_COE_UART_BURST = 4096;
// Below this allowance the client is left waiting rather than read in tiny pieces.
constexpr uint32_t VARN_COE_UART_MIN_CHUNK = 256;

struct VARNDeviceLane {
  // Device bytes read but not yet taken by the client: while any are held the device
  // is not drained further and its client's input waits, so a slow client slows its
  // own device instead of losing bytes or holding up the board.
  uint8_t out[VARN_TRANSFER_SIZE];
  uint32_t outStart = 0;
  uint32_t outLen = 0;
  // The device's serial channel failed: reads and writes wait for the backoff.
  VARNChannelBackoff health;
  VARNUartPacer pacer{VARN_COE_UART_PACE_BYTES_PER_S, VARN_COE_UART_BURST};
  // AXI-bridge mode: the bridge closed its end of the pair; it never comes back.
  bool pairClosed = false;
  // Serial mode: the client shut down its sending side (as `nc -N` does after its
  // command) and still reads: it gets the device's output until the device has been
  // quiet for VARN_HALF_CLOSED_QUIET_NS, then the connection is closed.
  bool inputClosed = false;
  uint64_t quietSinceNs = 0;
  // When the device is next read, and the interval that set it.
  uint64_t nextPollNs = 0;
  uint64_t pollIntervalNs = 0;
};

constexpr uint64_t VARN_HALF_CLOSED_QUIET_NS = 2000000000ull;

struct VARNBoardPump {
  int board = 0;
  int devices = 0;
  VARNJtag* jtag = nullptr;
  bool coe = false;
  bool axiMode = false;
  // Client-to-device transfers.
  uint8_t buffer[VARN_TRANSFER_SIZE];
  VARNDeviceLane lane[MAX_DEVICES];
  // Consecutive failed waits (reported once per streak).
  uint32_t waitFailures = 0;
  // CoE boards: signalled by the controller link when UART bytes arrive.
  VARNWake wake;
};

// Sets the pump up for board `b` from the tables.
void VARNBoardPumpInit(VARNBoardPump* p, int b);

// One turn: wait for the board's sockets, the controller link's wake-up, or the next
// poll of a device (at most maxWaitNs), accept and serve what is ready, send held
// device bytes, and drain every device whose poll is due.
void VARNBoardPumpTurn(VARNBoardPump* p, uint64_t maxWaitNs);

// For measurements only: every turn waits exactly `us` microseconds and drains every
// device, as the loop did before it waited for work (0 = wait for work, the default).
void VARNBoardPumpUseFixedWait(int64_t us);

// Whether the board's link to its devices is up (a CoE board's controller link is
// connected; an FTDI board has no such link to lose). Costs nothing: asked every turn.
bool VARNBoardLinkUp(const VARNBoardPump* p);
// The same, also asking an FTDI board's driver whether its chip is still on the bus
// (one status call: for the 100 ms step, not for every turn).
bool VARNBoardLinkAnswers(const VARNBoardPump* p);
