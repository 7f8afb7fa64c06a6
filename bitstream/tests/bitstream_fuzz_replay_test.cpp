// Replays the bitstream fuzzer's seeds through its own body: identification within the
// first 1024 bytes decides validation, a header that declares more than the file holds
// stops the load before the device is touched, and every other file reaches the
// configuration register whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz/bitstream/bitstream_fuzz_body.h"

namespace {

TEST(BitstreamFuzzReplay, EverySeedIsJudgedByItsIdentificationAndLoadedWholeOrNotAtAll) {
  const std::map<std::string, int> validation = {{"vu9p", 0},       {"vu35p", 7},
                                                 {"encrypted_vu9p", 0}, {"declares_more", 0},
                                                 {"raw_stream", 0}, {"identification_too_late", 4},
                                                 {"empty", 4}};
  varn_bit_set_coe_status_pause_ms(0);
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VARN_BITSTREAM_CORPUS)) {
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const bitfuzz::Result r = bitfuzz::fuzzOne(in.data(), in.size());
    EXPECT_TRUE(r.consistent) << entry.path();
    const std::string name = entry.path().filename().string();
    if (name == "declares_more") {
      EXPECT_EQ(r.load, 6);
    }
    const auto want = validation.find(name);
    if (want == validation.end()) continue;
    ++seeds;
    EXPECT_EQ(r.validation, want->second) << entry.path();
  }
  EXPECT_EQ(seeds, validation.size());
  varn_bit_set_coe_status_pause_ms(1000);
}

}  // namespace
