// The simulated driver's behaviour behind the FT_* calls: the device list as the
// vendor driver shows it, opening, faults, time-outs in simulated time, the companion
// UART and the JTAG-UART reaching the real designs, counters, and two threads on the
// two channels of one board.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "sim/d2xx/tests/mpsse_writer.h"
#include "sim/d2xx/varnsim_api.h"

namespace varnsim::test {
namespace {

const char* kBoards = R"(
board zk
device VU33P preconfigured=yes uart=v2 app=echo slr_temp=51
board lr
device VU35P preconfigured=yes app=echo
board s10
device GX2800-L
ftdi FT2232H serial=ZK01 description="Dual RS232-HS"
channel A jtag=zk
channel B uart=zk.0
ftdi FT4232H serial=LR7
channel A jtag=lr
ftdi FT232H serial=S10X description="Single RS232-HS"
channel A jtag=s10 fail_open=yes
ftdi FT232R serial=AL00042 description="CVP UART"
channel A uart=lr.0
ftdi FT2232H
channel A none
)";

struct Entry {
  DWORD flags, type, id;
  std::string serial, desc;
};

Entry entry(DWORD i) {
  Entry e{};
  DWORD loc;
  char s[16], d[64];
  FT_HANDLE h;
  EXPECT_EQ(FT_GetDeviceInfoDetail(i, &e.flags, &e.type, &e.id, &loc, s, d, &h), FT_OK);
  e.serial = s;
  e.desc = d;
  return e;
}

class D2xx : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(varnsim_load_text(kBoards), 0) << varnsim_last_error(); }
  int indexOf(const std::string& serial) {
    DWORD n = 0;
    FT_CreateDeviceInfoList(&n);
    for (DWORD i = 0; i < n; ++i)
      if (entry(i).serial == serial) return static_cast<int>(i);
    return -1;
  }
};

TEST_F(D2xx, ListsChannelsAsTheVendorDriverDoes) {
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 2u + 4 + 1 + 1 + 2);
  const char* serials[] = {"ZK01A", "ZK01B", "LR7A", "LR7B", "LR7C", "LR7D", "S10X", "AL00042", "A", "B"};
  const char* descs[] = {"Dual RS232-HS A", "Dual RS232-HS B", "Quad RS232-HS A", "Quad RS232-HS B",
                         "Quad RS232-HS C", "Quad RS232-HS D", "Single RS232-HS", "CVP UART",
                         "Dual RS232-HS A", "Dual RS232-HS B"};
  const DWORD ids[] = {0x04036010, 0x04036010, 0x04036011, 0x04036011, 0x04036011,
                       0x04036011, 0x04036014, 0x04036001, 0x04036010, 0x04036010};
  const DWORD types[] = {6, 6, 7, 7, 7, 7, 8, 5, 6, 6};
  for (DWORD i = 0; i < n; ++i) {
    Entry e = entry(i);
    EXPECT_EQ(e.serial, serials[i]);
    EXPECT_EQ(e.desc, descs[i]);
    EXPECT_EQ(e.id, ids[i]);
    EXPECT_EQ(e.type, types[i]);
    EXPECT_EQ(e.flags, i == 7 ? 0u : FT_FLAGS_HISPEED) << i;
  }
  FT_HANDLE h;
  EXPECT_EQ(FT_GetDeviceInfoDetail(n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FT_Reload(0x0403, 0x6010), FT_NOT_SUPPORTED);
}

TEST_F(D2xx, OpeningAndHandles) {
  FT_HANDLE a = nullptr, b = nullptr;
  ASSERT_EQ(FT_Open(0, &a), FT_OK);
  EXPECT_EQ(FT_Open(0, &b), FT_DEVICE_NOT_OPENED) << "a channel opens once";
  EXPECT_EQ(FT_Open(indexOf("S10X"), &b), FT_DEVICE_NOT_OPENED) << "fail_open";
  EXPECT_EQ(FT_Open(99, &b), FT_DEVICE_NOT_FOUND);
  FT_DEVICE type;
  DWORD id;
  char s[16], d[64];
  ASSERT_EQ(FT_GetDeviceInfo(a, &type, &id, s, d, nullptr), FT_OK);
  EXPECT_STREQ(s, "ZK01A");
  EXPECT_EQ(id, 0x04036010u);
  EXPECT_EQ(FT_SetBitMode(a, 0x0B, 0x02), FT_OK);
  EXPECT_EQ(FT_SetLatencyTimer(a, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetUSBParameters(a, 100, 100), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_Close(a), FT_OK);
  EXPECT_EQ(FT_Close(a), FT_INVALID_HANDLE);
  DWORD w;
  uint8_t byte = 0;
  EXPECT_EQ(FT_Write(a, &byte, 1, &w), FT_INVALID_HANDLE);
  ASSERT_EQ(FT_Open(0, &a), FT_OK);
  // Channels without an MPSSE refuse MPSSE mode.
  ASSERT_EQ(FT_Open(indexOf("LR7C"), &b), FT_OK);
  EXPECT_EQ(FT_SetBitMode(b, 0x0B, 0x02), FT_INVALID_PARAMETER);
  // A reload invalidates every handle.
  ASSERT_EQ(varnsim_load_text(kBoards), 0);
  EXPECT_EQ(FT_Purge(a, 3), FT_INVALID_HANDLE);
  EXPECT_EQ(FT_Open(0, &a), FT_OK);
  FT_Close(a);
  EXPECT_EQ(varnsim_inject_fault("S10X", "open_failure", 0), 0);
  EXPECT_EQ(FT_Open(indexOf("S10X"), &b), FT_OK);
  FT_Close(b);
  EXPECT_EQ(varnsim_inject_fault("NOPE", "short_read", 1), -1);
  EXPECT_NE(std::string(varnsim_last_error()).find("NOPE"), std::string::npos);
  EXPECT_EQ(varnsim_load_text("board x\ndevice VU1P\n"), -1);
  EXPECT_NE(std::string(varnsim_last_error()).find("unknown part 'VU1P'"), std::string::npos);
}

TEST_F(D2xx, FaultsAndTimeoutsCostSimulatedTimeOnly) {
  FtJtag j(0);
  const auto wall0 = std::chrono::steady_clock::now();
  VarnsimChannelCounters c0, c1;
  ASSERT_EQ(varnsim_channel_counters("ZK01A", &c0), 0);
  // A read of bytes nothing will send: short after the 1000 ms time-out.
  uint8_t buf[64];
  DWORD got = 99;
  ASSERT_EQ(FT_Read(j.h, buf, 10, &got), FT_OK);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(varnsim_channel_counters("ZK01A", &c1), 0);
  EXPECT_NEAR(static_cast<double>(c1.simTimeNs - c0.simTimeNs), 1e9, 1e6);
  EXPECT_EQ(c1.readTimeouts - c0.readTimeouts, 1u);

  // Injected: one write failure, one time-out, one short read.
  ASSERT_EQ(varnsim_inject_fault("ZK01A", "write_failure", 1), 0);
  DWORD w = 7;
  uint8_t probe[2] = {0xAA, 0xAB};
  EXPECT_EQ(FT_Write(j.h, probe, 2, &w), FT_IO_ERROR);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(FT_Write(j.h, probe, 2, &w), FT_OK);
  EXPECT_EQ(w, 2u);
  ASSERT_EQ(varnsim_inject_fault("ZK01A", "read_timeout", 1), 0);
  ASSERT_EQ(FT_Read(j.h, buf, 4, &got), FT_OK);
  EXPECT_EQ(got, 0u) << "the answer was there, the read still timed out";
  ASSERT_EQ(varnsim_inject_fault("ZK01A", "short_read", 1), 0);
  ASSERT_EQ(FT_Read(j.h, buf, 4, &got), FT_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[0], 0xFA);
  EXPECT_EQ(buf[1], 0xAA);
  ASSERT_EQ(FT_Read(j.h, buf, 2, &got), FT_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[1], 0xAB) << "nothing lost";
  EXPECT_LT(std::chrono::steady_clock::now() - wall0, std::chrono::milliseconds(500));
}

TEST_F(D2xx, LatencyTimerAndSendImmediateShowInSimulatedTime) {
  FtJtag j(indexOf("LR7A"));
  auto roundTrip = [&](bool immediate) {
    VarnsimChannelCounters a, b;
    varnsim_channel_counters("LR7A", &a);
    std::vector<uint8_t> cmd = {0x81};
    if (immediate) cmd.push_back(0x87);
    j.send(cmd);
    EXPECT_EQ(j.receive(1).size(), 1u);
    varnsim_channel_counters("LR7A", &b);
    EXPECT_EQ(b.usbExchanges - a.usbExchanges, 1u);
    return b.simTimeNs - a.simTimeNs;
  };
  const uint64_t slow = roundTrip(false), fast = roundTrip(true);
  EXPECT_GE(slow, 3'000'000u) << "waited for the 4 ms latency timer";
  EXPECT_LT(fast, 500'000u);
}

TEST_F(D2xx, CompanionUartReachesTheDesign) {
  FT_HANDLE u;
  ASSERT_EQ(FT_Open(indexOf("ZK01B"), &u), FT_OK);
  ASSERT_EQ(FT_SetBaudRate(u, 1000000), FT_OK);
  ASSERT_EQ(FT_SetDataCharacteristics(u, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
  ASSERT_EQ(FT_SetFlowControl(u, FT_FLOW_NONE, 0, 0), FT_OK);
  ASSERT_EQ(FT_SetTimeouts(u, 1000, 1000), FT_OK);
  ASSERT_EQ(FT_SetLatencyTimer(u, 2), FT_OK);
  EXPECT_EQ(FT_SetBaudRate(u, 0), FT_INVALID_BAUD_RATE);
  const char msg[] = "hello, fpga";
  DWORD w = 0;
  ASSERT_EQ(FT_Write(u, const_cast<char*>(msg), 11, &w), FT_OK);
  ASSERT_EQ(w, 11u);
  // Poll as a host does until the echo is readable.
  DWORD rx = 0, tx, ev;
  int polls = 0;
  while (rx < 11 && polls < 10000) {
    ASSERT_EQ(FT_GetStatus(u, &rx, &tx, &ev), FT_OK);
    ++polls;
  }
  EXPECT_EQ(rx, 11u);
  EXPECT_GT(polls, 1) << "the echo needs line time and a latency period";
  char back[16] = {};
  DWORD got = 0;
  ASSERT_EQ(FT_Read(u, back, 11, &got), FT_OK);
  EXPECT_EQ(got, 11u);
  EXPECT_EQ(std::string(back, got), "hello, fpga");
  FT_Close(u);

  // The CVP UART of the other board reaches its FPGA as well.
  ASSERT_EQ(FT_Open(indexOf("AL00042"), &u), FT_OK);
  FT_SetBaudRate(u, 1000000);
  FT_SetTimeouts(u, 500, 500);
  ASSERT_EQ(FT_Write(u, const_cast<char*>(msg), 5, &w), FT_OK);
  ASSERT_EQ(FT_Read(u, back, 5, &got), FT_OK);
  EXPECT_EQ(std::string(back, got), "hello");
  FT_Close(u);
}

TEST_F(D2xx, JtagUartAndSysmonOverTheMpsse) {
  FtJtag j(0);
  MpsseWriter w;
  w.tms("111110");
  // USER2 takes a byte; the echo design answers through USER1 (v2: 9 bits, bit 8 = empty).
  w.scan(true, bitsOf(0x03, 6), false);
  w.scan(false, bitsOf('Z', 8), false);
  w.scan(true, bitsOf(0x02, 6), false);
  w.scan(false, Bits(9, false), true);
  w.scan(false, Bits(9, false), true);
  Bits r = j.run(w);
  ASSERT_EQ(r.size(), 18u);
  EXPECT_EQ(valueOf(r, 0, 9), static_cast<uint64_t>('Z'));
  EXPECT_EQ(valueOf(r, 9, 9) >> 8, 1u) << "then empty";

  // SYSMON temperature as set in the description, then changed by the test.
  auto temp = [&]() {
    w.scan(true, bitsOf(0x37, 6), false);
    w.scan(false, bitsOf(0x04000000, 32), false);
    w.idle(12);
    w.scan(false, Bits(32, false), true);
    uint64_t v = valueOf(j.run(w));
    return (v >> 6) * 509.3140064 / 1024 - 280.2308787;
  };
  EXPECT_NEAR(temp(), 51.0, 0.5);
  ASSERT_EQ(varnsim_set_sensor("zk", 0, 0, "temp", 88.0), 0);
  EXPECT_NEAR(temp(), 88.0, 0.5);
  EXPECT_EQ(varnsim_set_sensor("zk", 0, 1, "temp", 1.0), -1) << "a VU33P has one SLR";
  VarnsimDeviceState st;
  ASSERT_EQ(varnsim_device_state("zk", 0, &st), 0);
  EXPECT_EQ(st.done, 1);
  EXPECT_EQ(st.designLoaded, 1);
  EXPECT_EQ(st.irCapture, 0x35u);
  ASSERT_EQ(varnsim_device_state("s10", 0, &st), 0);
  EXPECT_EQ(st.vendor, 1);
  EXPECT_EQ(st.idcode, 0x032150DDu);
  EXPECT_EQ(varnsim_device_state("zk", 1, &st), -1);
}

TEST_F(D2xx, JtagAndUartChannelsOfOneBoardFromTwoThreads) {
  FtJtag j(0);
  FT_HANDLE u;
  ASSERT_EQ(FT_Open(indexOf("ZK01B"), &u), FT_OK);
  FT_SetBaudRate(u, 1000000);
  FT_SetTimeouts(u, 1000, 1000);
  std::thread uart([&] {
    for (int i = 0; i < 200; ++i) {
      uint8_t b = static_cast<uint8_t>(i), back = 0;
      DWORD w = 0, got = 0;
      FT_Write(u, &b, 1, &w);
      FT_Read(u, &back, 1, &got);
      EXPECT_EQ(got, 1u);
      EXPECT_EQ(back, b);
    }
  });
  for (int i = 0; i < 200; ++i) {
    MpsseWriter w;
    w.tms("111110");
    w.scan(false, bitsOf(0, 32), true);
    EXPECT_EQ(valueOf(j.run(w)), 0x04B69093u);
  }
  uart.join();
  FT_Close(u);
}

}  // namespace
}  // namespace varnsim::test
