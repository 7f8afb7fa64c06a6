// The inside of one AXI link, shared by the link engine, the CDMA operations and the
// interrupt code (and by tests that look at the rings).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "app/platform/varn_platform.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_packet.h"

struct VARNAXITxSlot {
  uint8_t request[VARN_AXI_PACKET_SIZE];  // as sent; a bulk write is kept as command 0x02
  uint8_t answer[VARN_AXI_PACKET_SIZE];
  uint8_t done;       // answered, or given up by its waiter
  uint8_t ok;         // an answer was stored
  uint8_t abandoned;  // the waiter timed out
  // The waiter has taken its result (or there is none). Until then the slot must not
  // be passed by txTail, or a later request could reuse it under a sleeping waiter.
  uint8_t released;
  uint8_t bulk;  // a bulk write: its answer carries another address
};

struct VARNAXIIrqEntry {
  uint8_t packet[VARN_AXI_PACKET_SIZE];
  uint8_t valid;
  uint8_t fromTarget;  // a real interrupt packet
  uint8_t kicked;      // a wake-up from VARNAXIKickInterrupts
};

struct _VARNAXI {
  int mode = 0;
  // The socket, set once by create. Dropping the connection shuts it down and clears
  // `connected`; the descriptor is closed only by destroy, after the receive thread
  // has ended, so no thread can ever select or send on a reused descriptor number.
  varn_socket sock = VARN_INVALID_SOCKET;
  std::atomic<bool> connected{false};
  // Set by destroy after its shutdown: the receive thread then reads even without a
  // readiness report (it gets the end at once).
  std::atomic<bool> closing{false};
  std::string host;
  uint16_t port = 0;
  VARNAXIInterruptCallback irqCallbacks[4] = {};
  void* irqContexts[4] = {};
  uint8_t txSeq = 0;
  uint8_t irqExpectedSeq = 0;
  uint8_t txHead = 0;
  uint8_t txTail = 0;
  VARNAXITxSlot txSlots[256] = {};
  // Whether the target repeats a request's address in its answers, learnt per command
  // from its answers (under txLock); once known, an answer with another address is a
  // late one for an earlier request under the same sequence number, not this one's.
  bool echoesAddress[16] = {};
  uint8_t irqHead = 0;
  uint8_t irqTail = 0;
  VARNAXIIrqEntry irqQueue[256] = {};
  std::thread workThread;
  std::mutex txLock;
  std::condition_variable txCond;
  std::mutex irqLock;
  std::condition_variable irqCond;
  std::atomic<int> timeoutMs{250};
};

// Shared by the link engine and the CDMA code.
// Fills in the next sequence number and the check field of `request`, sends it and,
// when `answer` is not null, waits for the answer.
int _VARNAXIDoTransaction(_VARNAXI* axi, uint8_t* request, uint8_t* answer);
// Returns 6 when not connected, else _VARNAXIDoTransaction.
int _VARNAXIDoTransactionGuarded(_VARNAXI* axi, uint8_t* request, uint8_t* answer);
void _VARNAXIWorkThread(_VARNAXI* axi);
// Drops the connection after a failed send: sock 0 and the socket shut down.
void _VARNAXIDropConnection(_VARNAXI* axi);
// Interrupt packet from the receive thread.
void _VARNAXIHandleInterrupt(_VARNAXI* axi, const uint8_t* packet);
