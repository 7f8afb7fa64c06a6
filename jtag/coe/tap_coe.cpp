// TAP operations over a CoE board controller in device-abstraction mode: the
// controller walks the TAP itself, so only instruction loads, data shifts and idle
// clocks travel, each addressed by device index.
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link.h"
#include "coe/coe_request.h"
#include "jtag/tap.h"
#include "jtag/tap_internal.h"

namespace {

constexpr uint32_t kMaxChunkBits = 16384;
constexpr uint32_t kAnswerCapacity = 4096;

// Shift-request flags.
constexpr uint8_t kFlagIr = 0x09;
constexpr uint8_t kFlagDrEnd = 0x11;   // leaves the data register after this chunk
constexpr uint8_t kFlagDrMore = 0x13;  // stays in Shift-DR for the next chunk
constexpr uint8_t kFlagCapture = 0x20;
constexpr uint8_t kFlagReverse = 0x40;

// The device whose TDI side holds tdiSideBits instruction bits. In a chain of equal
// parts that is tdiSideBits / irLength; in a mixed chain the scanned lengths decide.
uint32_t deviceAt(const VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength) {
  int32_t offset = 0;
  for (uint32_t i = 0; i < jtag->deviceCount && i < static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES); ++i) {
    if (offset == tdiSideBits && jtag->irLength[i] == irLength) return i;
    offset += jtag->irLength[i];
  }
  return static_cast<uint32_t>(tdiSideBits / irLength);
}

}  // namespace

// The controller knows the chain: the total IR length and the end state are its own.
int tap_coe_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t, uint64_t instruction,
                     uint64_t* capture, uint32_t) {
  if (jtag->xvcActive) return -1;
  if (irLength <= 0 || irLength > 64 || tdiSideBits < 0) {
    VARNLog("CoE IR SHIFT refused: IR length %i, offset %i\n", irLength, tdiSideBits);
    return -1;
  }
  const uint32_t n = static_cast<uint32_t>(irLength);
  uint8_t payload[4 + 8];
  payload[0] = static_cast<uint8_t>(deviceAt(jtag, tdiSideBits, irLength));
  payload[1] = capture ? static_cast<uint8_t>(kFlagIr | kFlagCapture) : kFlagIr;
  payload[2] = 0;
  payload[3] = 0;
  const uint32_t bytes = (n + 7) / 8;
  for (uint32_t i = 0; i < bytes; ++i) payload[4 + i] = static_cast<uint8_t>(instruction >> (8 * i));
  if (jtag->coeQueue && capture == nullptr) {
    if (VNCoELinkPost(jtag->coeLink, VN_COE_CMD_DEVICE_SHIFT, VN_COE_TAG_REQUEST, payload, 4 + bytes, nullptr, 0) == 0)
      return 0;
    VARNLog("CoE IR SHIFT failed\n");
    return -1;
  }
  uint8_t answer[kAnswerCapacity];
  uint32_t answerLen = 0;
  if (varn_jtag_coe_request(jtag->coeLink, VN_COE_CMD_DEVICE_SHIFT, VN_COE_TAG_REQUEST, payload, 4 + bytes, answer, &answerLen,
                            sizeof answer) != 0) {
    VARNLog("CoE IR SHIFT failed\n");
    return -1;
  }
  if (capture != nullptr) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < answerLen && i < 8; ++i) v |= static_cast<uint64_t>(answer[i]) << (8 * i);
    *capture = v;
  }
  return 0;
}

int tap_coe_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t, const uint8_t* tdi, uint8_t* tdo,
                     uint32_t endState, bool reverse) {
  if (jtag->xvcActive) return -1;
  if (bits == 0) return 0;
  uint8_t payload[4 + kMaxChunkBits / 8];
  uint8_t answer[kAnswerCapacity];
  for (uint64_t start = 0; start < bits; start += kMaxChunkBits) {
    const uint32_t chunk = static_cast<uint32_t>(bits - start < kMaxChunkBits ? bits - start : kMaxChunkBits);
    const bool lastChunk = start + chunk >= bits;
    const uint32_t bytes = (chunk + 7) / 8;
    uint8_t flags = (lastChunk && endState != DRSHIFT) ? kFlagDrEnd : kFlagDrMore;
    if (tdo) flags |= kFlagCapture;
    if (reverse) flags |= kFlagReverse;
    payload[0] = static_cast<uint8_t>(device);
    payload[1] = flags;
    payload[2] = static_cast<uint8_t>(chunk & 0xFF);
    payload[3] = static_cast<uint8_t>(chunk >> 8);
    if (tdi) {
      std::memcpy(payload + 4, tdi + start / 8, bytes);
    } else {
      std::memset(payload + 4, 0, bytes);
    }
    if (jtag->coeQueue) {
      // The answer lands in tdo when it arrives; the flush waits for it.
      uint8_t* into = tdo ? tdo + start / 8 : nullptr;
      if (into) std::memset(into, 0, bytes);
      if (VNCoELinkPost(jtag->coeLink, VN_COE_CMD_DEVICE_SHIFT, VN_COE_TAG_REQUEST, payload, 4 + bytes, into,
                        into ? bytes : 0) != 0) {
        VARNLog("CoE DR SHIFT failed\n");
        return -1;
      }
      continue;
    }
    uint32_t answerLen = 0;
    if (varn_jtag_coe_request(jtag->coeLink, VN_COE_CMD_DEVICE_SHIFT, VN_COE_TAG_REQUEST, payload, 4 + bytes, answer, &answerLen,
                              sizeof answer) != 0) {
      VARNLog("CoE DR SHIFT failed\n");
      return -1;
    }
    if (tdo) {
      // Bytes a short answer does not cover read as zero, as a cleared FTDI capture does.
      std::memset(tdo + start / 8, 0, bytes);
      std::memcpy(tdo + start / 8, answer, answerLen < bytes ? answerLen : bytes);
    }
  }
  return 0;
}

int tap_coe_wait(VARNJtag* jtag, uint32_t clocks) {
  if (jtag->xvcActive) return -1;
  if (jtag->coeQueue) return VNCoEIdleClocks(jtag->coeLink, clocks, true);
  return coe_clock_cycles(jtag->coeLink, clocks);
}

int coe_clock_cycles(_VNCoELink* link, uint32_t clocks) { return VNCoEIdleClocks(link, clocks); }

int coe_clock_tms(_VNCoELink*, uint8_t, uint8_t*, uint64_t, bool) { return -1; }

int coe_clock_data(_VNCoELink*, const uint8_t*, uint8_t*, uint64_t, bool) { return -1; }
