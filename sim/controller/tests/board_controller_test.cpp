// The controller's answers, request by request, over a chain double.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/controller/board_controller.h"
#include "sim/controller/tests/fake_chain.h"

using namespace varnsim;
using ctltest::FakeChain;

namespace {

struct Pkt {
  uint16_t tag, command, word;
  std::vector<uint8_t> data;
};

std::vector<Pkt> split(const std::vector<uint8_t>& out) {
  std::vector<Pkt> v;
  size_t at = 0;
  while (at + 8 <= out.size()) {
    size_t len = out[at] | out[at + 1] << 8;
    EXPECT_GE(len, 8u);
    EXPECT_LE(len, kMaxHostPacket);
    Pkt p{uint16_t(out[at + 2] | out[at + 3] << 8), uint16_t(out[at + 4] | out[at + 5] << 8),
          uint16_t(out[at + 6] | out[at + 7] << 8), {out.begin() + long(at) + 8, out.begin() + long(at + len)}};
    v.push_back(p);
    at += len;
  }
  EXPECT_EQ(at, out.size());
  return v;
}

uint32_t le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24;
}

class Controller : public ::testing::Test {
 protected:
  void SetUp() override {
    chain.dev.resize(3);
    const uint32_t ids[3] = {0x14B71093, 0x04B31093, 0x04B69093};
    const uint32_t ir[3] = {12, 18, 6};
    for (int i = 0; i < 3; i++) {
      chain.dev[i].idcode = ids[i];
      chain.dev[i].irLen = ir[i];
      cfg.slots[i].device = i;
    }
    cfg.slots[0].hasRegulators = true;
    cfg.slots[0].power.layout = VrmLayout::Vu3xP;
    cfg.slots[1].hasRegulators = true;
    cfg.slots[1].power.layout = VrmLayout::TwoRail;
    cfg.slots[1].power.moduleId = 0x0C47;
    ctl = std::make_unique<BoardController>(chain, cfg);
  }

  std::vector<Pkt> send(uint16_t command, std::vector<uint8_t> payload, uint16_t tag = 1) {
    std::vector<uint8_t> out;
    ctl->handle(tag, command, 0x8000, payload.data(), payload.size(), &out);
    return split(out);
  }
  // One positive answer expected; its data.
  std::vector<uint8_t> ok(uint16_t command, std::vector<uint8_t> payload, uint16_t tag = 1) {
    auto v = send(command, payload, tag);
    EXPECT_EQ(v.size(), 1u);
    if (v.empty()) return {};
    EXPECT_EQ(v[0].command, 0x000A) << std::hex << command << " nak " << (v[0].data.size() >= 4 ? le32(v[0].data, 0) : 0);
    EXPECT_EQ(v[0].tag, tag);
    return v[0].data;
  }
  uint32_t nakCode(uint16_t command, std::vector<uint8_t> payload) {
    auto v = send(command, payload);
    if (v.size() != 1 || v[0].command != 0x000E || v[0].data.size() != 4) return 0;
    return le32(v[0].data, 0);
  }
  void abstraction() { ok(0x1001, {0x00, 0x02}); }
  std::vector<uint8_t> irLoad(uint8_t dev, uint32_t instr, bool capture) {
    uint32_t len = chain.dev[dev].irLen;
    std::vector<uint8_t> p = {dev, uint8_t(capture ? 0x29 : 0x09), 0, 0};
    for (uint32_t b = 0; b < (len + 7) / 8; b++) p.push_back(uint8_t(instr >> (8 * b)));
    return ok(0x1012, p);
  }

  FakeChain chain;
  ControllerConfig cfg;
  std::unique_ptr<BoardController> ctl;
};

TEST_F(Controller, IdcodeListIsInDeviceOrderFromTheTdiSide) {
  std::vector<uint8_t> d = ok(0x1010, {0, 0});
  ASSERT_EQ(d.size(), 12u);
  EXPECT_EQ(le32(d, 0), 0x14B71093u);
  EXPECT_EQ(le32(d, 4), 0x04B31093u);
  EXPECT_EQ(le32(d, 8), 0x04B69093u);
  EXPECT_EQ(chain.state, Tap::Idle);
  cfg.idcodeOverride = {1, 2, 3, 4, 5};
  BoardController five(chain, cfg);
  std::vector<uint8_t> out;
  five.handle(1, 0x1010, 0x8000, nullptr, 0, &out);
  EXPECT_EQ(split(out)[0].data.size(), 20u);
}

TEST_F(Controller, SettingsAreKeptAndMalformedOnesRefused) {
  ok(0x100C, {0, 0, 0, 0, 0x60, 0xFE, 0xCD, 0x00});  // 13.5 MHz
  EXPECT_EQ(ctl->jtagClockHz(), 13500000u);
  abstraction();
  EXPECT_EQ(ctl->jtagMode(), 2);
  ok(0x1011, {0, 12, 18, 6});
  EXPECT_EQ(ctl->hostIrLengths(), (std::vector<uint8_t>{12, 18, 6}));
  ok(0x1201, {0x10, 0x01});
  ok(0x1202, {0x10, 0x00, 0x00, 0x00, 0x40, 0x42, 0x0F, 0x00});
  EXPECT_EQ(ctl->uartState(1).mode, 1);
  EXPECT_EQ(ctl->uartState(1).baud, 1000000u);
  EXPECT_TRUE(send(0x0010, {}).empty());  // keepalive: no answer

  EXPECT_EQ(nakCode(0x4242, {}), kNakUnknownCommand);
  EXPECT_EQ(nakCode(0x1001, {0x00, 0x07}), kNakMalformed);
  EXPECT_EQ(nakCode(0x100C, {0, 0, 0}), kNakMalformed);
  EXPECT_EQ(nakCode(0x1011, {}), kNakMalformed);
  EXPECT_EQ(nakCode(0x1012, {0, 0x11}), kNakMalformed);
  EXPECT_EQ(nakCode(0x1012, {0, 0x11, 16, 0, 0xFF}), kNakMalformed);  // 16 bits, 1 byte
  EXPECT_EQ(nakCode(0x1012, {3, 0x11, 8, 0, 0xFF}), kNakNoDevice);
  EXPECT_EQ(nakCode(0x1012, {0, 0x01, 8, 0, 0xFF}), kNakMalformed);  // neither IR nor DR
  EXPECT_EQ(nakCode(0x100E, {0, 0, 16, 0, 1, 2}), kNakMalformed);
  EXPECT_EQ(nakCode(0x100F, {0, 0x20, 16, 0, 1}), kNakMalformed);
  EXPECT_EQ(nakCode(0x1110, {0x4D, 0x00, 0x02}), kNakMalformed);
  EXPECT_EQ(nakCode(0x1201, {0x30, 0x01}), kNakNoDevice);  // nothing on slot 3
  EXPECT_EQ(nakCode(0x1201, {0x11, 0x01}), kNakNoDevice);  // not a bus byte
  EXPECT_EQ(nakCode(0x1204, {}), kNakMalformed);
  // The answer of a raw shift must fit one packet.
  std::vector<uint8_t> big = {0, 0, 0xFF, 0xFF};
  big.resize(4 + 2 * 8192);
  EXPECT_EQ(nakCode(0x100E, big), kNakMalformed);
  EXPECT_EQ(ctl->naks(), 15u);
}

TEST_F(Controller, DeviceShiftsNeedDeviceAbstractionMode) {
  EXPECT_EQ(nakCode(0x1012, {0, 0x09, 0, 0, 0x02, 0x00}), kNakWrongMode);
  ok(0x1001, {0x00, 0x01});
  EXPECT_EQ(nakCode(0x1012, {0, 0x09, 0, 0, 0x02, 0x00}), kNakWrongMode);
  abstraction();
  irLoad(0, FakeChain::kUser, false);
}

TEST_F(Controller, InstructionLoadPutsTheOthersInBypassAndReturnsTheCapture) {
  abstraction();
  std::vector<uint8_t> cap = irLoad(1, FakeChain::kUser, true);
  ASSERT_EQ(cap.size(), 3u);  // 18 bits
  EXPECT_EQ(cap[0] | cap[1] << 8 | cap[2] << 16, 0x1 | 1 << 2);
  EXPECT_EQ(chain.dev[1].ir, FakeChain::kUser);
  EXPECT_EQ(chain.dev[0].ir, (1u << 12) - 1);
  EXPECT_EQ(chain.dev[2].ir, (1u << 6) - 1);
  EXPECT_EQ(chain.state, Tap::Idle);
  EXPECT_TRUE(irLoad(2, FakeChain::kUser, false).empty());
  EXPECT_EQ(chain.dev[2].ir, FakeChain::kUser);
  // The host's IR lengths are the ones used where it gave them.
  ok(0x1011, {0, 12, 18, 6});
  irLoad(0, FakeChain::kUser, false);
  EXPECT_EQ(chain.dev[0].ir, FakeChain::kUser);
  EXPECT_EQ(chain.dev[1].ir, (1u << 18) - 1);
}

TEST_F(Controller, DataShiftsReachTheAddressedDeviceThroughTheBypassBits) {
  abstraction();
  for (uint8_t d = 0; d < 3; d++) {
    chain.dev[d].userValue = 0xC0DE0000u | d;
    irLoad(d, FakeChain::kUser, false);
    // Full duplex in one request.
    std::vector<uint8_t> tdo = ok(0x1012, {d, 0x31, 32, 0, 0x78, 0x56, 0x34, 0x12});
    ASSERT_EQ(tdo.size(), 4u);
    EXPECT_EQ(le32(tdo, 0), 0xC0DE0000u | d) << int(d);
    ASSERT_FALSE(chain.dev[d].userWrites.empty());
    EXPECT_EQ(chain.dev[d].userWrites.back(), 0x12345678u) << int(d);
  }
  // Without the capture flag nothing comes back.
  EXPECT_TRUE(ok(0x1012, {2, 0x11, 32, 0, 1, 2, 3, 4}).empty());
}

TEST_F(Controller, DataShiftContinuesAcrossRequestsWhileTheStayFlagIsSet) {
  abstraction();
  chain.dev[1].userValue = 0xAABBCCDD;
  irLoad(1, FakeChain::kUser, false);
  std::vector<uint8_t> a = ok(0x1012, {1, 0x33, 16, 0, 0x22, 0x11});
  EXPECT_EQ(chain.state, Tap::ShiftDr);
  EXPECT_TRUE(chain.dev[1].userWrites.empty());
  std::vector<uint8_t> b = ok(0x1012, {1, 0x31, 16, 0, 0x44, 0x33});
  EXPECT_EQ(chain.state, Tap::Idle);
  ASSERT_EQ(chain.dev[1].userWrites.size(), 1u);
  EXPECT_EQ(chain.dev[1].userWrites[0], 0x33441122u);
  EXPECT_EQ(a[0] | a[1] << 8 | b[0] << 16 | uint32_t(b[1]) << 24, 0xAABBCCDDu);
}

// What the addressed device's data register takes in one scan, as a streaming
// register (a configuration port) sees it. A write brings only the bypass bits of the
// devices on the TDI side ahead of the data, as the host's own FTDI path does; with
// the capture flag the bits that push the device's capture past the bypass bits on the
// TDO side come first as well.
std::vector<bool> bitsOf(const std::vector<uint8_t>& bytes, size_t n) {
  std::vector<bool> v;
  for (size_t k = 0; k < n; ++k) v.push_back((bytes[k / 8] >> (k % 8)) & 1);
  return v;
}

TEST_F(Controller, AWriteBringsOnlyTheTdiSideBypassBitsAheadOfTheData) {
  abstraction();
  const std::vector<uint8_t> data = {0xFF, 0x0F, 0xA5, 0x3C};
  for (uint8_t d = 0; d < 3; d++) {
    irLoad(d, FakeChain::kUser, false);
    uint64_t before = ctl->tap().clocks();
    EXPECT_TRUE(ok(0x1012, {d, 0x11, 32, 0, data[0], data[1], data[2], data[3]}).empty());
    std::vector<bool> want(d, false);  // the bypass registers captured 0
    for (bool b : bitsOf(data, 32)) want.push_back(b);
    EXPECT_EQ(chain.dev[d].drIn, want) << "device " << int(d);
    EXPECT_EQ(chain.dev[d].userWrites.back(), 0x3CA50FFFu) << "device " << int(d);
    // Select-DR, Capture-DR, Shift-DR in; the data and the TDI-side bypass bits (the
    // last one exits); Update-DR and Idle out.
    EXPECT_EQ(ctl->tap().clocks() - before, 3u + 32u + d + 2u) << "device " << int(d);

    // Full duplex: the TDO-side bypass bits go first, so the capture comes out whole.
    chain.dev[d].userValue = 0x600D0000u | d;
    std::vector<uint8_t> tdo = ok(0x1012, {d, 0x31, 32, 0, data[0], data[1], data[2], data[3]});
    ASSERT_EQ(tdo.size(), 4u);
    EXPECT_EQ(le32(tdo, 0), 0x600D0000u | d);
    EXPECT_EQ(chain.dev[d].drIn.size(), 2u + 32u) << "device " << int(d);
    EXPECT_EQ(chain.dev[d].userWrites.back(), 0x3CA50FFFu) << "device " << int(d);
  }
}

TEST_F(Controller, AWriteInSeveralRequestsIsOneContinuousScan) {
  abstraction();
  for (uint8_t d = 0; d < 3; d++) {
    irLoad(d, FakeChain::kUser, false);
    // 80 bits in three pieces, the first two staying in Shift-DR (0x13).
    std::vector<uint8_t> all = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x2A, 0x7E, 0xA1, 0x5A, 0xC3};
    EXPECT_TRUE(ok(0x1012, {d, 0x13, 24, 0, all[0], all[1], all[2]}).empty());
    EXPECT_EQ(chain.state, Tap::ShiftDr);
    EXPECT_TRUE(ok(0x1012, {d, 0x13, 40, 0, all[3], all[4], all[5], all[6], all[7]}).empty());
    EXPECT_EQ(chain.state, Tap::ShiftDr);
    EXPECT_TRUE(ok(0x1012, {d, 0x11, 16, 0, all[8], all[9]}).empty());
    EXPECT_EQ(chain.state, Tap::Idle);
    std::vector<bool> want(d, false);
    for (bool b : bitsOf(all, 80)) want.push_back(b);
    EXPECT_EQ(chain.dev[d].drIn, want) << "device " << int(d);
    EXPECT_EQ(chain.dev[d].userWrites.back(), 0xC35AA17Eu) << "device " << int(d);
  }
}

TEST_F(Controller, AScanLeftInShiftDrIsCarriedToTheDeviceBeforeAnythingElse) {
  abstraction();
  // The host ends a write in Shift-DR and then loads an instruction: the data still
  // goes on past the bypass bit on the TDI side, so device 1's register holds it whole.
  irLoad(1, FakeChain::kUser, false);
  EXPECT_TRUE(ok(0x1012, {1, 0x13, 32, 0, 0x44, 0x33, 0x22, 0x11}).empty());
  EXPECT_EQ(chain.state, Tap::ShiftDr);
  irLoad(1, FakeChain::kIdcode, false);
  ASSERT_EQ(chain.dev[1].userWrites.size(), 1u);
  EXPECT_EQ(chain.dev[1].userWrites[0], 0x11223344u);
  EXPECT_EQ(chain.dev[1].ir, FakeChain::kIdcode);
  // The same when the next request addresses another device's data register.
  irLoad(2, FakeChain::kUser, false);
  EXPECT_TRUE(ok(0x1012, {2, 0x13, 32, 0, 0x78, 0x56, 0x34, 0x12}).empty());
  const size_t updates = chain.dev[2].userWrites.size();
  EXPECT_TRUE(ok(0x1012, {0, 0x11, 1, 0, 0x00}).empty());
  // Two updates: the finished scan, then device 0's own (device 2 still selects its
  // user register).
  ASSERT_EQ(chain.dev[2].userWrites.size(), updates + 2);
  EXPECT_EQ(chain.dev[2].userWrites[updates], 0x12345678u);
  // And before idle clocks.
  irLoad(2, FakeChain::kUser, false);
  EXPECT_TRUE(ok(0x1012, {2, 0x13, 32, 0, 0xEF, 0xBE, 0xAD, 0xDE}).empty());
  ok(0x100F, {0x00, 0x19, 12, 0});
  EXPECT_EQ(chain.dev[2].userWrites.back(), 0xDEADBEEFu);
  EXPECT_EQ(chain.state, Tap::Idle);
}

TEST_F(Controller, ReverseFlagSendsAndReadsEachByteMostSignificantBitFirst) {
  abstraction();
  chain.dev[0].userValue = 0x00000001;  // first bit out is 1
  irLoad(0, FakeChain::kUser, false);
  std::vector<uint8_t> tdo = ok(0x1012, {0, 0x71, 32, 0, 0x80, 0x00, 0x00, 0x01});
  // MSB first: 0x80 sends bit 1 first -> register bit 0; 0x01 in the last byte -> bit 31.
  EXPECT_EQ(chain.dev[0].userWrites.back(), 0x80000001u);
  EXPECT_EQ(tdo[0], 0x80);
}

TEST_F(Controller, IdleClocksAndRawShifts) {
  abstraction();
  uint64_t before = ctl->tap().clocks();
  ok(0x100F, {0x00, 0x19, 0x30, 0x75});  // 30000
  EXPECT_EQ(chain.state, Tap::Idle);
  EXPECT_GE(ctl->tap().clocks() - before, 30000u);

  // Raw: from Idle to Shift-DR (TMS 1,0,0) with bypass in every device after a reset.
  ok(0x1001, {0x00, 0x01});
  for (auto& d : chain.dev) d.userValue = 0;
  ok(0x100E, {0x00, 0x00, 5, 0, 0x00, 0x1F});  // five TMS ones: Test-Logic-Reset
  EXPECT_EQ(chain.state, Tap::Reset);
  ok(0x100E, {0x00, 0x00, 4, 0, 0x00, 0x02});  // 0,1,0,0: Idle, Select-DR, Capture, Shift
  EXPECT_EQ(chain.state, Tap::ShiftDr);
  // Three IDCODE registers behind each other: 96 bits of TDI-only shift.
  std::vector<uint8_t> p = {0x00, 0x20, 96, 0};
  p.resize(4 + 12, 0);
  std::vector<uint8_t> tdo = ok(0x100F, p);
  ASSERT_EQ(tdo.size(), 12u);
  EXPECT_EQ(le32(tdo, 0), 0x04B69093u);  // nearest TDO first
  EXPECT_EQ(le32(tdo, 8), 0x14B71093u);
  EXPECT_EQ(chain.state, Tap::ShiftDr);
  // A raw shift answers TDO for TDI/TMS pairs.
  tdo = ok(0x100E, {0x00, 0x00, 8, 0, 0xFF, 0x00});
  EXPECT_EQ(tdo, std::vector<uint8_t>{0x00});  // the zeros shifted in before come out
}

TEST_F(Controller, RegulatorTransfersPerSlot) {
  // Module identifier, then the voltage of rail VCCINT (volts x 256, low byte first).
  EXPECT_EQ(ok(0x1110, {0x4D, 0x00, 0x02, 0x00, 0xD0, 0x3C, 0x00}), (std::vector<uint8_t>{0xA3, 0x00}));
  EXPECT_EQ(ok(0x1110, {0x4D, 0x10, 0x02, 0x00, 0xD0, 0x3C, 0x00}), (std::vector<uint8_t>{0x47, 0x0C}));
  EXPECT_EQ(ok(0x1110, {0x4D, 0x00, 0x02, 0x00, 0xD0, 0x16, 0x07}), (std::vector<uint8_t>{0xDA, 0x00}));  // 0.85 V
  // A new target moves the rail; page 1 of 0x4D is VCCBRAM on this module.
  ok(0x1110, {0x4D, 0x00, 0x00, 0x00, 0xD0, 0x04, 0x42, 0x0A, 0x00, 0x01});
  EXPECT_EQ(ok(0x1110, {0x4D, 0x00, 0x02, 0x00, 0xD0, 0x16, 0x0B}), (std::vector<uint8_t>{0x00, 0x01}));
  EXPECT_DOUBLE_EQ(ctl->slotPower(0)->power().volts(1), 1.0);
  // Limits and patch registers are kept and recorded.
  ok(0x1110, {0x4D, 0x00, 0x00, 0x00, 0xD0, 0x04, 0x3A, 0x08, 0x00, 0x01});
  ok(0x1110, {0x4F, 0x00, 0x00, 0x00, 0xD0, 0x04, 0x8C, 0x06, 0x80, 0xF0});
  EXPECT_EQ(ok(0x1110, {0x4F, 0x00, 0x02, 0x00, 0xD0, 0x8C, 0x06}), (std::vector<uint8_t>{0x80, 0xF0}));
  auto log = ctl->slotPower(0)->regulator(0x4D)->writeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], (std::pair<uint16_t, uint16_t>{0x083A, 0x0100}));
  // The host's ping: slot 0 answers, a slot without regulators does not.
  EXPECT_TRUE(ok(0x1110, {0x4D, 0x00, 0x00, 0x00, 0x00, 0x00}).empty());
  EXPECT_EQ(nakCode(0x1110, {0x4D, 0x20, 0x00, 0x00, 0x00, 0x00}), kNakNoAck);
  EXPECT_EQ(nakCode(0x1110, {0x50, 0x00, 0x00, 0x00, 0x00, 0x00}), kNakNoAck);
  // Current in linear-11 and temperature in whole degrees in the low byte.
  std::vector<uint8_t> amps = ok(0x1110, {0x4D, 0x00, 0x02, 0x00, 0xD0, 0x18, 0x07});
  ASSERT_EQ(amps.size(), 2u);
  int exponent = int8_t(amps[1]) >> 3;
  double a = std::ldexp(((amps[1] & 7) << 8) | amps[0], exponent);
  EXPECT_NEAR(a, ctl->slotPower(0)->power().amps(0), 0.01);
}

TEST_F(Controller, StatusRecordCarriesDonePerSlot) {
  chain.dev[1].done = true;
  std::vector<uint8_t> d = ok(0x0300, {});
  ASSERT_EQ(d.size(), 48u);  // slots 0..2 used
  EXPECT_EQ(d[15] & 0x40, 0);
  EXPECT_EQ(d[31] & 0x40, 0x40);
  EXPECT_EQ(d[47] & 0x40, 0);
}

TEST_F(Controller, UartBytesMoveAtTheLineRateBothWays) {
  ok(0x1202, {0x10, 0x00, 0x00, 0x00, 0x40, 0x42, 0x0F, 0x00});  // 1 Mbaud: 100 bytes/ms
  std::vector<uint8_t> p = {0x10};
  for (int i = 0; i < 1000; i++) p.push_back(uint8_t(i));
  EXPECT_TRUE(ok(0x1204, p, 2).empty());
  std::vector<uint8_t> out;
  ctl->advance(5 * 1000000ull, true, &out);  // 5 ms
  size_t early = chain.dev[1].uart.received.size();
  EXPECT_GE(early, 450u);
  EXPECT_LE(early, 560u);
  ctl->advance(10 * 1000000ull, true, &out);
  ASSERT_EQ(chain.dev[1].uart.received.size(), 1000u);
  EXPECT_EQ(chain.dev[1].uart.received[999], uint8_t(999));
  EXPECT_EQ(ctl->uartState(1).toFpga, 1000u);

  for (uint8_t c : {'o', 'k'}) chain.dev[2].uart.output.push_back(c);
  out.clear();
  ctl->advance(1000000, false, &out);  // no host: the FPGA keeps its bytes
  EXPECT_TRUE(out.empty());
  ctl->advance(1000000, true, &out);
  auto pk = split(out);
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].command, 0x1205);
  EXPECT_EQ(pk[0].data, (std::vector<uint8_t>{0x20, 'o', 'k'}));
  EXPECT_EQ(nakCode(0x1204, {0x30, 1}), kNakNoDevice);
}

TEST_F(Controller, FullUartBufferIsReportedAsOverflow) {
  cfg.uartBufferBytes = 100;
  BoardController small(chain, cfg);
  std::vector<uint8_t> p(151, 7);
  p[0] = 0x00;
  std::vector<uint8_t> out;
  small.handle(2, 0x1204, 0x8000, p.data(), p.size(), &out);
  auto pk = split(out);
  ASSERT_EQ(pk.size(), 2u);
  EXPECT_EQ(pk[0].command, 0x000A);
  EXPECT_EQ(pk[0].tag, 2);
  EXPECT_EQ(pk[1].command, 0x1206);
  EXPECT_EQ(pk[1].data, std::vector<uint8_t>{0});
  EXPECT_EQ(small.uartState(0).dropped, 50u);
  out.clear();
  small.advance(10 * 1000000ull, true, &out);
  EXPECT_EQ(chain.dev[0].uart.received.size(), 100u);
}

}  // namespace
