#include "jtag/ftdi/mpsse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kDriverCalls = 16;  // write/read attempts per flush before giving up

struct ReverseTable {
  uint8_t v[256];
  constexpr ReverseTable() : v() {
    for (int i = 0; i < 256; ++i) {
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b) {
        if (i & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
      }
      v[i] = r;
    }
  }
};
constexpr ReverseTable kReverse;

inline int32_t bytesFor(int64_t bits) { return static_cast<int32_t>((bits + 7) / 8); }

void copyOut(uint8_t* dst, const uint8_t* src, uint32_t n, bool reverse) {
  if (!reverse) {
    std::memcpy(dst, src, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) dst[i] = kReverse.v[src[i]];
}

int transfer(FT_HANDLE handle, MpsseBuffer* b);

// A flush on behalf of a queuing or clocking call: its failure stays noted until the
// caller's own flush reports it.
int flushInside(FT_HANDLE handle, MpsseBuffer* b) {
  if (transfer(handle, b) == 0) return 0;
  b->failed = 1;
  return -1;
}

int autoFlush(FT_HANDLE handle, MpsseBuffer* b) {
  if (b->cmdLen > MPSSE_AUTOFLUSH_LEVEL || b->rxExpected > MPSSE_AUTOFLUSH_LEVEL) return flushInside(handle, b);
  return 0;
}

// Makes room for cmdBytes more command bytes and, when rxBytes > 0, one request of
// rxBytes reply bytes. 0, or -1 when the flush that had to run failed (it printed why)
// or the piece cannot fit even an empty buffer.
int makeRoom(FT_HANDLE handle, MpsseBuffer* b, int32_t cmdBytes, int32_t rxBytes) {
  if (cmdBytes > MPSSE_BUFFER_SIZE || rxBytes > MPSSE_BUFFER_SIZE) {
    std::fprintf(stderr, "MPSSE piece of %i command / %i reply bytes does not fit the %i-byte buffer\n", cmdBytes,
                 rxBytes, MPSSE_BUFFER_SIZE);
    return -1;
  }
  if (b->failed) return -1;  // the failure is reported by the caller's flush
  if (b->cmdLen + cmdBytes > MPSSE_BUFFER_SIZE) {
    if (flushInside(handle, b) != 0) return -1;
  }
  if (rxBytes > 0) {
    if (b->rxExpected + rxBytes > MPSSE_BUFFER_SIZE) {
      if (flushInside(handle, b) != 0) return -1;
    }
    if (b->reqCount >= MPSSE_REQUEST_SLOTS) {
      if (flushInside(handle, b) != 0) return -1;
      if (b->reqCount >= MPSSE_REQUEST_SLOTS) {
        std::fprintf(stderr, "JTAG Read Request Queue still full after flush\n");
        return -1;
      }
    }
  }
  return 0;
}

inline void addRequest(MpsseBuffer* b, uint8_t* dst, int32_t bits) {
  b->reqDst[b->reqCount] = dst;
  b->reqBits[b->reqCount] = bits;
  b->reqCount++;
  b->rxExpected += bytesFor(bits < 0 ? -static_cast<int64_t>(bits) : bits);
}

inline void put(MpsseBuffer* b, uint8_t v) { b->cmd[b->cmdLen++] = v; }

int writeAndRead(FT_HANDLE handle, MpsseBuffer* b);
int deliver(MpsseBuffer* b);

// After a failed transfer the chip may have run any part of the commands: sending them
// again could repeat a scan, and the requests point into buffers whose owners may have
// returned by the next flush. Everything queued goes, and so does whatever the chip holds.
void discard(FT_HANDLE handle, MpsseBuffer* b, bool purgeChip) {
  b->cmdLen = 0;
  b->rxExpected = 0;
  b->reqCount = 0;
  b->openDataCmd = 0;
  if (purgeChip) FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

}  // namespace

MpsseBuffer* mpsse_buffer_alloc() {
  auto* b = static_cast<MpsseBuffer*>(std::calloc(1, sizeof(MpsseBuffer)));
  // Replies come back at once instead of after the chip's latency timer (4 ms or more):
  // what every reading flush waits for otherwise.
  if (b != nullptr) b->sendImmediate = 1;
  return b;
}

void mpsse_buffer_free(MpsseBuffer* buffer) { std::free(buffer); }

int initD2XX(FT_HANDLE handle, uint32_t latencyMs) {
  FT_SetBitMode(handle, 0x0B, FT_BITMODE_RESET);
  FT_SetBitMode(handle, 0x0B, FT_BITMODE_MPSSE);
  FT_SetLatencyTimer(handle, static_cast<UCHAR>(latencyMs));
  FT_SetTimeouts(handle, 1000, 1000);
  FT_SetUSBParameters(handle, 16384, 16384);
  FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
  return 0;
}

int ftdi_mpsse_setup_clock(FT_HANDLE handle, MpsseBuffer* buffer, uint16_t divisor) {
  // Adaptive clocking off, 60 MHz base (divide-by-5 off), then the divisor.
  const uint8_t group[] = {0x97, 0x8A, 0x86, static_cast<uint8_t>(divisor & 0xFF), static_cast<uint8_t>(divisor >> 8)};
  if (ftdi_mpsse_queue(handle, buffer, group, sizeof group, nullptr, 0, false) != 0) return -1;
  return ftdi_mpsse_flush(handle, buffer);
}

int ftdi_mpsse_setup_loopback_off(FT_HANDLE handle, MpsseBuffer* buffer) {
  const uint8_t group[] = {0x85};
  if (ftdi_mpsse_queue(handle, buffer, group, sizeof group, nullptr, 0, false) != 0) return -1;
  return ftdi_mpsse_flush(handle, buffer);
}

int ftdi_mpsse_setup_pins(FT_HANDLE handle, MpsseBuffer* buffer, uint16_t usbPid) {
  // Low byte: TMS held high; TCK, TDI, TMS and GPIOL1-3 outputs, TDO and GPIOL0 inputs.
  static const uint8_t lowFT2232H[] = {0x80, 0xE8, 0xEB};
  static const uint8_t lowFT4232H[] = {0x80, 0xC8, 0xEB};
  static const uint8_t highFT232H[] = {0x82, 0x2C, 0x3C};
  const uint8_t* low = nullptr;
  switch (usbPid) {
    case 0x6010:
    case 0x6014: low = lowFT2232H; break;
    case 0x6011: low = lowFT4232H; break;
    default: return 0;
  }
  if (ftdi_mpsse_queue(handle, buffer, low, 3, nullptr, 0, false) != 0) return -1;
  if (ftdi_mpsse_flush(handle, buffer) != 0) return -1;
  if (usbPid == 0x6014) {
    if (ftdi_mpsse_queue(handle, buffer, highFT232H, 3, nullptr, 0, false) != 0) return -1;
    if (ftdi_mpsse_flush(handle, buffer) != 0) return -1;
  }
  return 0;
}

int ftdi_mpsse_flush(FT_HANDLE handle, MpsseBuffer* b) {
  if (b->failed) {
    b->failed = 0;
    if (b->cmdLen > 0 || b->reqCount > 0)
      std::fprintf(stderr, "MPSSE: dropped %i command bytes and %i reads queued after a failed transfer\n", b->cmdLen,
                   b->reqCount);
    discard(handle, b, false);
    return -1;
  }
  return transfer(handle, b);
}

namespace {

int transfer(FT_HANDLE handle, MpsseBuffer* b) {
  if (b->cmdLen <= 0 && b->rxExpected <= 0) return 0;
  const bool immediate = b->sendImmediate && b->rxExpected > 0 && b->cmdLen < MPSSE_BUFFER_SIZE;
  if (immediate) b->cmd[b->cmdLen++] = 0x87;
  if (writeAndRead(handle, b) != 0) {
    discard(handle, b, true);
    return -1;
  }
  const bool shortRead = b->rxGot < b->rxExpected;
  deliver(b);
  return shortRead ? -1 : 0;
}

int writeAndRead(FT_HANDLE handle, MpsseBuffer* b) {
  if (b->cmdLen > 0) {
    int32_t written = 0;
    for (int call = 0; call < kDriverCalls && written < b->cmdLen; ++call) {
      DWORD done = 0;
      FT_STATUS st = FT_Write(handle, b->cmd + written, static_cast<DWORD>(b->cmdLen - written), &done);
      if (st != FT_OK) {
        std::fprintf(stderr, "Error Writing FTD2XX: %i\n", static_cast<int>(st));
        return -1;
      }
      written += static_cast<int32_t>(done > static_cast<DWORD>(b->cmdLen - written) ? b->cmdLen - written : done);
    }
    if (written < b->cmdLen) {
      // The chip would answer only part of the commands; reading on would wait for
      // replies that never come and hand out bytes that belong to no request.
      std::fprintf(stderr, "Error Writing FTD2XX: wrote %i of %i bytes\n", written, b->cmdLen);
      return -1;
    }
  }

  b->rxGot = 0;
  int32_t got = 0;
  if (b->rxExpected > 0) {
    for (int call = 0; call < kDriverCalls && got < b->rxExpected; ++call) {
      DWORD done = 0;
      FT_STATUS st = FT_Read(handle, b->rx + got, static_cast<DWORD>(b->rxExpected - got), &done);
      if (st != FT_OK) {
        std::fprintf(stderr, "Error Reading FTD2XX\n");
        return -1;
      }
      got += static_cast<int32_t>(done > static_cast<DWORD>(b->rxExpected - got) ? b->rxExpected - got : done);
    }
  }
  b->rxGot = got;
  // Replies that come after the reads gave up would otherwise be taken as the replies
  // of the next flush, and every later read would be off by that many bytes.
  if (got < b->rxExpected) FT_Purge(handle, FT_PURGE_RX);
  return 0;
}

int deliver(MpsseBuffer* b) {
  const int32_t got = b->rxGot;
  const int32_t requests = b->reqCount;
  b->cmdLen = 0;
  b->rxExpected = 0;
  b->reqCount = 0;
  b->openDataCmd = 0;

  // Reply bytes arrive in command order, so after the first request the reply cannot
  // cover, none of the later ones is covered either: they keep what their destination
  // held (callers clear it) instead of taking bytes that belong to other requests.
  int32_t p = 0;
  for (int32_t i = 0; i < requests; ++i) {
    const int32_t bits = b->reqBits[i] < 0 ? -b->reqBits[i] : b->reqBits[i];
    if (static_cast<int64_t>(bits) > 8 * static_cast<int64_t>(got - p)) {
      std::fprintf(stderr, "JTAG Read did not satisfy all requests!\n");
      b->lostRequests += static_cast<uint32_t>(requests - i);
      break;
    }
    uint8_t* dst = b->reqDst[i];
    const int32_t whole = bits / 8;
    if (whole > 0) std::memcpy(dst, b->rx + p, static_cast<size_t>(whole));
    p += bytesFor(bits);
    const int k = bits % 8;
    if (k > 0) {
      uint8_t v = static_cast<uint8_t>(b->rx[p - 1] >> (8 - k));
      if (b->reqBits[i] < 0) v = static_cast<uint8_t>(v << (8 - k));
      dst[whole] |= v;
    }
  }
  return 0;
}

}  // namespace

int ftdi_mpsse_queue(FT_HANDLE handle, MpsseBuffer* b, const uint8_t* bytes, int32_t count, uint8_t* readDst,
                     int32_t readBits, bool reverse) {
  if (count < 0 || (count > 0 && bytes == nullptr)) {
    std::fprintf(stderr, "MPSSE queue: bad command byte count %i\n", count);
    return -1;
  }
  const bool read = readBits > 0 && readDst != nullptr;
  if (makeRoom(handle, b, count, read ? bytesFor(readBits) : 0) != 0) return -1;
  if (count > 0) {
    copyOut(b->cmd + b->cmdLen, bytes, static_cast<uint32_t>(count), reverse);
    b->cmdLen += count;
    b->openDataCmd = 0;
  }
  if (read) addRequest(b, readDst, reverse ? -readBits : readBits);
  return autoFlush(handle, b);
}

int ftdi_mpsse_clock_tms(FT_HANDLE handle, MpsseBuffer* b, uint8_t tms, uint8_t* readDst, uint64_t count,
                         bool tdiHigh, bool readNegEdge, bool writeNegEdge) {
  if (count > 7) {
    std::fprintf(stderr, "Error: Clocking TMS with length > 7\n");
    return -1;
  }
  if (count == 0) return 0;
  uint8_t op;
  if (readDst == nullptr) {
    op = writeNegEdge ? 0x4B : 0x4A;
  } else {
    op = static_cast<uint8_t>(0x6A | (readNegEdge ? 0x04 : 0) | (writeNegEdge ? 0x01 : 0));
  }
  if (makeRoom(handle, b, 3, readDst ? 1 : 0) != 0) return -1;
  put(b, op);
  put(b, static_cast<uint8_t>(count - 1));
  put(b, static_cast<uint8_t>((tms & ((1u << count) - 1)) | (tdiHigh ? 0x80 : 0)));
  b->openDataCmd = 0;
  // The TDO of the last TMS clock lands in bit 7 of the destination.
  if (readDst != nullptr) addRequest(b, readDst, -1);
  return autoFlush(handle, b);
}

int ftdi_mpsse_clock_data(FT_HANDLE handle, MpsseBuffer* b, const uint8_t* tdi, uint8_t* tdo, uint64_t bits,
                          bool reverse, bool readNegEdge, bool writeNegEdge) {
  uint8_t op;
  if (tdi != nullptr && tdo != nullptr) {
    op = 0x38;
  } else if (tdi != nullptr) {
    op = 0x18;
  } else if (tdo != nullptr) {
    op = 0x28;
  } else {
    std::fprintf(stderr, "FTDI Clock with no TDO/TDI not supported\n");
    return -1;
  }
  if (tdi != nullptr && writeNegEdge) op |= 0x01;
  if (tdo != nullptr && readNegEdge) op |= 0x04;
  const bool writeOnly = tdo == nullptr;
  if (b->failed) return -1;

  uint64_t d = 0;
  while (d < bits) {
    const uint64_t r = bits - d;
    if (r >= 8) {
      uint32_t n = static_cast<uint32_t>(r / 8 < MPSSE_MAX_DATA_BYTES ? r / 8 : MPSSE_MAX_DATA_BYTES);
      if (writeOnly && b->coalesceWrites && b->openDataCmd > 0 && b->cmd[b->openDataCmd - 1] == op) {
        // Continue the command the buffer ends with: same clocks, no new header.
        uint8_t* hdr = b->cmd + (b->openDataCmd - 1);
        const uint32_t have = (static_cast<uint32_t>(hdr[1]) | (static_cast<uint32_t>(hdr[2]) << 8)) + 1;
        uint32_t extra = n;
        if (extra > MPSSE_MAX_DATA_BYTES - have) extra = MPSSE_MAX_DATA_BYTES - have;
        if (extra > static_cast<uint32_t>(MPSSE_BUFFER_SIZE - b->cmdLen))
          extra = static_cast<uint32_t>(MPSSE_BUFFER_SIZE - b->cmdLen);
        if (extra > 0) {
          copyOut(b->cmd + b->cmdLen, tdi + d / 8, extra, reverse);
          b->cmdLen += static_cast<int32_t>(extra);
          const uint32_t len = have + extra - 1;
          hdr[1] = static_cast<uint8_t>(len & 0xFF);
          hdr[2] = static_cast<uint8_t>(len >> 8);
          d += 8ull * extra;
          if (autoFlush(handle, b) != 0) return -1;
          continue;
        }
      }
      const int32_t cmdBytes = 3 + (tdi ? static_cast<int32_t>(n) : 0);
      if (makeRoom(handle, b, cmdBytes, tdo ? static_cast<int32_t>(n) : 0) != 0) return -1;
      const int32_t start = b->cmdLen;
      put(b, op);
      put(b, static_cast<uint8_t>((n - 1) & 0xFF));
      put(b, static_cast<uint8_t>((n - 1) >> 8));
      if (tdi != nullptr) {
        copyOut(b->cmd + b->cmdLen, tdi + d / 8, n, reverse);
        b->cmdLen += static_cast<int32_t>(n);
      }
      b->openDataCmd = writeOnly ? start + 1 : 0;
      if (tdo != nullptr) addRequest(b, tdo + d / 8, reverse ? -static_cast<int32_t>(8 * n) : static_cast<int32_t>(8 * n));
      d += 8ull * n;
      if (autoFlush(handle, b) != 0) return -1;
    } else {
      // Bit mode for the tail: opcode, r - 1, one TDI byte; a read of r bits.
      const int32_t cmdBytes = 2 + (tdi ? 1 : 0);
      if (makeRoom(handle, b, cmdBytes, tdo ? 1 : 0) != 0) return -1;
      put(b, static_cast<uint8_t>(op | 0x02));
      put(b, static_cast<uint8_t>(r - 1));
      if (tdi != nullptr) put(b, reverse ? kReverse.v[tdi[d / 8]] : tdi[d / 8]);
      b->openDataCmd = 0;
      if (tdo != nullptr) addRequest(b, tdo + d / 8, reverse ? -static_cast<int32_t>(r) : static_cast<int32_t>(r));
      return autoFlush(handle, b);
    }
  }
  return 0;
}

int ftdi_mpsse_clock_cycles(FT_HANDLE handle, MpsseBuffer* b, uint64_t cycles) {
  while (cycles > 0) {
    if (cycles <= 8) {
      if (makeRoom(handle, b, 2, 0) != 0) return -1;
      put(b, 0x8E);
      put(b, static_cast<uint8_t>(cycles - 1));
      b->openDataCmd = 0;
      return autoFlush(handle, b);
    }
    uint64_t c = cycles & ~7ull;
    if (c > MPSSE_MAX_IDLE_CLOCKS) c = MPSSE_MAX_IDLE_CLOCKS;
    if (makeRoom(handle, b, 3, 0) != 0) return -1;
    const uint32_t len = static_cast<uint32_t>(c / 8 - 1);
    put(b, 0x8F);
    put(b, static_cast<uint8_t>(len & 0xFF));
    put(b, static_cast<uint8_t>(len >> 8));
    b->openDataCmd = 0;
    if (autoFlush(handle, b) != 0) return -1;
    cycles -= c;
  }
  return 0;
}
