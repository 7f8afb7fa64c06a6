// The packet reassembler fed directly, chunk by chunk, on a link that has no thread.
#include <gtest/gtest.h>

#include <memory>

#include "coe/coe_link_internal.h"
#include "testsupport/coe/coe_test_support.h"

using namespace coetest;

namespace {

struct BareLink {
  BareLink() : link(new _VNCoELink()) {}
  ~BareLink() { delete link; }
  // A request waiting in slot i for an answer with this tag.
  void wait(uint32_t i, uint16_t tag, uint8_t* buffer, uint32_t capacity) {
    CoeTransaction& t = link->slots[i];
    t = CoeTransaction{};
    t.inUse = t.sent = 1;
    t.tag = tag;
    t.answerData = buffer;
    t.answerCapacity = capacity;
    t.sequence = ++link->nextSequence;
  }
  void feed(const std::vector<uint8_t>& v, size_t from, size_t to) {
    _VNCoELinkParsePacket(link, v.data() + from, uint32_t(to - from));
  }
  _VNCoELink* link;
};

TEST(CoEParse, EverySplitOfAPacketReassemblesToTheSameAnswer) {
  LogCapture::get();
  std::vector<uint8_t> payload;
  for (int i = 0; i < 40; i++) payload.push_back(uint8_t(i * 3));
  std::vector<uint8_t> wire = encode(1, VN_COE_ANSWER, 0xBEEF, payload);
  for (size_t a = 1; a < wire.size(); a++) {
    for (size_t b = a; b < wire.size(); b += 5) {
      BareLink bl;
      uint8_t out[64] = {};
      bl.wait(0, 1, out, sizeof(out));
      bl.feed(wire, 0, a);
      bl.feed(wire, a, b);
      ASSERT_EQ(bl.link->slots[0].done, 0) << a << "," << b;
      bl.feed(wire, b, wire.size());
      ASSERT_EQ(bl.link->slots[0].done, 1) << a << "," << b;
      EXPECT_EQ(bl.link->slots[0].answerWord, 0xBEEF);
      ASSERT_EQ(bl.link->slots[0].answerLen, 40u);
      EXPECT_EQ(std::vector<uint8_t>(out, out + 40), payload);
      EXPECT_EQ(bl.link->rxLen, 0u);
    }
  }
}

TEST(CoEParse, ThreeThenFourThenRestDispatchesOnce) {
  LogCapture::get();
  BareLink bl;
  uint8_t a[8], b[8];
  bl.wait(0, 1, a, sizeof(a));
  bl.wait(1, 1, b, sizeof(b));
  std::vector<uint8_t> wire = encode(1, VN_COE_ANSWER, 0, {5});
  bl.feed(wire, 0, 3);
  bl.feed(wire, 3, 7);
  bl.feed(wire, 7, wire.size());
  EXPECT_EQ(bl.link->slots[0].done, 1);
  EXPECT_EQ(bl.link->slots[1].done, 0);  // the second waiter got nothing
}

TEST(CoEParse, ChunkWithTwoPacketsAndTheStartOfAThird) {
  LogCapture::get();
  BareLink bl;
  uint8_t a[8], b[8], c[8];
  bl.wait(0, 1, a, 8);
  bl.wait(1, 2, b, 8);
  bl.wait(2, 17, c, 8);
  std::vector<uint8_t> wire = encode(2, VN_COE_ANSWER, 0, {2});
  for (auto& part : {encode(1, VN_COE_ANSWER, 0, {1}), encode(17, VN_COE_ANSWER, 0, {17, 17})})
    wire.insert(wire.end(), part.begin(), part.end());
  bl.feed(wire, 0, wire.size() - 4);
  EXPECT_EQ(bl.link->slots[0].done, 1);
  EXPECT_EQ(bl.link->slots[1].done, 1);
  EXPECT_EQ(bl.link->slots[2].done, 0);
  bl.feed(wire, wire.size() - 4, wire.size());
  EXPECT_EQ(bl.link->slots[2].done, 1);
  EXPECT_EQ(c[1], 17);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(b[0], 2);
}

TEST(CoEParse, OutOfRangeLengthDropsTheRestOfTheChunkButNotTheNextOne) {
  LogCapture& log = LogCapture::get();
  for (uint16_t bad : {uint16_t(0), uint16_t(5), uint16_t(4097), uint16_t(0xFFFF)}) {
    size_t mark = log.mark();
    BareLink bl;
    uint8_t out[8] = {};
    bl.wait(0, 1, out, 8);
    std::vector<uint8_t> wire = encode(1, VN_COE_ANSWER, 0, {1, 2, 3, 4, 5, 6, 7, 8});
    wire[0] = uint8_t(bad);
    wire[1] = uint8_t(bad >> 8);
    std::vector<uint8_t> good = encode(1, VN_COE_ANSWER, 0, {9});
    std::vector<uint8_t> chunk = wire;
    chunk.insert(chunk.end(), good.begin(), good.end());  // lost with the bad packet
    bl.feed(chunk, 0, chunk.size());
    EXPECT_EQ(bl.link->slots[0].done, 0) << bad;
    EXPECT_EQ(bl.link->rxLen, 0u) << bad;
    bl.feed(good, 0, good.size());
    EXPECT_EQ(bl.link->slots[0].done, 1) << bad;
    EXPECT_EQ(out[0], 9);
    std::string text = log.since(mark);
    if (bad > 4096)
      EXPECT_NE(text.find("ERROR: RX buffer Overflow!\n"), std::string::npos);
    else
      EXPECT_NE(text.find("packet length " + std::to_string(bad) + " is shorter than its header, dropping 25 bytes"),
                std::string::npos)
          << text;
  }
}

TEST(CoEParse, LargestPacketFitsAndAnEmptyUartPacketIsReported) {
  LogCapture& log = LogCapture::get();
  size_t mark = log.mark();
  BareLink bl;
  static uint8_t out[4096];
  bl.wait(0, 1, out, sizeof(out));
  std::vector<uint8_t> payload(4088, 0xA5);
  std::vector<uint8_t> wire = encode(1, VN_COE_ANSWER, 0, payload);
  bl.feed(wire, 0, wire.size());
  EXPECT_EQ(bl.link->slots[0].answerLen, 4088u);
  std::vector<uint8_t> empty = encode(0, 0x1205, 0, {});
  bl.feed(empty, 0, empty.size());
  EXPECT_NE(log.since(mark).find("Missing UART Bus!\n"), std::string::npos);
  EXPECT_EQ(log.since(mark).find("Overflow"), std::string::npos);
}

}  // namespace

#include "app/settings/varn_settings.h"
#include "fuzz/coe/link_rx_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

// The fuzz body over pseudo-random streams built from valid and broken packets.
TEST(CoEParse, RandomStreamsKeepEveryBound) {
  LogCapture::get();
  bool gui = gUseGUI;
  gUseGUI = true;  // thousands of log lines: into the ring
  uint32_t x = 2024;
  auto next = [&] { return (x = x * 1664525u + 1013904223u) >> 8; };
  for (int round = 0; round < 1500; round++) {
    std::vector<uint8_t> in = {uint8_t(next())};
    while (in.size() < 6000) {
      uint32_t kind = next() % 5;
      uint16_t len = kind == 0 ? uint16_t(next() % 8) : kind == 1 ? uint16_t(4096 + next() % 100) : uint16_t(8 + next() % 300);
      uint16_t cmd = (const uint16_t[]){0x000A, 0x000E, 0x1205, 0x1206, 0x4242}[next() % 5];
      std::vector<uint8_t> payload(len >= 8 ? len - 8u : next() % 12);
      for (auto& b : payload) b = uint8_t(next());
      std::vector<uint8_t> p = encode(uint16_t(next() % 6), cmd, 0, payload);
      p[0] = uint8_t(len);
      p[1] = uint8_t(len >> 8);
      if (kind == 4) p.resize(next() % p.size());  // torn
      in.insert(in.end(), p.begin(), p.end());
    }
    ASSERT_TRUE(varnCoELinkRxFuzzOne(in.data(), in.size())) << "round " << round;
  }
  gUseGUI = gui;
}

// The seed corpus the fuzzer starts from.
TEST(CoEParse, EverySeedKeepsEveryBound) {
  LogCapture::get();
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_COE_LINK_RX_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    EXPECT_TRUE(varnCoELinkRxFuzzOne(in.data(), in.size())) << seed.name;
    ++seeds;
  }
  EXPECT_GE(seeds, 10u);
}

}  // namespace
