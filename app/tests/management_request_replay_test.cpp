// Replays the management-request fuzzer's seeds through its own body: requests are
// raised only by what a received piece holds, whole load requests alone change the
// reported name, and the client's slot is freed when it leaves.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "fuzz/mgmt/request_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

TEST(ManagementRequestReplay, EverySeedRaisesTheRequestsItsPiecesHold) {
  // Device lists, telemetry requests and loads each seed must raise.
  const std::map<std::string, std::array<int, 3>> raised = {{"each_alone", {2, 1, 0}},
                                                            {"together", {1, 1, 1}},
                                                            {"load_cut", {0, 0, 0}},
                                                            {"load_long_name", {0, 0, 0}},
                                                            {"garbage_then_request", {0, 1, 0}}};
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_MGMT_REQUEST_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    const VarnMgmtRequestFuzzResult r = varnMgmtRequestFuzzOne(in.data(), in.size());
    EXPECT_TRUE(r.consistent) << seed.name;
    const auto want = raised.find(seed.name);
    if (want == raised.end()) continue;
    ++seeds;
    EXPECT_EQ((std::array<int, 3>{r.deviceLists, r.telemetries, r.loads}), want->second) << seed.name;
  }
  EXPECT_EQ(seeds, raised.size());
}

}  // namespace
