// The TAP controller graph and chain wiring against IEEE 1149.1: state moves, IR and
// DR scan lengths through chains of 0 to 5 devices, the TDO line between scans, and
// the chain faults.
#include <gtest/gtest.h>

#include "sim/core/jtag_chain.h"
#include "sim/core/parts.h"
#include "sim/core/tap.h"
#include "sim/core/tests/chain_driver.h"
#include "sim/core/xilinx_device.h"

namespace varnsim::test {
namespace {

using S = TapState;

TEST(Tap, GraphFollowsTheStandard) {
  // Each row: state, next with TMS 0, next with TMS 1 (IEEE 1149.1 figure 6-1).
  const S rows[16][3] = {
      {S::TestLogicReset, S::RunTestIdle, S::TestLogicReset}, {S::RunTestIdle, S::RunTestIdle, S::SelectDR},
      {S::SelectDR, S::CaptureDR, S::SelectIR},                {S::CaptureDR, S::ShiftDR, S::Exit1DR},
      {S::ShiftDR, S::ShiftDR, S::Exit1DR},                    {S::Exit1DR, S::PauseDR, S::UpdateDR},
      {S::PauseDR, S::PauseDR, S::Exit2DR},                    {S::Exit2DR, S::ShiftDR, S::UpdateDR},
      {S::UpdateDR, S::RunTestIdle, S::SelectDR},              {S::SelectIR, S::CaptureIR, S::TestLogicReset},
      {S::CaptureIR, S::ShiftIR, S::Exit1IR},                  {S::ShiftIR, S::ShiftIR, S::Exit1IR},
      {S::Exit1IR, S::PauseIR, S::UpdateIR},                   {S::PauseIR, S::PauseIR, S::Exit2IR},
      {S::Exit2IR, S::ShiftIR, S::UpdateIR},                   {S::UpdateIR, S::RunTestIdle, S::SelectDR},
  };
  for (auto& r : rows) {
    EXPECT_EQ(tapNext(r[0], false), r[1]) << tapStateName(r[0]);
    EXPECT_EQ(tapNext(r[0], true), r[2]) << tapStateName(r[0]);
  }
  // Five TMS-high clocks reach Test-Logic-Reset from anywhere.
  for (int s = 0; s < 16; ++s) {
    S st = static_cast<S>(s);
    for (int i = 0; i < 5; ++i) st = tapNext(st, true);
    EXPECT_EQ(st, S::TestLogicReset) << s;
  }
  EXPECT_STREQ(tapStateName(S::ShiftDR), "Shift-DR");
}

std::unique_ptr<XilinxDevice> xdev(const char* part) {
  DeviceConfig c;
  c.part = findPart(part);
  fillDefaultIdentity(c, 1);
  return std::make_unique<XilinxDevice>(c, nullptr);
}

// Shifts ones after a reset (IDCODE everywhere) and counts 32-bit IDCODEs until the
// pattern shifted in comes back.
std::vector<uint32_t> idcodes(JtagChain& c) {
  ChainDriver d(c);
  d.reset();
  d.enterShiftDR();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 8; ++i) {
    uint32_t v = 0;
    for (int k = 0; k < 32; ++k)
      if (d.clock(false, true)) v |= 1u << k;
    if (v == 0xFFFFFFFF) break;
    ids.push_back(v);
  }
  return ids;
}

TEST(Chain, IdcodesAndLengthsOfZeroToFiveDevices) {
  const char* parts[5] = {"VU9P", "VU35P", "VU33P", "VU13P", "VU9P"};
  const int irs[5] = {18, 12, 6, 24, 18};
  for (size_t n = 0; n <= 5; ++n) {
    JtagChain c;
    int totalIr = 0;
    for (size_t i = 0; i < n; ++i) {
      c.add(xdev(parts[i]));
      totalIr += irs[i];
    }
    auto ids = idcodes(c);
    ASSERT_EQ(ids.size(), n);
    // The device nearest TDO answers first.
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(ids[i], findPart(parts[n - 1 - i])->idcode) << n << " " << i;

    // IR length: flood the IRs with ones after a single zero; the zero comes back
    // after exactly the total IR length.
    ChainDriver d(c);
    d.reset();
    d.enterShiftIR();
    int seen = -1;
    for (int k = 0; k < 200; ++k) {
      bool o = d.clock(false, k != 0);
      if (k >= totalIr && !o && seen < 0 && k > 0) seen = k;
    }
    if (n == 0) EXPECT_EQ(seen, -1);  // a wire returns the zero at once (bit 0)
    else EXPECT_EQ(seen, totalIr);
    d.exitShift(true);

    // With BYPASS loaded everywhere every device is one DR bit.
    d.irScan(Bits(totalIr, true));
    d.enterShiftDR();
    int delay = -1;
    for (int k = 0; k < 20; ++k) {
      bool o = d.clock(false, k == 0);
      if (o && delay < 0 && k >= static_cast<int>(n)) delay = k;
    }
    EXPECT_EQ(delay, static_cast<int>(n));
  }
}

TEST(Chain, ByteShiftEqualsBitShifts) {
  JtagChain a, b;
  for (JtagChain* c : {&a, &b}) {
    c->add(xdev("VU9P"));
    c->add(xdev("VU35P"));
  }
  ChainDriver da(a), db(b);
  for (ChainDriver* d : {&da, &db}) {
    d->reset();
    d->enterShiftDR();
  }
  const uint8_t pattern[6] = {0x00, 0xFF, 0x5A, 0x13, 0x80, 0x01};
  for (int round = 0; round < 20; ++round) {
    uint8_t in = pattern[round % 6] ^ static_cast<uint8_t>(round);
    ASSERT_TRUE(a.canShiftBytes());
    uint8_t fast = a.shiftByte(in);
    uint8_t slow = 0;
    for (int k = 0; k < 8; ++k)
      if (db.clock(false, (in >> k) & 1)) slow |= static_cast<uint8_t>(1u << k);
    EXPECT_EQ(fast, slow) << round;
  }
  EXPECT_EQ(a.tcks(), b.tcks());
}

TEST(Chain, TdoHoldsTheLastDrivenBitAfterExit) {
  JtagChain c;
  c.add(xdev("VU33P"));  // IDCODE 0x04B69093: bit 31 is 0, bit 30 is 0
  ChainDriver d(c);
  d.reset();
  d.enterShiftDR();
  for (int k = 0; k < 27; ++k) d.clock(false);
  // Bits 27..31 of 0x04B69093 are all 0.
  bool b27 = d.clock(false), b28 = d.clock(false), b29 = d.clock(false), b30 = d.clock(false);
  EXPECT_FALSE(b27 || b28 || b29 || b30);
  // The 32nd bit leaves with TMS high (Exit1-DR); after that the driver is off and the
  // line keeps the level of that last bit for the Update-DR clock.
  bool last = d.clock(true);
  bool after = d.clock(true);
  EXPECT_EQ(last, false);
  EXPECT_EQ(after, last);

  // Same with a 1 as last bit: load USERCODE (0xFFFFFFFF unprogrammed).
  d.tms("0");
  d.irScan(xinst::kUsercode, 6);
  d.enterShiftDR();
  for (int k = 0; k < 31; ++k) EXPECT_TRUE(d.clock(false));
  EXPECT_TRUE(d.clock(true));
  EXPECT_TRUE(d.clock(true));   // Exit1 -> Update: held high
  EXPECT_TRUE(d.clock(false));  // Update -> Idle: still held
}

TEST(Chain, Faults) {
  for (auto kind : {ChainFault::Kind::TdoStuck0, ChainFault::Kind::TdoStuck1}) {
    JtagChain c;
    c.add(xdev("VU9P"));
    c.setFault({kind, 0});
    ChainDriver d(c);
    d.reset();
    uint64_t v = d.drScan(0x00000000FFull, 32);
    EXPECT_EQ(v, kind == ChainFault::Kind::TdoStuck0 ? 0u : 0xFFFFFFFFu);
  }
  // A break before device 1: device 1's IDCODE still comes out, then the open input
  // reads high instead of the pattern behind it.
  JtagChain c;
  c.add(xdev("VU9P"));
  c.add(xdev("VU35P"));
  c.setFault({ChainFault::Kind::Break, 1});
  auto ids = idcodes(c);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0], findPart("VU35P")->idcode);
  ChainDriver d(c);
  d.reset();
  d.enterShiftDR();
  for (int k = 0; k < 32; ++k) d.clock(false, false);
  uint32_t v = 0;
  for (int k = 0; k < 32; ++k)
    if (d.clock(false, false)) v |= 1u << k;
  EXPECT_EQ(v, 0xFFFFFFFFu) << "zeros shifted at TDI never reach TDO through the break";

  // An open TDO pin reads high whatever the chain does.
  JtagChain open;
  open.add(xdev("VU33P"));
  open.setFault({ChainFault::Kind::Break, 1});
  EXPECT_TRUE(idcodes(open).empty());
}

TEST(Chain, ClockOnlyRunsInBulkWhereTmsHoldsTheState) {
  JtagChain c;
  c.add(xdev("VU33P"));
  ChainDriver d(c);
  d.reset();
  auto& dev = c.device(0);
  uint64_t idle0 = dev.idleTcks();
  c.clocks(1000000, false, false);
  EXPECT_EQ(dev.state(), S::RunTestIdle);
  EXPECT_EQ(dev.idleTcks() - idle0, 1000000u);
  c.clocks(7, true, false);  // leaves Idle and ends in Test-Logic-Reset
  EXPECT_EQ(dev.state(), S::TestLogicReset);
  EXPECT_EQ(c.tcks(), dev.tcks());
}

}  // namespace
}  // namespace varnsim::test
