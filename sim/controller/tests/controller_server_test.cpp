// The controller on the network, with a plain socket as the host, and each fault.
#include <gtest/gtest.h>

#include "sim/controller/controller_server.h"
#include "sim/controller/tests/fake_chain.h"

using namespace varnsim;

namespace {

struct Got {
  uint16_t length = 0, tag = 0, command = 0;
  std::vector<uint8_t> data;
};

class Host {
 public:
  bool connect(uint16_t port) {
    s_ = varn_tcp_socket();
    return varn_connect_ipv4(s_, "127.0.0.1", port) == 0;
  }
  ~Host() { close(); }
  void close() {
    if (varn_socket_valid(s_)) varn_close_socket(s_);
    s_ = VARN_INVALID_SOCKET;
  }
  void raw(const std::vector<uint8_t>& b) { varn_send_all(s_, b.data(), b.size()); }
  void request(uint16_t tag, uint16_t command, std::vector<uint8_t> payload) {
    std::vector<uint8_t> p;
    size_t len = payload.size() + 8;
    for (uint16_t v : {uint16_t(len), tag, command, uint16_t(0x8000)}) {
      p.push_back(uint8_t(v));
      p.push_back(uint8_t(v >> 8));
    }
    p.insert(p.end(), payload.begin(), payload.end());
    varn_send_all(s_, p.data(), p.size());
  }
  // Raw bytes as they arrive, until `want` bytes or the time-out; false on close.
  bool bytes(size_t want, int timeoutMs, std::vector<uint8_t>* out) {
    uint64_t end = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000ull;
    while (out->size() < want) {
      uint64_t now = varn_monotonic_ns();
      if (now >= end) return true;
      fd_set r;
      FD_ZERO(&r);
      FD_SET(s_, &r);
      if (varn_select(s_ + 1, &r, nullptr, int64_t((end - now) / 1000)) <= 0) continue;
      uint8_t buf[8192];
      long n = varn_recv(s_, buf, sizeof buf);
      if (n <= 0) return false;
      out->insert(out->end(), buf, buf + n);
    }
    return true;
  }
  bool packet(Got* g, int timeoutMs = 2000) {
    std::vector<uint8_t> b = std::move(pending_);
    pending_.clear();
    if (!bytes(8, timeoutMs, &b) || b.size() < 8) return false;
    g->length = uint16_t(b[0] | b[1] << 8);
    g->tag = uint16_t(b[2] | b[3] << 8);
    g->command = uint16_t(b[4] | b[5] << 8);
    if (g->length < 8 || !bytes(g->length, timeoutMs, &b) || b.size() < g->length) return false;
    g->data.assign(b.begin() + 8, b.begin() + g->length);
    pending_.assign(b.begin() + g->length, b.end());
    return true;
  }

 private:
  varn_socket s_ = VARN_INVALID_SOCKET;
  std::vector<uint8_t> pending_;
};

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    chain.dev.resize(2);
    chain.dev[0].idcode = 0x04B71093;
    chain.dev[1].idcode = 0x04B31093;
    cfg.slots[0].device = 0;
    cfg.slots[1].device = 1;
    cfg.slots[0].hasRegulators = true;
    server = std::make_unique<ControllerServer>("127.0.0.1", 0, chain, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_TRUE(host.connect(server->port()));
    // Faults posted before the server has taken the connection would go to no
    // connection (and be dropped with it): wait until it has.
    for (int i = 0; i < 2000 && server->connections() == 0; ++i) varn_sleep_ms(5);
    ASSERT_EQ(server->connections(), 1u);
  }
  ctltest::FakeChain chain;
  ControllerConfig cfg;
  std::unique_ptr<ControllerServer> server;
  Host host;
};

TEST_F(Server, AnswersRequestsAndStreamsUartOutput) {
  host.request(7, 0x1010, {0, 0});
  Got g;
  ASSERT_TRUE(host.packet(&g));
  EXPECT_EQ(g.tag, 7);
  EXPECT_EQ(g.command, 0x000A);
  EXPECT_EQ(g.data.size(), 8u);
  server->inspect([&](BoardController&) {
    for (char c : std::string("hello")) chain.dev[1].uart.output.push_back(uint8_t(c));
    return 0;
  });
  ASSERT_TRUE(host.packet(&g));
  EXPECT_EQ(g.command, 0x1205);
  EXPECT_EQ(g.data, (std::vector<uint8_t>{0x10, 'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(server->inspect([](BoardController& c) { return c.requests(0x1010); }), 1u);
}

TEST_F(Server, MuteDelayAndWrongTag) {
  server->setMute(true);
  host.request(1, 0x1010, {0, 0});
  Got g;
  EXPECT_FALSE(host.packet(&g, 200));
  server->setMute(false);
  server->setAnswerDelayMs(300);
  uint64_t start = varn_monotonic_ns();
  host.request(1, 0x1010, {0, 0});
  ASSERT_TRUE(host.packet(&g, 2000));
  EXPECT_GE(varn_monotonic_ns() - start, 290ull * 1000000ull);
  server->setAnswerDelayMs(0);
  server->setWrongTags(1);
  host.request(5, 0x1010, {0, 0});
  ASSERT_TRUE(host.packet(&g));
  EXPECT_NE(g.tag, 5);
  host.request(5, 0x1010, {0, 0});
  ASSERT_TRUE(host.packet(&g));
  EXPECT_EQ(g.tag, 5);
}

TEST_F(Server, BadLengthsAndGarbageGoOutAsAsked) {
  // Waits for the two length bytes themselves (a slow host may take a while to send).
  server->sendShortLength();
  std::vector<uint8_t> b;
  ASSERT_TRUE(host.bytes(2, 10000, &b));
  ASSERT_GE(b.size(), 2u);
  EXPECT_LT(b[0] | b[1] << 8, 8);
  b.clear();
  server->sendLongLength();
  ASSERT_TRUE(host.bytes(2, 10000, &b));
  ASSERT_TRUE(host.bytes(5000, 1000, &b));  // and whatever else of it comes, so none is left
  ASSERT_GE(b.size(), 2u);
  EXPECT_GT(b[0] | b[1] << 8, 4096);
  b.clear();
  server->sendGarbage(333);
  ASSERT_TRUE(host.bytes(333, 10000, &b));
  EXPECT_EQ(b.size(), 333u);
}

TEST_F(Server, DropOnRequestCloseAndRestart) {
  server->dropOnNextRequest(0x1110);
  host.request(1, 0x1010, {0, 0});  // not the one: answered
  Got g;
  ASSERT_TRUE(host.packet(&g));
  host.request(1, 0x1110, {0x4D, 0, 0, 0, 0, 0});
  std::vector<uint8_t> b;
  EXPECT_FALSE(host.bytes(1, 1000, &b));  // closed, unanswered
  host.close();

  ASSERT_TRUE(host.connect(server->port()));
  host.request(1, 0x1001, {0, 2});
  ASSERT_TRUE(host.packet(&g));
  EXPECT_EQ(server->inspect([](BoardController& c) { return c.jtagMode(); }), 2);
  server->closeConnection();
  EXPECT_FALSE(host.bytes(1, 1000, &b));
  host.close();

  server->restart(300, true);
  Host early;
  EXPECT_FALSE(early.connect(server->port()));
  varn_sleep_ms(450);
  ASSERT_TRUE(host.connect(server->port()));
  host.request(1, 0x1010, {0, 0});
  ASSERT_TRUE(host.packet(&g));
  // The restarted controller forgot the mode.
  EXPECT_EQ(server->inspect([](BoardController& c) { return c.jtagMode(); }), 0);
  EXPECT_EQ(server->connections(), 3u);
}

TEST_F(Server, ARequestShorterThanItsHeaderEndsTheConnection) {
  host.raw({3, 0, 1, 0, 0x10, 0x10, 0, 0x80});
  std::vector<uint8_t> b;
  EXPECT_FALSE(host.bytes(1, 1000, &b));
}

TEST_F(Server, ASecondConnectionReplacesTheFirst) {
  Host second;
  ASSERT_TRUE(second.connect(server->port()));
  std::vector<uint8_t> b;
  EXPECT_FALSE(host.bytes(1, 1000, &b));
  second.request(3, 0x0300, {});
  Got g;
  ASSERT_TRUE(second.packet(&g));
  EXPECT_EQ(g.data.size(), 32u);
}

}  // namespace
