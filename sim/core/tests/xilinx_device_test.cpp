// UltraScale+ registers as a JTAG master sees them: IR captures per SLR count,
// instruction composition, identity registers, SYSMON DRP pipelining, boundary scan
// and the user registers routed to the design.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/core/crc.h"
#include "sim/core/sysmon.h"
#include "sim/core/tests/xilinx_test_util.h"

namespace varnsim::test {
namespace {

TEST(XilinxDevice, IrCapturePerSlrCount) {
  const struct {
    const char* part;
    uint64_t clean, done;
  } rows[] = {{"VU33P", 0x11, 0x35}, {"VU35P", 0x451, 0xD75}, {"VU9P", 0x11451, 0x35D75}, {"VU13P", 0x451451, 0xD75D75}};
  for (auto& r : rows) {
    JtagChain c;
    c.add(makeXilinx(r.part));
    c.add(makeXilinx(r.part, nullptr, [](DeviceConfig& d) { d.preconfigured = true; }));
    ChainDriver d(c);
    d.reset();
    Bits cap = d.irScan(irVector(c, 0, everySlr(c.device(0).irLength() / 6, xinst::kIscNoop)));
    EXPECT_EQ(irCaptureOf(c, 0, cap), r.clean) << r.part;
    EXPECT_EQ(irCaptureOf(c, 1, cap), r.done) << r.part;
  }
}

TEST(XilinxDevice, IdentityRegisters) {
  JtagChain c;
  c.add(makeXilinx("VU9P", nullptr, [](DeviceConfig& d) {
    parseHexWords("0x4123456789ABCDEF00112235", d.dna[0].w, 3);
    parseHexWords("0x400000000000000000000005", d.dna[1].w, 3);
    d.fuseUser = 0xDEADBEEF;
    d.fuse128[0] = 0x0123456789ABCDEFull;
    d.fuse128[1] = 0xFEDCBA9876543210ull;
    d.version = 1;
  }));
  ChainDriver d(c);
  d.reset();
  // After Test-Logic-Reset the IDCODE instruction is in every SLR: one 32-bit register.
  EXPECT_EQ(d.drScan(0, 32), 0x14B31093u);
  d.irScan(oneSlr(3, 1, xinst::kIdcode), 18);
  EXPECT_EQ(d.drScan(0, 32), 0x14B22093u) << "SLR 1's own IDCODE";
  d.irScan(0x32924, 18);  // FUSE_DNA to SLR 0
  Bits dna = d.drScan(Bits(96, false));
  EXPECT_EQ(valueOf(dna, 0, 32), 0x00112235u);
  EXPECT_EQ(valueOf(dna, 32, 64), 0x4123456789ABCDEFull);
  d.irScan(oneSlr(3, 1, xinst::kFuseDna), 18);
  dna = d.drScan(Bits(96, false));
  EXPECT_EQ(valueOf(dna, 0, 64), 5u);
  EXPECT_EQ(valueOf(dna, 64, 32), 0x40000000u);
  d.irScan(0x33924, 18);
  EXPECT_EQ(d.drScan(0, 32), 0xDEADBEEFu);
  d.irScan(0x19924, 18);
  Bits f = d.drScan(Bits(128, false));
  EXPECT_EQ(valueOf(f, 0, 64), 0x0123456789ABCDEFull);
  EXPECT_EQ(valueOf(f, 64, 64), 0xFEDCBA9876543210ull);
  // BYPASS in all SLRs: the whole part is one bit.
  d.irScan(Bits(18, true));
  Bits b = d.drScan(bitsOf(0x5, 4));
  EXPECT_EQ(valueOf(b), 0x5u << 1 & 0xF);
  // Two SLRs addressed at once is no instruction: bypass.
  d.irScan(0x32CA4 & 0x3FFFF, 18);
  EXPECT_EQ(valueOf(d.drScan(bitsOf(0x1, 2))), 0x2u);
}

TEST(XilinxDevice, DefaultDnaKeepsItsFixedBits) {
  for (uint64_t seed = 0; seed < 10; ++seed) {
    DeviceConfig cfg;
    fillDefaultIdentity(cfg, seed);
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(cfg.dna[s].w[0] & 3u, 1u);
      EXPECT_EQ(cfg.dna[s].w[2] >> 30, 1u);
    }
  }
}

TEST(XilinxDevice, SysmonReadsArePipelined) {
  JtagChain c;
  c.add(makeXilinx("VU35P", nullptr, [](DeviceConfig& d) {
    d.temp[0] = 45.0;
    d.temp[1] = 61.5;
    d.vccint[1] = 0.72;
  }));
  auto& dev = static_cast<XilinxDevice&>(c.device(0));
  ChainDriver d(c);
  d.reset();
  d.irScan(0xDE4, 12);  // SYSMON_DRP, SLR 0
  uint64_t first = d.drScan(0x04000000, 32);  // read register 0
  EXPECT_EQ(first, 0u) << "nothing read yet";
  d.idle(12);
  uint64_t w = d.drScan(0x04010000, 32);  // the temperature, while asking for VCCINT
  EXPECT_EQ(w >> 16, 0u);
  EXPECT_EQ(w & 0x3F, 0u) << "10-bit code, MSB-justified";
  EXPECT_NEAR(Sysmon::codeToTemp(static_cast<uint16_t>(w)), 45.0, 0.5);
  EXPECT_EQ(w, Sysmon::tempCode(45.0));
  // The same conversion a host does with 10-bit arithmetic.
  EXPECT_NEAR((w >> 6) * 509.314 / 1024 - 280.23, 45.0, 0.5);
  uint64_t v = d.drScan(0, 32);
  EXPECT_NEAR((v >> 6) * 3.0 / 1024, 0.85, 0.003);

  d.irScan(0x937, 12);  // SLR 1
  d.drScan(0x04000000, 32);
  EXPECT_NEAR(Sysmon::codeToTemp(static_cast<uint16_t>(d.drScan(0x04010000, 32))), 61.5, 0.5);
  EXPECT_NEAR(Sysmon::codeToVolts(static_cast<uint16_t>(d.drScan(0x04020000, 32))), 0.72, 0.003);
  EXPECT_NEAR(Sysmon::codeToVolts(static_cast<uint16_t>(d.drScan(0x04060000, 32))), 1.80, 0.003);
  EXPECT_NEAR(Sysmon::codeToVolts(static_cast<uint16_t>(d.drScan(0, 32))), 0.85, 0.003);
  EXPECT_EQ(dev.sysmon(1).reads(), 4u);
  // A write to a configuration register reads back; sensor registers ignore writes.
  d.drScan(0x08000000 | (0x41 << 16) | 0x2F00, 32);
  d.drScan(0x04000000 | (0x41 << 16), 32);
  EXPECT_EQ(d.drScan(0, 32), 0x2F00u);
  // A tested value: 45 C is 0xA340 give or take one code.
  EXPECT_NEAR(Sysmon::tempCode(45.0), 0xA340, 0x40);
  EXPECT_EQ(Sysmon::voltCode(0.85), 0x4880);
}

TEST(XilinxDevice, Vu35pBoundaryCarriesTheCarrierLines) {
  JtagChain c;
  c.add(makeXilinx("VU35P", nullptr, [](DeviceConfig& d) {
    d.carrier = 2;
    d.slot = 3;
    d.leds = 0x40 | 0x10 | 0x01;  // R, B and D lit
    d.preconfigured = true;
  }));
  ChainDriver d(c);
  d.reset();
  d.irScan(0x041, 12);  // SAMPLE in both SLRs
  Bits b = d.drScan(Bits(1858, false));
  EXPECT_EQ(b[1691] + 2 * b[1700], 2);
  EXPECT_EQ(b[1649] + 2 * b[1658], 3);
  EXPECT_FALSE(b[1556]);  // red lit: the line is low
  EXPECT_TRUE(b[1553]);   // green off
  EXPECT_FALSE(b[1547]);
  EXPECT_TRUE(b[1562]);
  EXPECT_TRUE(b[1565]);
  EXPECT_TRUE(b[1568]);
  EXPECT_FALSE(b[1559]);
  // The register is exactly 1858 bits: what went in comes out after it.
  d.irScan(0x041, 12);
  d.enterShiftDR();
  for (int k = 0; k < 1858; ++k) d.clock(false, k == 0);
  EXPECT_TRUE(d.clock(false));
  d.exitShift(false);

  // Unconfigured, the LED outputs float high: all off.
  JtagChain u;
  u.add(makeXilinx("VU35P", nullptr, [](DeviceConfig& d) { d.leds = 0x7F; }));
  ChainDriver du(u);
  du.reset();
  du.irScan(0x041, 12);
  Bits ub = du.drScan(Bits(1858, false));
  for (int bit : {1556, 1553, 1547, 1562, 1565, 1568, 1559}) EXPECT_TRUE(ub[bit]) << bit;
}

TEST(XilinxDevice, UserRegistersReachTheDesignOnlyWhenConfigured) {
  FakeFactory ff;
  JtagChain c;
  c.add(makeXilinx("VU33P"));
  c.add(makeXilinx("VU9P", ff.factory(), [](DeviceConfig& d) { d.preconfigured = true; }));
  ASSERT_NE(ff.last, nullptr);
  ChainDriver d(c);
  d.reset();
  // USER1 in SLR 0 of the VU9P (0x02924), BYPASS in the VU33P before it.
  d.irScan(irVector(c, 1, oneSlr(3, 0, xinst::kUser1)));
  // The design's 8-bit register captured 0xA5; device 0 adds one bypass bit after it.
  Bits out = d.drScan(Bits(9, false));
  EXPECT_EQ(valueOf(out, 0, 8), 0xA5u);
  EXPECT_EQ(ff.last->captures[1], 1);
  EXPECT_EQ(ff.last->shifts[1], 9);
  EXPECT_EQ(ff.last->updates[1], 1);
  d.irScan(irVector(c, 1, oneSlr(3, 0, xinst::kUser3)));
  d.drScan(Bits(4, true));
  EXPECT_EQ(ff.last->updates[3], 1);
  // USER1 addressed to SLR 1: no design there, a one-bit bypass.
  d.irScan(irVector(c, 1, oneSlr(3, 1, xinst::kUser1)));
  d.drScan(Bits(4, true));
  EXPECT_EQ(ff.last->captures[1], 1);

  JtagChain u;
  FakeFactory none;
  u.add(makeXilinx("VU33P", none.factory()));
  ChainDriver du(u);
  du.reset();
  du.irScan(xinst::kUser1, 6);
  EXPECT_EQ(valueOf(du.drScan(bitsOf(1, 3))), 2u) << "unconfigured: bypass";
  EXPECT_EQ(none.made, 0);
}

TEST(XilinxDevice, SysmonFollowsTheDesignsRail) {
  FakeFactory ff;
  JtagChain c;
  c.add(makeXilinx("VU33P", ff.factory(), [](DeviceConfig& d) { d.preconfigured = true; }));
  ff.last->vccint = 0.78;
  ChainDriver d(c);
  d.reset();
  d.irScan(xinst::kSysmonDrp, 6);
  d.drScan(0x04010000, 32);
  EXPECT_NEAR(Sysmon::codeToVolts(static_cast<uint16_t>(d.drScan(0, 32))), 0.78, 0.003);
}

TEST(Crc, TableAndSerialFormsAgree) {
  uint32_t a = 0, b = 0;
  for (uint32_t i = 0; i < 1000; ++i) {
    uint32_t w = i * 2654435761u;
    a = crc32cConfigWord(a, i & 31, w);
    b = crc32cConfigWordBitwise(b, i & 31, w);
  }
  EXPECT_EQ(a, b);
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc32Ieee(0, check, 9), 0xCBF43926u);  // the standard check value
}

}  // namespace
}  // namespace varnsim::test
