// The IIC core, the LR and ZK bus devices and the LR system monitor, driven with the
// register sequences the host uses.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/design/axi_master_app.h"
#include "sim/design/axi_system.h"
#include "sim/design/tests/axi_frames.h"
#include "sim/design/tests/i2c_host.h"

namespace varnsim {
namespace {

using test::HostI2c;
using test::makeAxiDesign;

double sensorCelsius(uint8_t u, uint8_t l) {
  // Sign at bit 4 of the upper byte, 1/16 degree steps.
  int raw = (u & 0x1F) << 8 | l;
  if (raw & 0x1000) raw -= 0x2000;
  return raw / 16.0;
}

double vrmLinear11(uint8_t lo, uint8_t hi) {
  int e = static_cast<int8_t>(hi) >> 3;
  return std::ldexp(((hi & 7) << 8) | lo, e);
}

TEST(LrBoard, TemperatureSensorsReadThroughRegisterFive) {
  auto d = makeAxiDesign({{"family", "lr"}, {"temp_vccint", "25"}, {"load_vccint", "0"},
                          {"temp_vccbram", "-25"}, {"load_vccbram", "0"}});
  HostI2c h(d->axiSystem()->space(), 0x9000);
  std::vector<uint8_t> b;
  ASSERT_TRUE(h.plainWrite(0x18, {0x05}));
  ASSERT_TRUE(h.plainRead(0x18, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0x01, 0x90}));  // 25.0 degrees
  ASSERT_TRUE(h.plainWrite(0x19, {0x05}));
  ASSERT_TRUE(h.plainRead(0x19, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0x1E, 0x70}));  // -25.0: two's complement, sign bit 0x10
  EXPECT_DOUBLE_EQ(sensorCelsius(b[0], b[1]), -25.0);
  // Rail 2's sensor heats with its load.
  ASSERT_TRUE(h.plainWrite(0x1F, {0x05}));
  ASSERT_TRUE(h.plainRead(0x1F, 2, &b));
  EXPECT_NEAR(sensorCelsius(b[0], b[1]), d->power().tempC(2), 0.07);
  EXPECT_GT(sensorCelsius(b[0], b[1]), 42.0);
  // Identification registers.
  ASSERT_TRUE(h.plainWrite(0x18, {0x06}));
  ASSERT_TRUE(h.plainRead(0x18, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0x00, 0x54}));
}

TEST(LrBoard, PotentiometerCodesSetTheRailsByTheTables) {
  auto d = makeAxiDesign({{"family", "lr"}});
  HostI2c h(d->axiSystem()->space(), 0x9000);
  const uint8_t pot[3] = {0x2C, 0x2E, 0x2D};
  const double at0[3] = {0.999, 0.945, 1.3515}, at255[3] = {0.7775, 0.8219, 1.1645};
  for (int r = 0; r < 3; ++r) {
    double v = 0;
    ASSERT_TRUE(h.plainWrite(pot[r], {0x00, 0}));
    ASSERT_TRUE(d->railVoltage(r, &v));
    EXPECT_NEAR(v, at0[r], 0.0005) << "rail " << r;
    ASSERT_TRUE(h.plainWrite(pot[r], {0x00, 255}));
    ASSERT_TRUE(d->railVoltage(r, &v));
    EXPECT_NEAR(v, at255[r], 0.0005) << "rail " << r;
  }
  ASSERT_TRUE(h.plainWrite(0x2C, {0x00, 128}));
  double v = 0;
  d->railVoltage(0, &v);
  EXPECT_DOUBLE_EQ(v, 2.661 / (20 - 2048 / (128 + 153.6)) + 0.6);
  EXPECT_EQ(d->axiSystem()->pot(0)->code(), 128);
  // The wiper reads back as two bytes, ninth bit first.
  std::vector<uint8_t> b;
  ASSERT_TRUE(h.plainRead(0x2C, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0x00, 128}));
}

TEST(LrBoard, SystemMonitorFollowsTheRailsAndTheLoad) {
  auto d = makeAxiDesign({{"family", "lr"}, {"load_vccint", "40"}});
  AxiSpace& s = d->axiSystem()->space();
  auto rd = [&](uint64_t a) {
    uint32_t v = 0;
    EXPECT_EQ(s.read32(a, &v), AxiResp::Okay);
    return v;
  };
  const uint64_t voltReg[3] = {0x3404, 0x3418, 0x360C}, ampReg[3] = {0x3454, 0x3474, 0x3470};
  const double k[3] = {10, 1.6, 2.67};
  double input = rd(0x3440) * 15.2 / 65536;
  EXPECT_NEAR(input, 12.0, 0.02);
  for (int r = 0; r < 3; ++r) {
    double v = rd(voltReg[r]) * 3.0 / 65536;
    EXPECT_NEAR(v, d->power().volts(r), 0.003) << r;
    // Input power of the rail's converter at 90 %, divided by the rail voltage.
    double amps = input * (rd(ampReg[r]) * k[r] / 65536) * 0.9 / v;
    EXPECT_NEAR(amps, d->power().amps(r), d->power().amps(r) * 0.03 + 0.02) << r;
  }
  HostI2c h(s, 0x9000);
  ASSERT_TRUE(h.plainWrite(0x2C, {0x00, 255}));
  EXPECT_NEAR(rd(0x3404) * 3.0 / 65536, 0.7775, 0.003);
  d->power().setInputVolts(0);  // unpowered input channel reads 0
  EXPECT_EQ(rd(0x3440), 0u);
}

TEST(ZkBoard, RegulatorReadingsInTheirFormats) {
  auto d = makeAxiDesign({{"family", "zk"}, {"vccint", "0.85"}, {"load_vccint", "144"}});
  HostI2c h(d->axiSystem()->space(), 0xA000);
  std::vector<uint8_t> b;
  ASSERT_TRUE(h.regRead(0x4D, 0x0716, 2, &b));
  EXPECT_NEAR(b[1] + b[0] / 256.0, 0.85, 1.0 / 256);
  ASSERT_TRUE(h.regRead(0x4D, 0x0718, 2, &b));
  EXPECT_DOUBLE_EQ(vrmLinear11(b[0], b[1]), 144.0);
  ASSERT_TRUE(h.regRead(0x4D, 0x071A, 2, &b));
  EXPECT_NEAR(b[0] + b[1] / 256.0, d->power().tempC(0), 1.0 / 256);
  // Rail 1 sits on page 1 of 0x4D, rail 2 on page 0 of 0x4F.
  ASSERT_TRUE(h.regRead(0x4D, 0x0B16, 2, &b));
  EXPECT_NEAR(b[1] + b[0] / 256.0, 0.85, 1.0 / 256);
  ASSERT_TRUE(h.regRead(0x4F, 0x0716, 2, &b));
  EXPECT_NEAR(b[1] + b[0] / 256.0, 1.20, 1.0 / 256);
  ASSERT_TRUE(h.regRead(0x4D, 0x003C, 2, &b));
  EXPECT_EQ(b[0] | b[1] << 8, 0x00A3);
}

TEST(ZkBoard, VoltageTargetsMoveTheRailsAndPatchesAreRecorded) {
  auto d = makeAxiDesign({{"family", "zk"}, {"vrm_id", "0x0C47"}});
  HostI2c h(d->axiSystem()->space(), 0xA000);
  ASSERT_TRUE(h.regWrite(0x4D, 0x0642, 0x00D9));  // 0.85 V truncated to 217/256
  ASSERT_TRUE(h.regWrite(0x4D, 0x0A42, 0x00E0));
  ASSERT_TRUE(h.regWrite(0x4F, 0x0642, 0x0133));
  double v = 0;
  d->railVoltage(0, &v);
  EXPECT_DOUBLE_EQ(v, 217 / 256.0);
  d->railVoltage(1, &v);
  EXPECT_DOUBLE_EQ(v, 224 / 256.0);
  d->railVoltage(2, &v);
  EXPECT_DOUBLE_EQ(v, 307 / 256.0);
  std::vector<uint8_t> b;
  ASSERT_TRUE(h.regRead(0x4D, 0x0716, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0xD9, 0x00}));
  ASSERT_TRUE(h.regRead(0x4D, 0x0642, 2, &b));
  EXPECT_EQ(b, (std::vector<uint8_t>{0xD9, 0x00}));

  const std::pair<uint16_t, uint16_t> patch[4] = {{0x0824, 0x2C22}, {0x0822, 0x5C1C}, {0x0820, 0x0077}, {0x0A80, 0x0100}};
  for (auto [reg, val] : patch) ASSERT_TRUE(h.regWrite(0x4D, reg, val));
  const auto& log = d->axiSystem()->regulator(0x4D)->writeLog();
  ASSERT_EQ(log.size(), 6u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(log[2 + i], patch[i]);
  ASSERT_TRUE(h.regRead(0x4D, 0x003C, 2, &b));
  EXPECT_EQ(b[0] | b[1] << 8, 0x0C47);
  EXPECT_EQ(d->axiSystem()->regulator(0x4F)->writeLog().size(), 1u);
}

TEST(IicCore, AbsentDeviceIsNackedAndTheCoreComesBackIdle) {
  auto d = makeAxiDesign({{"family", "zk"}});
  HostI2c h(d->axiSystem()->space(), 0xA000);
  ASSERT_TRUE(h.plainWrite(0x18, {0x05}));  // no sensor on the ZK bus
  EXPECT_EQ(h.rd(0x020) & 0x02, 0x02u);     // ISR: transfer aborted
  EXPECT_EQ(h.rd(0x104) & 0xC4, 0xC0u);     // FIFOs empty, bus free
  EXPECT_EQ(d->axiSystem()->iic()->counters().nacks, 1u);
  std::vector<uint8_t> b;
  ASSERT_TRUE(h.regRead(0x4D, 0x003C, 2, &b));  // the next procedure works
  EXPECT_EQ(b[0], 0xA3);
}

TEST(IicCore, TimedBusShowsBusyUntilSimulatedTimePasses) {
  auto d = makeAxiDesign({{"family", "zk"}, {"i2c_khz", "100"}});
  HostI2c h(d->axiSystem()->space(), 0xA000);
  ASSERT_TRUE(h.waitIdle());
  for (uint32_t w : {0x19Au, 0xD0u, 0x3Cu, 0x00u, 0x19Bu, 0x202u}) h.wr(0x108, w);
  h.wr(0x100, 0x01);
  EXPECT_EQ(h.rd(0x104) & 0x84, 0x04u);  // words pending, bus busy
  // Seven bytes of nine clocks plus start/stop at 10 us: about 0.7 ms.
  d->advance(300'000);
  EXPECT_NE(h.rd(0x104) & 0x04, 0u);
  d->advance(1'000'000);
  EXPECT_EQ(h.rd(0x104) & 0x84, 0x80u);
  EXPECT_EQ(h.rd(0x118), 2u);  // three bytes waiting: count, low, high
  EXPECT_EQ(h.rd(0x10C), 2u);
  EXPECT_EQ(h.rd(0x10C), 0xA3u);
  EXPECT_EQ(h.rd(0x10C), 0x00u);
  EXPECT_EQ(h.rd(0x104) & 0xC0, 0xC0u);
}

TEST(IicCore, StuckBusHoldsTransfersAndSoftResetRecoversTheCore) {
  auto d = makeAxiDesign({{"family", "lr"}});
  HostI2c h(d->axiSystem()->space(), 0x9000);
  AxiIic* iic = d->axiSystem()->iic();
  iic->setBusStuck(true);
  ASSERT_TRUE(h.plainWrite(0x18, {0x05}));  // queued, never sent
  // Eleven busy readings; the reset after the 11th empties the FIFO, so the 12th
  // (reset after it as well) finds the core idle.
  EXPECT_TRUE(h.waitIdle());
  EXPECT_EQ(iic->counters().softResets, 3u);  // one in plainWrite, two in the wait
  EXPECT_EQ(iic->counters().transfers, 0u);
  iic->setBusStuck(false);
  ASSERT_TRUE(h.plainWrite(0x18, {0x05}));
  EXPECT_EQ(iic->counters().transfers, 1u);

  // A core whose status never clears is reset three times and given up.
  iic->setStatusStuck(true);
  EXPECT_FALSE(h.waitIdle());
  EXPECT_EQ(iic->counters().softResets, 7u);
}

TEST(IicCore, TxFifoOverflowAndRxUnderflowAreCounted) {
  auto d = makeAxiDesign({{"family", "lr"}});
  HostI2c h(d->axiSystem()->space(), 0x9000);
  for (int i = 0; i < 20; ++i) h.wr(0x108, 0x30);  // core disabled: nothing drains
  EXPECT_EQ(h.rd(0x104) & 0x10, 0x10u);
  EXPECT_EQ(h.rd(0x114), 15u);
  EXPECT_EQ(d->axiSystem()->iic()->counters().txOverflows, 4u);
  h.wr(0x040, 0xA);
  EXPECT_EQ(h.rd(0x10C), 0u);
  EXPECT_EQ(d->axiSystem()->iic()->counters().rxUnderflows, 1u);
}

}  // namespace
}  // namespace varnsim
