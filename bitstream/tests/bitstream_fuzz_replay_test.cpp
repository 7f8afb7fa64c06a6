// Replays the bitstream fuzzer's seeds through its own body: identification within the
// first 1024 bytes decides validation, a header that declares more than the file holds
// stops the load before the device is touched, and every other file reaches the
// configuration register whole.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fuzz/bitstream/bitstream_fuzz_body.h"
#include "testsupport/corpus.h"

namespace {

TEST(BitstreamFuzzReplay, EverySeedIsJudgedByItsIdentificationAndLoadedWholeOrNotAtAll) {
  const std::map<std::string, int> validation = {{"vu9p", 0},       {"vu35p", 7},
                                                 {"encrypted_vu9p", 0}, {"declares_more", 0},
                                                 {"raw_stream", 0}, {"identification_too_late", 4},
                                                 {"empty", 4}};
  varn_bit_set_coe_status_pause_ms(0);
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_BITSTREAM_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    const bitfuzz::Result r = bitfuzz::fuzzOne(in.data(), in.size());
    EXPECT_TRUE(r.consistent) << seed.name;
    const std::string name = seed.name;
    if (name == "declares_more") {
      EXPECT_EQ(r.load, 6);
    }
    const auto want = validation.find(name);
    if (want == validation.end()) continue;
    ++seeds;
    EXPECT_EQ(r.validation, want->second) << seed.name;
  }
  EXPECT_EQ(seeds, validation.size());
  varn_bit_set_coe_status_pause_ms(1000);
}

}  // namespace
