// Replays the XVC fuzzer's seed corpus through the fuzzer's own body (every piece size
// from 1 to 64), so that its properties hold in every ordinary test run: the replies do
// not depend on how the stream is cut and are the ones XVC 1.0 asks for.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fuzz/xvc/xvc_stream_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

TEST(XvcStreamReplay, EverySeedGivesTheProtocolsRepliesWhateverTheCut) {
  // Reply bytes each seed must draw: the server's 20-byte line, periods, TDO bytes.
  const std::map<std::string, size_t> replyBytes = {
      {"session", 20 + 4 + 1 + 2 + 5}, {"long_runs", 64},       {"all_zero_tms", 125},
      {"zero_and_odd_bits", 3},        {"negative_length", 20}, {"unknown_command", 4},
      {"cut_shift", 20}};
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_XVC_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    const xvcfuzz::Result r = xvcfuzz::fuzzOne(in.data(), in.size());
    EXPECT_TRUE(r.consistent) << seed.name;
    const auto want = replyBytes.find(seed.name);
    if (want != replyBytes.end()) {
      ++seeds;
      EXPECT_EQ(r.replyBytes, want->second) << seed.name;
    }
  }
  EXPECT_EQ(seeds, replyBytes.size());
}

}  // namespace
