// An open channel: the background reader, FT_Read's time-out, FT_GetStatus, purge,
// writes, and the settings calls, against the fake chip.
#include <atomic>
#include <chrono>
#include <cstring>
#include <numeric>
#include <random>
#include <thread>

#include "ftdi/tests/d2xx_fixture.h"

using namespace varn_d2xx_test;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> pattern(size_t n, unsigned seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + seed + (i >> 8));
  return v;
}

long msSince(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Waits until the channel reports at least n readable bytes.
bool waitReadable(FT_HANDLE h, DWORD n, int timeoutMs = 2000) {
  auto start = Clock::now();
  DWORD rx = 0, tx = 0, ev = 0;
  while (msSince(start) < timeoutMs) {
    if (FT_GetStatus(h, &rx, &tx, &ev) == FT_OK && rx >= n) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace

TEST_F(D2xxTest, LargeReplyIsDrainedAheadOfTheReadThroughASmallFifo) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  port->fifoCapacity = 4096;  // an FT2232H channel's IN FIFO
  const auto reply = pattern(32768);
  // The chip can only hand over its 32 KiB if the host keeps reading although
  // nobody has called FT_Read yet.
  ASSERT_TRUE(port->produce(reply, 3000));
  ASSERT_TRUE(waitReadable(h, 32768));
  DWORD rx = 0, tx = 9, ev = 9;
  ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
  EXPECT_EQ(rx, 32768u);
  EXPECT_EQ(tx, 0u);
  std::vector<uint8_t> got(32768);
  DWORD n = 0;
  ASSERT_EQ(FT_Read(h, got.data(), 32768, &n), FT_OK);
  ASSERT_EQ(n, 32768u);
  EXPECT_EQ(got, reply);
  ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
  EXPECT_EQ(rx, 0u);
}

TEST_F(D2xxTest, ExactRawTransfersLoseOnlyTheirStatusBytes) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  // Two whole packets and a short one (2 + 510, 2 + 510, 2 + 5), then a status-only one.
  std::vector<uint8_t> raw;
  const auto payload = pattern(1025, 3);
  size_t p = 0;
  for (size_t len : {510, 510, 5}) {
    raw.push_back(0x32);
    raw.push_back(0x60);
    raw.insert(raw.end(), payload.begin() + long(p), payload.begin() + long(p + len));
    p += len;
  }
  port->queueRaw(raw);
  port->queueRaw({0x32, 0x60});
  ASSERT_TRUE(waitReadable(h, 1025));
  std::vector<uint8_t> got(1025);
  DWORD n = 0;
  ASSERT_EQ(FT_Read(h, got.data(), 1025, &n), FT_OK);
  EXPECT_EQ(n, 1025u);
  EXPECT_EQ(got, payload);
}

TEST_F(D2xxTest, ReadReturnsShortOnTimeoutAndLaterBytesAreKept) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  ASSERT_EQ(FT_SetTimeouts(h, 150, 150), FT_OK);
  const auto data = pattern(300);
  port->produce(data.data(), 100);
  uint8_t got[300] = {};
  DWORD n = 0;
  auto start = Clock::now();
  ASSERT_EQ(FT_Read(h, got, 300, &n), FT_OK);
  long took = msSince(start);
  EXPECT_EQ(n, 100u);
  EXPECT_GE(took, 140);
  EXPECT_LT(took, 1500);
  EXPECT_EQ(0, memcmp(got, data.data(), 100));

  // Bytes arriving after the time-out wait for the next read.
  port->produce(data.data() + 100, 200);
  ASSERT_TRUE(waitReadable(h, 200));
  ASSERT_EQ(FT_Read(h, got + 100, 200, &n), FT_OK);
  EXPECT_EQ(n, 200u);
  EXPECT_EQ(0, memcmp(got, data.data(), 300));

  // A read returns as soon as its count is there, not at the time-out.
  ASSERT_EQ(FT_SetTimeouts(h, 5000, 5000), FT_OK);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port->produce(data.data(), 50);
  });
  start = Clock::now();
  ASSERT_EQ(FT_Read(h, got, 50, &n), FT_OK);
  late.join();
  EXPECT_EQ(n, 50u);
  EXPECT_LT(msSince(start), 2000);
}

TEST_F(D2xxTest, PurgeEmptiesTheRingAndTheChipWithTheReaderPaused) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  port->produce(pattern(1000));
  ASSERT_TRUE(waitReadable(h, 1000));
  ASSERT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
  DWORD rx = 0, tx, ev;
  ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
  EXPECT_EQ(rx, 1000u);  // a transmit purge keeps what was received
  ASSERT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
  EXPECT_EQ(rx, 0u);
  EXPECT_EQ(FT_Purge(h, 4), FT_INVALID_PARAMETER);
  // Data after the purge is delivered as usual.
  port->produce({1, 2, 3});
  uint8_t got[3];
  DWORD n = 0;
  ASSERT_EQ(FT_Read(h, got, 3, &n), FT_OK);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(got[2], 3);
  // The program's initialisation sequence, repeated while the reader polls.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(FT_SetBitMode(h, 0x0B, FT_BITMODE_RESET), FT_OK);
    ASSERT_EQ(FT_SetBitMode(h, 0x0B, FT_BITMODE_MPSSE), FT_OK);
    ASSERT_EQ(FT_SetUSBParameters(h, 16384, 16384), FT_OK);
    ASSERT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  }
  std::lock_guard<std::mutex> lock(port->m);
  EXPECT_EQ(port->purgesRx, 21);
  EXPECT_EQ(port->purgesTx, 22);
  EXPECT_EQ(port->changesDuringRead, 0);
  EXPECT_EQ(port->bitMode, FT_BITMODE_MPSSE);
}

TEST_F(D2xxTest, TransferSizesAreWholePacketsUpTo16K) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  struct Case {
    ULONG in, out;
    unsigned wantIn, wantOut;
  } cases[] = {{16384, 16384, 16384, 16384}, {65536, 1000, 16384, 512}, {100, 4100, 512, 4096}};
  for (const Case& c : cases) {
    ASSERT_EQ(FT_SetUSBParameters(h, c.in, c.out), FT_OK);
    {
      std::lock_guard<std::mutex> lock(port->m);
      EXPECT_EQ(port->chunkIn, c.wantIn);
      EXPECT_EQ(port->chunkOut, c.wantOut);
    }
    // The reader's next IN transfers use the new size.
    auto start = Clock::now();
    int len = 0;
    while (msSince(start) < 2000) {
      {
        std::lock_guard<std::mutex> lock(port->m);
        len = port->lastReadLen;
      }
      if (len == int(c.wantIn)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(len, int(c.wantIn));
  }
  EXPECT_EQ(FT_SetUSBParameters(h, 0, 512), FT_INVALID_PARAMETER);
}

TEST_F(D2xxTest, WritesMoveExactCountsAndReportShortOnes) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  ASSERT_EQ(FT_SetUSBParameters(h, 16384, 16384), FT_OK);
  const auto data = pattern(40000);
  DWORD n = 0;
  ASSERT_EQ(FT_Write(h, const_cast<uint8_t*>(data.data()), 40000, &n), FT_OK);
  EXPECT_EQ(n, 40000u);
  {
    std::lock_guard<std::mutex> lock(port->m);
    EXPECT_EQ(port->written, data);
    port->written.clear();
    port->writeLimit = 20000;  // the chip stops taking bytes: the transfer times out
  }
  ASSERT_EQ(FT_Write(h, const_cast<uint8_t*>(data.data()), 40000, &n), FT_OK);
  EXPECT_EQ(n, 20000u);
  {
    std::lock_guard<std::mutex> lock(port->m);
    port->writeError = varn_d2xx::kUsbIoError;
  }
  EXPECT_EQ(FT_Write(h, const_cast<uint8_t*>(data.data()), 10, &n), FT_IO_ERROR);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FT_Write(h, nullptr, 10, &n), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_Write(h, const_cast<uint8_t*>(data.data()), 10, nullptr), FT_INVALID_PARAMETER);
}

TEST_F(D2xxTest, WriteTimeoutBoundsTheWholeCallNotEachTransfer) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  ASSERT_EQ(FT_SetUSBParameters(h, 16384, 512), FT_OK);
  ASSERT_EQ(FT_SetTimeouts(h, 1000, 150), FT_OK);
  {
    std::lock_guard<std::mutex> lock(port->m);
    port->writeDelayMs = 40;  // a chip that drains slowly but steadily
  }
  // 40 transfers of 40 ms each: far more than the 150 ms the caller allows.
  const auto data = pattern(40 * 512);
  DWORD n = 0;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(FT_Write(h, const_cast<uint8_t*>(data.data()), DWORD(data.size()), &n), FT_OK);
  auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(tookMs, 800) << "the write time-out is for the whole call";
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, data.size());
  EXPECT_EQ(n % 512, 0u);
  std::lock_guard<std::mutex> lock(port->m);
  EXPECT_EQ(port->written, std::vector<uint8_t>(data.begin(), data.begin() + long(n))) << "what it says it wrote";
}

TEST_F(D2xxTest, SettingsReachTheChipWithTheirChecks) {
  FT_HANDLE h = open(1);
  auto port = bus.port(1, 4, 1);
  EXPECT_EQ(FT_SetBaudRate(h, 1000000), FT_OK);
  EXPECT_EQ(FT_SetBaudRate(h, 50000000), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(FT_SetBaudRate(h, 0), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
  EXPECT_EQ(FT_SetDataCharacteristics(h, 9, FT_STOP_BITS_1, FT_PARITY_NONE), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetDataCharacteristics(h, FT_BITS_7, 1, FT_PARITY_NONE), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0), FT_OK);
  EXPECT_EQ(FT_SetFlowControl(h, 0x0300, 0, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetLatencyTimer(h, 0), FT_OK);
  {
    std::lock_guard<std::mutex> lock(port->m);
    EXPECT_EQ(port->baud, 1000000);
    EXPECT_EQ(port->bits, 8);
    EXPECT_EQ(port->stopBits, 0);
    EXPECT_EQ(port->flow, FT_FLOW_RTS_CTS);
    EXPECT_EQ(port->latency, 1);  // libftdi1 refuses 0
  }
  // In MPSSE mode the baud rate is left alone.
  ASSERT_EQ(FT_SetBitMode(h, 0x0B, FT_BITMODE_MPSSE), FT_OK);
  EXPECT_EQ(FT_SetBaudRate(h, 9600), FT_OK);
  std::lock_guard<std::mutex> lock(port->m);
  EXPECT_EQ(port->baud, 1000000);
}

TEST_F(D2xxTest, UnpluggedChannelHandsOutWhatItHasThenFails) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  port->produce({5, 6, 7});
  ASSERT_TRUE(waitReadable(h, 3));
  {
    std::lock_guard<std::mutex> lock(port->m);
    port->readError = varn_d2xx::kUsbNoDevice;
    port->cv.notify_all();
  }
  uint8_t got[8];
  DWORD n = 0;
  auto start = Clock::now();
  ASSERT_EQ(FT_Read(h, got, 8, &n), FT_OK);  // no waiting for bytes that cannot come
  EXPECT_EQ(n, 3u);
  EXPECT_LT(msSince(start), 2000);
  EXPECT_EQ(FT_Read(h, got, 8, &n), FT_IO_ERROR);
  EXPECT_EQ(n, 0u);
  DWORD rx, tx, ev;
  EXPECT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_IO_ERROR);
  close(h);
}

TEST_F(D2xxTest, CloseWakesABlockedReader) {
  FT_HANDLE h = open(0);
  ASSERT_EQ(FT_SetTimeouts(h, 0, 0), FT_OK);  // wait without limit
  std::atomic<FT_STATUS> st{999};
  std::thread reader([&] {
    uint8_t b[4];
    DWORD n = 0;
    st = FT_Read(h, b, 4, &n);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  close(h);
  reader.join();
  EXPECT_EQ(st.load(), FT_IO_ERROR);
}

// The reader thread fills the ring while the caller reads in odd sizes, polls the
// status and sees reads time out mid-stream: every byte must arrive once and in order. Run under
// ThreadSanitizer as well.
TEST_F(D2xxTest, ReaderAndCallerRaceWithoutLosingOrder) {
  FT_HANDLE h = open(0);
  auto port = bus.port(1, 4, 0);
  port->fifoCapacity = 4096;
  ASSERT_EQ(FT_SetTimeouts(h, 20, 1000), FT_OK);
  const size_t total = 1 << 20;
  const auto data = pattern(total, 11);
  std::thread chip([&] {
    std::mt19937 rng(1);
    size_t pos = 0;
    while (pos < total) {
      size_t k = std::min<size_t>(total - pos, 1 + rng() % 3000);
      if (!port->produce(data.data() + pos, k, 5000)) return;
      pos += k;
      // Now and then the chip goes quiet for longer than the read time-out, so
      // reads also come back short in the middle of the stream.
      if (rng() % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  std::vector<uint8_t> got(total);
  size_t pos = 0;
  std::mt19937 rng(2);
  int shortReads = 0;
  auto start = Clock::now();
  while (pos < total && msSince(start) < 20000) {
    DWORD rx = 0, tx, ev;
    ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
    DWORD want = DWORD(std::min<size_t>(total - pos, 1 + rng() % 9000));
    DWORD n = 0;
    ASSERT_EQ(FT_Read(h, got.data() + pos, want, &n), FT_OK);
    ASSERT_LE(n, want);
    if (n < want) ++shortReads;
    pos += n;
  }
  chip.join();
  ASSERT_EQ(pos, total);
  EXPECT_GT(shortReads, 0);
  EXPECT_EQ(got, data);
}
