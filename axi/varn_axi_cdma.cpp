// Block copies through the design's AXI CDMA engine: host data is staged by bulk
// writes into a 64 KiB memory that the engine reads, and read back word by word
// from the same memory after the engine filled it.
#include <cstring>

#include "app/log/varn_log.h"
#include "axi/varn_axi_handle.h"

namespace {

constexpr uint64_t kCdmaControl = 0x00120000;
constexpr uint64_t kCdmaStatus = 0x00120004;
constexpr uint64_t kCdmaSourceLow = 0x00120018;
constexpr uint64_t kCdmaSourceHigh = 0x0012001C;
constexpr uint64_t kCdmaDestLow = 0x00120020;
constexpr uint64_t kCdmaDestHigh = 0x00120024;
constexpr uint64_t kCdmaBytesToTransfer = 0x00120028;
constexpr uint32_t kCdmaReset = 4;
// The staging memory: where the link sees it, and where the engine sees it (high word 2).
constexpr uint64_t kStagingLink = 0x00200000;
constexpr uint32_t kStagingEngineHigh = 2;

constexpr uint32_t kStatusIdle = 0x02;
constexpr uint32_t kStatusInternalError = 0x10;
constexpr uint32_t kStatusSlaveError = 0x20;
constexpr uint32_t kStatusDecodeError = 0x40;

constexpr uint32_t kWriteChunk = 0x10000;
constexpr uint32_t kStagingPiece = 3968;
constexpr uint64_t kCopyChunk = 0x2000000;

int regWrite(_VARNAXI* axi, uint64_t address, uint32_t value) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  return VARNAXIWrite(axi, value, address, false);
}

int resetEngine(_VARNAXI* axi) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  VARNAXIWrite(axi, kCdmaReset, kCdmaControl, false);
  return VARN_AXI_OK;
}

// An engine moves well over 16 MB/s; one that is still busy after this long for its
// transfer never will be, and the caller is not held for ever.
constexpr uint64_t kEngineFloorMs = 1000;
constexpr uint64_t kEngineBytesPerMs = 16384;

// Polls the status register until the engine is idle or reports an error, or the
// bound for `length` bytes has passed (3, the engine reset).
int waitForEngine(_VARNAXI* axi, uint64_t length) {
  const uint64_t boundMs = kEngineFloorMs + length / kEngineBytesPerMs;
  const uint64_t deadline = varn_monotonic_ns() + boundMs * 1000000u;
  for (;;) {
    uint32_t status = 0;
    int r = VARNAXIRead(axi, &status, kCdmaStatus);
    if (r != VARN_AXI_OK) return r;
    if (!(status & kStatusIdle) && varn_monotonic_ns() > deadline) {
      VARNLog("CDMA engine still busy after %llu ms for %llu bytes (status %08x) - resetting it\n",
              static_cast<unsigned long long>(boundMs), static_cast<unsigned long long>(length), status);
      resetEngine(axi);
      return VARN_AXI_TIMEOUT;
    }
    uint32_t errors = status & (kStatusInternalError | kStatusSlaveError | kStatusDecodeError);
    if (errors) {
      if (errors & kStatusDecodeError) VARNLog("CDMA Decode Error!\n");
      if (errors & kStatusSlaveError) VARNLog("CDMA Slave Error!\n");
      if (errors & kStatusInternalError) VARNLog("CDMA Internal Error!\n");
      resetEngine(axi);
      return VARN_AXI_TARGET_ERROR;
    }
    if (status & kStatusIdle) return VARN_AXI_OK;
  }
}

// Writes a 64-bit address as its low and high words.
int regWrite64(_VARNAXI* axi, uint64_t lowReg, uint64_t highReg, uint64_t value) {
  int r = regWrite(axi, lowReg, uint32_t(value));
  if (r != VARN_AXI_OK) return r;
  return regWrite(axi, highReg, uint32_t(value >> 32));
}

void warnAlignment(uint64_t length) {
  if (length % 4 != 0) VARNLog("WARNING! CDMA data not 32 bit aligned! Unsupported\n");
}

}  // namespace

int VARNAXICDMAWriteBytes(_VARNAXI* axi, const uint8_t* data, uint32_t length, uint64_t destination) {
  warnAlignment(length);
  int r = resetEngine(axi);
  if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaSourceLow, 0);
  if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaSourceHigh, kStagingEngineHigh);
  if (r != VARN_AXI_OK) return r;
  for (uint64_t o = 0; o < length; o += kWriteChunk) {
    uint32_t n = length - o < kWriteChunk ? uint32_t(length - o) : kWriteChunk;
    for (uint32_t t = 0; t < n; t += kStagingPiece) {
      uint32_t piece = n - t < kStagingPiece ? n - t : kStagingPiece;
      if (piece % 16 != 0) return VARN_AXI_BAD_ARGUMENT;
      r = VARNAXIWriteBulk(axi, data + o + t, piece, kStagingLink + t, false);
      if (r != VARN_AXI_OK) return r;
    }
    r = regWrite64(axi, kCdmaDestLow, kCdmaDestHigh, destination + o);
    if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaBytesToTransfer, n);
    if (r == VARN_AXI_OK) r = waitForEngine(axi, n);
    if (r != VARN_AXI_OK) return r;
  }
  return VARN_AXI_OK;
}

int VARNAXICDMAReadBytes(_VARNAXI* axi, uint8_t* data, uint32_t length, uint64_t source) {
  warnAlignment(length);
  int r = resetEngine(axi);
  if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaDestLow, 0);
  if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaDestHigh, kStagingEngineHigh);
  if (r != VARN_AXI_OK) return r;
  for (uint64_t o = 0; o < length; o += kWriteChunk) {
    uint32_t n = length - o < kWriteChunk ? uint32_t(length - o) : kWriteChunk;
    r = regWrite64(axi, kCdmaSourceLow, kCdmaSourceHigh, source + o);
    if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaBytesToTransfer, n);
    if (r == VARN_AXI_OK) r = waitForEngine(axi, n);
    if (r != VARN_AXI_OK) return r;
    for (uint32_t off = 0; off < n; off += 4) {
      uint32_t word = 0;
      r = VARNAXIRead(axi, &word, kStagingLink + off);
      if (r != VARN_AXI_OK) return r;
      // A length that is not a multiple of 4 ends in a partial word: store only what
      // the caller's buffer holds.
      uint32_t keep = n - off < 4 ? n - off : 4;
      std::memcpy(data + o + off, &word, keep);
    }
  }
  return VARN_AXI_OK;
}

int VARNAXICDMACopyBytes(_VARNAXI* axi, uint64_t source, uint64_t destination, uint64_t length) {
  warnAlignment(length);
  int r = resetEngine(axi);
  if (r != VARN_AXI_OK) return r;
  if (length == 0) return VARN_AXI_OK;
  for (uint64_t o = 0; o < length; o += kCopyChunk) {
    uint64_t n = length - o < kCopyChunk ? length - o : kCopyChunk;
    r = regWrite64(axi, kCdmaDestLow, kCdmaDestHigh, destination + o);
    if (r == VARN_AXI_OK) r = regWrite64(axi, kCdmaSourceLow, kCdmaSourceHigh, source + o);
    if (r == VARN_AXI_OK) r = regWrite(axi, kCdmaBytesToTransfer, uint32_t(n));
    if (r == VARN_AXI_OK) r = waitForEngine(axi, n);
    if (r != VARN_AXI_OK) return r;
  }
  return VARN_AXI_OK;
}
