// Replays the AXI bridge fuzzer's seeds through its own body, so that its properties
// hold in every ordinary test run: answers return to the client that asked, in its
// order and under its own numbers; interrupts follow the masks; a refused bulk write
// closes only its client; no number stays in use.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/axi/bridge_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

TEST(AxiBridgeFuzzReplay, EverySeedGetsItsOwnAnswersBack) {
  // Answers (interrupts included) and closed clients each seed must give.
  const std::map<std::string, std::pair<size_t, int>> outcome = {
      {"one_client_requests", {3, 0}}, {"two_clients_pipelined", {40, 0}}, {"bulk_write", {2, 0}},
      {"bulk_refused", {2, 1}},        {"interrupt_masks", {2, 0}},        {"garbage_between", {2, 0}},
      {"sealed_blocks", {15, 0}}};
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_AXI_BRIDGE_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    const bridgefuzz::Result r = bridgefuzz::fuzzOne(in.data(), in.size());
    EXPECT_TRUE(r.consistent) << seed.name << " (VARN_FUZZ_DEBUG=1 says which property broke)";
    const auto want = outcome.find(seed.name);
    if (want == outcome.end()) continue;
    ++seeds;
    EXPECT_EQ(r.answers, want->second.first) << seed.name;
    EXPECT_EQ(r.refused, want->second.second) << seed.name;
  }
  EXPECT_EQ(seeds, outcome.size());
}

}  // namespace
