// Configuration over JTAG against generated bitstreams: streams that configure, and
// every way a stream must fail to set DONE.
#include <gtest/gtest.h>

#include "sim/core/tests/xilinx_test_util.h"
#include "tools/varn_bitgen/bitgen.h"

namespace varnsim::test {
namespace {

constexpr uint64_t kDone3 = 0x35D75;     // VU9P, DONE in every SLR
constexpr uint64_t kClean3 = 0x11451;    // VU9P, cleaned, unconfigured

std::vector<uint8_t> bit(const char* part, void (*tweak)(varnbitgen::BitOptions&) = nullptr) {
  varnbitgen::BitOptions o;
  o.part = part;
  o.frames = 20;
  if (tweak) tweak(o);
  std::string err;
  auto v = varnbitgen::makeBit(o, &err);
  EXPECT_FALSE(v.empty()) << err;
  return v;
}

TEST(XilinxConfig, GoodStreamsSetDoneInEverySlr) {
  for (const char* part : {"VU33P", "VU35P", "VU9P", "VU13P"}) {
    JtagChain c;
    c.add(makeXilinx(part));
    auto& dev = static_cast<XilinxDevice&>(c.device(0));
    const int slrs = dev.slrs();
    uint64_t cap = loadBitstream(c, 0, bit(part));
    EXPECT_EQ(cap, everySlr(slrs, 0x35)) << part << ": " << dev.describe();
    EXPECT_TRUE(dev.done());
    EXPECT_EQ(dev.frameWords(), uint64_t(slrs) * 20 * 93) << part;
    for (int s = 0; s < slrs; ++s) EXPECT_TRUE(dev.configLogic(s).complete()) << part << " SLR " << s;
  }
}

TEST(XilinxConfig, StreamsThatMustNotConfigure) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    CfgError error;  // None: incomplete without an error
  };
  auto truncated = bit("VU9P");
  truncated.resize(truncated.size() - 700);
  std::vector<Case> cases = {
      {"wrong part (VU13P stream)", bit("VU13P"), CfgError::IdcodeMismatch},
      {"wrong IDCODE", bit("VU9P", [](auto& o) { o.idcode = 0x04B51093; }), CfgError::IdcodeMismatch},
      {"truncated", truncated, CfgError::None},
      {"corrupt frame bit", bit("VU9P", [](auto& o) { o.corrupt = true; }), CfgError::CrcMismatch},
      // A single-SLR stream carrying the VU9P master IDCODE: the SLRs below get nothing.
      {"no sections for SLR 1 and 2", bit("VU33P", [](auto& o) { o.idcode = 0x04B31093; }), CfgError::None},
      {"encrypted, device has no key", bit("VU9P", [](auto& o) { o.encrypted = true; }), CfgError::NoKey},
  };
  for (auto& k : cases) {
    JtagChain c;
    c.add(makeXilinx("VU9P"));
    auto& dev = static_cast<XilinxDevice&>(c.device(0));
    uint64_t cap = loadBitstream(c, 0, k.file);
    EXPECT_EQ(cap, kClean3) << k.name << ": " << dev.describe();
    EXPECT_FALSE(dev.done()) << k.name;
    EXPECT_EQ(dev.configError(), k.error) << k.name << ": " << dev.describe();
    EXPECT_EQ(dev.design(), nullptr);
  }
}

TEST(XilinxConfig, IdcodeErrorNamesTheWordWritten) {
  JtagChain c;
  c.add(makeXilinx("VU9P"));
  auto& dev = static_cast<XilinxDevice&>(c.device(0));
  loadBitstream(c, 0, bit("VU9P", [](auto& o) { o.idcode = 0x04B69093; }));
  int slr = -1;
  EXPECT_EQ(dev.configError(&slr), CfgError::IdcodeMismatch);
  EXPECT_EQ(slr, 0);
  EXPECT_EQ(dev.configLogic(0).errorWord(), 0x04B69093u);
  EXPECT_EQ(dev.frameWords(), 0u);
  // Version nibbles do not matter.
  JtagChain c2;
  c2.add(makeXilinx("VU9P"));
  EXPECT_EQ(loadBitstream(c2, 0, bit("VU9P", [](auto& o) { o.idcode = 0x14B31093; })), kDone3);
}

TEST(XilinxConfig, EncryptedStreamNeedsTheRightKey) {
  auto enc = bit("VU9P", [](auto& o) {
    o.encrypted = true;
    o.key = 0x1234ABCD;
  });
  JtagChain good;
  good.add(makeXilinx("VU9P", nullptr, [](DeviceConfig& c) { c.aesKey = 0x1234ABCD; }));
  EXPECT_EQ(loadBitstream(good, 0, enc), kDone3);
  JtagChain wrong;
  wrong.add(makeXilinx("VU9P", nullptr, [](DeviceConfig& c) { c.aesKey = 0x1234ABCE; }));
  EXPECT_EQ(loadBitstream(wrong, 0, enc), kClean3);
  EXPECT_NE(static_cast<XilinxDevice&>(wrong.device(0)).configError(), CfgError::None);
}

TEST(XilinxConfig, TrailingBitAndBypassOffsetsAreTolerated) {
  // One extra bit after the data, as openFPGALoader sends it.
  JtagChain a;
  a.add(makeXilinx("VU9P"));
  LoadSteps extra;
  extra.extraBit = true;
  EXPECT_EQ(loadBitstream(a, 0, bit("VU9P"), extra), kDone3);

  // The target behind two devices in bypass: its bits arrive two clocks late, so the
  // sync word sits off any byte boundary.
  JtagChain b;
  b.add(makeXilinx("VU33P"));
  b.add(makeXilinx("VU35P"));
  b.add(makeXilinx("VU9P"));
  EXPECT_EQ(loadBitstream(b, 2, bit("VU9P")), kDone3);
  EXPECT_FALSE(static_cast<XilinxDevice&>(b.device(0)).done());
  EXPECT_FALSE(static_cast<XilinxDevice&>(b.device(1)).done());
}

TEST(XilinxConfig, HousecleaningAndStartupTakeTheirClocks) {
  // Data sent while housecleaning is lost.
  JtagChain c;
  c.add(makeXilinx("VU9P", nullptr, [](DeviceConfig& d) { d.housecleanTcks = 50000; }));
  auto& dev = static_cast<XilinxDevice&>(c.device(0));
  ChainDriver d(c);
  d.reset();
  d.irScan(irVector(c, 0, everySlr(3, xinst::kJprogram)));
  uint64_t cap = irCaptureOf(c, 0, d.irScan(irVector(c, 0, everySlr(3, xinst::kIscNoop))));
  EXPECT_EQ(cap, 0x01041u) << "housecleaning: only bit 0 per SLR";
  LoadSteps early;
  early.program = false;
  EXPECT_EQ(loadBitstream(c, 0, bit("VU9P"), early), kClean3) << dev.describe();
  EXPECT_EQ(dev.frameWords(), 0u);

  // Too few start-up clocks: the stream is complete but DONE stays low.
  JtagChain s;
  s.add(makeXilinx("VU9P", nullptr, [](DeviceConfig& d) { d.startupTcks = 500; }));
  LoadSteps shortStart;
  shortStart.startup = 400;
  EXPECT_EQ(loadBitstream(s, 0, bit("VU9P"), shortStart), kClean3);
  auto& sd = static_cast<XilinxDevice&>(s.device(0));
  EXPECT_TRUE(sd.configLogic(2).complete());
  // JSTART again with the missing clocks: DONE.
  ChainDriver sdrv(s);
  sdrv.reset();
  sdrv.irScan(irVector(s, 0, everySlr(3, xinst::kJstart)));
  s.clocks(100, false, false);
  EXPECT_TRUE(sd.done());
}

TEST(XilinxConfig, UsercodeAndDesignFollowConfiguration) {
  FakeFactory ff;
  JtagChain c;
  c.add(makeXilinx("VU35P", ff.factory(), [](DeviceConfig& d) { d.design["app"] = "echo"; }));
  auto& dev = static_cast<XilinxDevice&>(c.device(0));
  ChainDriver d(c);
  d.reset();
  d.irScan(irVector(c, 0, oneSlr(2, 0, xinst::kUsercode)));
  EXPECT_EQ(d.drScan(0, 32), 0xFFFFFFFFu) << "unprogrammed";
  EXPECT_EQ(dev.design(), nullptr);

  loadBitstream(c, 0, bit("VU35P", [](auto& o) {
    o.usercodeGiven = true;
    o.usercode = 0xC0DE0042;
  }));
  ASSERT_TRUE(dev.done());
  EXPECT_EQ(ff.made, 1);
  EXPECT_EQ(ff.lastApp, "echo");
  ASSERT_NE(dev.design(), nullptr);
  d.reset();
  d.irScan(irVector(c, 0, oneSlr(2, 0, xinst::kUsercode)));
  EXPECT_EQ(d.drScan(0, 32), 0xC0DE0042u);

  // JPROGRAM clears the fabric.
  d.irScan(irVector(c, 0, everySlr(2, xinst::kJprogram)));
  EXPECT_EQ(dev.design(), nullptr);
  EXPECT_FALSE(dev.done());
}

TEST(Bitgen, FilesCarryWhatLoadersLookFor) {
  varnbitgen::BitOptions o;
  o.part = "VU9P";
  o.sizeBytes = 64 * 1024;
  auto v = varnbitgen::makeBit(o);
  ASSERT_GT(v.size(), 60000u);
  EXPECT_LE(v.size(), 64u * 1024);
  const uint8_t pre[13] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
  EXPECT_TRUE(std::equal(pre, pre + 13, v.begin()));
  const size_t hdr = varnbitgen::bitHeaderLength(o);
  // The 'e' length field counts the rest of the file.
  uint32_t elen = (uint32_t{v[hdr - 4]} << 24) | (v[hdr - 3] << 16) | (v[hdr - 2] << 8) | v[hdr - 1];
  EXPECT_EQ(elen, v.size() - hdr);
  auto find = [&](const std::string& text, size_t limit) {
    const std::vector<uint8_t> needle(text.begin(), text.end());
    auto it = std::search(v.begin(), v.begin() + static_cast<long>(std::min(limit, v.size())), needle.begin(), needle.end());
    return it == v.begin() + static_cast<long>(std::min(limit, v.size())) ? std::string::npos : size_t(it - v.begin());
  };
  const std::string idPacket = {'\x30', '\x01', '\x80', '\x01', '\x04', '\xB3', '\x10', '\x93'};
  EXPECT_NE(find(idPacket, 1024), std::string::npos) << "IDCODE write within the first 1024 bytes";
  EXPECT_NE(find("xcvu9p-flgb2104-2-i", 200), std::string::npos);

  o.encrypted = true;
  v = varnbitgen::makeBit(o);
  size_t e = find("ENCRYPT=Y", 200), x = find("xcvu9p", 200);
  EXPECT_NE(e, std::string::npos);
  EXPECT_NE(x, std::string::npos);
  EXPECT_LT(e, x);
  EXPECT_EQ(find(std::string{'\x30', '\x01', '\x80', '\x01'}, v.size()), std::string::npos);

  varnbitgen::RbfOptions r;
  r.sizeBytes = 10001;
  auto rb = varnbitgen::makeRbf(r);
  EXPECT_EQ(rb.size(), 10004u);
  EXPECT_EQ(rb[8] | (rb[9] << 8) | (rb[10] << 16) | (uint32_t{rb[11]} << 24), 0x032250DDu);
  r.truncateTo = 5000;
  EXPECT_EQ(varnbitgen::makeRbf(r).size(), 5000u);

  std::string err;
  o.part = "GX2800-H";
  EXPECT_TRUE(varnbitgen::makeBit(o, &err).empty());
  EXPECT_NE(err.find("not a Xilinx part"), std::string::npos);
}

}  // namespace
}  // namespace varnsim::test
