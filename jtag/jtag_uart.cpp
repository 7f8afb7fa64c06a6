// Each FPGA's serial channel: the JTAG-UART user registers inside the design, the
// board's companion FTDI UART, or the CoE controller's UART, behind one set of calls.
#include <cstdint>
#include <cstring>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "jtag/device_services.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

namespace {

// Nine-bit scans per flush: the first batch after a quiet spell, and the most a batch
// grows to while every slot of the last one held a byte (its replies then fill a few
// USB packets instead of one small one per 32 bytes).
constexpr uint32_t kV2Batch = 32;
constexpr uint32_t kV2MaxBatch = 256;
constexpr int kPatientPolls = 51;       // waiting mode 1: about 50 ms

constexpr int kNoData = VARN_JTAG_NO_DATA;
constexpr int kFailed = VARN_JTAG_TRANSFER_FAILED;

// The transport's own serial path (controller or companion UART) or the design's
// JTAG-UART over the TAP.
bool ownSerial(const VARNJtag* jtag, uint32_t device) { return jtag->transport->ownSerial(jtag, device); }

// What a waiting mode does when a poll finds nothing: 0 to poll again (after the 1 ms
// sleep), or the result to give up with. polls counts the empty polls so far.
int waitOrGiveUp(int mode, int& polls) {
  ++polls;
  switch (mode) {
    case 0: return 0;
    case 1: return polls < kPatientPolls ? 0 : kNoData;
    case 2: return kNoData;
    default: return VARN_JTAG_BAD_ARGUMENT;
  }
}

// A multi-byte read that gives up after taking bytes reports them with 0.
int giveUpResult(int code, uint32_t count) { return count > 0 ? 0 : code; }

bool lostInFlush(VARNJtag* jtag, uint32_t lostBefore) { return jtag->transport->lostReplies(jtag) != lostBefore; }

// False when the exchange failed: a zero status would read as "data waiting".
bool readV1Status(VARNJtag* jtag, uint32_t device, uint32_t* status) {
  uint8_t st[4] = {};
  varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER3]);
  varn_jtag_comm_read_dr(jtag, device, 32, st);
  if (varn_jtag_comm_flush(jtag) != 0) return false;
  *status = static_cast<uint32_t>(st[0]) | (static_cast<uint32_t>(st[1]) << 8) |
            (static_cast<uint32_t>(st[2]) << 16) | (static_cast<uint32_t>(st[3]) << 24);
  return true;
}

// Common checks: index, row, then Intel devices on routes that reach the design.
int checkUart(VARNJtag* jtag, uint32_t device, bool jtagRouteOnly) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  const bool own = !jtagRouteOnly && ownSerial(jtag, device);
  if (!own && varn_jtag_is_intel(jtag, device)) return VARN_JTAG_NOT_SUPPORTED;
  return 0;
}

}  // namespace

int VARNJtagUartV1WriteBytes(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length,
                             uint32_t* written) {
  if (written) *written = 0;
  int rc = checkUart(jtag, device, false);
  if (rc != 0) return rc;
  if (length == 0) return 0;
  if (ownSerial(jtag, device)) return jtag->transport->serialWrite(jtag, device, data, length, written);
  // One byte per scan; the design must take a byte per scan (no flow control).
  varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER2]);
  for (uint32_t i = 0; i < length; ++i) varn_jtag_comm_write_dr(jtag, device, 8, data + i, false);
  if (varn_jtag_comm_flush(jtag) != 0) return kFailed;
  if (written) *written = length;
  return 0;
}

int VARNJtagUartV1WriteByte(VARNJtag* jtag, uint32_t device, uint8_t byte) {
  uint32_t written = 0;
  int rc = VARNJtagUartV1WriteBytes(jtag, device, &byte, 1, &written);
  if (rc != 0) return rc;
  return written == 1 ? 0 : kFailed;
}

int VARNJtagUartV1ReadBytes(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count,
                            int mode) {
  if (count) *count = 0;
  int rc = checkUart(jtag, device, true);
  if (rc != 0) return rc;
  uint32_t got = 0;
  int polls = 0;
  while (got < capacity) {
    uint32_t status = 0;
    if (!readV1Status(jtag, device, &status)) return giveUpResult(kFailed, got);
    const uint8_t fifo = static_cast<uint8_t>(status >> 16);
    uint32_t take = 0;
    if (!(status & 0x04)) {
      take = fifo < capacity - got ? fifo : capacity - got;
      if (fifo != 0) VARNLog("FPGA side FIFO has %hhu bytes reading %hhu\n", fifo, static_cast<uint8_t>(take));
    }
    if (take == 0) {
      // Empty, or a status that claims data but counts none: wait the same way.
      int give = waitOrGiveUp(mode, polls);
      if (give != 0) {
        if (count) *count = got;
        return giveUpResult(give, got);
      }
      varn_sleep_ms(1);
      continue;
    }
    varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER1]);
    for (uint32_t i = 0; i < take; ++i) varn_jtag_comm_read_dr(jtag, device, 8, buffer + got + i);
    // Bytes of a failed exchange are not data; those taken before it are.
    if (varn_jtag_comm_flush(jtag) != 0) return giveUpResult(kFailed, got);
    got += take;
    if (count) *count = got;
  }
  return 0;
}

int VARNJtagUartV1ReadByte(VARNJtag* jtag, uint32_t device, uint8_t* byte, int mode) {
  int rc = checkUart(jtag, device, true);
  if (rc != 0) return rc;
  int polls = 0;
  for (;;) {
    uint32_t status = 0;
    if (!readV1Status(jtag, device, &status)) return kFailed;
    if (!(status & 0x04)) break;
    int give = waitOrGiveUp(mode, polls);
    if (give != 0) return give;
    varn_sleep_ms(1);
  }
  varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER1]);
  uint8_t got = 0;
  varn_jtag_comm_read_dr(jtag, device, 8, &got);
  if (varn_jtag_comm_flush(jtag) != 0) return kFailed;
  *byte = got;
  return 0;
}

int VARNJtagUartV2ReadByte(VARNJtag* jtag, uint32_t device, uint8_t* byte, int mode) {
  int rc = checkUart(jtag, device, false);
  if (rc != 0) return rc;
  if (ownSerial(jtag, device)) return jtag->transport->serialRead(jtag, device, byte, 1, nullptr);
  int polls = 0;
  for (;;) {
    uint8_t slot[2] = {};
    varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER1]);
    varn_jtag_comm_read_dr(jtag, device, 9, slot);
    const uint32_t lostBefore = jtag->transport->lostReplies(jtag);
    if (varn_jtag_comm_flush(jtag) != 0 || lostInFlush(jtag, lostBefore)) return kFailed;
    if (slot[1] == 0) {
      *byte = slot[0];
      return 0;
    }
    int give = waitOrGiveUp(mode, polls);
    if (give != 0) return give;
    varn_sleep_ms(1);
  }
}

namespace {

// Queues one read batch of nine-bit scans (at most `room` of them) after whatever is
// queued already, flushes, and takes every valid slot in order. False when the exchange
// failed (nothing taken then). *sawEmpty tells whether the FIFO ran dry in the batch.
bool exchangeV2Batch(VARNJtag* jtag, uint32_t device, uint8_t* out, uint32_t room, uint32_t* took, bool* sawEmpty) {
  uint16_t& batch = jtag->uartBatch[device];
  if (batch < kV2Batch || batch > kV2MaxBatch) batch = kV2Batch;
  uint8_t slots[kV2MaxBatch][2];
  const uint32_t k = room < batch ? room : batch;
  std::memset(slots, 0, sizeof(slots[0]) * k);
  varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER1]);
  for (uint32_t s = 0; s < k; ++s) varn_jtag_comm_read_dr(jtag, device, 9, slots[s]);
  const uint32_t lostBefore = jtag->transport->lostReplies(jtag);
  // Zeros from a failed exchange would pass for data bytes.
  if (varn_jtag_comm_flush(jtag) != 0 || lostInFlush(jtag, lostBefore)) return false;
  // Every scan of the batch moved the design's FIFO on by one byte or one empty slot,
  // so all valid slots are taken, in order, even behind an empty one.
  *sawEmpty = false;
  *took = 0;
  for (uint32_t s = 0; s < k; ++s) {
    if (slots[s][1] != 0) {
      *sawEmpty = true;
      continue;
    }
    out[(*took)++] = slots[s][0];
  }
  // A full batch says more is waiting: ask for more next time. An empty slot says the
  // FIFO ran dry: back to the small batch, which costs the least while quiet.
  if (*sawEmpty) {
    batch = kV2Batch;
  } else if (k == batch && batch < kV2MaxBatch && !jtag->uartBatchFixed) {
    batch = static_cast<uint16_t>(batch * 2);
  }
  return true;
}

}  // namespace

int VARNJtagUartV2ReadBytes(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count,
                            int mode) {
  if (count) *count = 0;
  int rc = checkUart(jtag, device, false);
  if (rc != 0) return rc;
  if (capacity == 0) return 0;
  if (ownSerial(jtag, device)) return jtag->transport->serialRead(jtag, device, buffer, capacity, count);
  uint32_t got = 0;
  int polls = 0;
  while (got < capacity) {
    uint32_t took = 0;
    bool sawEmpty = false;
    if (!exchangeV2Batch(jtag, device, buffer + got, capacity - got, &took, &sawEmpty)) return got > 0 ? 0 : kFailed;
    got += took;
    if (count) *count = got;
    if (sawEmpty && got < capacity) {
      int give = waitOrGiveUp(mode, polls);
      if (give != 0) return giveUpResult(give, got);
      varn_sleep_ms(1);
    }
  }
  return 0;
}

int VARNJtagUartWriteThenRead(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length,
                              uint32_t* written, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  if (written) *written = 0;
  if (count) *count = 0;
  int rc = checkUart(jtag, device, true);
  if (rc != 0) return rc;
  if (length == 0 || capacity == 0) return VARN_JTAG_BAD_ARGUMENT;
  // The bytes go in first, then the read batch, all in one exchange.
  varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_USER2]);
  for (uint32_t i = 0; i < length; ++i) varn_jtag_comm_write_dr(jtag, device, 8, data + i, false);
  uint32_t took = 0;
  bool sawEmpty = false;
  if (!exchangeV2Batch(jtag, device, buffer, capacity, &took, &sawEmpty)) return kFailed;
  if (written) *written = length;
  if (count) *count = took;
  return 0;
}
