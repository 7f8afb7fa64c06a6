// The host's CoE paths end to end: the JTAG engine and the regulator operations over
// the link to the simulated board controller at 127.0.0.x:21363. Every test has its
// own address, so tests can run side by side.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "coe/coe_link.h"
#include "testsupport/coe/coe_test_support.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"
#include "power/varn_vrm.h"
#include "sim/controller/controller_server.h"
#include "sim/controller/tests/fake_chain.h"

using namespace coetest;
using namespace varnsim;
using ctltest::FakeChain;

namespace {

constexpr uint32_t kVu35p = 0x04B71093, kVu9p = 0x04B31093;

class CoEBoard : public ::testing::Test {
 protected:
  void addFpga(uint32_t idcode, uint32_t irLen, int slot, bool regulators = true, uint16_t moduleId = 0x00A3) {
    int index = int(chain.dev.size());
    chain.dev.emplace_back();
    chain.dev.back().idcode = idcode;
    chain.dev.back().irLen = irLen;
    cfg.slots[slot].device = index;
    cfg.slots[slot].hasRegulators = regulators;
    cfg.slots[slot].power.layout = vrmLayoutFor(idcode);
    cfg.slots[slot].power.moduleId = moduleId;
  }
  // The controller on its own loopback address, then the host's board handle.
  void open(const char* address) {
    LogCapture::get();
    address_ = address;
    server = std::make_unique<ControllerServer>(address, VN_COE_PORT, chain, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    mark = LogCapture::get().mark();
    ASSERT_EQ(VARNJtagCreateCoE(address, 13500000, &jtag), 0);
    ASSERT_NE(jtag, nullptr);
  }
  void TearDown() override {
    if (jtag) {
      _VNCoELink* link = jtag->coeLink;
      VARNJtagDestroy(jtag);
      VNCoELinkDestroy(link);
    }
    if (server) server->stop();
  }
  template <typename F>
  auto ctl(F f) {
    return server->inspect(f);
  }

  FakeChain chain;
  ControllerConfig cfg;
  std::unique_ptr<ControllerServer> server;
  VARNJtag* jtag = nullptr;
  std::string address_;
  size_t mark = 0;
};

TEST_F(CoEBoard, ConnectSetsTheBusUpAndScansTheChain) {
  addFpga(kVu35p, 12, 0);
  addFpga(kVu9p | 0x10000000, 18, 1);
  open("127.0.0.71");
  EXPECT_EQ(jtag->deviceCount, 2u);
  EXPECT_EQ(jtag->idcodes[0], kVu35p);
  EXPECT_EQ(jtag->idcodes[1], kVu9p | 0x10000000);
  EXPECT_EQ(jtag->deviceType[0], JTAG_DEV_VU35P);
  EXPECT_EQ(jtag->deviceType[1], JTAG_DEV_VU9P);
  EXPECT_EQ(jtag->irLength[0], 12);
  EXPECT_EQ(jtag->irLength[1], 18);
  EXPECT_EQ(jtag->coeSlot[0], 0);
  EXPECT_EQ(jtag->coeSlot[1], 1);
  EXPECT_EQ(ctl([](BoardController& c) { return c.jtagClockHz(); }), 13500000u);
  EXPECT_EQ(ctl([](BoardController& c) { return c.jtagMode(); }), 2);
  EXPECT_EQ(ctl([](BoardController& c) { return c.hostIrLengths(); }), (std::vector<uint8_t>{12, 18}));
  for (int slot = 0; slot < 2; slot++) {
    EXPECT_EQ(ctl([&](BoardController& c) { return c.uartState(slot).mode; }), 1);
    EXPECT_EQ(ctl([&](BoardController& c) { return c.uartState(slot).baud; }), 1000000u);
  }
  EXPECT_EQ(ctl([](BoardController& c) { return c.naks(); }), 0u);
  std::string log = LogCapture::get().since(mark);
  EXPECT_NE(log.find("CoE JTAG Initialized to 13500000 MHz\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
  uint32_t id = 0, slrs = 0;
  char name[VARN_JTAG_NAME_SIZE] = {};
  EXPECT_EQ(VARNJtagGetDeviceInfo(jtag, 0, &id, name, &slrs), 0);
  EXPECT_STREQ(name, "VU35P");
  EXPECT_EQ(slrs, 2u);
}

TEST_F(CoEBoard, FiveReportedIdcodesGiveFourDevicesAndFiveIrLengthBytes) {
  addFpga(kVu9p, 18, 0);
  cfg.idcodeOverride = {kVu9p, kVu9p, kVu9p, kVu9p, kVu9p};
  open("127.0.0.72");
  EXPECT_EQ(jtag->deviceCount, 4u);
  // The IR-length request carried the leading 0 and one byte per recorded device.
  EXPECT_EQ(ctl([](BoardController& c) { return c.hostIrLengths(); }), (std::vector<uint8_t>{18, 18, 18, 18}));
}

TEST_F(CoEBoard, SingleFpgaOnSlotBIsFoundByThePing) {
  addFpga(kVu35p, 12, 1);
  open("127.0.0.73");
  EXPECT_EQ(jtag->deviceCount, 1u);
  EXPECT_EQ(jtag->coeSlot[0], 1);
  EXPECT_NE(LogCapture::get().since(mark).find(
                "One CoE Board Device, but I2C did not respond to ping on BusIdx 0 - Switching to Slot B\n"),
            std::string::npos);
  EXPECT_EQ(ctl([](BoardController& c) { return c.uartState(1).baud; }), 1000000u);
  double v = 0;
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);
  EXPECT_NEAR(v, 0.85, 1.0 / 256);
}

TEST_F(CoEBoard, UartBytesBothWays) {
  addFpga(kVu35p, 12, 0);
  addFpga(kVu35p, 12, 1);
  open("127.0.0.74");
  std::vector<uint8_t> text(5000);
  for (size_t i = 0; i < text.size(); i++) text[i] = uint8_t('a' + i % 26);
  uint32_t written = 0;
  EXPECT_EQ(VARNJtagUartV1WriteBytes(jtag, 1, text.data(), uint32_t(text.size()), &written), 0);
  EXPECT_EQ(written, 5000u);
  ASSERT_TRUE(eventually([&] { return ctl([&](BoardController&) { return chain.dev[1].uart.received.size(); }) == 5000u; }));
  EXPECT_EQ(ctl([&](BoardController&) { return chain.dev[1].uart.received; }), text);
  EXPECT_TRUE(ctl([&](BoardController&) { return chain.dev[0].uart.received.empty(); }));

  ctl([&](BoardController&) {
    for (char c : std::string("console> ")) chain.dev[0].uart.output.push_back(uint8_t(c));
    return 0;
  });
  uint8_t buf[64];
  uint32_t got = 0;
  std::string seen;
  ASSERT_TRUE(eventually([&] {
    if (VARNJtagUartV2ReadBytes(jtag, 0, buf, sizeof buf, &got, 2) == 0) seen.append(reinterpret_cast<char*>(buf), got);
    return seen.size() >= 9;
  }));
  EXPECT_EQ(seen, "console> ");
  EXPECT_EQ(VARNJtagUartV2ReadBytes(jtag, 1, buf, sizeof buf, &got, 2), 6);  // nothing on slot 1
}

TEST_F(CoEBoard, RegulatorReadingsWritesAndPatchesLandInTheSimulatedRegulators) {
  addFpga(kVu35p, 12, 0, true, 0x00A3);
  addFpga(kVu9p, 18, 1, true, 0x0C47);
  open("127.0.0.75");
  double v = 0, a = 0, t = 0;
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(jtag, 0, VARN_VRM_VCCINT, 0.80), 0);
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, VARN_VRM_VCCINT, &v), 0);
  EXPECT_NEAR(v, 0.80, 1.0 / 256);
  EXPECT_NEAR(ctl([](BoardController& c) { return c.slotPower(0)->power().volts(0); }), 0.80, 1.0 / 256);
  EXPECT_EQ(VARNJtagGetVRMCurrent(jtag, 0, VARN_VRM_VCCINT, &a), 0);
  EXPECT_NEAR(a, ctl([](BoardController& c) { return c.slotPower(0)->power().amps(0); }), 0.1);
  EXPECT_EQ(VARNJtagGetVRMTemp(jtag, 0, VARN_VRM_VCCHBM, &t), 0);
  EXPECT_GT(t, 20.0);
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(jtag, 0, VARN_VRM_VCCBRAM, 1.0), 0);
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(jtag, 1, VARN_VRM_VCCBRAM, 0.9), 0);  // VU9P: 0x4F page 0, slot 1

  using Writes = std::vector<std::pair<uint16_t, uint16_t>>;
  auto log4d = [&](int slot) { return ctl([&](BoardController& c) { return c.slotPower(slot)->regulator(0x4D)->writeLog(); }); };
  auto log4f = [&](int slot) { return ctl([&](BoardController& c) { return c.slotPower(slot)->regulator(0x4F)->writeLog(); }); };
  EXPECT_EQ(log4d(0), (Writes{{0x0642, 204}, {0x083A, 256}}));
  EXPECT_EQ(log4f(1), (Writes{{0x0642, 230}}));

  size_t m = LogCapture::get().mark();
  EXPECT_EQ(VARNJtagApplyVRMPMICPatches(jtag, 0), 0);
  EXPECT_EQ(VARNJtagApplyVRMPMICPatches(jtag, 1), 0);
  std::string log = LogCapture::get().since(m);
  EXPECT_NE(log.find("Patching - Module ID is 00a3\nGen 2 Q5826 - Applying Patches\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Patching - Module ID is 0c47\nNo patches for TRW61\n"), std::string::npos) << log;
  EXPECT_EQ(log4d(0), (Writes{{0x0642, 204}, {0x083A, 256}, {0x0824, 0x2C22}, {0x0822, 0x5C1C}, {0x0820, 0x0077},
                              {0x0A80, 0x0100}}));
  EXPECT_EQ(log4f(0), (Writes{{0x068C, 0xF080}}));
  EXPECT_EQ(log4d(1), Writes{});
}

TEST_F(CoEBoard, DropMidRequestFailsAtOnceAndTheLinkComesBackByItself) {
  addFpga(kVu35p, 12, 0);
  open("127.0.0.76");
  double v = 0;
  server->dropOnNextRequest(0x1110);
  uint64_t start = varn_monotonic_ns();
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 7);
  EXPECT_LT(secondsSince(start), 0.5);
  // Reconnects within about a second, and the board works as before.
  start = varn_monotonic_ns();
  ASSERT_TRUE(eventually([&] { return server->connections() == 2 && VNCoELinkIsConnected(jtag->coeLink); }, 3000));
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);

  // The controller goes away for 1.5 s: requests fail at once while it is gone, and the
  // link is back within about a second of its return.
  server->restart(1500);
  varn_sleep_ms(100);
  start = varn_monotonic_ns();
  EXPECT_NE(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);
  EXPECT_LT(secondsSince(start), 0.1);
  ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(jtag->coeLink) == 1; }, 4000));
  EXPECT_LT(secondsSince(start), 1.4 + 1.2);
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);
}

// Whether the controller answers the hello, and however late that answer comes, it
// never completes a set-up request: every start-up finds both FPGAs.
TEST_F(CoEBoard, TheHellosAnswerNeverTakesTheFirstRequestsPlace) {
  addFpga(kVu35p, 12, 0);
  addFpga(kVu9p, 18, 1);
  struct Case {
    bool hello, keepalive;
    uint32_t delayMs;
    int starts;
  };
  const Case cases[] = {{false, true, 0, 6},  {true, true, 0, 6},   {true, true, 5, 6},  {true, true, 15, 6},
                        {true, true, 40, 6},  {true, false, 15, 4}, {false, false, 0, 2}};
  const char* address = "127.0.0.79";
  for (const Case& c : cases) {
    cfg.answerHello = c.hello;
    cfg.answerKeepalive = c.keepalive;
    cfg.helloAnswerDelayMs = c.delayMs;
    server = std::make_unique<ControllerServer>(address, VN_COE_PORT, chain, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    for (int i = 0; i < c.starts; ++i) {
      SCOPED_TRACE(testing::Message() << "hello " << c.hello << " keepalive " << c.keepalive << " delay "
                                      << c.delayMs << " start " << i);
      size_t from = LogCapture::get().mark();
      ASSERT_EQ(VARNJtagCreateCoE(address, 13500000, &jtag), 0);
      EXPECT_EQ(jtag->deviceCount, 2u);
      EXPECT_EQ(jtag->idcodes[1], kVu9p);
      _VNCoELink* link = jtag->coeLink;
      VARNJtagDestroy(jtag);
      VNCoELinkDestroy(link);
      jtag = nullptr;
      const std::string log = LogCapture::get().since(from);
      EXPECT_EQ(log.find("Orphaned Transaction"), std::string::npos) << log;
      EXPECT_EQ(log.find("not answered within"), std::string::npos) << log;
      EXPECT_EQ(log.find("answered neither the hello nor the keepalive") != std::string::npos,
                !c.hello && !c.keepalive)
          << log;
    }
    server->stop();
    server.reset();
  }
}

TEST_F(CoEBoard, SilentControllerCostsOneBoundedWait) {
  addFpga(kVu35p, 12, 0);
  open("127.0.0.77");
  VNCoELinkSetAnswerTimeout(jtag->coeLink, 300);
  server->setMute(true);
  double v = 0;
  uint64_t start = varn_monotonic_ns();
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 7);
  EXPECT_LT(secondsSince(start), 1.0);
  server->setMute(false);
  ASSERT_TRUE(eventually([&] { return server->connections() == 2 && VNCoELinkIsConnected(jtag->coeLink); }, 3000));
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);
  // Answers that come late, or with another tag, fail the same way and never reach a
  // later request.
  server->setAnswerDelayMs(600);
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 7);
  server->setAnswerDelayMs(0);
  ASSERT_TRUE(eventually([&] { return server->connections() == 3 && VNCoELinkIsConnected(jtag->coeLink); }, 3000));
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(jtag, 0, 0, 0.75), 0);
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 0);
  EXPECT_NEAR(v, 0.75, 1.0 / 256);
  server->setWrongTags(1);
  size_t m = LogCapture::get().mark();
  EXPECT_EQ(VARNJtagGetVRMVoltage(jtag, 0, 0, &v), 7);
  EXPECT_NE(LogCapture::get().since(m).find("Orphaned Transaction 0041, 000a!\n"), std::string::npos);
}

TEST_F(CoEBoard, BadLengthsAndGarbageFromTheControllerDoNotStopTheBoard) {
  addFpga(kVu35p, 12, 0);
  open("127.0.0.78");
  VNCoELinkSetAnswerTimeout(jtag->coeLink, 300);
  double v = 0;
  for (int fault = 0; fault < 3; fault++) {
    if (fault == 0) server->sendShortLength();
    if (fault == 1) server->sendLongLength();
    if (fault == 2) server->sendGarbage(777, 99);
    varn_sleep_ms(50);
    // At worst one request runs into the bound; after that the board answers again.
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; attempt++) {
      eventually([&] { return VNCoELinkIsConnected(jtag->coeLink) == 1; }, 3000);
      ok = VARNJtagGetVRMVoltage(jtag, 0, 0, &v) == 0;
    }
    EXPECT_TRUE(ok) << "fault " << fault;
  }
}

}  // namespace

// --- the same paths over sim/core's silicon -------------------------------------------

#include "sim/controller/core_chain.h"
#include "sim/core/xilinx_device.h"
#include "sim/design/design.h"

namespace {

DesignFactory designs() {
  return [](const DesignOptions& o, std::string* error) -> std::unique_ptr<FpgaDesign> {
    return makeDesignChecked(o, error);
  };
}

class SiliconBoard : public ::testing::Test {
 protected:
  XilinxDevice& addFpga(const char* part, int slot, uint64_t seed, uint32_t usercode = 0xFFFFFFFF) {
    DeviceConfig c;
    c.part = findPart(part);
    c.preconfigured = true;
    c.usercode = usercode;
    c.design = {{"app", "echo"}, {"family", "none"}};
    fillDefaultIdentity(c, seed);
    auto dev = std::make_unique<XilinxDevice>(c, designs());
    XilinxDevice& ref = *dev;
    chain.add(std::move(dev));
    cfg.slots[slot].device = int(chain.size() - 1);
    cfg.slots[slot].hasRegulators = true;
    cfg.slots[slot].power.layout = vrmLayoutFor(c.part->idcode);
    return ref;
  }
  void open(const char* address) {
    LogCapture::get();
    core = std::make_unique<CoreChain>(chain);
    server = std::make_unique<ControllerServer>(address, VN_COE_PORT, *core, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_EQ(VARNJtagCreateCoE(address, 13500000, &jtag), 0);
  }
  void TearDown() override {
    if (jtag) {
      _VNCoELink* link = jtag->coeLink;
      VARNJtagDestroy(jtag);
      VNCoELinkDestroy(link);
    }
    if (server) server->stop();
  }
  JtagChain chain;
  std::unique_ptr<CoreChain> core;
  ControllerConfig cfg;
  std::unique_ptr<ControllerServer> server;
  VARNJtag* jtag = nullptr;
};

TEST_F(SiliconBoard, IdentityAndSensorsThroughDeviceShifts) {
  XilinxDevice& a = addFpga("VU35P", 0, 11, 0x20260101);
  XilinxDevice& b = addFpga("VU9P", 1, 12);
  a.settings().fuseUser = 0xCAFEF00D;
  b.settings().fuseUser = 0x0BADBEEF;
  open("127.0.0.81");
  ASSERT_EQ(jtag->deviceCount, 2u);
  EXPECT_EQ(jtag->deviceType[0], JTAG_DEV_VU35P);
  EXPECT_EQ(jtag->deviceType[1], JTAG_DEV_VU9P);
  EXPECT_EQ(jtag->irLength[0], 12);
  EXPECT_EQ(jtag->irLength[1], 18);

  for (uint32_t d = 0; d < 2; d++) {
    XilinxDevice& x = d == 0 ? a : b;
    uint8_t dna[12] = {};
    ASSERT_EQ(VARNJtagGetDNA(jtag, d, dna), 0);
    const uint32_t* w = x.settings().dna[0].w;
    for (int k = 0; k < 12; k++) {
      int j = 11 - k;  // most significant byte first
      EXPECT_EQ(dna[k], uint8_t(w[j / 4] >> (8 * (j % 4)))) << "device " << d << " byte " << k;
    }
    uint32_t fuse = 0;
    ASSERT_EQ(VARNJtagGetUserFuse(jtag, d, &fuse), 0);
    EXPECT_EQ(fuse, x.settings().fuseUser);
    for (uint32_t slr = 0; slr < uint32_t(x.slrs()); slr++) {
      double t = 0, v = 0;
      ASSERT_EQ(VARNJtagGetSLRTemp(jtag, d, slr, &t), 0);
      EXPECT_NEAR(t, x.settings().temp[slr], 0.6) << "device " << d << " SLR " << slr;
      ASSERT_EQ(VARNJtagGetSLRVoltage(jtag, d, slr, 0, &v), 0);
      EXPECT_NEAR(v, x.settings().vccint[slr], 0.01);
    }
  }
  uint32_t code = 0;
  ASSERT_EQ(VARNJtagGetUserCode(jtag, 0, &code), 0);
  EXPECT_EQ(code, 0x20260101u);
  // The controller's status record: both preconfigured parts report DONE.
  uint8_t status[32];
  uint32_t len = 0;
  ASSERT_EQ(VNCoELinkTransaction(jtag->coeLink, 0x0300, 1, 0x8000, nullptr, 0, nullptr, nullptr, status, &len,
                                 sizeof status),
            0);
  ASSERT_EQ(len, 32u);
  EXPECT_EQ(status[15] & 0x40, 0x40);
  EXPECT_EQ(status[31] & 0x40, 0x40);
}

TEST_F(SiliconBoard, UartThroughTheEchoDesign) {
  addFpga("VU35P", 0, 21);
  open("127.0.0.82");
  const char* text = "ping over CoE\r\n";
  uint32_t written = 0;
  ASSERT_EQ(VARNJtagUartV1WriteBytes(jtag, 0, reinterpret_cast<const uint8_t*>(text), uint32_t(strlen(text)), &written),
            0);
  std::string echoed;
  uint8_t buf[64];
  uint32_t got = 0;
  ASSERT_TRUE(eventually([&] {
    if (VARNJtagUartV2ReadBytes(jtag, 0, buf, sizeof buf, &got, 2) == 0) echoed.append((char*)buf, got);
    return echoed.size() >= strlen(text);
  }));
  EXPECT_EQ(echoed, text);
}

}  // namespace
