// Byte-exact checks of the MPSSE transport against the recording D2XX double.
#include <gtest/gtest.h>

#include <vector>

#include "jtag/ftdi/mpsse.h"
#include "jtag/tests/ft_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Mpsse : public ::testing::Test {
 protected:
  void SetUp() override {
    ftcap::reset();
    buf = mpsse_buffer_alloc();
    ASSERT_NE(buf, nullptr);
  }
  void TearDown() override { mpsse_buffer_free(buf); }
  Bytes queued() const { return Bytes(buf->cmd, buf->cmd + buf->cmdLen); }
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
  MpsseBuffer* buf = nullptr;
};

TEST_F(Mpsse, InitAndSetupGroups) {
  initD2XX(h, 4);
  EXPECT_EQ(ftcap::state().calls,
            (std::vector<std::string>{"FT_SetBitMode 11 0", "FT_SetBitMode 11 2", "FT_SetLatencyTimer 4",
                                      "FT_SetTimeouts 1000 1000", "FT_SetUSBParameters 16384 16384", "FT_Purge 3"}));
  ftcap::reset();
  EXPECT_EQ(ftdi_mpsse_setup_clock(h, buf, 0x1234), 0);
  EXPECT_EQ(ftdi_mpsse_setup_loopback_off(h, buf), 0);
  EXPECT_EQ(ftdi_mpsse_setup_pins(h, buf, 0x6014), 0);
  ASSERT_EQ(ftcap::state().writes.size(), 4u);
  EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x97, 0x8A, 0x86, 0x34, 0x12}));
  EXPECT_EQ(ftcap::state().writes[1], (Bytes{0x85}));
  EXPECT_EQ(ftcap::state().writes[2], (Bytes{0x80, 0xE8, 0xEB}));
  EXPECT_EQ(ftcap::state().writes[3], (Bytes{0x82, 0x2C, 0x3C}));
  ftcap::reset();
  ftdi_mpsse_setup_pins(h, buf, 0x6011);
  ftdi_mpsse_setup_pins(h, buf, 0x6010);
  ftdi_mpsse_setup_pins(h, buf, 0x6001);
  ASSERT_EQ(ftcap::state().writes.size(), 2u);
  EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x80, 0xC8, 0xEB}));
  EXPECT_EQ(ftcap::state().writes[1], (Bytes{0x80, 0xE8, 0xEB}));
}

TEST_F(Mpsse, DataOpcodesAndLengths) {
  uint8_t tdi[2] = {0xA5, 0x01};
  uint8_t tdo[2] = {};
  ftdi_mpsse_clock_data(h, buf, tdi, tdo, 8, false, true, true);
  EXPECT_EQ(queued(), (Bytes{0x3D, 0x00, 0x00, 0xA5}));
  EXPECT_EQ(buf->rxExpected, 1);
  ftdi_mpsse_flush(h, buf);
  ftdi_mpsse_clock_data(h, buf, tdi, tdo, 1, false, true, true);
  EXPECT_EQ(queued(), (Bytes{0x3F, 0x00, 0xA5}));
  ftdi_mpsse_flush(h, buf);
  // TDI only, read only, and the edge flags that apply to each.
  ftdi_mpsse_clock_data(h, buf, tdi, nullptr, 12, false, true, true);
  ftdi_mpsse_clock_data(h, buf, nullptr, tdo, 12, false, true, true);
  ftdi_mpsse_clock_data(h, buf, tdi, nullptr, 3, false, false, false);
  ftdi_mpsse_clock_data(h, buf, nullptr, tdo, 3, false, false, false);
  EXPECT_EQ(queued(), (Bytes{0x19, 0x00, 0x00, 0xA5, 0x1B, 0x03, 0x01, 0x2C, 0x00, 0x00, 0x2E, 0x03, 0x1A, 0x02,
                             0xA5, 0x2A, 0x02}));
  ftdi_mpsse_flush(h, buf);
  // Reverse flag: bytes sent bit-reversed.
  ftdi_mpsse_clock_data(h, buf, tdi, nullptr, 16, true, true, true);
  EXPECT_EQ(queued(), (Bytes{0x19, 0x01, 0x00, 0xA5, 0x80}));
  ftdi_mpsse_flush(h, buf);
  EXPECT_EQ(ftdi_mpsse_clock_data(h, buf, nullptr, nullptr, 8, false, true, true), -1);
  EXPECT_EQ(buf->cmdLen, 0);
}

TEST_F(Mpsse, LongShiftsSplitAt65533Bytes) {
  std::vector<uint8_t> tdi(65534, 0x5A);
  ftcap::state().countOnly = false;
  ftdi_mpsse_clock_data(h, buf, tdi.data(), nullptr, 524264, false, true, true);
  ftdi_mpsse_flush(h, buf);
  ASSERT_EQ(ftcap::state().written.size(), 3u + 65533u);
  EXPECT_EQ(ftcap::state().written[0], 0x19);
  EXPECT_EQ(ftcap::state().written[1], 0xFC);
  EXPECT_EQ(ftcap::state().written[2], 0xFF);
  ftcap::reset();
  ftdi_mpsse_clock_data(h, buf, tdi.data(), nullptr, 524272, false, true, true);
  ftdi_mpsse_flush(h, buf);
  const Bytes& w = ftcap::state().written;
  ASSERT_EQ(w.size(), 3u + 65533u + 3u + 1u);
  EXPECT_EQ(Bytes(w.begin(), w.begin() + 3), (Bytes{0x19, 0xFC, 0xFF}));
  EXPECT_EQ(Bytes(w.begin() + 3 + 65533, w.end()), (Bytes{0x19, 0x00, 0x00, 0x5A}));
  // The first command filled the buffer past the auto-flush level on its own.
  EXPECT_EQ(ftcap::state().writes.size(), 2u);
}

TEST_F(Mpsse, ConsecutiveWriteShiftsShareOneCommandWhenAsked) {
  std::vector<uint8_t> chunk(4096, 0x11);
  buf->coalesceWrites = 1;
  for (int i = 0; i < 7; ++i) ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 4096 * 8, true, true, true);
  ASSERT_EQ(buf->cmdLen, 3 + 7 * 4096);
  EXPECT_EQ(buf->cmd[0], 0x19);
  EXPECT_EQ(buf->cmd[1] | (buf->cmd[2] << 8), 7 * 4096 - 1);
  EXPECT_EQ(buf->cmd[3], 0x88);  // 0x11 reversed
  // The eighth chunk passes the auto-flush level: one command of 32768 bytes goes out.
  ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 4096 * 8, true, true, true);
  ASSERT_EQ(ftcap::state().writes.size(), 1u);
  EXPECT_EQ(ftcap::state().writes[0].size(), 3u + 32768u);
  // Anything else in between ends the open command.
  ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 16, false, true, true);
  ftdi_mpsse_clock_cycles(h, buf, 8);
  ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 16, false, true, true);
  EXPECT_EQ(queued(), (Bytes{0x19, 0x01, 0x00, 0x11, 0x11, 0x8E, 0x07, 0x19, 0x01, 0x00, 0x11, 0x11}));
  ftdi_mpsse_flush(h, buf);
  buf->coalesceWrites = 0;
  ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 8, false, true, true);
  ftdi_mpsse_clock_data(h, buf, chunk.data(), nullptr, 8, false, true, true);
  EXPECT_EQ(queued(), (Bytes{0x19, 0x00, 0x00, 0x11, 0x19, 0x00, 0x00, 0x11}));
}

TEST_F(Mpsse, TrailingBitsAlignByCountSign) {
  uint8_t plain[2] = {0xEE, 0xEE};
  uint8_t reversed[2] = {0xEE, 0xEE};
  plain[0] = plain[1] = 0;
  reversed[0] = reversed[1] = 0;
  ftdi_mpsse_clock_data(h, buf, nullptr, plain, 12, false, true, true);
  ftdi_mpsse_queue(h, buf, nullptr, 0, reversed, 8, true);
  ftdi_mpsse_queue(h, buf, nullptr, 0, reversed + 1, 4, true);
  // The chip puts a partial byte's bits at the top: 4 bits 1011 arrive as 0xB0.
  ftcap::state().replies = {0x3C, 0xB0, 0x3C, 0xB0};
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  EXPECT_EQ(plain[0], 0x3C);
  EXPECT_EQ(plain[1], 0x0B);
  EXPECT_EQ(reversed[0], 0x3C);
  EXPECT_EQ(reversed[1], 0xB0);
}

TEST_F(Mpsse, TmsCommands) {
  EXPECT_EQ(ftdi_mpsse_clock_tms(h, buf, 0x02, nullptr, 0, false, false, true), 0);
  EXPECT_EQ(buf->cmdLen, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_clock_tms(h, buf, 0xFF, nullptr, 8, false, false, true), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Clocking TMS with length > 7\n");
  EXPECT_EQ(buf->cmdLen, 0);
  uint8_t dst = 0x01;
  ftdi_mpsse_clock_tms(h, buf, 0xFF, nullptr, 4, false, false, true);
  ftdi_mpsse_clock_tms(h, buf, 0x03, nullptr, 2, true, false, false);
  ftdi_mpsse_clock_tms(h, buf, 0x03, &dst, 2, true, false, true);
  ftdi_mpsse_clock_tms(h, buf, 0x01, &dst, 1, false, true, false);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x03, 0x0F, 0x4A, 0x01, 0x83, 0x6B, 0x01, 0x83, 0x6E, 0x00, 0x01}));
  EXPECT_EQ(buf->rxExpected, 2);
  ftcap::state().replies = {0x80, 0x7F};
  ftdi_mpsse_flush(h, buf);
  // Only bit 7 (the last TMS clock's TDO) is taken, OR-ed in.
  EXPECT_EQ(dst, 0x81);
}

TEST_F(Mpsse, IdleClocks) {
  ftdi_mpsse_clock_cycles(h, buf, 13);
  EXPECT_EQ(queued(), (Bytes{0x8F, 0x00, 0x00, 0x8E, 0x04}));
  ftdi_mpsse_flush(h, buf);
  ftdi_mpsse_clock_cycles(h, buf, 0);
  ftdi_mpsse_clock_cycles(h, buf, 8);
  ftdi_mpsse_clock_cycles(h, buf, 16);
  ftdi_mpsse_clock_cycles(h, buf, 524288 + 524288 + 9);
  // 9 left after the two maximal commands: 8 as 0x8F, then 1 as 0x8E.
  EXPECT_EQ(queued(), (Bytes{0x8E, 0x07, 0x8F, 0x01, 0x00, 0x8F, 0xFF, 0xFF, 0x8F, 0xFF, 0xFF, 0x8F, 0x00, 0x00, 0x8E, 0x00}));
}

TEST_F(Mpsse, AutoFlushThresholds) {
  std::vector<uint8_t> dst(40000);
  // 32768 reply bytes are allowed to wait; one more flushes at once.
  ftdi_mpsse_clock_data(h, buf, nullptr, dst.data(), 32768 * 8, false, true, true);
  EXPECT_EQ(ftcap::state().writeCalls, 0);
  ftdi_mpsse_flush(h, buf);
  ftcap::reset();
  ftdi_mpsse_clock_data(h, buf, nullptr, dst.data(), 32769 * 8, false, true, true);
  EXPECT_EQ(ftcap::state().writeCalls, 1);
  EXPECT_EQ(ftcap::state().readCalls, 1);
  EXPECT_EQ(buf->cmdLen, 0);
  EXPECT_EQ(buf->rxExpected, 0);
  // A request that would pass 65536 reply bytes flushes what is queued first.
  ftcap::reset();
  ftdi_mpsse_clock_data(h, buf, nullptr, dst.data(), 30000 * 8, false, true, true);
  ftdi_mpsse_clock_data(h, buf, nullptr, dst.data(), 36000 * 8, false, true, true);
  ASSERT_EQ(ftcap::state().writes.size(), 2u);
  EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x2C, 0x2F, 0x75, 0x87}));  // 30000 bytes, then send-immediate
  // Command bytes: more than 32768 flushes.
  ftcap::reset();
  std::vector<uint8_t> tdi(40000);
  ftdi_mpsse_queue(h, buf, tdi.data(), 32768, nullptr, 0, false);
  EXPECT_EQ(ftcap::state().writeCalls, 0);
  ftdi_mpsse_queue(h, buf, tdi.data(), 1, nullptr, 0, false);
  EXPECT_EQ(ftcap::state().writeCalls, 1);
}

TEST_F(Mpsse, SendImmediateEndsFlushesThatExpectRepliesUnlessTurnedOff) {
  uint8_t dst[1];
  const uint8_t tdi[1] = {0x55};
  ftdi_mpsse_clock_data(h, buf, tdi, nullptr, 8, false, true, true);
  ftdi_mpsse_flush(h, buf);  // nothing to read: no 0x87
  ftdi_mpsse_clock_data(h, buf, nullptr, dst, 8, false, true, true);
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  ASSERT_EQ(ftcap::state().writes.size(), 2u);
  EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x19, 0x00, 0x00, 0x55}));
  EXPECT_EQ(ftcap::state().writes[1], (Bytes{0x2C, 0x00, 0x00, 0x87}));
  // Off, the replies are left to the chip's latency timer.
  buf->sendImmediate = 0;
  ftdi_mpsse_clock_data(h, buf, nullptr, dst, 8, false, true, true);
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  ASSERT_EQ(ftcap::state().writes.size(), 3u);
  EXPECT_EQ(ftcap::state().writes[2], (Bytes{0x2C, 0x00, 0x00}));
}

TEST_F(Mpsse, EmptyFlushTouchesNoDriver) {
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  EXPECT_TRUE(ftcap::state().calls.empty());
}

// After a failed transfer nothing queued survives: the chip may have run part of it,
// and the read destinations may belong to callers that have returned.
TEST_F(Mpsse, DriverFailuresDiscardTheQueueAndPurgeTheChip) {
  uint8_t dst[4] = {0x11, 0x11, 0x11, 0x11};
  uint8_t tdi[4] = {1, 2, 3, 4};
  for (FT_STATUS* which : {&ftcap::state().writeStatus, &ftcap::state().readStatus}) {
    ftcap::reset();
    ftdi_mpsse_clock_data(h, buf, tdi, dst, 32, false, true, true);
    *which = FT_IO_ERROR;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ftdi_mpsse_flush(h, buf), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              which == &ftcap::state().writeStatus ? "Error Writing FTD2XX: 4\n" : "Error Reading FTD2XX\n");
    EXPECT_EQ(buf->cmdLen, 0);
    EXPECT_EQ(buf->rxExpected, 0);
    EXPECT_EQ(buf->reqCount, 0);
    EXPECT_EQ(ftcap::state().calls.back(), "FT_Purge 3");
    *which = FT_OK;
  }
  // The next flush has nothing to send and delivers nothing into the old destination.
  ftcap::reset();
  ftcap::state().replies = {9, 8, 7, 6};
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  EXPECT_TRUE(ftcap::state().calls.empty());
  EXPECT_EQ(dst[0], 0x11);
}

TEST_F(Mpsse, PartialWritesAndReadsAreCompleted) {
  uint8_t dst[8] = {};
  std::vector<uint8_t> tdi(8, 0x33);
  ftdi_mpsse_clock_data(h, buf, tdi.data(), dst, 64, false, true, true);
  ftcap::state().maxWriteChunk = 3;
  ftcap::state().maxReadChunk = 2;
  ftcap::state().replies = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  EXPECT_EQ(ftcap::state().writeCalls, 4);  // 11 bytes, 3 at a time
  EXPECT_EQ(ftcap::state().readCalls, 4);
  EXPECT_EQ(dst[7], 8);
  // A driver that never takes everything: after 16 calls the flush gives up.
  ftcap::reset();
  std::vector<uint8_t> big(100, 0x44);
  ftdi_mpsse_queue(h, buf, big.data(), 100, nullptr, 0, false);
  ftcap::state().maxWriteChunk = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Writing FTD2XX: wrote 16 of 100 bytes\n");
  EXPECT_EQ(buf->cmdLen, 0);
}

TEST_F(Mpsse, ShortReadDeliversCoveredRequestsAndFails) {
  uint8_t a[2] = {}, b[1] = {0x55}, c[1] = {0x66};
  ftdi_mpsse_clock_data(h, buf, nullptr, a, 16, false, true, true);
  ftdi_mpsse_clock_data(h, buf, nullptr, b, 8, false, true, true);
  ftdi_mpsse_clock_data(h, buf, nullptr, c, 3, false, true, true);
  b[0] = 0x55;
  c[0] = 0x66;
  ftcap::state().padReads = false;
  ftcap::state().replies = {0xAB, 0xCD};  // only the first request's bytes arrive
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "JTAG Read did not satisfy all requests!\n");
  EXPECT_EQ(a[0], 0xAB);
  EXPECT_EQ(a[1], 0xCD);
  EXPECT_EQ(b[0], 0x55);
  EXPECT_EQ(c[0], 0x66);
  EXPECT_EQ(buf->lostRequests, 2u);
  EXPECT_EQ(ftcap::state().readCalls, 16);
  EXPECT_EQ(ftcap::state().calls.back(), "FT_Purge 1");  // late replies must not feed the next flush
  EXPECT_EQ(buf->reqCount, 0);
}

// A flush inside a clocking call that fails makes that call and every later one fail,
// queues nothing more, and reaches the caller through its own flush.
TEST_F(Mpsse, AFailedFlushInsideAClockingCallIsReportedByTheNextFlush) {
  std::vector<uint8_t> tdi(30000, 0x42);
  uint8_t late[2] = {};
  ftcap::state().writeStatus = FT_IO_ERROR;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_queue(h, buf, tdi.data(), 30000, nullptr, 0, false), 0);
  EXPECT_EQ(ftdi_mpsse_queue(h, buf, tdi.data(), 30000, nullptr, 0, false), -1);  // its auto-flush failed
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Writing FTD2XX: 4\n");
  EXPECT_EQ(buf->cmdLen, 0);
  ftcap::state().writeStatus = FT_OK;
  EXPECT_EQ(ftdi_mpsse_clock_data(h, buf, tdi.data(), nullptr, 9000 * 8, false, true, true), -1);
  EXPECT_EQ(ftdi_mpsse_clock_data(h, buf, nullptr, late, 16, false, true, true), -1);
  EXPECT_EQ(ftdi_mpsse_clock_tms(h, buf, 1, nullptr, 1, false, false, true), -1);
  EXPECT_EQ(ftdi_mpsse_clock_cycles(h, buf, 100), -1);
  EXPECT_EQ(buf->cmdLen, 0);
  EXPECT_EQ(buf->reqCount, 0);
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), -1);
  EXPECT_TRUE(ftcap::state().written.empty());
  // Reported once: the transport works again.
  EXPECT_EQ(ftdi_mpsse_clock_data(h, buf, nullptr, late, 16, false, true, true), 0);
  ftcap::state().replies = {0x12, 0x34};
  EXPECT_EQ(ftdi_mpsse_flush(h, buf), 0);
  EXPECT_EQ(late[0], 0x12);
  EXPECT_EQ(late[1], 0x34);
}

TEST_F(Mpsse, QueueRefusesOversizedPieces) {
  std::vector<uint8_t> big(65537, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_queue(h, buf, big.data(), 65537, nullptr, 0, false), -1);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ(buf->cmdLen, 0);
  // A make-room flush that fails is passed back, nothing appended.
  ftdi_mpsse_queue(h, buf, big.data(), 30000, nullptr, 0, false);
  ftcap::state().writeStatus = FT_IO_ERROR;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ftdi_mpsse_queue(h, buf, big.data(), 40000, nullptr, 0, false), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(buf->cmdLen, 0);
}

}  // namespace
