// The regulator operations against a scripted controller over a real link: the bytes
// of every transfer, the decodings, the rail tables and the order of the checks.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "coe/coe_link.h"
#include "testsupport/coe/coe_test_support.h"
#include "jtag/jtag_tables.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag_handle.h"
#include "power/varn_vrm.h"

using namespace coetest;

namespace {

// Register files keyed by (bus byte, address); unknown devices get a negative answer.
struct Regulators {
  std::mutex lock;
  std::map<std::pair<uint8_t, uint8_t>, std::map<uint16_t, uint16_t>> regs;
  std::vector<std::array<uint16_t, 3>> writes;  // address, register, value
  std::set<uint16_t> refuse;                     // registers whose transfers are refused
  int replyBytes = 2;

  Reply operator()(const Packet& p) {
    std::lock_guard<std::mutex> hold(lock);
    Reply r;
    const auto& d = p.payload;
    if (p.command != 0x1110 || d.size() < 4) return Reply{true, 0x000E, 0, {1, 0, 0, 0}};
    auto dev = regs.find({d[1], d[0]});
    if (dev == regs.end()) return Reply{true, 0x000E, 0, {2, 0, 0, 0}};
    uint16_t readCount = uint16_t(d[2] | d[3] << 8);
    if (readCount == 2 && d.size() == 7 && d[4] == 0xD0) {
      uint16_t reg = uint16_t(d[5] | d[6] << 8);
      if (refuse.count(reg)) return Reply{true, 0x000E, 0, {3, 0, 0, 0}};
      uint16_t v = dev->second[reg];
      r.payload = {uint8_t(v), uint8_t(v >> 8), 0xEE};
      r.payload.resize(size_t(replyBytes));
    } else if (readCount == 0 && d.size() == 10 && d[4] == 0xD0 && d[5] == 0x04) {
      uint16_t reg = uint16_t(d[6] | d[7] << 8);
      if (refuse.count(reg)) return Reply{true, 0x000E, 0, {3, 0, 0, 0}};
      uint16_t v = uint16_t(d[8] | d[9] << 8);
      dev->second[reg] = v;
      writes.push_back({d[0], reg, v});
    }
    return r;
  }
};

class Vrm : public ::testing::Test {
 protected:
  void SetUp() override {
    LogCapture::get();
    for (uint8_t slot = 0; slot < 4; slot++)
      for (uint8_t addr : {0x4D, 0x4F}) regs.regs[{uint8_t(slot * 16), addr}] = {};
    varn_jtag_use_coe(&jtag, VNCoELinkCreate("127.0.0.1", controller.port()));
    ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(jtag.coeLink) == 1; }));
    jtag.deviceCount = 1;
    for (int i = 0; i < VARN_JTAG_MAX_DEVICES; i++) {
      jtag.deviceType[i] = -1;
      jtag.coeSlot[i] = uint8_t(i);
    }
    jtag.deviceType[0] = JTAG_DEV_VU35P;
  }
  void TearDown() override { VNCoELinkDestroy(jtag.coeLink); }

  void set(uint8_t slot, uint8_t addr, uint16_t reg, uint16_t value) {
    std::lock_guard<std::mutex> hold(regs.lock);
    regs.regs[{uint8_t(slot * 16), addr}][reg] = value;
  }
  std::vector<std::array<uint16_t, 3>> writes() {
    std::lock_guard<std::mutex> hold(regs.lock);
    return regs.writes;
  }
  void clearWrites() {
    std::lock_guard<std::mutex> hold(regs.lock);
    regs.writes.clear();
    controller.clear();
  }

  Regulators regs;
  ScriptedController controller{[this](const Packet& p) { return regs(p); }};
  VARNJtag jtag{};
};

using W = std::array<uint16_t, 3>;

TEST(VrmRails, RegulatorAndPagePerDeviceTypeAndRail) {
  struct Row {
    int32_t type;
    uint8_t addr[3], page[3];
  };
  const Row rows[] = {{JTAG_DEV_VU33P, {0x4D, 0x4D, 0x4F}, {0, 1, 0}},  {JTAG_DEV_VU35P, {0x4D, 0x4D, 0x4F}, {0, 1, 0}},
                      {JTAG_DEV_VU9P, {0x4D, 0x4F, 0}, {0, 0, 0}},      {JTAG_DEV_VU13P, {0x4D, 0x4F, 0}, {0, 0, 0}},
                      {JTAG_DEV_GX2800H, {0x4D, 0x4F, 0}, {0, 0, 0}},   {JTAG_DEV_GX2800L, {0x4D, 0x4F, 0}, {0, 0, 0}},
                      {JTAG_DEV_MX2100, {0x4D, 0x4F, 0x4D}, {0, 0, 1}}};
  for (const Row& r : rows) {
    for (int i = 0; i < 3; i++) {
      EXPECT_EQ(_VARNVRMRailI2CAddr(r.type, uint32_t(2 * i)), r.addr[i]) << JTAG_DECODE_STR[r.type] << " rail " << 2 * i;
      if (r.addr[i]) {
        EXPECT_EQ(_VARNVRMRailI2CPage(r.type, uint32_t(2 * i)), r.page[i]) << JTAG_DECODE_STR[r.type];
      }
    }
    for (uint32_t rail : {1u, 3u, 5u, 100u}) EXPECT_EQ(_VARNVRMRailI2CAddr(r.type, rail), 0);
  }
  EXPECT_EQ(_VARNVRMRailI2CAddr(-1, 0), 0);
}

TEST_F(Vrm, ReadingsDecodeTheReplyBytes) {
  set(0, 0x4D, 0x0716, 0x0099);  // bytes 0x99, 0x00
  set(0, 0x4D, 0x0718, 0xF240);  // bytes 0x40, 0xF2
  set(0, 0x4D, 0x071A, 0x8037);  // 55 whole degrees, fraction ignored
  set(0, 0x4D, 0x0B16, 0x0100);  // rail 2 on page 1: bytes 0x00, 0x01
  set(0, 0x4F, 0x0718, 0x0005);  // exponent 0
  double v = 0, a = 0, t = 0;
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 0, &v), 0);
  EXPECT_DOUBLE_EQ(v, 0.59765625);
  EXPECT_EQ(VARNJtagGetVRMCurrent(&jtag, 0, 0, &a), 0);
  EXPECT_DOUBLE_EQ(a, 144.0);
  EXPECT_EQ(VARNJtagGetVRMTemp(&jtag, 0, 0, &t), 0);
  EXPECT_DOUBLE_EQ(t, 55.0);
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 2, &v), 0);
  EXPECT_DOUBLE_EQ(v, 1.0);
  EXPECT_EQ(VARNJtagGetVRMCurrent(&jtag, 0, 4, &a), 0);
  EXPECT_DOUBLE_EQ(a, 5.0);
  set(0, 0x4D, 0x0718, 0x0BFF);  // positive exponent 1, mantissa 0x3FF
  EXPECT_EQ(VARNJtagGetVRMCurrent(&jtag, 0, 0, &a), 0);
  EXPECT_DOUBLE_EQ(a, 0x3FF * 2.0);

  // The read request, byte for byte, on the device's slot.
  jtag.coeSlot[0] = 2;
  controller.clear();
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 2, &v), 0);
  std::vector<Packet> req = controller.requests();
  ASSERT_EQ(req.size(), 1u);
  EXPECT_EQ(req[0].command, 0x1110);
  EXPECT_EQ(req[0].tag, 1);
  EXPECT_EQ(req[0].flags, 0x8000);
  EXPECT_EQ(req[0].payload, (std::vector<uint8_t>{0x4D, 0x20, 0x02, 0x00, 0xD0, 0x16, 0x0B}));
}

TEST_F(Vrm, RawReadPutsTheFirstByteHighAndFailuresLeaveOutputsAlone) {
  set(0, 0x4F, 0x1234, 0xBBAA);  // bytes 0xAA, 0xBB
  uint16_t raw = 0;
  EXPECT_EQ(VARNInfineonI2CRead(&jtag, 0, 0x4F, 0x1234, &raw), 0);
  EXPECT_EQ(raw, 0xAABB);

  double v = 42.0;
  regs.replyBytes = 3;
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 0, &v), 7);
  regs.replyBytes = 1;
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 0, &v), 7);
  regs.replyBytes = 2;
  EXPECT_EQ(VARNInfineonI2CRead(&jtag, 0, 0x33, 0x0716, &raw), 7);  // no such device: negative answer
  EXPECT_EQ(raw, 0xAABB);
  {
    std::lock_guard<std::mutex> hold(regs.lock);
    regs.refuse.insert(0x0716);
  }
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 0, &v), 7);
  EXPECT_EQ(v, 42.0);
}

TEST_F(Vrm, OddRegisterIsReportedAndStillUsed) {
  size_t mark = LogCapture::get().mark();
  EXPECT_EQ(VARNInfineonI2CWrite(&jtag, 0, 0x4D, 0x0643, 0x1234), 0);
  EXPECT_NE(LogCapture::get().since(mark).find("I2C Address Not 16 bit aligned\n"), std::string::npos);
  EXPECT_EQ(writes(), (std::vector<W>{{0x4D, 0x0643, 0x1234}}));
  EXPECT_EQ(controller.requests().back().payload,
            (std::vector<uint8_t>{0x4D, 0x00, 0x00, 0x00, 0xD0, 0x04, 0x43, 0x06, 0x34, 0x12}));
}

TEST_F(Vrm, VoltageTargetGoesToTheRailsRegulatorPage) {
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(&jtag, 0, 2, 0.85), 0);  // VU35P: 0x4D page 1
  jtag.deviceType[0] = JTAG_DEV_VU9P;
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(&jtag, 0, 2, 0.85), 0);  // VU9P: 0x4F page 0
  jtag.deviceType[0] = JTAG_DEV_MX2100;
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(&jtag, 0, 4, 1.2), 0);  // MX2100 HBM: 0x4D page 1
  // 0.85 V x 256 = 217.6, truncated.
  EXPECT_EQ(writes(), (std::vector<W>{{0x4D, 0x0A42, 217}, {0x4F, 0x0642, 217}, {0x4D, 0x0A42, 307}}));
  // Values that the register cannot hold are refused instead of wrapping.
  for (double bad : {-0.1, 256.0, double(NAN), double(INFINITY)}) EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(&jtag, 0, 0, bad), 4) << bad;
  EXPECT_EQ(writes().size(), 3u);
}

TEST_F(Vrm, OverVoltageLimitStepsBy400PerPage) {
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 2, 1.0), 0);
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 0, 0.5), 0);
  EXPECT_EQ(writes(), (std::vector<W>{{0x4D, 0x083A, 256}, {0x4D, 0x06AA, 128}}));
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 4, 1.0), 4);
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 1, 1.0), 4);
  for (int32_t intel : {JTAG_DEV_GX2800H, JTAG_DEV_GX2800L, JTAG_DEV_MX2100}) {
    jtag.deviceType[0] = intel;
    EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 0, 1.0), 4) << JTAG_DECODE_STR[intel];
  }
  EXPECT_EQ(writes().size(), 2u);
}

TEST_F(Vrm, OverCurrentLimitOnlyOnTheHbmRail) {
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, 32.0), 0);  // VU35P: 0x4F page 0
  jtag.deviceType[0] = JTAG_DEV_MX2100;
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, 10.6), 0);  // MX2100: 0x4D page 1
  EXPECT_EQ(writes(), (std::vector<W>{{0x4F, 0x068C, 0xF080}, {0x4D, 0x081C, 0xF02A}}));
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 0, 32.0), 4);
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, 1024.0), 4);  // 4096 does not fit 12 bits
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, -1.0), 4);
  for (int32_t type : {JTAG_DEV_VU9P, JTAG_DEV_VU13P, JTAG_DEV_GX2800H, JTAG_DEV_GX2800L}) {
    jtag.deviceType[0] = type;
    EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, 32.0), 4) << JTAG_DECODE_STR[type];
  }
  EXPECT_EQ(writes().size(), 2u);
}

TEST_F(Vrm, HbmRailOfAVu13PIsRefusedEverywhere) {
  jtag.deviceType[0] = JTAG_DEV_VU13P;
  double x = 0;
  EXPECT_EQ(VARNJtagHasVRMRail(&jtag, 0, 4), 4);
  EXPECT_EQ(VARNJtagGetVRMTemp(&jtag, 0, 4, &x), 4);
  EXPECT_EQ(VARNJtagGetVRMVoltage(&jtag, 0, 4, &x), 4);
  EXPECT_EQ(VARNJtagGetVRMCurrent(&jtag, 0, 4, &x), 4);
  EXPECT_EQ(VARNJtagSetVRMVoltSetpoint(&jtag, 0, 4, 1.0), 4);
  EXPECT_EQ(VARNJtagSetVRMVoltOVSetpoint(&jtag, 0, 4, 1.0), 4);
  EXPECT_EQ(VARNJtagSetVRMOCSetpoint(&jtag, 0, 4, 1.0), 4);
  EXPECT_TRUE(controller.requests().empty());
  for (uint32_t rail : {0u, 2u}) EXPECT_EQ(VARNJtagHasVRMRail(&jtag, 0, rail), 0);
  EXPECT_EQ(VARNJtagHasVRMRail(&jtag, 0, 1), 4);
  for (int32_t type : {JTAG_DEV_VU33P, JTAG_DEV_VU35P, JTAG_DEV_MX2100}) {
    jtag.deviceType[0] = type;
    EXPECT_EQ(VARNJtagHasVRMRail(&jtag, 0, 4), 0) << JTAG_DECODE_STR[type];
  }
}

TEST_F(Vrm, ChecksRunIndexThenTypeThenLinkThenRail) {
  double x = 0;
  uint16_t raw = 0;
  std::vector<std::function<int(uint32_t device, uint32_t rail)>> ops = {
      [&](uint32_t d, uint32_t r) { return VARNJtagHasVRMRail(&jtag, d, r); },
      [&](uint32_t d, uint32_t r) { return VARNJtagGetVRMTemp(&jtag, d, r, &x); },
      [&](uint32_t d, uint32_t r) { return VARNJtagGetVRMVoltage(&jtag, d, r, &x); },
      [&](uint32_t d, uint32_t r) { return VARNJtagGetVRMCurrent(&jtag, d, r, &x); },
      [&](uint32_t d, uint32_t r) { return VARNJtagSetVRMVoltSetpoint(&jtag, d, r, 0.8); },
      [&](uint32_t d, uint32_t r) { return VARNJtagSetVRMVoltOVSetpoint(&jtag, d, r, 0.8); },
      [&](uint32_t d, uint32_t r) { return VARNJtagSetVRMOCSetpoint(&jtag, d, r, 8); },
      [&](uint32_t d, uint32_t) { return VARNJtagApplyVRMPMICPatches(&jtag, d); },
      [&](uint32_t d, uint32_t) { return VARNInfineonI2CRead(&jtag, d, 0x4D, 0x0716, &raw); },
      [&](uint32_t d, uint32_t) { return VARNInfineonI2CWrite(&jtag, d, 0x4D, 0x0642, 1); },
  };
  _VNCoELink* link = jtag.coeLink;
  for (size_t i = 0; i < ops.size(); i++) {
    jtag.deviceCount = 1;
    varn_jtag_use_ftdi(&jtag);
    jtag.deviceType[1] = -1;
    EXPECT_EQ(ops[i](1, 99), 4) << "op " << i;  // index first, whatever else is wrong
    jtag.deviceCount = 2;
    EXPECT_EQ(ops[i](1, 99), 2) << "op " << i;
    jtag.deviceType[1] = 7;  // past the table
    EXPECT_EQ(ops[i](1, 99), 2) << "op " << i;
    jtag.deviceType[1] = JTAG_DEV_VU35P;
    EXPECT_EQ(ops[i](1, 99), 3) << "op " << i;  // a board without a CoE link
    varn_jtag_use_coe(&jtag, link);
    if (i < 7) {
      EXPECT_EQ(ops[i](1, 99), 4) << "op " << i;
    }
  }
  EXPECT_EQ(jtag.deviceCount, 2u);
  EXPECT_TRUE(writes().empty());
  jtag.deviceCount = 5;  // a corrupt count never indexes past the tables
  EXPECT_EQ(VARNJtagHasVRMRail(&jtag, 4, 0), 4);
  for (auto unsupported : {VARNJtagGetVRMVoltSetpoint, VARNJtagGetVRMVoltUVSetpoint, VARNJtagGetVRMVoltOVSetpoint,
                           VARNJtagGetVRMOCSetpoint})
    EXPECT_EQ(unsupported(&jtag, 0, 0, &x), 3);
  EXPECT_EQ(VARNJtagSetVRMVoltUVSetpoint(&jtag, 0, 0, 0.7), 3);
}

TEST_F(Vrm, PatchesDependOnTheModuleGeneration) {
  struct Case {
    uint16_t id;
    const char* line;
    bool patched;
  };
  const Case cases[] = {{0x0050, "Gen 1 Q5826 - Applying Patches\n", true},
                        {0x00A3, "Gen 2 Q5826 - Applying Patches\n", true},
                        {0x0C47, "No patches for TRW61\n", false},
                        {0x0CC5, "No patches for PLD27\n", false},
                        {0x01C3, "No patches for E/F7093\n", false},
                        {0x0777, "Unknown ZKM\n", false}};
  for (const Case& c : cases) {
    clearWrites();
    set(0, 0x4D, 0x003C, c.id);
    size_t mark = LogCapture::get().mark();
    EXPECT_EQ(VARNJtagApplyVRMPMICPatches(&jtag, 0), 0);
    std::string log = LogCapture::get().since(mark);
    char idLine[64];
    std::snprintf(idLine, sizeof(idLine), "Patching - Module ID is %04hx\n", c.id);
    EXPECT_NE(log.find(std::string(idLine) + c.line), std::string::npos) << log;
    if (c.patched) {
      EXPECT_EQ(writes(), (std::vector<W>{{0x4F, 0x068C, 0xF080},
                                          {0x4D, 0x0824, 0x2C22},
                                          {0x4D, 0x0822, 0x5C1C},
                                          {0x4D, 0x0820, 0x0077},
                                          {0x4D, 0x0A80, 0x0100}}))
          << c.id;
    } else {
      EXPECT_TRUE(writes().empty()) << c.id;
    }
  }
  // No HBM rail on a VU13P: no over-current write.
  clearWrites();
  jtag.deviceType[0] = JTAG_DEV_VU13P;
  set(0, 0x4D, 0x003C, 0x00A3);
  EXPECT_EQ(VARNJtagApplyVRMPMICPatches(&jtag, 0), 0);
  ASSERT_EQ(writes().size(), 4u);
  EXPECT_EQ(writes()[0], (W{0x4D, 0x0824, 0x2C22}));
}

TEST_F(Vrm, PatchStopsAtTheFirstFailedWrite) {
  set(1, 0x4D, 0x003C, 0x00A3);
  jtag.deviceCount = 2;
  jtag.deviceType[1] = JTAG_DEV_MX2100;
  {
    std::lock_guard<std::mutex> hold(regs.lock);
    regs.refuse.insert(0x081C);  // the over-current write: its outcome does not matter
    regs.refuse.insert(0x0822);
  }
  EXPECT_EQ(VARNJtagApplyVRMPMICPatches(&jtag, 1), 7);
  EXPECT_EQ(writes(), (std::vector<W>{{0x4D, 0x0824, 0x2C22}}));
  for (const Packet& p : controller.requests()) EXPECT_EQ(p.payload[1], 0x10) << "slot 1 bus byte";
  {
    std::lock_guard<std::mutex> hold(regs.lock);
    regs.refuse.insert(0x003C);
  }
  EXPECT_EQ(VARNJtagApplyVRMPMICPatches(&jtag, 1), 7);
}

}  // namespace
