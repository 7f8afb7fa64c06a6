// The CDMA engine in simple mode: register behaviour, timing, chunked copies through
// the staging memory and the sparse RAM, errors and its interrupt.
#include <gtest/gtest.h>

#include <vector>

#include "sim/design/axi_master_app.h"
#include "sim/design/axi_system.h"
#include "sim/design/tests/axi_frames.h"

namespace varnsim {
namespace {

using namespace test;

constexpr uint64_t C = axiaddr::kCdmaBase;

struct Engine {
  explicit Engine(DesignOptions o = {}) : d(makeAxiDesign(o)), s(d->axiSystem()->space()) {}
  uint32_t rd(uint64_t a) {
    uint32_t v = 0;
    EXPECT_EQ(s.read32(a, &v), AxiResp::Okay);
    return v;
  }
  void wr(uint64_t a, uint32_t v) { EXPECT_EQ(s.write32(a, v), AxiResp::Okay); }
  void program(uint64_t src, uint64_t dst, uint32_t n) {
    wr(C + 0x18, static_cast<uint32_t>(src));
    wr(C + 0x1C, static_cast<uint32_t>(src >> 32));
    wr(C + 0x20, static_cast<uint32_t>(dst));
    wr(C + 0x24, static_cast<uint32_t>(dst >> 32));
    wr(C + 0x28, n);
  }
  // Polls the status as a host does, letting simulated time pass between polls.
  uint32_t waitDone(int* polls = nullptr, uint64_t stepNs = 20'000) {
    for (int i = 0; i < 1'000'000; ++i) {
      uint32_t st = rd(C + 0x04);
      if (polls) *polls = i + 1;
      if (st & 0x72) return st;
      d->advance(stepNs);
    }
    return 0;
  }
  std::unique_ptr<Design> d;
  AxiSpace& s;
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return v;
}

TEST(Cdma, ResetStateAndResetBit) {
  Engine e;
  EXPECT_EQ(e.rd(C + 0x04), 0x02u);  // idle
  e.program(0, 0x1000, 0);           // zero length: internal error, engine halted
  EXPECT_EQ(e.rd(C + 0x04) & 0x12, 0x10u);
  e.wr(C + 0x00, 0x4);
  EXPECT_EQ(e.rd(C + 0x04), 0x02u);
  EXPECT_EQ(e.rd(C + 0x28), 0u);
}

TEST(Cdma, TransferTakesSimulatedTimeAndLandsWhenIdle) {
  Engine e(DesignOptions{{"cdma_mbps", "100"}});  // 64 KiB in about 655 us
  auto data = pattern(0x10000, 3);
  ASSERT_EQ(e.s.writeBlock(axiaddr::kStagingLink, data.data(), data.size()), AxiResp::Okay);
  e.program(axiaddr::kStagingEngine, 0x1000'0000, 0x10000);
  EXPECT_EQ(e.rd(C + 0x04) & 0x02, 0u);  // busy
  e.d->advance(300'000);
  EXPECT_EQ(e.rd(C + 0x04) & 0x02, 0u);
  int polls = 0;
  uint32_t st = e.waitDone(&polls);
  EXPECT_EQ(st & 0x72, 0x02u);
  EXPECT_GT(polls, 5);
  std::vector<uint8_t> back(0x10000);
  ASSERT_EQ(e.s.readBlock(0x1000'0000, back.data(), back.size()), AxiResp::Okay);
  EXPECT_EQ(back, data);
  e.wr(C + 0x28, 16);  // a new start after completion is accepted
  EXPECT_EQ(e.rd(C + 0x04) & 0x02, 0u);
}

TEST(Cdma, ChunkedWriteThroughStagingThenReadBack) {
  // Host to AXI in chunks of 64 KiB through the staging memory, then AXI to host back
  // through it, the way a link moves 0x18000 bytes.
  Engine e;
  const uint64_t dst = 0x3'4000'0000ull;
  auto data = pattern(0x18000, 9);
  e.wr(C, 4);
  for (uint32_t o = 0; o < data.size(); o += 0x10000) {
    uint32_t n = std::min<uint32_t>(0x10000, static_cast<uint32_t>(data.size() - o));
    ASSERT_EQ(e.s.writeBlock(axiaddr::kStagingLink, data.data() + o, n), AxiResp::Okay);
    e.program(axiaddr::kStagingEngine, dst + o, n);
    ASSERT_EQ(e.waitDone() & 0x72, 0x02u);
  }
  std::vector<uint8_t> back(data.size());
  for (uint32_t o = 0; o < data.size(); o += 0x10000) {
    uint32_t n = std::min<uint32_t>(0x10000, static_cast<uint32_t>(data.size() - o));
    e.program(dst + o, axiaddr::kStagingEngine, n);
    ASSERT_EQ(e.waitDone() & 0x72, 0x02u);
    for (uint32_t w = 0; w < n; w += 4) {
      uint32_t v = e.rd(axiaddr::kStagingLink + w);
      for (int b = 0; b < 4; ++b) back[o + w + b] = static_cast<uint8_t>(v >> (8 * b));
    }
  }
  EXPECT_EQ(back, data);
  EXPECT_EQ(e.d->axiSystem()->cdma().counters().transfers, 4u);
}

TEST(Cdma, LargeCopiesInSparseMemoryStaySparse) {
  Engine e(DesignOptions{{"cdma_mbps", "100000"}});
  const uint64_t src = 0x1'0000'0000ull, dst = 0x8'0000'0000ull;
  auto head = pattern(4096, 1), tail = pattern(4096, 2);
  ASSERT_EQ(e.s.writeBlock(src, head.data(), head.size()), AxiResp::Okay);
  ASSERT_EQ(e.s.writeBlock(src + 0x2FFF000, tail.data(), tail.size()), AxiResp::Okay);
  size_t before = e.d->axiSystem()->ram().backedPages();
  // 48 MiB as one 32 MiB and one 16 MiB transfer.
  e.program(src, dst, 0x2000000);
  ASSERT_EQ(e.waitDone(nullptr, 1'000'000) & 0x72, 0x02u);
  e.program(src + 0x2000000, dst + 0x2000000, 0x1000000);
  ASSERT_EQ(e.waitDone(nullptr, 1'000'000) & 0x72, 0x02u);
  std::vector<uint8_t> got(4096);
  ASSERT_EQ(e.s.readBlock(dst, got.data(), got.size()), AxiResp::Okay);
  EXPECT_EQ(got, head);
  ASSERT_EQ(e.s.readBlock(dst + 0x2FFF000, got.data(), got.size()), AxiResp::Okay);
  EXPECT_EQ(got, tail);
  EXPECT_EQ(e.d->axiSystem()->ram().backedPages(), before + 2);  // zeros were not backed
}

TEST(Cdma, ErrorsHaltTheEngineUntilReset) {
  Engine e;
  e.d->axiSystem()->cdma().injectFault(CdmaFault::Slave);
  e.program(axiaddr::kStagingEngine, 0x1000, 64);
  EXPECT_EQ(e.waitDone() & 0x72, 0x20u);
  e.wr(C + 0x28, 64);  // ignored while halted
  EXPECT_EQ(e.d->axiSystem()->cdma().counters().startsWhileBusy, 1u);
  e.wr(C, 4);
  EXPECT_EQ(e.rd(C + 0x04), 0x02u);

  e.program(axiaddr::kStagingEngine, 0x50'0000'0000ull, 64);  // beyond the RAM
  EXPECT_EQ(e.waitDone() & 0x72, 0x40u);
  e.wr(C, 4);
  e.program(axiaddr::kLrIicBase, 0x1000, 64);  // register windows are not memory
  EXPECT_EQ(e.waitDone() & 0x72, 0x40u);
  e.wr(C, 4);
  e.d->axiSystem()->cdma().injectFault(CdmaFault::Decode);
  e.program(axiaddr::kStagingEngine, 0x1000, 64);
  EXPECT_EQ(e.waitDone() & 0x72, 0x40u);
  e.wr(C, 4);
  // The fault was for one transfer only.
  e.program(axiaddr::kStagingEngine, 0x1000, 64);
  EXPECT_EQ(e.waitDone() & 0x72, 0x02u);
}

TEST(Cdma, CompletionInterruptReachesTheHostAsAFrame) {
  Engine e;
  e.wr(C, 0x1000);  // IOC_IrqEn
  e.program(axiaddr::kStagingEngine, 0x1000, 64);
  ASSERT_EQ(e.waitDone() & 0x02, 0x02u);
  auto f = drainFrames(*e.d);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][0], 0x17);
  EXPECT_EQ(frameAddress(f[0]) & 0x1002, 0x1002u);  // the status: idle and IOC_Irq
  e.wr(C + 0x04, 0x1000);                            // write one to clear
  EXPECT_EQ(e.rd(C + 0x04), 0x02u);
}

TEST(Cdma, WordSwappedBulkPiecesRoundTripHostWords) {
  // A host sends its little-endian words byte-reversed as bulk pieces into the staging
  // memory, checks the CRC answer, copies with the engine and reads words back.
  auto d = makeAxiDesign();
  std::vector<uint32_t> words(992 * 2);
  for (size_t i = 0; i < words.size(); ++i) words[i] = 0x01020304u * static_cast<uint32_t>(i + 1);
  std::vector<uint8_t> wire;
  for (uint32_t w : words)
    for (int b = 3; b >= 0; --b) wire.push_back(static_cast<uint8_t>(w >> (8 * b)));
  for (size_t off = 0; off < wire.size(); off += 3968) {
    send(*d, makeFrame(0x42, 1, axiaddr::kStagingLink + off, 3968));
    send(*d, wire.data() + off, 3968);
    AxiFrame a = drainFrames(*d).at(0);
    EXPECT_EQ(a[0], 0x02);
    EXPECT_EQ(frameData(a), crc32Ieee(wire.data() + off, 3968));
  }
  for (auto [reg, v] : {std::pair<uint32_t, uint32_t>{0x18, 0}, {0x1C, 2}, {0x20, 0x7000}, {0x24, 0},
                        {0x28, static_cast<uint32_t>(wire.size())}})
    axiWrite(*d, C + reg, v);
  uint8_t cmd = 0;
  for (int i = 0; i < 1000 && !(axiRead(*d, C + 4, &cmd) & 0x02); ++i) d->advance(10'000);
  for (size_t i = 0; i < words.size(); i += 97) EXPECT_EQ(axiRead(*d, 0x7000 + 4 * i), words[i]) << i;
}

}  // namespace
}  // namespace varnsim
