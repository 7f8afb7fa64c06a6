// Replays crafted inputs through the same entry point as the fuzzer, so that the
// properties it checks hold in every ordinary test run too.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fuzz/axi/assembler_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

std::vector<uint8_t> craftedPacket(uint8_t cmd, uint8_t seq) {
  std::vector<uint8_t> p(16);
  _VARNAXIMakePacket(p.data(), cmd, seq, 0x1234, 0x5678);
  return p;
}

TEST(AxiAssemblerReplay, CraftedInputsKeepTheAssemblerInvariants) {
  std::vector<std::vector<uint8_t>> inputs;
  inputs.push_back({});
  inputs.push_back({0x00});
  inputs.push_back(std::vector<uint8_t>(15, 0xFF));
  inputs.push_back(std::vector<uint8_t>(4096, 0x00));
  auto p = craftedPacket(0x02, 9);
  std::vector<uint8_t> many;
  for (int i = 0; i < 50; ++i) {
    many.insert(many.end(), p.begin(), p.end());
    if (i % 7 == 0) many.push_back(uint8_t(i));
  }
  inputs.push_back(many);
  std::vector<uint8_t> tail = p;
  tail.pop_back();
  inputs.push_back(tail);
  // The fuzzer's first byte picks how the rest is cut into feeds.
  for (uint8_t pattern : {0x00, 0x05, 0x0F, 0x24, 0x80, 0xC3}) {
    for (const auto& in : inputs) {
      std::vector<uint8_t> fuzzInput(1 + in.size());
      fuzzInput[0] = pattern;
      std::copy(in.begin(), in.end(), fuzzInput.begin() + 1);
      VarnAssemblerFuzzResult r = varnAssemblerFuzzOne(fuzzInput.data(), fuzzInput.size());
      EXPECT_TRUE(r.consistent) << "input of " << in.size() << " bytes, pattern " << int(pattern);
      if (&in == &inputs[4]) {
        EXPECT_EQ(r.packets, 50u) << "pattern " << int(pattern);
      }
    }
  }
}

// The seed corpus the fuzzer starts from (the first byte of each picks the cuts).
TEST(AxiAssemblerReplay, EverySeedKeepsTheAssemblerInvariants) {
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_AXI_ASSEMBLER_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    EXPECT_TRUE(varnAssemblerFuzzOne(in.data(), in.size()).consistent) << seed.name;
    ++seeds;
  }
  EXPECT_GE(seeds, 10u);
}

}  // namespace
