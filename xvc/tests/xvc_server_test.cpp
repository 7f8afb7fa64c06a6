// The XVC server over a real link to the simulated board controller, with a TCP client
// speaking XVC 1.0 as JTAG tools do: the TAP walk and data the client asks for reach the
// chain bit for bit, replies are exact, bad requests end only their own connection, and
// one client is served at a time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/varn_platform.h"
#include "coe/coe_link.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"
#include "sim/controller/controller_server.h"
#include "testsupport/net/loopback.h"
#include "sim/controller/tests/fake_chain.h"
#include "xvc/varn_xvc.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kVu9p = 0x04B31093;

struct Client {
  varn_socket fd = VARN_INVALID_SOCKET;
  // Connects, trying for a while: the server listens again only after its last client.
  bool connect(uint16_t port, int tries = 500) {
    for (int i = 0; i < tries; ++i) {
      fd = varn_tcp_socket();
      if (varn_connect_ipv4(fd, "127.0.0.1", port) == 0) return true;
      varn_close_socket(fd);
      fd = VARN_INVALID_SOCKET;
      varn_sleep_ms(10);
    }
    return false;
  }
  ~Client() {
    if (varn_socket_valid(fd)) varn_close_socket(fd);
  }
  void send(const Bytes& b) { ASSERT_EQ(varn_send_all(fd, b.data(), b.size()), 0); }
  Bytes readExactly(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
      long r = varn_recv(fd, out.data() + got, n - got);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  bool closedByPeer() {
    uint8_t b;
    return varn_recv(fd, &b, 1) == 0;
  }
};

Bytes shiftRequest(uint32_t bits, const Bytes& tms, const Bytes& tdi) {
  Bytes r = {'s', 'h', 'i', 'f', 't', ':'};
  for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  r.insert(r.end(), tms.begin(), tms.end());
  r.insert(r.end(), tdi.begin(), tdi.end());
  return r;
}

class XvcServer : public ::testing::Test {
 protected:
  void SetUp() override {
    chain.dev.emplace_back();
    chain.dev[0].idcode = kVu9p;
    chain.dev[0].irLen = 18;
    cfg.slots[0].device = 0;
    server = std::make_unique<varnsim::ControllerServer>(address, VN_COE_PORT, chain, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    // The server never returns, so its link and thread stay for the rest of the process.
    link = VNCoELinkCreate(address, VN_COE_PORT);
    for (int i = 0; i < 300 && !VNCoELinkIsConnected(link); ++i) varn_sleep_ms(10);
    ASSERT_TRUE(VNCoELinkIsConnected(link));
    port = testsupport::freeLoopbackPort();
    std::thread([l = link, p = port] { VNCoEStartXVC(l, p); }).detach();
  }

  // Tests run side by side: each process has a controller address of its own.
  const std::string addressText = "127.0.3." + std::to_string(2 + getpid() % 250);
  const char* address = addressText.c_str();
  ctltest::FakeChain chain;
  varnsim::ControllerConfig cfg;
  std::unique_ptr<varnsim::ControllerServer> server;
  _VNCoELink* link = nullptr;
  uint16_t port = 0;
};

TEST_F(XvcServer, ServesTheChainBitForBitAndEndsOnlyBadConnections) {
  testing::internal::CaptureStderr();
  {
    Client c;
    ASSERT_TRUE(c.connect(port));
    c.send(Bytes{'g', 'e', 't', 'i', 'n', 'f', 'o', ':'});
    const std::string info = "xvcServer_v1.0:4096\n";
    EXPECT_EQ(c.readExactly(info.size()), Bytes(info.begin(), info.end()));
    c.send(Bytes{'s', 'e', 't', 't', 'c', 'k', ':', 10, 0, 0, 0});
    EXPECT_EQ(c.readExactly(4), (Bytes{10, 0, 0, 0}));

    // A second tool cannot connect while this one is served.
    Client other;
    EXPECT_FALSE(other.connect(port, 1));

    // Test-Logic-Reset, then to Shift-DR: 9 TMS bits 1,1,1,1,1,0,1,0,0. The reply comes
    // in one piece of exactly 2 bytes.
    c.send(shiftRequest(9, {0x5F, 0x00}, {0x00, 0x00}));
    uint8_t reply[64];
    EXPECT_EQ(varn_recv(c.fd, reply, sizeof reply), 2);
    // 32 bits with TMS 0 read the IDCODE that reset selected.
    c.send(shiftRequest(32, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(c.readExactly(4), (Bytes{0x93, 0x10, 0xB3, 0x04}));
    // 10000 bytes per vector (more than a request carries): the register gives back the
    // ones shifted in before, then this shift's own data, in order.
    Bytes tdi(10000);
    for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = static_cast<uint8_t>(i * 13 + i / 256);
    c.send(shiftRequest(80000, Bytes(10000, 0), tdi));
    Bytes expect = {0xFF, 0xFF, 0xFF, 0xFF};
    expect.insert(expect.end(), tdi.begin(), tdi.end() - 4);
    EXPECT_EQ(c.readExactly(10000), expect);
    EXPECT_EQ(server->inspect([&](varnsim::BoardController&) { return chain.state; }), varnsim::Tap::ShiftDr);

    // A negative count ends the connection.
    c.send(shiftRequest(0xFFFFFFFFu, {}, {}));
    EXPECT_TRUE(c.closedByPeer());
  }
  {
    // A count beyond the bound is refused before anything is allocated for it.
    Client c;
    ASSERT_TRUE(c.connect(port));
    c.send(shiftRequest(0x7FFFFFFFu, {}, {}));
    EXPECT_TRUE(c.closedByPeer());
  }
  {
    Client c;
    ASSERT_TRUE(c.connect(port));
    c.send(Bytes{'x', 'x'});
    EXPECT_TRUE(c.closedByPeer());
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("buffer size exceeded- expanding buffer\n"), std::string::npos) << err;
  size_t first = err.find("invalid length\n");
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_NE(err.find("invalid length\n", first + 1), std::string::npos) << err;
  EXPECT_NE(err.find("unknown xvc command 'xx'\n"), std::string::npos) << err;
}

TEST_F(XvcServer, AFailedRequestShortensTheReplyAndTheConnectionGoesOn) {
  testing::internal::CaptureStderr();
  Client c;
  ASSERT_TRUE(c.connect(port));
  c.send(Bytes{'g', 'e', 't', 'i', 'n', 'f', 'o', ':'});
  ASSERT_EQ(c.readExactly(20).size(), 20u);
  server->stop();
  for (int i = 0; i < 300 && VNCoELinkIsConnected(link); ++i) varn_sleep_ms(10);
  c.send(shiftRequest(8, {0x01}, {0x00}));
  // The empty reply is followed by the answer to the next command.
  c.send(Bytes{'g', 'e', 't', 'i', 'n', 'f', 'o', ':'});
  const std::string info = "xvcServer_v1.0:4096\n";
  EXPECT_EQ(c.readExactly(info.size()), Bytes(info.begin(), info.end()));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Byte count mismatch. Wanted 1 got 0\n"), std::string::npos) << err;
}

TEST(XvcSwitch, ABoardWithoutAControllerIsRefused) {
  VARNJtag j{};
  varn_jtag_use_ftdi(&j);
  EXPECT_EQ(VARNJtagSwitchToXVC(&j, 0), 3);
  EXPECT_EQ(j.xvcActive, 0);
  EXPECT_EQ(VARNJtagSwitchToXVC(nullptr, 0), 3);
}

}  // namespace
