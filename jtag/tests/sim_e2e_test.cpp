// The JTAG engine end to end against the simulated boards, through the real D2XX
// boundary (libvarn_ftdisim): chains of one to five devices, mixed chains, identity,
// sensors, carrier GPIO, the three serial routes, Intel queries through the SDM, the
// probe, and the faults a board or a driver can show.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tap.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/d2xx/varnsim_api.h"

namespace {

// Finds a channel by its listed serial and opens it.
FT_HANDLE openSerial(const char* serial) {
  DWORD n = 0;
  if (FT_CreateDeviceInfoList(&n) != FT_OK) return nullptr;
  for (DWORD i = 0; i < n; ++i) {
    DWORD flags, type, id, loc;
    char s[64] = {}, d[128] = {};
    FT_HANDLE unused;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc, s, d, &unused) != FT_OK) continue;
    if (std::strcmp(s, serial) == 0) {
      FT_HANDLE h = nullptr;
      if (FT_Open(static_cast<int>(i), &h) != FT_OK) return nullptr;
      return h;
    }
  }
  return nullptr;
}

class Sim : public ::testing::Test {
 protected:
  void load(const char* text) { ASSERT_EQ(varnsim_load_text(text), 0) << varnsim_last_error(); }
  // Creates the board handle on the channel; the scan's log is kept in `log`.
  int create(const char* serial, uint32_t hz = 30000000) {
    h = openSerial(serial);
    EXPECT_NE(h, nullptr) << serial;
    testing::internal::CaptureStdout();
    int rc = VARNJtagCreate(h, hz, &j);
    log = testing::internal::GetCapturedStdout();
    return rc;
  }
  uint8_t count() {
    uint8_t n = 0;
    testing::internal::CaptureStdout();
    last = VARNJtagGetDeviceCount(j, &n);
    log = testing::internal::GetCapturedStdout();
    return n;
  }
  void TearDown() override {
    if (j) VARNJtagDestroy(j);
  }
  FT_HANDLE h = nullptr;
  VARNJtag* j = nullptr;
  std::string log;
  int last = 0;
};

const char* kChains = R"(
board one
device VU35P dna=0x4123456789ABCDEF00112235 fuse=0xDEADBEEF usercode=0x11 preconfigured=yes family=none slr_temp=45,52.5 slr_vccint=0.85,0.86 carrier=1 slot=2 leds=R-BA--D
board two
device VU9P dna=0x400000000000000000000AA1 fuse=0x9 slr_temp=40,41,42 slr_vccint=0.80,0.81,0.82
device VU35P dna=0x400000000000000000000BB1 fuse=0x35
board three
device VU33P
device VU13P slr_temp=30,31,32,33
device VU33P
board four
device VU13P
device VU13P
device VU13P
device VU13P
board five
device VU33P
device VU33P
device VU33P
device VU33P
device VU33P
board mixed
device VU35P dna=0x400000000000000000000CC1 usercode=0xC0DE
device GX2800-H dna=0x0123456789ABCDEF slr_temp=61.25 slr_vccint=0.83 slr_vccaux=1.79 slr_vccbram=0.9 slr_vccpt=1.7
board stuck1
device VU35P
fault tdo=1
board stuck0
device VU35P
fault tdo=0
board broken
device VU9P
device VU35P
fault break=1
ftdi FT232H serial=ONE
channel A jtag=one
ftdi FT2232H serial=TWO
channel A jtag=two
ftdi FT4232H serial=THREE
channel A jtag=three
ftdi FT232H serial=FOUR
channel A jtag=four
ftdi FT232H serial=FIVE
channel A jtag=five
ftdi FT232H serial=MIXED
channel A jtag=mixed
ftdi FT232H serial=STUCK1
channel A jtag=stuck1
ftdi FT232H serial=STUCK0
channel A jtag=stuck0
ftdi FT232H serial=BROKEN
channel A jtag=broken
)";

TEST_F(Sim, SingleVu35p) {
  load(kChains);
  ASSERT_EQ(create("ONE"), 0);
  ASSERT_EQ(j->deviceCount, 1u);
  EXPECT_EQ(j->totalIrLength, 12);
  uint32_t id, slrs;
  char name[VARN_JTAG_NAME_SIZE];
  ASSERT_EQ(VARNJtagGetDeviceInfo(j, 0, &id, name, &slrs), 0);
  EXPECT_EQ(id & 0x0FFFFFFF, 0x04B71093u);
  EXPECT_STREQ(name, "VU35P");
  EXPECT_EQ(slrs, 2u);
  uint8_t dna[12];
  ASSERT_EQ(VARNJtagGetDNA(j, 0, dna), 0);
  const uint8_t want[12] = {0x41, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00, 0x11, 0x22, 0x35};
  EXPECT_EQ(std::memcmp(dna, want, 12), 0);
  uint32_t fuse = 0, code = 0;
  ASSERT_EQ(VARNJtagGetUserFuse(j, 0, &fuse), 0);
  EXPECT_EQ(fuse, 0xDEADBEEFu);
  ASSERT_EQ(VARNJtagGetUserCode(j, 0, &code), 0);
  EXPECT_EQ(code, 0x11u);
  uint8_t f128[16];
  ASSERT_EQ(VARNJtagGetUser128Fuse(j, 0, f128), 0);
  for (uint8_t b : f128) EXPECT_EQ(b, 0);
  const double temps[2] = {45, 52.5}, vcc[2] = {0.85, 0.86};
  for (uint32_t s = 0; s < 2; ++s) {
    double t = 0, v = 0, aux = 0, bram = 0;
    ASSERT_EQ(VARNJtagGetSLRTemp(j, 0, s, &t), 0);
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 0, s, 0, &v), 0);
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 0, s, 1, &aux), 0);
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 0, s, 2, &bram), 0);
    EXPECT_NEAR(t, temps[s], 0.6) << "SLR " << s;
    EXPECT_NEAR(v, vcc[s], 0.003) << "SLR " << s;
    EXPECT_NEAR(aux, 1.80, 0.003);
    EXPECT_NEAR(bram, 0.85, 0.003);
  }
  uint8_t carrier = 9, slot = 9;
  uint32_t leds = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagGetZarvikInfo(j, 0, &carrier, &slot, &leds), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(carrier, 1);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(leds, 0x40u | 0x10u | 0x08u | 0x01u);
}

TEST_F(Sim, ChainsOfTwoToFourAndSysmonOnEverySlr) {
  load(kChains);
  ASSERT_EQ(create("TWOA"), 0);
  ASSERT_EQ(j->deviceCount, 2u);
  EXPECT_EQ(j->deviceType[0], JTAG_DEV_VU9P);
  EXPECT_EQ(j->deviceType[1], JTAG_DEV_VU35P);
  EXPECT_EQ(j->irLength[0], 18);
  EXPECT_EQ(j->irLength[1], 12);
  uint8_t dna[12];
  ASSERT_EQ(VARNJtagGetDNA(j, 0, dna), 0);
  EXPECT_EQ(dna[11], 0xA1);
  EXPECT_EQ(dna[10], 0x0A);
  ASSERT_EQ(VARNJtagGetDNA(j, 1, dna), 0);
  EXPECT_EQ(dna[11], 0xB1);
  uint32_t fuse;
  ASSERT_EQ(VARNJtagGetUserFuse(j, 0, &fuse), 0);
  EXPECT_EQ(fuse, 9u);
  ASSERT_EQ(VARNJtagGetUserFuse(j, 1, &fuse), 0);
  EXPECT_EQ(fuse, 0x35u);
  for (uint32_t s = 0; s < 3; ++s) {
    double t = 0, v = 0;
    ASSERT_EQ(VARNJtagGetSLRTemp(j, 0, s, &t), 0);
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 0, s, 0, &v), 0);
    EXPECT_NEAR(t, 40.0 + s, 0.6);
    EXPECT_NEAR(v, 0.80 + 0.01 * s, 0.003);
  }
  VARNJtagDestroy(j);
  j = nullptr;

  ASSERT_EQ(create("THREEA"), 0);
  ASSERT_EQ(j->deviceCount, 3u);
  EXPECT_EQ(j->deviceType[1], JTAG_DEV_VU13P);
  EXPECT_EQ(j->totalIrLength, 36);
  for (uint32_t s = 0; s < 4; ++s) {
    double t = 0;
    ASSERT_EQ(VARNJtagGetSLRTemp(j, 1, s, &t), 0);
    EXPECT_NEAR(t, 30.0 + s, 0.6) << s;
  }
  VARNJtagDestroy(j);
  j = nullptr;

  ASSERT_EQ(create("FOUR"), 0);
  ASSERT_EQ(j->deviceCount, 4u);
  EXPECT_EQ(j->totalIrLength, 96);
  uint8_t seen[4][12];
  for (uint32_t d = 0; d < 4; ++d) ASSERT_EQ(VARNJtagGetDNA(j, d, seen[d]), 0);
  for (uint32_t d = 0; d < 4; ++d) {
    VarnsimDeviceState st;
    ASSERT_EQ(varnsim_device_state("four", static_cast<int>(d), &st), 0);
    EXPECT_EQ(seen[d][0] >> 6, 1) << "DNA[95:94] = 01";
    for (uint32_t e = d + 1; e < 4; ++e) EXPECT_NE(std::memcmp(seen[d], seen[e], 12), 0);
  }
}

TEST_F(Sim, MixedXilinxAndIntel) {
  load(kChains);
  ASSERT_EQ(create("MIXED"), 0);
  ASSERT_EQ(j->deviceCount, 2u);
  EXPECT_EQ(j->deviceType[0], JTAG_DEV_VU35P);
  EXPECT_EQ(j->deviceType[1], JTAG_DEV_GX2800H);
  EXPECT_EQ(j->irLength[0], 12);
  EXPECT_EQ(j->irLength[1], 10);
  uint8_t dna[12];
  ASSERT_EQ(VARNJtagGetDNA(j, 0, dna), 0);
  EXPECT_EQ(dna[11], 0xC1);
  uint32_t code = 0;
  ASSERT_EQ(VARNJtagGetUserCode(j, 0, &code), 0);
  EXPECT_EQ(code, 0xFFFFFFFFu);  // not configured
  ASSERT_EQ(VARNJtagGetDNA(j, 1, dna), 0);
  const uint8_t want[12] = {0, 0, 0, 0, 0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(dna[k], want[k]) << k;
  double t = 0, v = 0;
  ASSERT_EQ(VARNJtagGetSLRTemp(j, 1, 0, &t), 0);
  EXPECT_NEAR(t, 61.25, 0.004);
  const double rails[4] = {0.83, 1.79, 0.9, 1.7};
  for (uint32_t r = 0; r < 4; ++r) {
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, r, &v), 0) << r;
    EXPECT_NEAR(v, rails[r], 0.0001) << "rail " << r;
  }
  EXPECT_EQ(VARNJtagGetUserCode(j, 1, &code), 3);
  uint8_t carrier, slot;
  uint32_t leds;
  EXPECT_EQ(VARNJtagGetZarvikInfo(j, 1, &carrier, &slot, &leds), 3);
}

TEST_F(Sim, StuckAndBrokenChains) {
  load(kChains);
  for (const char* serial : {"STUCK1", "STUCK0", "BROKEN"}) {
    SCOPED_TRACE(serial);
    ASSERT_EQ(create(serial), 0);  // creation ignores the scan's result
    EXPECT_NE(log.find("JTAG chain scan read IDCODE"), std::string::npos) << log;
    count();
    EXPECT_EQ(last, 5);
    uint8_t dna[12];
    // On the broken chain the instruction load is refused (IR length 0): nothing was read.
    EXPECT_EQ(VARNJtagGetDNA(j, 0, dna), std::strcmp(serial, "BROKEN") == 0 ? 5 : 4);
    VARNJtagDestroy(j);
    j = nullptr;
  }
  ASSERT_EQ(create("FIVE"), 0);
  EXPECT_EQ(j->deviceCount, 4u);
  EXPECT_NE(log.find("WARNING: JTAG chain holds more than 4 devices"), std::string::npos) << log;
}

TEST_F(Sim, DriverFailuresInAFlush) {
  load(kChains);
  ASSERT_EQ(create("ONE"), 0);
  uint8_t dna[12] = {};
  varn_jtag_comm_reset_tap(j);
  varn_jtag_comm_load_instruction(j, 0, JTAG_I_MAP[JTAG_DEV_VU35P][JTAG_I_DNA]);
  varn_jtag_comm_read_dr(j, 0, 96, dna);
  ASSERT_EQ(varnsim_inject_fault("ONE", "write_failure", 1), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_flush(j), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Writing FTD2XX: 4\n");
  // Nothing of the failed exchange is kept or delivered later.
  EXPECT_EQ(j->mpsse->reqCount, 0);
  EXPECT_EQ(varn_jtag_comm_flush(j), 0);
  for (uint8_t b : dna) EXPECT_EQ(b, 0);

  // A read that comes back short once is completed by the next call.
  ASSERT_EQ(varnsim_inject_fault("ONE", "short_read", 1), 0);
  uint8_t again[12] = {};
  ASSERT_EQ(VARNJtagGetDNA(j, 0, again), 0);
  EXPECT_EQ(again[0], 0x41);
  EXPECT_EQ(again[11], 0x35);
  // Replies that do not arrive at all fail the read, and the late bytes do not leak
  // into the next exchange.
  ASSERT_EQ(varnsim_inject_fault("ONE", "read_timeout", 16), 0);
  uint8_t lost[12] = {};
  testing::internal::CaptureStderr();
  EXPECT_EQ(VARNJtagGetDNA(j, 0, lost), 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "JTAG Read did not satisfy all requests!\n");
  for (uint8_t b : lost) EXPECT_EQ(b, 0);
  uint32_t fuse = 0;
  ASSERT_EQ(VARNJtagGetUserFuse(j, 0, &fuse), 0);
  EXPECT_EQ(fuse, 0xDEADBEEFu);
  ASSERT_EQ(varnsim_inject_fault("ONE", "write_failure", 1), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(VARNJtagGetUserFuse(j, 0, &fuse), 5);
  double celsius = 0;
  ASSERT_EQ(varnsim_inject_fault("ONE", "write_failure", 1), 0);
  EXPECT_EQ(VARNJtagGetSLRTemp(j, 0, 0, &celsius), 5);
  testing::internal::GetCapturedStderr();
  uint8_t after[12] = {};
  ASSERT_EQ(VARNJtagGetDNA(j, 0, after), 0);
  EXPECT_EQ(after[0], 0x41);
  EXPECT_EQ(after[11], 0x35);
  ASSERT_EQ(VARNJtagGetSLRTemp(j, 0, 0, &celsius), 0);
  EXPECT_GT(celsius, 0);
}

const char* kUarts = R"(
board v2
device VU9P
device VU35P preconfigured=yes uart=v2 app=echo fifo_in=65536 fifo_out=65536
board v1
device VU33P preconfigured=yes uart=v1 app=echo
board cu
device VU35P preconfigured=yes uart=v2 app=echo
ftdi FT232H serial=V2
channel A jtag=v2
ftdi FT232H serial=V1
channel A jtag=v1
ftdi FT2232H serial=CU
channel A jtag=cu
channel B uart=cu.0
)";

// Reads until `want` bytes came back or the reads stop returning any for a while.
std::string drainV2(VARNJtag* j, uint32_t device, size_t want) {
  std::string got;
  uint8_t buf[2048];
  for (int idle = 0; got.size() < want && idle < 200;) {
    uint32_t n = 0;
    int rc = VARNJtagUartV2ReadBytes(j, device, buf, sizeof buf, &n, 2);
    if (rc == 0 && n > 0) {
      got.append(reinterpret_cast<char*>(buf), n);
      idle = 0;
    } else {
      ++idle;
    }
  }
  return got;
}

TEST_F(Sim, JtagUartV2EchoBehindABypassedDevice) {
  load(kUarts);
  ASSERT_EQ(create("V2"), 0);
  ASSERT_EQ(j->deviceCount, 2u);
  std::string msg;
  for (int i = 0; i < 3000; ++i) msg.push_back(static_cast<char>('A' + i % 57));
  uint32_t written = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(j, 1, reinterpret_cast<const uint8_t*>(msg.data()),
                                     static_cast<uint32_t>(msg.size()), &written),
            0);
  EXPECT_EQ(written, msg.size());
  VarnsimChannelCounters before{}, after{};
  ASSERT_EQ(varnsim_channel_counters("V2", &before), 0);
  // Every byte, in order, across read batches that grow while they come back full.
  EXPECT_EQ(drainV2(j, 1, msg.size()), msg);
  ASSERT_EQ(varnsim_channel_counters("V2", &after), 0);
  const uint64_t exchanges = after.usbExchanges - before.usbExchanges;
  ASSERT_GT(exchanges, 0u);
  EXPECT_GT(msg.size() / exchanges, 64u) << exchanges << " USB exchanges for " << msg.size() << " bytes";
  // A write and the read batch after it in one exchange: the echo design answers at once.
  ASSERT_EQ(varnsim_channel_counters("V2", &before), 0);
  uint8_t back[64] = {};
  uint32_t sent = 0, got = 0;
  ASSERT_EQ(VARNJtagUartWriteThenRead(j, 1, reinterpret_cast<const uint8_t*>("ping"), 4, &sent, back, sizeof back, &got),
            0);
  ASSERT_EQ(varnsim_channel_counters("V2", &after), 0);
  EXPECT_EQ(sent, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back), got), "ping");
  EXPECT_EQ(after.usbExchanges - before.usbExchanges, 1u);
  uint8_t b;
  EXPECT_EQ(VARNJtagUartV2ReadByte(j, 1, &b, 2), 6);
  ASSERT_EQ(VARNJtagUartV1WriteByte(j, 1, 'x'), 0);
  int rc = 6;
  for (int i = 0; i < 100 && rc == 6; ++i) rc = VARNJtagUartV2ReadByte(j, 1, &b, 2);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(b, 'x');
}

TEST_F(Sim, JtagUartV1Echo) {
  load(kUarts);
  ASSERT_EQ(create("V1"), 0);
  const std::string msg = "version one";
  uint32_t n = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(j, 0, reinterpret_cast<const uint8_t*>(msg.data()),
                                     static_cast<uint32_t>(msg.size()), &n),
            0);
  uint8_t buf[32] = {};
  testing::internal::CaptureStdout();
  int rc = VARNJtagUartV1ReadBytes(j, 0, buf, static_cast<uint32_t>(msg.size()), &n, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), msg);
  EXPECT_NE(out.find("FPGA side FIFO has"), std::string::npos);
  EXPECT_EQ(VARNJtagUartV1ReadBytes(j, 0, buf, 4, &n, 2), 6);
}

// A failing exchange in the middle of serial traffic: the call says so, no zeros are
// handed out as data, and the echo goes on with nothing lost after it.
TEST_F(Sim, JtagUartExchangesThatFailDeliverNoBytes) {
  load(kUarts);
  for (const char* serial : {"V2", "V1"}) {
    SCOPED_TRACE(serial);
    if (j) VARNJtagDestroy(j);
    j = nullptr;
    ASSERT_EQ(create(serial), 0);
    const uint32_t dev = j->deviceCount - 1;
    const bool v2 = std::strcmp(serial, "V2") == 0;
    auto read = [&](uint8_t* buf, uint32_t cap, uint32_t* n) {
      return v2 ? VARNJtagUartV2ReadBytes(j, dev, buf, cap, n, 2) : VARNJtagUartV1ReadBytes(j, dev, buf, cap, n, 2);
    };
    const std::string msg = "first";
    uint32_t n = 0;
    testing::internal::CaptureStderr();
    ASSERT_EQ(varnsim_inject_fault(serial, "write_failure", 1), 0);
    EXPECT_EQ(VARNJtagUartV1WriteBytes(j, dev, reinterpret_cast<const uint8_t*>(msg.data()), 5, &n), 5);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(VARNJtagUartV1WriteBytes(j, dev, reinterpret_cast<const uint8_t*>(msg.data()), 5, &n), 0);
    uint8_t buf[64];
    for (const char* fault : {"write_failure", "read_timeout"}) {
      ASSERT_EQ(varnsim_inject_fault(serial, fault, std::strcmp(fault, "read_timeout") ? 1 : 16), 0);
      std::memset(buf, 0xEE, sizeof buf);
      EXPECT_EQ(read(buf, sizeof buf, &n), 5) << fault;
      EXPECT_EQ(n, 0u);
    }
    testing::internal::GetCapturedStderr();
    // What the failed reads did not take is still in the design's FIFO, or was taken
    // by the scans that failed; never anything else.
    testing::internal::CaptureStdout();
    std::string got;
    for (int i = 0; i < 200 && got.size() < msg.size(); ++i) {
      if (read(buf, sizeof buf, &n) == 0) got.append(reinterpret_cast<char*>(buf), n);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(msg.substr(msg.size() - got.size()), got);
    const std::string second = "second";
    ASSERT_EQ(VARNJtagUartV1WriteBytes(j, dev, reinterpret_cast<const uint8_t*>(second.data()), 6, &n), 0);
    got.clear();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 200 && got.size() < second.size(); ++i) {
      if (read(buf, sizeof buf, &n) == 0) got.append(reinterpret_cast<char*>(buf), n);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, second);
  }
}

TEST_F(Sim, CompanionUartRoute) {
  load(kUarts);
  ASSERT_EQ(create("CUA"), 0);
  FT_HANDLE uart = openSerial("CUB");
  ASSERT_NE(uart, nullptr);
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagSetFTDIUart(j, uart), 0);
  testing::internal::GetCapturedStdout();
  const std::string msg = "over the companion UART";
  uint32_t n = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(j, 0, reinterpret_cast<const uint8_t*>(msg.data()),
                                     static_cast<uint32_t>(msg.size()), &n),
            0);
  EXPECT_EQ(n, msg.size());
  // The UART runs at 1 Mbaud in simulated time; status polls let that time pass.
  EXPECT_EQ(drainV2(j, 0, msg.size()), msg);
  VarnsimChannelCounters jc{};
  ASSERT_EQ(varnsim_channel_counters("CUB", &jc), 0);
  EXPECT_GT(jc.bytesRead, 0u);
}

TEST_F(Sim, ProbeReportsAVu35pChain) {
  load(R"(
board one
device VU35P dna=0x4123456789ABCDEF00112235 slr_temp=45,52.5 carrier=3 slot=1 leds=RG---C- preconfigured=yes family=none
ftdi FT232H serial=PROBE description="VARN ZK"
channel A jtag=one
ftdi FT232R serial=AL1 description="CVP UART"
channel A none
)");
  testing::internal::CaptureStdout();
  EXPECT_EQ(enumUSB(), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  const char* lines[] = {"Scanning for VARN USB Devices...\n",
                         "Scanning for FTDI D2XX Devices...\n",
                         "Found 2 devices\n",
                         "Found VARN ZK (Serial: PROBE) ID 04036014\n",
                         "Scanning JTAG Chain...\n",
                         "Found JTAG Device 0 with ID CODE 04b71093\n",
                         "Device is VU35P\n",
                         "Found end of JTAG Chain (1 devices)\n",
                         "JTAG Chain IR Length was 12 bits\n",
                         "Assuming all 1 device(s) have 12 bit IR\n",
                         "Querying devices for DNA/ChipID and SYSMON/Telemetry data\n",
                         "Scanning Device 0 DNA...\n",
                         "DNA_INST: 00000ca4\n",
                         "DNA: 4123456789abcdef00112235\n",
                         "SLR0 Temperature: ",
                         "SLR0 VCCINT: 0.85 C\n",
                         "SLR1 Temperature: ",
                         "SLR1 VCCINT: 0.85 C\n",
                         "Reading boundary scan of 1858 bits\n",
                         "GPIO Bits: Module Idx: B\n",
                         "GPIO Bits: Carrier ID: 03\n",
                         "RGB [RG-] LED ABCD:[-|-|*|-]\n",
                         "Found CVP UART (Serial: AL1) ID 04036001\n",
                         "Skipping probe of unknown PID\n"};
  size_t at = 0;
  for (const char* l : lines) {
    size_t p = out.find(l, at);
    ASSERT_NE(p, std::string::npos) << "missing or out of order: " << l << "\nin:\n" << out;
    at = p + std::strlen(l);
  }
  double t0 = 0, t1 = 0;
  ASSERT_EQ(std::sscanf(out.c_str() + out.find("SLR0 Temperature: "), "SLR0 Temperature: %lf", &t0), 1);
  ASSERT_EQ(std::sscanf(out.c_str() + out.find("SLR1 Temperature: "), "SLR1 Temperature: %lf", &t1), 1);
  EXPECT_NEAR(t0, 45, 0.6);
  EXPECT_NEAR(t1, 52.5, 0.6);
}

}  // namespace
