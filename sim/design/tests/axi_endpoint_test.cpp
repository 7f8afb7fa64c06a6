// The direct TCP endpoint, driven by a raw socket client.
#include "sim/design/axi_endpoint.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/design/axi_master_app.h"
#include "sim/design/axi_packet.h"
#include "sim/design/axi_system.h"

namespace varnsim {
namespace {

class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    s_ = varn_tcp_socket();
    EXPECT_TRUE(varn_socket_valid(s_));
    EXPECT_EQ(varn_connect_ipv4(s_, "127.0.0.1", port), 0);
    varn_set_nodelay(s_);
  }
  ~RawClient() { close(); }
  void close() {
    if (varn_socket_valid(s_)) varn_close_socket(s_);
    s_ = VARN_INVALID_SOCKET;
  }
  void send(const uint8_t* p, size_t n) { ASSERT_EQ(varn_send_all(s_, p, n), 0); }
  void send(const AxiFrame& f) { send(f.data(), f.size()); }
  // Reads exactly n bytes or gives up after timeoutMs; returns what arrived. *closed
  // reports an orderly close by the peer.
  std::vector<uint8_t> recv(size_t n, int timeoutMs, bool* closed = nullptr) {
    std::vector<uint8_t> out;
    uint64_t deadline = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000;
    if (closed) *closed = false;
    while (out.size() < n) {
      uint64_t now = varn_monotonic_ns();
      if (now >= deadline) break;
      fd_set rd;
      FD_ZERO(&rd);
      FD_SET(s_, &rd);
      if (varn_select(s_ + 1, &rd, nullptr, static_cast<int64_t>((deadline - now) / 1000)) <= 0) continue;
      uint8_t buf[4096];
      long r = varn_recv(s_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) {
        if (closed) *closed = true;
        break;
      }
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  AxiFrame frame(int timeoutMs = 2000) {
    auto b = recv(16, timeoutMs);
    AxiFrame f{};
    EXPECT_EQ(b.size(), 16u);
    std::copy(b.begin(), b.end(), f.begin());
    return f;
  }

 private:
  varn_socket s_ = VARN_INVALID_SOCKET;
};

std::unique_ptr<AxiEndpoint> startEndpoint(DesignOptions o = {{"app", "axi"}}) {
  std::string err;
  auto ep = AxiEndpoint::start(o, 0, &err);
  EXPECT_TRUE(ep) << err;
  EXPECT_NE(ep ? ep->port() : 0, 0);
  return ep;
}

TEST(AxiEndpoint, AnswersTheTestPacketAndRoundTripsAWrite) {
  auto ep = startEndpoint();
  RawClient c(ep->port());
  const uint8_t test[16] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34,
                            0x56, 0x78, 0xAA, 0xAA, 0xAA, 0xAA, 0x0C, 0x0D};
  c.send(test, 16);
  EXPECT_EQ(c.recv(16, 2000), std::vector<uint8_t>(test, test + 16));

  // Write then read, raw bytes built here: cmd, seq, 8 address bytes, 4 data bytes, CRC.
  auto build = [](uint8_t cmd, uint8_t seq, uint32_t addr, uint32_t data) {
    std::vector<uint8_t> p = {cmd, seq, 0, 0, 0, 0, uint8_t(addr >> 24), uint8_t(addr >> 16), uint8_t(addr >> 8),
                              uint8_t(addr), uint8_t(data >> 24), uint8_t(data >> 16), uint8_t(data >> 8), uint8_t(data)};
    uint16_t crc = 0xFFFF;
    for (uint8_t b : p) {
      crc ^= b;
      for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    p.push_back(uint8_t(crc >> 8));
    p.push_back(uint8_t(crc));
    return p;
  };
  auto w = build(0x02, 0x10, 0x00800000, 0xCAFEF00D);
  c.send(w.data(), w.size());
  EXPECT_EQ(c.recv(16, 2000), w);
  auto r = build(0x01, 0x11, 0x00800000, 0xAAAAAAAA);
  c.send(r.data(), r.size());
  EXPECT_EQ(c.recv(16, 2000), build(0x01, 0x11, 0x00800000, 0xCAFEF00D));
}

TEST(AxiEndpoint, ClientsAreServedOneAfterAnotherFromACleanStart) {
  auto ep = startEndpoint();
  {
    RawClient a(ep->port());
    a.send(makeFrame(0x02, 1, 0x1000, 77));
    EXPECT_EQ(a.frame()[0], 0x02);
    // Meanwhile a second client connects: it waits until the first is gone.
    RawClient b(ep->port());
    b.send(makeFrame(0x01, 2, 0x1000, 0xAAAAAAAA));
    EXPECT_TRUE(b.recv(16, 150).empty());
    AxiFrame half = makeFrame(0x01, 3, 0x1000, 0xAAAAAAAA);
    a.send(half.data(), 7);  // a torn frame left behind
    a.close();
    AxiFrame f = b.frame();
    EXPECT_EQ(f[1], 2);
    EXPECT_EQ(frameData(f), 77u);  // memory kept across clients
  }
  RawClient c(ep->port());
  c.send(makeFrame(0x00, 4, 0x12345678, 0xAAAAAAAA));
  EXPECT_EQ(c.frame(), makeFrame(0x00, 4, 0x12345678, 0xAAAAAAAA));
  EXPECT_EQ(ep->clientsServed(), 3u);
  ep->withDesign([](Design& d) { EXPECT_EQ(d.axi()->counters().badCrcBytes, 0u); });
}

TEST(AxiEndpoint, FaultsSilenceDelayCorruptAndClose) {
  auto ep = startEndpoint();
  RawClient c(ep->port());
  AxiFrame req = makeFrame(0x00, 1, 0x12345678, 0xAAAAAAAA);

  EndpointFaults f;
  f.answerDelayMs = 120;
  ep->setFaults(f);
  uint64_t t0 = varn_monotonic_ns();
  c.send(req);
  EXPECT_EQ(c.frame(), req);
  EXPECT_GE(varn_monotonic_ns() - t0, 120'000'000u);

  ep->setFaults({});
  ep->corruptNextByte();
  c.send(req);
  AxiFrame bad = c.frame();
  EXPECT_FALSE(frameCheckOk(bad.data()));
  int diff = 0;
  for (int i = 0; i < 16; ++i) diff += bad[i] != req[i];
  EXPECT_EQ(diff, 1);

  f = {};
  f.silentAfterBytes = 32;  // two answers sent so far: silent from now on
  ep->setFaults(f);
  c.send(req);
  EXPECT_TRUE(c.recv(16, 200).empty());

  f = {};
  f.closeAfterBytes = 0;  // already past it: the connection goes
  ep->setFaults(f);
  bool closed = false;
  c.send(req);
  c.recv(16, 2000, &closed);
  EXPECT_TRUE(closed);

  // A new client gets a new count: close after one answer.
  f.closeAfterBytes = 16;
  ep->setFaults(f);
  RawClient d(ep->port());
  d.send(req);
  d.send(req);
  auto got = d.recv(32, 2000, &closed);
  EXPECT_EQ(got.size(), 16u);
  EXPECT_TRUE(closed);

  ep->setFaults({});
  RawClient e(ep->port());
  e.send(req);
  EXPECT_EQ(e.frame(), req);
  ep->closeClient();
  e.recv(1, 2000, &closed);
  EXPECT_TRUE(closed);
}

TEST(AxiEndpoint, SimulatedTimeFollowsRealTimeForCdmaPolls) {
  auto ep = startEndpoint({{"app", "axi"}, {"cdma_mbps", "10"}});  // 64 KiB in about 6.5 ms
  RawClient c(ep->port());
  const uint64_t C = axiaddr::kCdmaBase;
  uint8_t seq = 0;
  auto wr = [&](uint64_t a, uint32_t v) {
    c.send(makeFrame(0x02, seq++, a, v));
    EXPECT_EQ(c.frame()[0], 0x02);
  };
  wr(C + 0x18, 0);
  wr(C + 0x1C, 2);
  wr(C + 0x20, 0x100000);
  wr(C + 0x24, 0);
  wr(C + 0x28, 0x10000);
  int busy = 0, polls = 0;
  uint32_t st = 0;
  do {
    c.send(makeFrame(0x01, seq++, C + 4, 0xAAAAAAAA));
    st = frameData(c.frame());
    if (!(st & 2)) ++busy;
  } while (!(st & 0x72) && ++polls < 100000);
  EXPECT_GT(busy, 0);
  EXPECT_EQ(st & 0x72, 0x02u);
}

TEST(AxiEndpoint, InterruptRaisedThroughTheHookArrivesOnTheSocket) {
  auto ep = startEndpoint();
  RawClient c(ep->port());
  c.send(makeFrame(0x00, 0, 0x12345678, 0xAAAAAAAA));
  c.frame();  // connected and served
  ep->withDesign([](Design& d) { d.raiseInterrupt(0x1, 0xABCDEF); });
  EXPECT_EQ(c.frame(), makeFrame(0x17, 0, 0xABCDEF, 0));
}

TEST(AxiEndpoint, BadOptionsAndBusyPortsAreRefused) {
  std::string err;
  EXPECT_EQ(AxiEndpoint::start({{"app", "axi"}, {"family", "xx"}}, 0, &err), nullptr);
  EXPECT_NE(err.find("'xx'"), std::string::npos);
  auto ep = startEndpoint();
  EXPECT_EQ(AxiEndpoint::start({{"app", "axi"}}, ep->port(), &err), nullptr);
  EXPECT_NE(err.find(std::to_string(ep->port())), std::string::npos) << err;
}

TEST(AxiEndpoint, LargeBulkWriteThroughSmallFifosLosesNothing) {
  auto ep = startEndpoint({{"app", "axi"}, {"fifo_in", "64"}, {"fifo_out", "64"}});
  RawClient c(ep->port());
  std::vector<uint8_t> payload(200000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 31 + 7);
  c.send(makeFrame(0x42, 9, 0x4000000, static_cast<uint32_t>(payload.size())));
  c.send(payload.data(), payload.size());
  AxiFrame a = c.frame(5000);
  EXPECT_EQ(a[0], 0x02);
  EXPECT_EQ(frameData(a), crc32Ieee(payload.data(), payload.size()));
  ep->withDesign([](Design& d) { EXPECT_EQ(d.inputDropped(), 0u); });
}

}  // namespace
}  // namespace varnsim
