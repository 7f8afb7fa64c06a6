// Replays the command-line fuzzer's seed corpus and a few hostile texts through the
// fuzzer's own body, so that its properties hold in every ordinary test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/cli/cli_fuzz_body.h"

namespace {

VarnCliFuzzResult run(const std::string& text) {
  return varnCliFuzzOne(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(CliFuzzReplay, SeedsAndHostileListsKeepTheParserSane) {
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VARN_CLI_CORPUS)) {
    std::ifstream f(entry.path(), std::ios::binary);
    const std::string in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const VarnCliFuzzResult r = run(in);
    EXPECT_TRUE(r.consistent) << entry.path();
    EXPECT_FALSE(r.skipped) << entry.path();
    if (entry.path().filename() == "odd") {
      EXPECT_EQ(r.refused, 2) << "-Z and a -p without its port";
    }
    ++seeds;
  }
  EXPECT_GE(seeds, 4u);
  // Not numbers, huge numbers, many commas and colons: each must parse to a value that
  // the range checks judge, never one that slips through as in range.
  const std::string hostile[] = {std::string("-v\0nan", 6), std::string("-y\0inf,-inf:nan", 15),
                                 std::string("-w\0") + std::string(5000, ','), std::string("-v\0") + std::string(300, '9'),
                                 std::string("-v\0:::::::::", 12), std::string("-p\0") + std::string(40, '9')};
  for (const std::string& h : hostile) EXPECT_TRUE(run(h).consistent) << h.substr(0, 40);
  EXPECT_TRUE(run(std::string("-qf\0/tmp/x", 10)).skipped) << "a command line that would create a file is left out";
}

}  // namespace
