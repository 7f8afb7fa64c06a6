#include <gtest/gtest.h>

#include <vector>

#include "tools/varn_board_sim/board_sim_axi.h"

namespace varnsim {
namespace {

bool parseAll(std::vector<const char*> a, AxiSimArgs* out, std::string* err) {
  std::vector<char*> argv;
  for (const char* s : a) argv.push_back(const_cast<char*>(s));
  int argc = static_cast<int>(argv.size());
  for (int i = 0; i < argc;) {
    int used = parseAxiArg(argc, argv.data(), i, out, err);
    if (used <= 0) {
      if (used == 0) *err = std::string("unknown ") + argv[i];
      return false;
    }
    i += used;
  }
  return true;
}

TEST(BoardSimArgs, OptionsBeforeTheFirstPortAreDefaultsAfterItPerEndpoint) {
  AxiSimArgs a;
  std::string err;
  ASSERT_TRUE(parseAll({"--family", "zk", "--late-ms", "5", "--axi-port", "5000", "--axi-port", "5001", "--family",
                        "lr", "--opt", "vccint=0.9", "--close-after", "64"},
                       &a, &err))
      << err;
  ASSERT_EQ(a.endpoints.size(), 2u);
  EXPECT_EQ(a.endpoints[0].port, 5000);
  EXPECT_EQ(a.endpoints[0].design.at("family"), "zk");
  EXPECT_EQ(a.endpoints[0].design.at("app"), "axi");
  EXPECT_EQ(a.endpoints[0].faults.answerDelayMs, 5u);
  EXPECT_EQ(a.endpoints[0].faults.closeAfterBytes, -1);
  EXPECT_EQ(a.endpoints[1].design.at("family"), "lr");
  EXPECT_EQ(a.endpoints[1].design.at("vccint"), "0.9");
  EXPECT_EQ(a.endpoints[1].faults.closeAfterBytes, 64);
  EXPECT_EQ(a.endpoints[1].faults.answerDelayMs, 5u);
}

TEST(BoardSimArgs, BadValuesNameTheOption) {
  for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
           {"--axi-port", "70000"}, {"--axi-port"}, {"--opt", "novalue"}, {"--bind", "localhost"},
           {"--late-ms", "-1"}, {"--corrupt-at", "x"}}) {
    AxiSimArgs a;
    std::string err;
    EXPECT_FALSE(parseAll(bad, &a, &err));
    EXPECT_NE(err.find(bad[0]), std::string::npos) << err;
  }
}

TEST(BoardSimArgs, StartRefusesBadDesignOptionsAndServesGoodOnes) {
  AxiSimArgs a;
  std::string err;
  ASSERT_TRUE(parseAll({"--axi-port", "0", "--opt", "fifo_in=1"}, &a, &err));
  std::vector<std::unique_ptr<AxiEndpoint>> eps;
  EXPECT_FALSE(startAxiEndpoints(a, false, &eps, &err));
  EXPECT_NE(err.find("fifo_in"), std::string::npos) << err;
  a = {};
  ASSERT_TRUE(parseAll({"--axi-port", "0", "--axi-port", "0", "--family", "zk"}, &a, &err));
  ASSERT_TRUE(startAxiEndpoints(a, false, &eps, &err)) << err;
  ASSERT_EQ(eps.size(), 2u);
  EXPECT_NE(eps[0]->port(), eps[1]->port());
}

}  // namespace
}  // namespace varnsim
