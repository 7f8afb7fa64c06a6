// Replays the controller fuzzer's seed corpus through the fuzzer's own body in every
// piece size from 1 to 64, so that its properties hold in every ordinary test run.
#include <gtest/gtest.h>

#include <vector>

#include "fuzz/controller/controller_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

TEST(ControllerFuzzReplay, EverySeedInEveryPieceSizeAnswersWithWellFormedPackets) {
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_CONTROLLER_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    ++seeds;
    size_t requests = 0;
    for (size_t piece = 1; piece <= 64; ++piece) {
      const VarnControllerFuzzResult r = varnControllerFuzzOne(in.data(), in.size(), piece);
      EXPECT_TRUE(r.consistent) << seed.name << " in pieces of " << piece;
      if (piece == 1) requests = r.requests;
      EXPECT_EQ(r.requests, requests) << seed.name << ": the cut changed what was served, piece " << piece;
    }
    EXPECT_GT(requests, 0u) << seed.name;
  }
  EXPECT_GE(seeds, 5u);
}

}  // namespace
