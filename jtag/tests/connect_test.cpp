// Board creation, bus set-up and chain scans: FTDI over the chain model, CoE over the
// link double.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "coe/coe_link.h"
#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tests/chain_model.h"
#include "jtag/tests/coe_capture.h"
#include "jtag/tests/ft_capture.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

namespace {

using Bytes = std::vector<uint8_t>;
FT_HANDLE const kJtag = reinterpret_cast<FT_HANDLE>(1);

VARNJtag* open(std::vector<chainmodel::Device> devices, uint32_t hz = 30000000) {
  chainmodel::install(std::move(devices));
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  int rc = VARNJtagCreate(kJtag, hz, &j);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  return j;
}

TEST(Connect, CreationFailures) {
  ftcap::reset();
  VARNJtag* j = nullptr;
  ftcap::state().infoStatus = FT_DEVICE_NOT_OPENED;
  EXPECT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 1);
  ftcap::state().infoStatus = FT_OK;
  ftcap::state().infoId = 0x04036001;
  EXPECT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 2);
  EXPECT_EQ(j, nullptr);
  // No CoE address: the FTDI path without a channel.
  EXPECT_EQ(VARNJtagCreateCoE(nullptr, 30000000, &j), 1);
  EXPECT_EQ(ftcap::state().writeCalls, 0);
}

TEST(Connect, SingleVu35pAndBusSetup) {
  VARNJtag* j = open({chainmodel::vu35p()});
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(j->deviceCount, 1u);
  EXPECT_EQ(j->totalIrLength, 12);
  EXPECT_EQ(j->irLength[0], 12);
  EXPECT_EQ(j->usbPid, 0x6014);
  EXPECT_EQ(j->busInitialized, 1);
  EXPECT_EQ(j->coeSlot[3], 3);
  uint32_t id = 0, slrs = 0;
  char name[VARN_JTAG_NAME_SIZE];
  ASSERT_EQ(VARNJtagGetDeviceInfo(j, 0, &id, name, &slrs), 0);
  EXPECT_EQ(id, 0x14B71093u);
  EXPECT_STREQ(name, "VU35P");
  EXPECT_EQ(slrs, 2u);
  EXPECT_EQ(VARNJtagGetDeviceInfo(j, 1, &id, name, &slrs), 4);
  const auto& w = ftcap::state().writes;
  ASSERT_GE(w.size(), 4u);
  EXPECT_EQ(w[0], (Bytes{0x97, 0x8A, 0x86, 0x00, 0x00}));
  EXPECT_EQ(w[1], (Bytes{0x85}));
  EXPECT_EQ(w[2], (Bytes{0x80, 0xE8, 0xEB}));
  EXPECT_EQ(w[3], (Bytes{0x82, 0x2C, 0x3C}));
  const auto names = ftcap::callNames();
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 7),
            (std::vector<std::string>{"FT_GetDeviceInfo", "FT_SetBitMode", "FT_SetBitMode", "FT_SetLatencyTimer",
                                      "FT_SetTimeouts", "FT_SetUSBParameters", "FT_Purge"}));
  // A rescan does not repeat the bus set-up.
  ftcap::state().calls.clear();
  uint8_t count = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNJtagGetDeviceCount(j, &count), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Running Device Scan\n");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(ftcap::callNames()[0], "FT_Write");
  VARNJtagDestroy(j);
}

TEST(Connect, ClockDivisors) {
  chainmodel::install({chainmodel::vu33p()});
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreate(kJtag, 400, &j), 0);  // creation ignores the count's result
  testing::internal::GetCapturedStdout();
  uint8_t count = 0;
  j->busInitialized = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNJtagGetDeviceCount(j, &count), 4);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(j->busInitialized, 1);
  VARNJtagDestroy(j);
  for (uint32_t hz : {20000000u, 30000000u, 45000000u}) {
    j = open({chainmodel::vu33p()}, hz);
    EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x97, 0x8A, 0x86, 0x00, 0x00})) << hz;
    VARNJtagDestroy(j);
  }
  j = open({chainmodel::vu33p()}, 1000000);  // 30 MHz / 30
  EXPECT_EQ(ftcap::state().writes[0], (Bytes{0x97, 0x8A, 0x86, 29, 0x00}));
  VARNJtagDestroy(j);
}

TEST(Connect, IdenticalDevicesShareTheMeasuredLength) {
  VARNJtag* j = open({chainmodel::vu9p(1), chainmodel::vu9p(2)});
  EXPECT_EQ(j->deviceCount, 2u);
  EXPECT_EQ(j->totalIrLength, 36);
  EXPECT_EQ(j->irLength[0], 18);
  EXPECT_EQ(j->irLength[1], 18);
  VARNJtagDestroy(j);
}

// The scan reads the device nearest TDO first; device i must be the chip with i
// devices between it and TDI, so that DNA and every later operation reach it.
TEST(Connect, MixedChainIndexesFromTheTdiSide) {
  VARNJtag* j = open({chainmodel::vu9p(), chainmodel::vu35p(), chainmodel::gx2800h()});
  ASSERT_EQ(j->deviceCount, 3u);
  EXPECT_EQ(j->deviceType[0], JTAG_DEV_VU9P);
  EXPECT_EQ(j->deviceType[1], JTAG_DEV_VU35P);
  EXPECT_EQ(j->deviceType[2], JTAG_DEV_GX2800H);
  EXPECT_EQ(j->totalIrLength, 18 + 12 + 10);
  EXPECT_EQ(j->irLength[0], 18);
  EXPECT_EQ(j->irLength[1], 12);
  EXPECT_EQ(j->irLength[2], 10);
  for (uint32_t d = 0; d < 2; ++d) {
    uint8_t dna[12] = {};
    ASSERT_EQ(VARNJtagGetDNA(j, d, dna), 0);
    const auto& dev = chainmodel::chain().devices[d];
    for (int k = 0; k < 12; ++k) EXPECT_EQ(dna[k], dev.dna[11 - k]) << "device " << d << " byte " << k;
    uint32_t fuse = 0;
    ASSERT_EQ(VARNJtagGetUserFuse(j, d, &fuse), 0);
    EXPECT_EQ(fuse, dev.userFuse);
  }
  VARNJtagDestroy(j);
}

TEST(Connect, UnequalLengthsThatDoNotAddUpAreSplitEvenly) {
  // A part the table knows with another IR length than its silicon: the measured total
  // (18 + 18) does not match the table (18 + 12), so every device gets half.
  auto odd = chainmodel::vu9p();
  auto claimed = chainmodel::vu9p();
  claimed.idcode = 0x04B71093;  // says VU35P, shifts like a VU9P
  chainmodel::install({odd, claimed});
  chainmodel::chain().devices[1].row = JTAG_DEV_VU9P;
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(j->totalIrLength, 36);
  EXPECT_EQ(j->irLength[0], 18);
  EXPECT_EQ(j->irLength[1], 18);
  VARNJtagDestroy(j);
}

TEST(Connect, BrokenChains) {
  for (int level : {1, 0}) {
    chainmodel::install({chainmodel::vu35p()});
    chainmodel::chain().stuckTdo = level;
    VARNJtag* j = nullptr;
    testing::internal::CaptureStdout();
    ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
    uint8_t count = 77;
    EXPECT_EQ(VARNJtagGetDeviceCount(j, &count), 5);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(level ? "IDCODE ffffffff" : "IDCODE 00000000"), std::string::npos) << log;
    EXPECT_EQ(count, 77);
    EXPECT_EQ(j->deviceCount, 0u);
    VARNJtagDestroy(j);
  }
  // An empty chain: the pattern comes straight back.
  VARNJtag* j = open({});
  EXPECT_EQ(j->deviceCount, 0u);
  VARNJtagDestroy(j);
}

TEST(Connect, FiveDevicesKeepFourAndWarn) {
  chainmodel::install({chainmodel::vu33p(), chainmodel::vu33p(), chainmodel::vu33p(), chainmodel::vu33p(),
                       chainmodel::vu33p()});
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(j->deviceCount, 4u);
  EXPECT_NE(log.find("WARNING: JTAG chain holds more than 4 devices"), std::string::npos) << log;
  VARNJtagDestroy(j);
}

TEST(Connect, CompanionUartSetup) {
  ftcap::reset();
  VARNJtag j{};
  j.uartLatency = 7;
  FT_HANDLE uart = reinterpret_cast<FT_HANDLE>(2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNJtagSetFTDIUart(&j, uart), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Initializing companion FTDI UART\n");
  EXPECT_EQ(ftcap::state().calls,
            (std::vector<std::string>{"FT_SetBaudRate 1000000", "FT_SetDataCharacteristics 8 0 0",
                                      "FT_SetFlowControl 0", "FT_SetTimeouts 1000 1000", "FT_SetLatencyTimer 7",
                                      "FT_SetUSBParameters 16384 16384", "FT_Purge 3"}));
  EXPECT_EQ(j.uartHandle, uart);
}

// --- CoE -------------------------------------------------------------------------

// The handle does not own its link; the caller closes both.
void destroyWithLink(VARNJtag* j) {
  _VNCoELink* link = j->coeLink;
  VARNJtagDestroy(j);
  VNCoELinkDestroy(link);
}

coecap::Answer idcodes(std::vector<uint32_t> ids) {
  coecap::Answer a;
  for (uint32_t id : ids)
    for (int k = 0; k < 4; ++k) a.data.push_back(static_cast<uint8_t>(id >> (8 * k)));
  return a;
}

TEST(ConnectCoE, ScanConfiguresEveryDevice) {
  coecap::reset();
  coecap::state().answers = {{}, {}, idcodes({0x04B31093, 0x04B71093})};
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreateCoE("192.0.2.7", 13500000, &j), 0);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(log,
            "Connecting CoE link to 192.0.2.7...\nInitializing Bus\nCoE JTAG Initialized to 13500000 MHz\n"
            "Running Device Scan\n");
  EXPECT_EQ(coecap::state().createdAddress, "192.0.2.7");
  EXPECT_EQ(coecap::state().createdPort, 21363);
  EXPECT_EQ(VARNJtagDeviceIsCoE(j), 1);
  EXPECT_EQ(j->deviceCount, 2u);
  EXPECT_EQ(j->irLength[0], 18);
  EXPECT_EQ(j->irLength[1], 12);
  EXPECT_EQ(j->totalIrLength, 0);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 4u + 2 * 3);
  EXPECT_EQ(r[0].command, 0x100C);
  EXPECT_EQ(r[0].payload, (Bytes{0, 0, 0, 0, 0x60, 0xFE, 0xCD, 0x00}));
  EXPECT_EQ(r[1].command, 0x1001);
  EXPECT_EQ(r[1].payload, (Bytes{0x00, 0x02}));
  EXPECT_EQ(r[2].command, 0x1010);
  EXPECT_EQ(r[2].payload, (Bytes{0x00, 0x00}));
  EXPECT_EQ(r[3].command, 0x1011);
  EXPECT_EQ(r[3].payload, (Bytes{0x00, 18, 12}));
  EXPECT_EQ(r[7].command, 0x1110);
  EXPECT_EQ(r[7].payload, (Bytes{0x4D, 0x10, 0, 0, 0, 0}));
  EXPECT_EQ(r[8].command, 0x1201);
  EXPECT_EQ(r[8].payload, (Bytes{0x10, 0x01}));
  EXPECT_EQ(r[9].command, 0x1202);
  EXPECT_EQ(r[9].payload, (Bytes{0x10, 0, 0, 0, 0x40, 0x42, 0x0F, 0x00}));
  for (const auto& q : r) {
    EXPECT_EQ(q.tag, 1);
    EXPECT_EQ(q.flags, 0x8000);
  }
  destroyWithLink(j);
}

TEST(ConnectCoE, FiveIdcodesAndSlotB) {
  coecap::reset();
  coecap::state().answers = {{}, {}, idcodes({1, 2, 3, 4, 5})};
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreateCoE("192.0.2.7", 13500000, &j), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(j->deviceCount, 4u);
  EXPECT_EQ(coecap::state().requests[3].payload.size(), 5u);
  destroyWithLink(j);

  // One device whose I2C ping is refused moves to slot B.
  coecap::reset();
  coecap::state().answers = {{}, {}, idcodes({0x04B71093}), {}, {0, 0x000E, {1, 0, 0, 0}}};
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreateCoE("192.0.2.8", 13500000, &j), 0);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("One CoE Board Device, but I2C did not respond to ping on BusIdx 0 - Switching to Slot B\n"),
            std::string::npos);
  EXPECT_EQ(j->coeSlot[0], 1);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[4].payload, (Bytes{0x4D, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(r[5].payload, (Bytes{0x4D, 0x10, 0, 0, 0, 0}));
  destroyWithLink(j);
}

TEST(ConnectCoE, FailuresAreLoggedAndTheScanGoesOn) {
  coecap::reset();
  coecap::state().responder = [](const coecap::Request&) { return coecap::Answer{5, 0, {}}; };
  VARNJtag* j = nullptr;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagCreateCoE("192.0.2.9", 13500000, &j), 0);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("Failed to set CoE JTAG Speed to 13500000\n"), std::string::npos);
  EXPECT_NE(log.find("Failed settings CoE IR Lengths\n"), std::string::npos);
  EXPECT_EQ(j->deviceCount, 0u);
  EXPECT_EQ(coecap::state().requests.back().payload, (Bytes{0x00}));
  destroyWithLink(j);

  coecap::reset();
  coecap::state().connected = false;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNJtagCreateCoE("192.0.2.10", 13500000, &j), 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Connecting CoE link to 192.0.2.10...\nCoE Link Failed to connect!\n");
  EXPECT_EQ(coecap::state().destroyed, 1);
  coecap::state().createFails = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNJtagCreateCoE("192.0.2.10", 13500000, &j), 7);
  testing::internal::GetCapturedStdout();
}

}  // namespace
