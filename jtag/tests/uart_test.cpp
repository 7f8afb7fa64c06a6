// The serial channel over its three routes and its waiting modes.
#include <gtest/gtest.h>

#include <string>

#include "app/platform/varn_platform.h"
#include "coe/coe_link.h"
#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tests/chain_model.h"
#include "jtag/tests/coe_capture.h"
#include "jtag/tests/ft_capture.h"
#include "jtag/varn_jtag.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag_handle.h"

namespace {

FT_HANDLE const kJtag = reinterpret_cast<FT_HANDLE>(1);
FT_HANDLE const kUart = reinterpret_cast<FT_HANDLE>(2);

class Uart : public ::testing::Test {
 protected:
  void open(std::vector<chainmodel::Device> devices) {
    chainmodel::install(std::move(devices));
    testing::internal::CaptureStdout();
    ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override { VARNJtagDestroy(j); }
  chainmodel::Device& dev(int i) { return chainmodel::chain().devices[i]; }
  void fill(int d, size_t n) {
    for (size_t i = 0; i < n; ++i) dev(d).toHost.push_back(static_cast<uint8_t>('a' + i % 26));
  }
  VARNJtag* j = nullptr;
};

TEST_F(Uart, V2ReadBatchesOf32PerExchange) {
  open({chainmodel::vu9p(), chainmodel::vu35p()});
  fill(1, 40);
  uint8_t buf[64] = {};
  uint32_t got = 0;
  const uint64_t before = chainmodel::chain().exchanges;
  ASSERT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 40, &got, 2), 0);
  EXPECT_EQ(got, 40u);
  EXPECT_EQ(chainmodel::chain().exchanges - before, 2u);  // 32 scans, then 8
  for (int i = 0; i < 40; ++i) EXPECT_EQ(buf[i], 'a' + i % 26);
  // An idle poll costs one exchange and gives 6 (mode 2) or 4 (mode 3).
  const uint64_t idle = chainmodel::chain().exchanges;
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 64, &got, 2), 6);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(chainmodel::chain().exchanges - idle, 1u);
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 64, &got, 3), 4);
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 0, &got, 2), 0);
  EXPECT_EQ(got, 0u);
  // Fewer bytes than room: what is there, and 0.
  fill(1, 5);
  ASSERT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 64, &got, 2), 0);
  EXPECT_EQ(got, 5u);
}

TEST_F(Uart, V2ReadKeepsBytesBehindAnEmptySlot) {
  open({chainmodel::vu35p()});
  fill(0, 3);
  dev(0).emptyCaptures = 1;  // the first scan of the batch finds the FIFO empty
  uint8_t buf[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 8, &got, 2), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
}

TEST_F(Uart, V2WaitingModes) {
  open({chainmodel::vu35p()});
  uint8_t b = 0;
  EXPECT_EQ(VARNJtagUartV2ReadByte(j, 0, &b, 2), 6);
  EXPECT_EQ(VARNJtagUartV2ReadByte(j, 0, &b, 9), 4);
  const uint64_t t0 = varn_monotonic_ns();
  const uint64_t ex0 = chainmodel::chain().exchanges;
  EXPECT_EQ(VARNJtagUartV2ReadByte(j, 0, &b, 1), 6);
  EXPECT_EQ(chainmodel::chain().exchanges - ex0, 51u);
  EXPECT_GE(varn_monotonic_ns() - t0, 50ull * 1000 * 1000);
  fill(0, 1);
  ASSERT_EQ(VARNJtagUartV2ReadByte(j, 0, &b, 0), 0);
  EXPECT_EQ(b, 'a');
}

TEST_F(Uart, V2FailedExchangeIsNotData) {
  open({chainmodel::vu35p()});
  uint8_t buf[8];
  uint32_t got = 9;
  ftcap::state().readStatus = FT_IO_ERROR;
  testing::internal::CaptureStderr();
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 8, &got, 2), 5);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(got, 0u);
  // A short read (the chip answered fewer bytes) is not data either.
  ftcap::state().readStatus = FT_OK;
  j->mpsse->cmdLen = j->mpsse->rxExpected = j->mpsse->reqCount = 0;
  ftcap::state().onWrite = nullptr;  // nothing answers any more
  ftcap::state().replies.clear();
  testing::internal::CaptureStderr();
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 8, &got, 2), 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "JTAG Read did not satisfy all requests!\n");
}

TEST_F(Uart, V1WriteAndReadWithAnEchoDesign) {
  open({chainmodel::vu33p(), chainmodel::vu35p()});
  dev(1).echo = true;
  const std::string msg = "hello, fpga";
  uint32_t written = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(j, 1, reinterpret_cast<const uint8_t*>(msg.data()),
                                     static_cast<uint32_t>(msg.size()), &written),
            0);
  EXPECT_EQ(written, msg.size());
  EXPECT_EQ(std::string(dev(1).fromHost.begin(), dev(1).fromHost.end()), msg);
  EXPECT_TRUE(dev(0).fromHost.empty());
  ASSERT_EQ(VARNJtagUartV1WriteByte(j, 1, '!'), 0);
  // v1 read: capacity 10 with 12 waiting takes 10 and says so.
  uint8_t buf[16] = {};
  uint32_t got = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagUartV1ReadBytes(j, 1, buf, 10, &got, 2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FPGA side FIFO has 12 bytes reading 10\n");
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "hello, fpg");
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagUartV1ReadBytes(j, 1, buf, 10, &got, 2), 0);  // 2 left, then empty: 0 with 2
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(VARNJtagUartV1ReadBytes(j, 1, buf, 10, &got, 2), 6);
  EXPECT_EQ(VARNJtagUartV1ReadBytes(j, 1, buf, 10, &got, 5), 4);
  uint8_t b = 0;
  EXPECT_EQ(VARNJtagUartV1ReadByte(j, 1, &b, 2), 6);
  dev(1).toHost.push_back('Z');
  ASSERT_EQ(VARNJtagUartV1ReadByte(j, 1, &b, 2), 0);
  EXPECT_EQ(b, 'Z');
}

TEST_F(Uart, IntelAndUnknownDevices) {
  open({chainmodel::gx2800h(), chainmodel::vu35p()});
  uint8_t buf[4];
  uint32_t n = 0;
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 4, &n, 2), 3);
  EXPECT_EQ(VARNJtagUartV1WriteBytes(j, 0, buf, 4, &n), 3);
  EXPECT_EQ(VARNJtagUartV1ReadBytes(j, 0, buf, 4, &n, 2), 3);
  // The companion UART serves Xilinx devices only.
  testing::internal::CaptureStdout();
  VARNJtagSetFTDIUart(j, kUart);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 4, &n, 2), 3);
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 2, buf, 4, &n, 2), 4);
  j->deviceType[1] = JTAG_DEV_UNKNOWN;
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 1, buf, 4, &n, 2), 2);
}

TEST_F(Uart, CompanionUartRoute) {
  open({chainmodel::vu35p()});
  testing::internal::CaptureStdout();
  VARNJtagSetFTDIUart(j, kUart);
  testing::internal::GetCapturedStdout();
  ftcap::state().uartHandle = kUart;
  const uint8_t data[3] = {1, 2, 3};
  uint32_t n = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(j, 0, data, 3, &n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(ftcap::state().uartWritten, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(dev(0).fromHost.empty());
  uint8_t buf[8];
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 8, &n, 2), 6);
  ftcap::state().uartRx = {7, 8, 9, 10};
  ASSERT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 3, &n, 2), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(buf[2], 9);
  uint8_t b = 0;
  ASSERT_EQ(VARNJtagUartV2ReadByte(j, 0, &b, 2), 0);
  EXPECT_EQ(b, 10);
  ftcap::state().statusStatus = FT_IO_ERROR;
  EXPECT_EQ(VARNJtagUartV2ReadBytes(j, 0, buf, 3, &n, 2), 5);
  ftcap::state().writeStatus = FT_IO_ERROR;
  EXPECT_EQ(VARNJtagUartV1WriteBytes(j, 0, data, 3, &n), 5);
  EXPECT_EQ(VARNJtagUartV1WriteByte(j, 0, 1), 5);
}

TEST(UartCoE, WritesInChunksAndReadsTheRing) {
  coecap::reset();
  VARNJtag j{};
  varn_jtag_use_coe(&j, VNCoELinkCreate("192.0.2.1", VN_COE_PORT));
  j.mpsse = mpsse_buffer_alloc();
  j.deviceCount = 2;
  j.deviceType[0] = JTAG_DEV_VU35P;
  j.deviceType[1] = JTAG_DEV_GX2800H;
  j.coeSlot[0] = 2;
  j.coeSlot[1] = 3;
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  uint32_t n = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(&j, 0, data.data(), 5000, &n), 0);
  EXPECT_EQ(n, 5000u);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].command, 0x1204);
  EXPECT_EQ(r[0].tag, 2);
  EXPECT_EQ(r[0].payload.size(), 4096u);
  EXPECT_EQ(r[0].payload[0], 0x20);
  EXPECT_EQ(r[1].payload.size(), 906u);
  EXPECT_EQ(r[1].payload[1], static_cast<uint8_t>(4095));
  // Intel devices on a CoE board use the controller's UART too.
  coecap::state().uart[3] = {'o', 'k'};
  uint8_t buf[8];
  ASSERT_EQ(VARNJtagUartV2ReadBytes(&j, 1, buf, 8, &n, 2), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(VARNJtagUartV2ReadBytes(&j, 1, buf, 8, &n, 2), 6);
  coecap::state().answers.push_back({0, 0x000A, {}});
  coecap::state().answers.push_back({5, 0, {}});
  EXPECT_EQ(VARNJtagUartV1WriteBytes(&j, 0, data.data(), 5000, &n), 5);
  EXPECT_EQ(n, 4095u);
  mpsse_buffer_free(j.mpsse);
  VNCoELinkDestroy(j.coeLink);
}

}  // namespace
