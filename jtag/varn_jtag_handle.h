// The inside of a VARNJtag board handle, shared by the JTAG engine and the Parts that
// drive a board through it (bitstream loading, regulators, XVC).
#pragma once

#include <cstdint>

#include "ftdi/ftd2xx.h"
#include "jtag/varn_jtag.h"

struct MpsseBuffer;
struct _VNCoELink;
struct VARNJtagTransport;

struct VARNJtag {
  const VARNJtagTransport* transport;  // chosen at creation (jtag/transport.h)
  FT_HANDLE ftHandle;        // JTAG channel; null for CoE
  MpsseBuffer* mpsse;        // owned; allocated zeroed at creation, also for CoE handles
  _VNCoELink* coeLink;       // the CoE transport's link; only that transport uses it
  uint8_t xvcActive;         // the CoE link belongs to the XVC server; CoE shifts fail
  // CoE: shifts and idle clocks are posted and answered by the next flush (as FTDI
  // queues them), so a run of them costs one round trip. Set only around callers that
  // flush before they look at what they read (VarnJtagQueueScope).
  uint8_t coeQueue;
  uint32_t tapState;         // current TAP state code; RESET at creation
  uint8_t busInitialized;
  uint32_t jtagLatency;      // ms, 4 at creation
  uint32_t uartLatency;      // ms, 4 at creation
  uint16_t usbPid;           // FTDI product ID (0x6014 for CoE handles)
  uint32_t jtagClockHz;
  int32_t totalIrLength;     // as measured over FTDI; 0 for CoE
  uint32_t deviceCount;      // 0..4
  uint32_t idcodes[VARN_JTAG_MAX_DEVICES];
  int32_t deviceType[VARN_JTAG_MAX_DEVICES];  // device-table row, -1 = none
  int32_t irLength[VARN_JTAG_MAX_DEVICES];
  uint8_t coeSlot[VARN_JTAG_MAX_DEVICES];     // 0, 1, 2, 3 at creation
  // JTAG-UART v2: nine-bit scans in the next read batch; grows while batches come back
  // full (0 at creation reads as the first size).
  uint16_t uartBatch[VARN_JTAG_MAX_DEVICES];
  uint8_t uartBatchFixed;  // 1: batches stay at the first size (measurements only)
  FT_HANDLE uartHandle;      // companion UART channel, or null
};

// Lets the CoE transport post the requests of one run of queued operations; the caller
// flushes before the scope ends and before it uses any captured data.
class VarnJtagQueueScope {
 public:
  explicit VarnJtagQueueScope(VARNJtag* jtag) : jtag_(jtag), was_(jtag->coeQueue) { jtag->coeQueue = 1; }
  ~VarnJtagQueueScope() { jtag_->coeQueue = was_; }
  VarnJtagQueueScope(const VarnJtagQueueScope&) = delete;
  VarnJtagQueueScope& operator=(const VarnJtagQueueScope&) = delete;

 private:
  VARNJtag* jtag_;
  uint8_t was_;
};
