#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/log_capture.h"
#include "axi/varn_axi.h"
#include "power/axi_i2c.h"

namespace {

using varnaxitest::FakeAxiTarget;

// A link to a fake target whose I2C controller answers from a script: the status
// register reads busy a given number of times, then idle; the receive FIFO hands out
// queued bytes. Everything the code does is recorded at register level.
struct I2cRig {
  explicit I2cRig(uint64_t base) : base(base) {
    uint16_t port = 0;
    listener = varnaxitest::listenLoopback(&port);
    link = VARNAXICreate(0, "127.0.0.1", port);
    target = std::make_unique<FakeAxiTarget>(varn_accept(listener, nullptr, nullptr));
    VARNAXISetTimeout(link, 500);
    target->setReadHook([this](uint64_t a, uint32_t* v) {
      std::lock_guard<std::mutex> hold(mu);
      if (a == this->base + 0x104) {
        if (busy > 0 || idleLeft == 0) {
          if (busy > 0) --busy;
          *v = 0x00;
        } else {
          if (idleLeft > 0) --idleLeft;
          *v = 0xC0;
        }
        return true;
      }
      if (a == this->base + 0x10C) {
        *v = rx.empty() ? 0 : rx.front();
        if (!rx.empty()) rx.pop_front();
        return true;
      }
      return false;
    });
  }
  ~I2cRig() {
    VARNAXIDestroy(&link);
    target.reset();
    varn_close_socket(listener);
  }
  void queue(std::initializer_list<uint8_t> bytes) {
    std::lock_guard<std::mutex> hold(mu);
    rx.insert(rx.end(), bytes);
  }
  void setBusy(int n) {
    std::lock_guard<std::mutex> hold(mu);
    busy = n;
  }
  // The controller reads idle n more times, then stays busy for good.
  void setIdleReadings(int n) {
    std::lock_guard<std::mutex> hold(mu);
    idleLeft = n;
  }
  // Fire-and-forget writes may still be on their way after a call returned; the
  // target works in order, so once a read is answered they have all been seen.
  static constexpr uint64_t kSentinel = 0x7FFFFFF0;
  void settle() {
    uint32_t x;
    EXPECT_EQ(VARNAXIRead(link, &x, kSentinel), 0);
  }
  // "R 9104" for a read, "W 9108=158" for a write (hex).
  std::vector<std::string> ops() {
    settle();
    std::vector<std::string> out;
    char line[48];
    for (const auto& r : target->requests()) {
      if (r.address == kSentinel) continue;
      if (r.cmd == 0x01) {
        std::snprintf(line, sizeof(line), "R %llx", (unsigned long long)r.address);
      } else {
        std::snprintf(line, sizeof(line), "W %llx=%x", (unsigned long long)r.address, r.data);
      }
      out.emplace_back(line);
    }
    target->clearRequests();
    return out;
  }
  // Just the words put into the transmit FIFO.
  std::vector<uint32_t> txWords() {
    settle();
    std::vector<uint32_t> w;
    for (const auto& r : target->requests())
      if (r.cmd == 0x02 && r.address == base + 0x108) w.push_back(r.data);
    return w;
  }

  varnaxitest::LogCapture log;
  uint64_t base;
  varn_socket listener;
  _VARNAXI* link;
  std::unique_ptr<FakeAxiTarget> target;
  std::mutex mu;
  std::deque<uint8_t> rx;
  int busy = 0;
  int idleLeft = -1;  // -1: no limit
};

using Ops = std::vector<std::string>;

TEST(AxiI2cConversions, TemperatureAndVoltageCodes) {
  EXPECT_DOUBLE_EQ(ConvIICTemp(0x01, 0x90), 25.0);
  EXPECT_DOUBLE_EQ(ConvIICTemp(0x11, 0x90), 231.0);
  EXPECT_DOUBLE_EQ(ConvIICTemp(0x00, 0x01), 0.0625);
  EXPECT_DOUBLE_EQ(ConvVolt(0x8000), 1.5);
  EXPECT_DOUBLE_EQ(ConvVolt(0), 0.0);
}

TEST(AxiI2cConversions, LrTablesFallFromTheirDocumentedEnds) {
  _VARNLRVoltTablesInit();
  EXPECT_TRUE(_LRVoltTablesInitialized);
  EXPECT_NEAR(LRVCCINTTbl[0], 0.999, 0.001);
  EXPECT_NEAR(LRVCCINTTbl[255], 0.7775, 0.0005);
  EXPECT_NEAR(LRVCCBRAMTbl[0], 0.945, 0.001);
  EXPECT_NEAR(LRVCCBRAMTbl[255], 0.8219, 0.0005);
  EXPECT_NEAR(LRVCCHBMTbl[0], 1.3515, 0.001);
  EXPECT_NEAR(LRVCCHBMTbl[255], 1.1645, 0.0005);
  for (int i = 1; i < 256; ++i) {
    ASSERT_LT(LRVCCINTTbl[i], LRVCCINTTbl[i - 1]) << i;
    ASSERT_LT(LRVCCBRAMTbl[i], LRVCCBRAMTbl[i - 1]) << i;
    ASSERT_LT(LRVCCHBMTbl[i], LRVCCHBMTbl[i - 1]) << i;
  }
}

TEST(AxiI2cConversions, FixedSearchFindsEveryTableEntryAndNeighboursInBetween) {
  _VARNLRVoltTablesInit();
  EXPECT_EQ(_VARNLRVoltToCode(0, LRVCCINTTbl[128]), 128);
  EXPECT_EQ(_VARNLRVoltToCode(0, LRVCCINTTbl[0]), 0);
  EXPECT_EQ(_VARNLRVoltToCode(0, 1.2), 0);
  EXPECT_EQ(_VARNLRVoltToCode(0, LRVCCINTTbl[255]), 255);
  EXPECT_EQ(_VARNLRVoltToCode(0, 0.5), 255);
  const double* tables[3] = {LRVCCINTTbl, LRVCCBRAMTbl, LRVCCHBMTbl};
  for (uint8_t rail = 0; rail < 3; ++rail) {
    const double* t = tables[rail];
    for (int c = 0; c < 256; ++c) ASSERT_EQ(_VARNLRVoltToCode(rail, t[c]), c) << "rail " << int(rail);
    for (int c = 0; c < 255; ++c) {
      int got = _VARNLRVoltToCode(rail, (t[c] + t[c + 1]) / 2);
      ASSERT_TRUE(got == c || got == c + 1) << "rail " << int(rail) << " between " << c << " and " << c + 1;
    }
  }
}

TEST(AxiI2cLr, VoltWriteSequenceAtRegisterLevel) {
  I2cRig rig(0x9000);
  _VARNLRVoltTablesInit();
  ASSERT_EQ(_VARNLRVoltWrite(rig.link, 0, LRVCCINTTbl[128]), 0);
  EXPECT_EQ(rig.ops(), (Ops{"R 9104", "W 9040=a", "W 9108=158", "W 9108=0", "W 9108=280", "W 9100=1"}));
  ASSERT_EQ(_VARNLRVoltWrite(rig.link, 2, 2.0), 0);  // above table[0]: code 0 on the HBM pot
  EXPECT_EQ(rig.ops(), (Ops{"R 9104", "W 9040=a", "W 9108=15a", "W 9108=0", "W 9108=200", "W 9100=1"}));
  ASSERT_EQ(_VARNLRVoltWrite(rig.link, 1, 0.1), 0);  // below table[255]: code 255 on the BRAM pot
  EXPECT_EQ(rig.ops(), (Ops{"R 9104", "W 9040=a", "W 9108=15c", "W 9108=0", "W 9108=2ff", "W 9100=1"}));
}

TEST(AxiI2cLr, IdleWaitResetsFromTheEleventhReadingAndGivesUpAtTheThirteenth) {
  I2cRig rig(0x9000);
  rig.setBusy(100);
  uint8_t b = 0x11;
  EXPECT_EQ(_VARNLRI2CWrite(rig.link, 0x2C, &b, 1), 1);
  Ops expect(10, "R 9104");
  for (int i = 0; i < 3; ++i) {
    expect.push_back("R 9104");
    expect.push_back("W 9040=a");
  }
  EXPECT_EQ(rig.ops(), expect) << "nothing reaches the FIFO of a controller that never idles";

  rig.setBusy(11);  // idle at the twelfth reading, after its reset
  EXPECT_EQ(_VARNLRI2CWrite(rig.link, 0x2C, &b, 1), 0);
  Ops got = rig.ops();
  ASSERT_EQ(got.size(), 10u + 4u + 4u);
  EXPECT_EQ(got[13], "W 9040=a");
  EXPECT_EQ(got[14], "W 9040=a") << "the clearing reset before the transfer";
  EXPECT_EQ(got[15], "W 9108=158");
  EXPECT_EQ(got[16], "W 9108=211");
}

TEST(AxiI2cLr, PlainReadAndTemperatureRead) {
  I2cRig rig(0x9000);
  rig.queue({0x01, 0x90});
  double t = 0;
  ASSERT_EQ(_VARNLRTempRead(rig.link, 0, &t), 0);
  EXPECT_DOUBLE_EQ(t, 25.0);
  EXPECT_EQ(rig.ops(), (Ops{"R 9104", "W 9040=a", "W 9108=130", "W 9108=205", "W 9100=1",  // pointer 5
                            "R 9104", "W 9040=a", "W 9120=f", "W 9108=131", "W 9108=202", "W 9100=1",
                            "R 910c", "R 910c"}));
  rig.queue({0x11, 0x90});
  ASSERT_EQ(_VARNLRTempRead(rig.link, 2, &t), 0);
  EXPECT_DOUBLE_EQ(t, 231.0);
  auto w = rig.txWords();
  ASSERT_GE(w.size(), 1u);
  EXPECT_EQ(w[0], 0x13Eu) << "rail 2 uses the sensor at 0x1F";
}

TEST(AxiI2cLr, SystemMonitorVoltageAndCurrent) {
  I2cRig rig(0x9000);
  rig.target->poke(0x3404, 0x4CCD);  // 0.9 V
  rig.target->poke(0x3440, 51738);   // 12.0 V input
  rig.target->poke(0x3454, 0x1000);
  double v = 0, a = 0;
  ASSERT_EQ(_VARNLRVoltRead(rig.link, 0, &v), 0);
  EXPECT_NEAR(v, 0.9, 0.0001);
  ASSERT_EQ(_VARNLRAmpRead(rig.link, 0, &a), 0);
  double input = 51738 * 15.2 / 65536;
  EXPECT_NEAR(a, input * (0x1000 * 10.0 / 65536) * 0.9 / (0x4CCD * 3.0 / 65536), 1e-9);
  EXPECT_EQ(rig.ops(), (Ops{"R 3404", "R 3440", "R 3454", "R 3404"}));
  double other = 7;
  ASSERT_EQ(_VARNLRVoltRead(rig.link, 3, &other), 0);
  EXPECT_EQ(other, 0.0);
  EXPECT_TRUE(rig.ops().empty()) << "an unknown rail reads nothing";

  rig.target->poke(0x3440, 40000);  // 9.3 V: outside 10..15 V
  EXPECT_EQ(_VARNLRAmpRead(rig.link, 0, &a), 1);
  rig.target->poke(0x3440, 51738);
  rig.target->poke(0x3404, 0);
  EXPECT_EQ(_VARNLRAmpRead(rig.link, 0, &a), 1) << "no figure from a rail reading zero volts";
}

TEST(AxiI2cLr, VoltChangeCapsAndLogs) {
  I2cRig rig(0x9000);
  rig.target->poke(0x3404, 19661);  // 0.90 V
  ASSERT_EQ(_VARNLRVoltChg(rig.link, 0, 5), 0);
  EXPECT_EQ(rig.log.text(), "Changing LR Rail 0 to target 0.94\n");
  auto w = rig.txWords();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[2], 0x200u | _VARNLRVoltToCode(0, 0.94));
  rig.ops();
  rig.target->setUnansweredAddress(0x3418);
  EXPECT_EQ(_VARNLRVoltChg(rig.link, 1, -2), VARN_RAIL_READ_FAILED) << "the caller keeps the steps";
  EXPECT_EQ(rig.ops(), (Ops{"R 3418"})) << "and nothing is written";
  rig.target->setUnansweredAddress(~0ull);
  rig.target->poke(0x3404, 19661);  // 0.90 V, 40 steps down: the floor, not 0.50 V
  ASSERT_EQ(_VARNLRVoltChg(rig.link, 0, -40), 0);
  EXPECT_EQ(rig.log.count("Changing LR Rail 0 to target 0.60\n"), 1);
  w = rig.txWords();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[2], 0x200u | _VARNLRVoltToCode(0, 0.60));
}

TEST(AxiI2cZk, RegisterReadSequenceAndReadings) {
  I2cRig rig(0xA000);
  rig.queue({0xEE, 0x80, 0x00});  // the first byte is discarded
  double v = 0;
  ASSERT_EQ(_VARNZKVoltRead(rig.link, 1, &v), 0);
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_EQ(rig.ops(), (Ops{"R a104", "W a040=a", "W a120=f", "W a108=19a", "W a108=d0", "W a108=16", "W a108=b",
                            "W a108=19b", "W a108=202", "W a100=1", "R a10c", "R a10c", "R a10c"}));
  rig.queue({0, 0x30, 0x80});  // 48 + 128/256
  double t = 0;
  ASSERT_EQ(_VARNZKTempRead(rig.link, 2, &t), 0);
  EXPECT_DOUBLE_EQ(t, 48.5);
  auto w = rig.txWords();
  ASSERT_GE(w.size(), 4u);
  EXPECT_EQ(w[0], 0x19Eu) << "rail 2 lives on 0x4F";
  EXPECT_EQ(w[2], 0x1Au);
  EXPECT_EQ(w[3], 0x07u);
  rig.ops();
  rig.queue({0, 0x10, 0xF9});  // mantissa 0x110, exponent -1
  double a = 0;
  ASSERT_EQ(_VARNZKAmpRead(rig.link, 0, &a), 0);
  EXPECT_DOUBLE_EQ(a, 136.0);
  rig.queue({0, 0x20, 0x13});  // mantissa 0x320, exponent 2
  ASSERT_EQ(_VARNZKAmpRead(rig.link, 0, &a), 0);
  EXPECT_DOUBLE_EQ(a, 800.0 * 4);
  EXPECT_EQ(_VARNZKVoltRead(rig.link, 3, &v), 1);
}

TEST(AxiI2cZk, VoltWriteAndChange) {
  I2cRig rig(0xA000);
  ASSERT_EQ(_VARNZKVoltWrite(rig.link, 0, 0.85), 0);
  auto w = rig.txWords();
  EXPECT_EQ(w, (std::vector<uint32_t>{0x19A, 0xD0, 0x04, 0x42, 0x06, 0xD9, 0x200}));
  rig.ops();
  ASSERT_EQ(_VARNZKVoltWrite(rig.link, 1, 0.85), 0);
  w = rig.txWords();
  ASSERT_EQ(w.size(), 7u);
  EXPECT_EQ(w[3], 0x42u);
  EXPECT_EQ(w[4], 0x0Au);
  rig.ops();
  rig.queue({0, 0xE6, 0x00});  // 0.898 V
  ASSERT_EQ(_VARNZKVoltChg(rig.link, 0, 5), 0);
  EXPECT_EQ(rig.log.count("Changing ZK Rail 0 to target 0.94\n"), 1);
  w = rig.txWords();
  ASSERT_EQ(w.size(), 6u + 7u);
  EXPECT_EQ(w.back(), 0x200u) << "0.94 V is 240 = 0x00F0: high byte last";
  EXPECT_EQ(w[w.size() - 2], 0xF0u);
  rig.ops();
  rig.queue({0, 0x00, 0x01});  // 1.0 V on HBM, +40 -> 1.40, capped to 1.35
  ASSERT_EQ(_VARNZKVoltChg(rig.link, 2, 40), 0);
  EXPECT_EQ(rig.log.count("Changing ZK Rail 2 to target 1.35\n"), 1);
  // Down-steps stop at the floors instead of reaching 0 V: VCCINT 0.6 V, VCCHBM 0.9 V.
  for (uint8_t rail : {0, 2}) {
    rig.ops();
    rig.queue({0, 0x00, 0x01});  // 1.0 V, 120 steps down
    ASSERT_EQ(_VARNZKVoltChg(rig.link, rail, -120), 0);
    w = rig.txWords();
    ASSERT_GE(w.size(), 2u);
    const uint32_t target = (w.back() & 0xFF) << 8 | (w[w.size() - 2] & 0xFF);
    EXPECT_EQ(target, rail == 0 ? 153u : 230u) << "0.6 V is 153/256, 0.9 V 230/256";
  }
  rig.ops();
  rig.target->setUnansweredAddress(0xA10C);
  EXPECT_EQ(_VARNZKVoltChg(rig.link, 1, -3), VARN_RAIL_READ_FAILED);
  rig.target->setUnansweredAddress(~0ull);
  EXPECT_EQ(rig.log.count("Changing ZK Rail 1"), 0) << "no target written after a failed reading";
}

TEST(AxiI2cZk, PatchChoosesByModuleIdentifier) {
  {
    I2cRig rig(0xA000);
    rig.queue({0, 0xA3, 0x00});
    ASSERT_EQ(_VARNZKPatch(rig.link), 0);
    EXPECT_EQ(rig.log.text(), "Patching - Module ID is 00a3\nGen 2 Q5826 - Applying Patches\n");
    auto w = rig.txWords();
    // The identifier read (6 words), then four register writes of 7 words each.
    ASSERT_EQ(w.size(), 6u + 4u * 7u);
    const uint32_t regs[4][4] = {{0x24, 0x08, 0x22, 0x2C}, {0x22, 0x08, 0x1C, 0x5C}, {0x20, 0x08, 0x77, 0x00},
                                 {0x80, 0x0A, 0x00, 0x01}};
    for (int s = 0; s < 4; ++s) {
      size_t o = 6 + size_t(s) * 7;
      EXPECT_EQ(w[o], 0x19Au);
      EXPECT_EQ(w[o + 1], 0xD0u);
      EXPECT_EQ(w[o + 2], 0x04u);
      EXPECT_EQ(w[o + 3], regs[s][0]) << "step " << s;
      EXPECT_EQ(w[o + 4], regs[s][1]) << "step " << s;
      EXPECT_EQ(w[o + 5], regs[s][2]) << "step " << s;
      EXPECT_EQ(w[o + 6], 0x200u | regs[s][3]) << "step " << s;
    }
  }
  {
    I2cRig rig(0xA000);
    rig.queue({0, 0x47, 0x0C});
    ASSERT_EQ(_VARNZKPatch(rig.link), 0);
    EXPECT_EQ(rig.log.text(), "Patching - Module ID is 0c47\nNo patches for TRW61\n");
    EXPECT_EQ(rig.txWords().size(), 6u) << "only the identifier read";
  }
  {
    I2cRig rig(0xA000);
    rig.queue({0, 0x50, 0x00});
    ASSERT_EQ(_VARNZKPatch(rig.link), 0);
    EXPECT_EQ(rig.log.count("Gen 1 Q5826 - Applying Patches\n"), 1);
    rig.queue({0, 0x34, 0x12});
    ASSERT_EQ(_VARNZKPatch(rig.link), 0);
    EXPECT_EQ(rig.log.count("Unknown ZKM\n"), 1);
  }
  {
    I2cRig rig(0xA000);
    rig.setBusy(1000);
    EXPECT_EQ(_VARNZKPatch(rig.link), 1);
    EXPECT_EQ(rig.log.text(), "Failed checking VRM ID during patch check\n");
  }
  // Each register write waits for an idle controller once: one that stops becoming
  // idle after the identifier read and `step` writes fails that step, and goes no further.
  const char* failures[4] = {"Failed applying ZKM patch A\n", "Failed applying ZKM patch B\n",
                             "Failed applying ZKM patch C\n", "Failed applying ZKM patch D\n"};
  for (int step = 0; step < 4; ++step) {
    I2cRig rig(0xA000);
    rig.queue({0, 0x55, 0x00});
    rig.setIdleReadings(1 + step);
    EXPECT_EQ(_VARNZKPatch(rig.link), 1) << "step " << step;
    EXPECT_EQ(rig.log.text(), std::string("Patching - Module ID is 0055\nGen 1 Q5826 - Applying Patches\n") +
                                  failures[step]);
    EXPECT_EQ(rig.txWords().size(), 6u + 7u * size_t(step)) << "nothing of the failing step is sent";
  }
}

}  // namespace
