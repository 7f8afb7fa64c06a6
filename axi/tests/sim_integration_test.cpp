// The link, the bridge and the AXI-I2C sensor code against the simulator's own
// UART-to-AXI master design (its AXI space, CDMA engine, IIC controller and the LR/ZK
// devices and rails behind it).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/log_capture.h"
#include "testsupport/axi/sim_axi_pump.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_bridge.h"
#include "power/axi_i2c.h"
#include "sim/design/axi_master_app.h"
#include "sim/design/board_power.h"

namespace {

using varnaxitest::SimAxiPump;

// A link straight to a simulated design over loopback TCP, or through a bridge whose
// socket pair's far end is the simulated design.
struct SimRig {
  explicit SimRig(varnsim::DesignOptions options, bool viaBridge = false) {
    uint16_t port = 0;
    listener = varnaxitest::listenLoopback(&port);
    if (viaBridge) {
      EXPECT_EQ(varn_socketpair(pair), 0);
      bridge = VARNAXIBridgeCreate(pair[0], listener);
      pump = std::make_unique<SimAxiPump>(pair[1], options);
      link = VARNAXICreate(0, "127.0.0.1", port);
    } else {
      link = VARNAXICreate(0, "127.0.0.1", port);
      pump = std::make_unique<SimAxiPump>(varn_accept(listener, nullptr, nullptr), options);
    }
    EXPECT_TRUE(pump->ok()) << pump->error();
    EXPECT_NE(link, nullptr);
    VARNAXISetTimeout(link, 2500);
  }
  ~SimRig() {
    VARNAXIDestroy(&link);
    VARNAXIBridgeDestroy(&bridge);
    pump.reset();
    if (varn_socket_valid(pair[0])) varn_close_socket(pair[0]);
    varn_close_socket(listener);
  }
  double rail(int r) {
    return pump->withDesign([&](varnsim::Design& d) {
      double v = -1;
      d.railVoltage(r, &v);
      return v;
    });
  }
  varnaxitest::LogCapture log;
  varn_socket listener = VARN_INVALID_SOCKET;
  varn_socket pair[2] = {VARN_INVALID_SOCKET, VARN_INVALID_SOCKET};
  VARNAXIBridge* bridge = nullptr;
  std::unique_ptr<SimAxiPump> pump;
  _VARNAXI* link = nullptr;
};

class SimLink : public ::testing::TestWithParam<bool> {};

TEST_P(SimLink, ReadsWritesPipelinedWritesAndTest) {
  SimRig rig({{"family", "lr"}}, GetParam());
  EXPECT_EQ(VARNAXITest(rig.link), 0);
  EXPECT_EQ(rig.log.count("Test Response: 00"), 1);
  EXPECT_EQ(VARNAXIWrite(rig.link, 0xDEADBEEF, 0x40000000, true), 0);
  uint32_t v = 0;
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x40000000), 0);
  EXPECT_EQ(v, 0xDEADBEEFu);
  for (uint32_t i = 0; i < 2000; ++i) ASSERT_EQ(VARNAXIWrite(rig.link, i * 3, 0x40001000 + 4 * (i % 256), false), 0);
  for (uint32_t i = 1744; i < 2000; ++i) {
    ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x40001000 + 4 * (i % 256)), 0);
    ASSERT_EQ(v, i * 3) << "pipelined writes arrive in order";
  }
  EXPECT_EQ(rig.log.count("AXI Req Buffer Overflow"), 0);
  EXPECT_EQ(rig.log.count("Bad"), 0);
}

TEST_P(SimLink, BulkWriteChecksumAgreesWithTheSimulator) {
  SimRig rig({{"family", "lr"}}, GetParam());
  std::vector<uint8_t> data(3968 * 2);
  std::mt19937 rng(21);
  for (auto& b : data) b = uint8_t(rng());
  ASSERT_EQ(VARNAXIWriteBulk(rig.link, data.data(), uint32_t(data.size()), 0x40010000, false), 0);
  ASSERT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 256, 0x40020000, true), 0);
  uint32_t v = 0, host;
  ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x40010004), 0);
  std::memcpy(&host, data.data() + 4, 4);
  EXPECT_EQ(v, host) << "a swapped bulk write lands as the host's words";
  ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x40020000), 0);
  EXPECT_EQ(v, (uint32_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3]);
}

TEST_P(SimLink, CdmaWriteReadBackAndCopy) {
  SimRig rig({{"family", "lr"}}, GetParam());
  std::vector<uint8_t> data(0x12340);
  std::mt19937 rng(99);
  for (auto& b : data) b = uint8_t(rng());
  const uint64_t dst = 0x80000000;
  ASSERT_EQ(VARNAXICDMAWriteBytes(rig.link, data.data(), uint32_t(data.size()), dst), 0);
  std::vector<uint8_t> back(data.size());
  ASSERT_EQ(VARNAXICDMAReadBytes(rig.link, back.data(), uint32_t(back.size()), dst), 0);
  EXPECT_EQ(back, data);
  ASSERT_EQ(VARNAXICDMACopyBytes(rig.link, dst + 0x1000, 0x90000000, 0x2000), 0);
  std::vector<uint8_t> copied(0x2000);
  ASSERT_EQ(VARNAXICDMAReadBytes(rig.link, copied.data(), uint32_t(copied.size()), 0x90000000), 0);
  EXPECT_TRUE(std::equal(copied.begin(), copied.end(), data.begin() + 0x1000));
  EXPECT_EQ(rig.log.count("CDMA"), 0) << rig.log.text();
}

TEST_P(SimLink, InterruptsFromTheDesign) {
  SimRig rig({{"family", "lr"}}, GetParam());
  ASSERT_EQ(VARNAXIEnableInterruptsWithMask(rig.link, 0x01), 0);
  uint32_t v;
  ASSERT_EQ(VARNAXIRead(rig.link, &v, 0), 0);  // the mask is in place once this is answered
  rig.pump->withDesign([](varnsim::Design& d) {
    d.raiseInterrupt(0x1, 0x0123456789ABCDEFull);
    d.raiseInterrupt(0x2, 0x42);  // not enabled by the mask
    d.raiseInterrupt(0x1, 0x77);
  });
  uint32_t out[2];
  ASSERT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 2000), 0);
  EXPECT_EQ(out[0], 0x89ABCDEFu);
  EXPECT_EQ(out[1], 0x01234567u);
  ASSERT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 2000), 0);
  EXPECT_EQ(out[0], 0x77u);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 100), 3);
  if (GetParam()) {
    // The bridge keeps the set-2 interrupt (sequence 1) from a client that registered
    // set 1 only, so the client sees a gap in the target's numbering.
    EXPECT_EQ(rig.log.count("Interupts missed - 1 -> 2\n"), 1) << rig.log.text();
  } else {
    EXPECT_EQ(rig.log.count("Interupts missed"), 0) << rig.log.text();
  }
}

INSTANTIATE_TEST_SUITE_P(DirectAndThroughBridge, SimLink, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Bridge" : "Direct"; });

TEST(SimSensors, LrReadingsFollowTheBoardModel) {
  SimRig rig({{"family", "lr"}, {"vccint", "0.85"}, {"temp_vccint", "45"}}, true);
  double t = 0, v = 0, a = 0;
  ASSERT_EQ(_VARNLRTempRead(rig.link, 0, &t), 0);
  double modelT = rig.pump->withDesign([](varnsim::Design& d) { return d.power().tempC(0); });
  EXPECT_NEAR(t, modelT, 0.0625);
  ASSERT_EQ(_VARNLRVoltRead(rig.link, 0, &v), 0);
  EXPECT_NEAR(v, rig.rail(0), 0.001);
  ASSERT_EQ(_VARNLRAmpRead(rig.link, 0, &a), 0);
  double modelA = rig.pump->withDesign([](varnsim::Design& d) { return d.power().amps(0); });
  EXPECT_NEAR(a, modelA, modelA * 0.05) << "input power at 90 % over the rail voltage";
}

TEST(SimSensors, LrPotentiometerWriteMovesTheRailAsTheTablesSay) {
  SimRig rig({{"family", "lr"}}, true);
  _VARNLRVoltTablesInit();
  const double* tables[3] = {LRVCCINTTbl, LRVCCBRAMTbl, LRVCCHBMTbl};
  const double asks[3] = {0.90, 0.88, 1.25};
  for (uint8_t rail = 0; rail < 3; ++rail) {
    ASSERT_EQ(_VARNLRVoltWrite(rig.link, rail, asks[rail]), 0);
    uint8_t code = _VARNLRVoltToCode(rail, asks[rail]);
    uint32_t x;
    ASSERT_EQ(VARNAXIRead(rig.link, &x, 0x9104), 0);  // the write has been carried out
    EXPECT_NEAR(rig.rail(rail), tables[rail][code], 1e-6) << "rail " << int(rail) << " code " << int(code);
    EXPECT_NEAR(rig.rail(rail), asks[rail], 0.002);
  }
  // And the step path: +2 from the present VCCINT, read back through the system monitor.
  double before = 0, after = 0;
  ASSERT_EQ(_VARNLRVoltRead(rig.link, 0, &before), 0);
  ASSERT_EQ(_VARNLRVoltChg(rig.link, 0, 2), 0);
  uint32_t x;
  ASSERT_EQ(VARNAXIRead(rig.link, &x, 0x9104), 0);
  ASSERT_EQ(_VARNLRVoltRead(rig.link, 0, &after), 0);
  // Both readings carry the system monitor's 10-bit resolution (3 V / 1024).
  EXPECT_NEAR(after - before, 0.02, 0.002 + 3.0 / 1024);
}

TEST(SimSensors, ZkRegulatorReadingsWritesAndPatch) {
  SimRig rig({{"family", "zk"}, {"vccint", "0.85"}, {"vrm_id", "0x00A3"}}, true);
  double v = 0, t = 0, a = 0;
  ASSERT_EQ(_VARNZKVoltRead(rig.link, 0, &v), 0);
  EXPECT_NEAR(v, 0.85, 1.0 / 256);
  ASSERT_EQ(_VARNZKTempRead(rig.link, 1, &t), 0);
  double modelT = rig.pump->withDesign([](varnsim::Design& d) { return d.power().tempC(1); });
  EXPECT_NEAR(t, modelT, 1.0 / 256 + 1e-9);
  ASSERT_EQ(_VARNZKAmpRead(rig.link, 2, &a), 0);
  double modelA = rig.pump->withDesign([](varnsim::Design& d) { return d.power().amps(2); });
  EXPECT_NEAR(a, modelA, std::max(0.5, modelA * 0.01));

  ASSERT_EQ(_VARNZKPatch(rig.link), 0);
  EXPECT_EQ(rig.log.count("Gen 2 Q5826 - Applying Patches\n"), 1);
  EXPECT_EQ(rig.log.count("Failed"), 0);

  ASSERT_EQ(_VARNZKVoltWrite(rig.link, 0, 0.85), 0);
  uint32_t x;
  ASSERT_EQ(VARNAXIRead(rig.link, &x, 0xA104), 0);
  EXPECT_NEAR(rig.rail(0), 217.0 / 256, 1e-9) << "0.85 V is written as 0x00D9";
  ASSERT_EQ(_VARNZKVoltWrite(rig.link, 2, 1.1), 0);
  ASSERT_EQ(VARNAXIRead(rig.link, &x, 0xA104), 0);
  EXPECT_NEAR(rig.rail(2), 281.0 / 256, 1e-9);
  ASSERT_EQ(_VARNZKVoltChg(rig.link, 1, 3), 0);
  ASSERT_EQ(VARNAXIRead(rig.link, &x, 0xA104), 0);
  EXPECT_NEAR(rig.rail(1), std::floor((0.85 + 0.03) * 256) / 256, 1.0 / 256 + 1e-9);
}

}  // namespace
