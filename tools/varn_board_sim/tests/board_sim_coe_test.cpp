#include <gtest/gtest.h>

#include <vector>

#include "tools/varn_board_sim/board_sim_coe.h"

namespace varnsim {
namespace {

bool parseCoe(std::vector<const char*> a, CoeSimArgs* out, std::string* err) {
  std::vector<char*> argv;
  for (const char* s : a) argv.push_back(const_cast<char*>(s));
  int argc = static_cast<int>(argv.size());
  for (int i = 0; i < argc;) {
    int used = parseCoeArg(argc, argv.data(), i, out, err);
    if (used <= 0) {
      if (used == 0) *err = std::string("unknown ") + argv[i];
      return false;
    }
    i += used;
  }
  return true;
}

TEST(BoardSimCoe, BoardsTakeTheirFpgasAndSettings) {
  CoeSimArgs a;
  std::string err;
  ASSERT_TRUE(parseCoe({"--coe-board", "--coe-fpga", "vu35p,module=0x0C47,app=console", "--coe-fpga", "VU9P,slot=3,vrm=no",
                        "--coe-board", "127.0.0.9", "--coe-port", "0", "--coe-idcodes", "0x04B31093,0x04B31093",
                        "--coe-fpga", "mx2100,fuse=0x1234"},
                       &a, &err))
      << err;
  ASSERT_EQ(a.boards.size(), 2u);
  EXPECT_EQ(a.boards[0].address, "");
  ASSERT_EQ(a.boards[0].fpgas.size(), 2u);
  EXPECT_STREQ(a.boards[0].fpgas[0].device.part->name, "VU35P");
  EXPECT_EQ(a.boards[0].fpgas[0].power.moduleId, 0x0C47);
  EXPECT_EQ(a.boards[0].fpgas[0].device.design.at("app"), "console");
  EXPECT_TRUE(a.boards[0].fpgas[0].power.layout == VrmLayout::Vu3xP);
  EXPECT_EQ(a.boards[0].fpgas[1].slot, 3);
  EXPECT_FALSE(a.boards[0].fpgas[1].regulators);
  EXPECT_TRUE(a.boards[0].fpgas[1].power.layout == VrmLayout::TwoRail);
  EXPECT_EQ(a.boards[1].address, "127.0.0.9");
  EXPECT_EQ(a.boards[1].port, 0);
  EXPECT_EQ(a.boards[1].idcodeOverride.size(), 2u);
  EXPECT_TRUE(a.boards[1].fpgas[0].power.layout == VrmLayout::Mx2100);
  EXPECT_EQ(a.boards[1].fpgas[0].device.fuseUser, 0x1234u);

  for (auto bad : std::vector<std::vector<const char*>>{{"--coe-fpga", "vu9p"},
                                                        {"--coe-board", "--coe-fpga", "vu99p"},
                                                        {"--coe-board", "--coe-fpga", "vu9p,slot=4"},
                                                        {"--coe-board", "--coe-fpga", "vu9p,slot"},
                                                        {"--coe-board", "--coe-fpga", "vu9p,module=0x10000"},
                                                        {"--coe-board", "--coe-port", "70000"},
                                                        {"--coe-board", "--coe-idcodes", "1,,2"},
                                                        {"--coe-board", "--coe-fpga"}}) {
    CoeSimArgs b;
    EXPECT_FALSE(parseCoe(bad, &b, &err)) << bad.back();
    EXPECT_FALSE(err.empty());
  }
}

TEST(BoardSimCoe, ABoardAnswersOnItsAddressAndRefusesADoubleSlot) {
  CoeBoardSpec desc;
  std::string err;
  CoeSimArgs a;
  ASSERT_TRUE(parseCoe({"--coe-board", "--coe-port", "0", "--coe-fpga", "vu35p", "--coe-fpga", "vu9p"}, &a, &err));
  auto board = CoeBoard::start(a.boards[0], "127.0.0.91", &err);
  ASSERT_NE(board, nullptr) << err;
  EXPECT_EQ(board->describe(), "127.0.0.91:" + std::to_string(board->server().port()) + " (VU35P slot 0, VU9P slot 1)");
  varn_socket s = varn_tcp_socket();
  ASSERT_EQ(varn_connect_ipv4(s, "127.0.0.91", board->server().port()), 0);
  const uint8_t req[10] = {10, 0, 1, 0, 0x10, 0x10, 0, 0x80, 0, 0};
  ASSERT_EQ(varn_send_all(s, req, sizeof req), 0);
  uint8_t ans[16];
  size_t got = 0;
  while (got < sizeof ans) {
    long n = varn_recv(s, ans + got, sizeof ans - got);
    ASSERT_GT(n, 0);
    got += size_t(n);
  }
  EXPECT_EQ(ans[0], 16);
  EXPECT_EQ(ans[4], 0x0A);
  EXPECT_EQ((ans[8] | ans[9] << 8 | ans[10] << 16 | uint32_t(ans[11]) << 24) & 0x0FFFFFFFu, 0x04B71093u);
  varn_close_socket(s);

  CoeSimArgs twice;
  ASSERT_TRUE(parseCoe({"--coe-board", "--coe-fpga", "vu9p,slot=1", "--coe-fpga", "vu9p,slot=1"}, &twice, &err));
  EXPECT_EQ(CoeBoard::start(twice.boards[0], "127.0.0.92", &err), nullptr);
  EXPECT_NE(err.find("slot 1 is taken"), std::string::npos) << err;
}

}  // namespace
}  // namespace varnsim
