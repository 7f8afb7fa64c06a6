// The Stratix 10 SDM through JTAG: mailbox commands and responses, and the .rbf
// stream with its framing, busy and failure behaviour.
#include <gtest/gtest.h>

#include "sim/core/intel_device.h"
#include "sim/core/rbf_format.h"
#include "sim/core/tests/chain_driver.h"
#include "tools/varn_bitgen/bitgen.h"

namespace varnsim::test {
namespace {

class Stratix {
 public:
  explicit Stratix(void (*tweak)(DeviceConfig&) = nullptr, DesignFactory f = nullptr) : d_(c_) {
    DeviceConfig cfg;
    cfg.part = findPart("GX2800-H");
    parseHexWords("0x0123456789ABCDEF", cfg.dna[0].w, 3);
    if (tweak) tweak(cfg);
    auto dev = std::make_unique<IntelDevice>(cfg, std::move(f));
    dev_ = dev.get();
    c_.add(std::move(dev));
    d_.reset();
  }

  void command(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    for (auto [w, tag] : entries) {
      d_.irScan(iinst::kSdmCommand, 10);
      d_.drScan(uint64_t{w} | (uint64_t{tag} << 32), 34);
    }
  }
  uint64_t poll() {
    d_.irScan(iinst::kSdmResponse, 10);
    return d_.drScan(0, 34);
  }
  // Polls until a last word or end marker; returns every non-empty word.
  std::vector<uint64_t> response(int limit = 50) {
    std::vector<uint64_t> out;
    for (int i = 0; i < limit; ++i) {
      uint64_t w = poll();
      if ((w & 3) == 0) continue;
      out.push_back(w);
      if ((w & 3) == 3 || (w & 3) == 2) break;
    }
    return out;
  }
  uint64_t status(uint8_t control = 0) {
    d_.irScan(iinst::kConfigStatus, 10);
    return d_.drScan(control, 37);
  }
  // One CONFIG_IN scan: framing, data, one 1 bit (or what the test asks for).
  void chunk(const uint8_t* p, size_t n, bool goodFraming = true, bool endBit = true, int junk = 0) {
    d_.irScan(iinst::kConfigIn, 10);
    Bits b(static_cast<size_t>(junk), false);
    for (int i = 0; i < 8; ++i) {
      uint8_t f = rbf::kChunkFraming[i] ^ (goodFraming || i != 5 ? 0 : 1);
      for (int k = 0; k < 8; ++k) b.push_back((f >> k) & 1);
    }
    for (size_t i = 0; i < n; ++i)
      for (int k = 0; k < 8; ++k) b.push_back((p[i] >> k) & 1);
    if (endBit) b.push_back(true);
    d_.drScan(b);
  }
  bool start() {
    command({{5, 2}});
    auto r = response();
    // header, end marker, then the ready word.
    if (r.size() != 2 || (r[1] & 3) != 2) return false;
    auto last = response();
    return last.size() == 1 && last[0] == 3;
  }

  JtagChain c_;
  ChainDriver d_;
  IntelDevice* dev_;
};

TEST(IntelSdm, IdcodeAndMailboxQueries) {
  Stratix s([](DeviceConfig& c) {
    c.temp[0] = 52.25;
    c.vccint[0] = 0.8125;
    c.vccaux[0] = 1.8;
    c.vccbram[0] = 0.9;
    c.vccpt = 1.75;
  });
  EXPECT_EQ(s.d_.drScan(0, 32), 0x032250DDu);
  Bits ir = s.d_.irScan(Bits(10, true));
  EXPECT_EQ(valueOf(ir), 0x155u);

  // Chip ID: header, then two words, the last with status 3.
  s.command({{0, 0}, {0x12, 2}});
  auto r = s.response();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0] & 3, 1u);
  EXPECT_EQ((r[0] >> 2 >> 12) & 0xFFF, 2u) << "header: two data words";
  EXPECT_EQ(r[1], (uint64_t{0x89ABCDEF} << 2) | 1);
  EXPECT_EQ(r[2], (uint64_t{0x01234567} << 2) | 3);

  // Temperature, one channel: 24.8 fixed point, decoded as a host would.
  s.command({{0, 0}, {0x1019, 1}, {1, 2}});
  r = s.response();
  ASSERT_EQ(r.size(), 2u);
  uint32_t d = static_cast<uint32_t>(r[1]);
  EXPECT_DOUBLE_EQ(((d >> 10) & 0xFF) + ((d >> 2) & 0xFF) / 256.0, 52.25);

  // Voltages on channels 2, 3, 4, 6 in channel order, 16.16 fixed point.
  s.command({{0, 0}, {0x1018, 1}, {0x5C, 2}});
  r = s.response();
  ASSERT_EQ(r.size(), 5u);
  auto volts = [](uint64_t e) { return ((e >> 18) & 0xFFFF) + ((e >> 2) & 0xFFFF) / 65536.0; };
  EXPECT_NEAR(volts(r[1]), 0.8125, 1e-4);
  EXPECT_NEAR(volts(r[2]), 1.8, 1e-4);
  EXPECT_NEAR(volts(r[3]), 1.75, 1e-4);
  EXPECT_NEAR(volts(r[4]), 0.9, 1e-4);
  EXPECT_EQ(r[4] & 3, 3u);

  // ECHO gives its argument back; an unknown command answers with an error code.
  s.command({{0, 0}, {0xF0001001, 1}, {0xE45578D9, 2}});
  r = s.response();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1] >> 2, 0xE45578D9u);
  s.command({{0x0777, 2}});
  r = s.response();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ((r[0] >> 2) & 0x7FF, 0x3FFu);
  EXPECT_EQ(r[1] & 3, 2u);
  // Nothing left: status 0.
  EXPECT_EQ(s.poll(), 0u);
}

TEST(IntelSdm, ResponsesWaitTheConfiguredPollsAndAbortClears) {
  Stratix s([](DeviceConfig& c) { c.sdmDelayPolls = 3; });
  s.command({{0, 0}, {0x12, 2}});
  EXPECT_EQ(s.poll(), 0u);
  EXPECT_EQ(s.poll(), 0u);
  EXPECT_EQ(s.poll(), 0u);
  EXPECT_EQ(s.poll() & 3, 1u);
  // Tag 3 drops the rest of that response and any half-written command.
  s.command({{0x1019, 1}, {0, 3}, {0, 2}});
  auto r = s.response();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1] & 3, 2u) << "NOOP: header and end marker only";
  // A header whose argument count disagrees with the words sent is refused.
  s.command({{0x2019, 1}, {1, 2}});
  r = s.response();
  EXPECT_EQ((r[0] >> 2) & 0x7FF, 0x002u);
}

std::vector<uint8_t> rbfFile(size_t size, void (*tweak)(varnbitgen::RbfOptions&) = nullptr) {
  varnbitgen::RbfOptions o;
  o.sizeBytes = size;
  if (tweak) tweak(o);
  return varnbitgen::makeRbf(o);
}

TEST(IntelSdm, StreamInChunksUntilTheWholeFileIsTaken) {
  FakeFactory ff;
  Stratix s(nullptr, ff.factory());
  auto file = rbfFile(10000);
  EXPECT_EQ(s.status(7), 0u) << "idle: not busy, nothing taken";
  ASSERT_TRUE(s.start());
  // Chunks of 2048 starting where the device says it is.
  for (int guard = 0; guard < 20; ++guard) {
    uint64_t st = s.status();
    ASSERT_EQ(st & 2, 0u);
    uint32_t offset = static_cast<uint32_t>(st) & ~3u;
    if (offset == file.size()) break;
    size_t n = std::min<size_t>(2048, file.size() - offset);
    s.chunk(file.data() + offset, n);
  }
  EXPECT_TRUE(s.dev_->configured());
  EXPECT_EQ(s.dev_->sdm().stream().taken, file.size());
  EXPECT_EQ(ff.made, 1);
  // CONFIG_STATUS: state 0, nStatus and nConfig high, MSEL 7, INIT_DONE and CONF_DONE.
  s.command({{0, 0}, {4, 2}});
  auto r = s.response();
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[1] >> 2, 0u);
  EXPECT_EQ(r[3] >> 2, 0xC0000007u);
  EXPECT_EQ(r[4] >> 2, 3u);
  EXPECT_EQ(r[7] & 3, 3u);
}

TEST(IntelSdm, BadFramingDeliversNothing) {
  Stratix s;
  auto file = rbfFile(4096);
  ASSERT_TRUE(s.start());
  s.chunk(file.data(), 1024, /*goodFraming=*/false);
  EXPECT_EQ(s.status() & ~3ull, 0u);
  s.chunk(file.data(), 1024, true, /*endBit=*/false);
  EXPECT_EQ(s.status() & ~3ull, 0u);
  // Bits ahead of the framing, as bypass registers on the TDI side put there, do not
  // matter.
  s.chunk(file.data(), 1024, true, true, /*junk=*/3);
  EXPECT_EQ(s.status() & ~3ull, 1024u);
  // A chunk that ends mid-word: the SDM takes whole words only.
  s.chunk(file.data() + 1024, 6);
  EXPECT_EQ(s.status() & ~3ull, 1028u);
  EXPECT_EQ(s.dev_->rejectedChunks(), 2u);
}

TEST(IntelSdm, BusyAndFailures) {
  {
    Stratix s([](DeviceConfig& c) { c.sdmBusyPolls = 2; });
    auto file = rbfFile(4096);
    ASSERT_TRUE(s.start());
    s.chunk(file.data(), 2048);
    EXPECT_EQ(s.status() & 1, 1u);
    // Data sent while busy is not taken.
    s.chunk(file.data() + 2048, 2048);
    EXPECT_EQ(s.status() & 1, 1u);
    uint64_t st = s.status();
    EXPECT_EQ(st, 2048u);
  }
  {
    Stratix s([](DeviceConfig& c) { c.sdmBusyPolls = -1; });
    ASSERT_TRUE(s.start());
    for (int i = 0; i < 100; ++i) ASSERT_EQ(s.status() & 1, 1u);
  }
  {
    Stratix s([](DeviceConfig& c) { c.sdmFail = SdmFail::Start; });
    s.command({{5, 2}});
    auto r = s.response();
    ASSERT_EQ(r.size(), 2u);
    auto last = s.response();
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0], 7u) << "status 3 with a non-zero code";
    EXPECT_FALSE(s.dev_->sdm().accepting());
  }
  {
    Stratix s([](DeviceConfig& c) { c.sdmFail = SdmFail::Program; });
    auto file = rbfFile(4096);
    ASSERT_TRUE(s.start());
    s.chunk(file.data(), 2048);
    EXPECT_EQ(s.status() & 2, 2u);
  }
  // Stream faults: wrong part, corrupt data, truncated file.
  auto run = [](const std::vector<uint8_t>& f, uint64_t* statusOut) {
    Stratix s;
    EXPECT_TRUE(s.start());
    for (size_t off = 0; off < f.size(); off += 2048) s.chunk(f.data() + off, std::min<size_t>(2048, f.size() - off));
    *statusOut = s.status();
    s.command({{0, 0}, {4, 2}});
    auto r = s.response();
    return r.size() > 6 ? static_cast<uint32_t>(r[6] >> 2) : 0xFFFFFFFFu;
  };
  uint64_t st = 0;
  EXPECT_EQ(run(rbfFile(8192, [](auto& o) { o.idcode = 0x032AC0DD; }), &st), rbf::kErrPart);
  EXPECT_EQ(st & 2, 2u);
  EXPECT_EQ(run(rbfFile(8192, [](auto& o) { o.corrupt = true; }), &st), rbf::kErrCrc);
  EXPECT_EQ(st & 2, 2u);
  EXPECT_EQ(run(rbfFile(8192, [](auto& o) { o.truncateTo = 6000; }), &st), 0u);
  EXPECT_EQ(st, 6000u) << "everything taken, nothing failed, and yet not configured";
}

}  // namespace
}  // namespace varnsim::test
