// A bridge between loopback TCP clients and a fake FPGA on the far end of the socket
// pair (where the board thread would normally pump bytes to the FPGA).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/log_capture.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_bridge.h"
#include "axi/varn_axi_packet.h"

namespace varnaxitest {

using Packet = std::vector<uint8_t>;

inline Packet makePacket(uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data) {
  Packet p(16);
  _VARNAXIMakePacket(p.data(), cmd, seq, address, data);
  return p;
}

inline bool sendBytes(varn_socket s, const std::vector<uint8_t>& bytes) {
  return varn_send_all(s, bytes.data(), bytes.size()) == 0;
}

// Reads exactly one 16-byte packet, or nothing within the time-out.
inline std::optional<Packet> recvPacket(varn_socket s, int timeoutMs = 2000) {
  Packet p(16);
  size_t got = 0;
  uint64_t deadline = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000u;
  while (got < 16) {
    uint64_t now = varn_monotonic_ns();
    if (now >= deadline) return std::nullopt;
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(s, &rs);
    if (varn_select(int(s) + 1, &rs, nullptr, int64_t((deadline - now) / 1000)) <= 0) continue;
    long n = varn_recv(s, p.data() + got, 16 - got);
    if (n <= 0) return std::nullopt;
    got += size_t(n);
  }
  return p;
}

// True when the peer closed the connection within the time-out.
inline bool sawClose(varn_socket s, int timeoutMs = 2000) {
  uint8_t b[256];
  uint64_t deadline = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000u;
  while (varn_monotonic_ns() < deadline) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(s, &rs);
    if (varn_select(int(s) + 1, &rs, nullptr, 20000) <= 0) continue;
    long n = varn_recv(s, b, sizeof(b));
    if (n <= 0) return true;
  }
  return false;
}

struct BridgeRig {
  BridgeRig() {
    EXPECT_EQ(varn_socketpair(pair), 0);
    listener = listenLoopback(&port);
    bridge = VARNAXIBridgeCreate(pair[0], listener);
    EXPECT_NE(bridge, nullptr);
    fpga = std::make_unique<FakeAxiTarget>(pair[1]);
  }
  ~BridgeRig() {
    for (varn_socket s : raws) varn_close_socket(s);
    for (_VARNAXI*& l : links) VARNAXIDestroy(&l);
    bool retired = VARNAXIBridgeStatus(bridge, nullptr, nullptr) != 0;
    VARNAXIBridgeDestroy(&bridge);
    fpga.reset();
    varn_close_socket(pair[0]);
    if (!retired) varn_close_socket(listener);  // a bridge that lost its upstream closed it
  }
  int clients() {
    int n = 0;
    VARNAXIBridgeStatus(bridge, &n, nullptr);
    return n;
  }
  int inFlight() {
    int n = 0;
    VARNAXIBridgeStatus(bridge, nullptr, &n);
    return n;
  }
  bool waitClients(int n, int timeoutMs = 3000) {
    uint64_t deadline = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000u;
    while (clients() != n) {
      if (varn_monotonic_ns() > deadline) return false;
      varn_sleep_ms(1);
    }
    return true;
  }
  // A raw TCP client, connected and accepted by the bridge.
  varn_socket raw() {
    int before = clients();
    varn_socket s = connectLoopback(port);
    EXPECT_TRUE(varn_socket_valid(s));
    raws.push_back(s);
    EXPECT_TRUE(waitClients(before + 1));
    return s;
  }
  _VARNAXI* link(int timeoutMs = 2500) {
    int before = clients();
    _VARNAXI* l = VARNAXICreate(0, "127.0.0.1", port);
    EXPECT_NE(l, nullptr);
    VARNAXISetTimeout(l, timeoutMs);
    links.push_back(l);
    EXPECT_TRUE(waitClients(before + 1));
    return l;
  }
  void closeRaw(varn_socket s) {
    for (auto& r : raws)
      if (r == s) {
        varn_close_socket(r);
        r = VARN_INVALID_SOCKET;
      }
    std::erase(raws, VARN_INVALID_SOCKET);
  }

  LogCapture log;
  varn_socket pair[2] = {VARN_INVALID_SOCKET, VARN_INVALID_SOCKET};
  varn_socket listener = VARN_INVALID_SOCKET;
  uint16_t port = 0;
  VARNAXIBridge* bridge = nullptr;
  std::unique_ptr<FakeAxiTarget> fpga;
  std::vector<varn_socket> raws;
  std::vector<_VARNAXI*> links;
};

}  // namespace varnaxitest
