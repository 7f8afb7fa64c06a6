// The body of the AXI bridge fuzzer, shared with a replay test: one to four TCP clients
// send the input's bytes to a bridge whose turns the body drives itself (no thread),
// and an FPGA stand-in on the upstream end echoes every request at once (a bulk write
// is answered as a write whose data word is its length). The input's first byte picks
// the number of clients (bits 0-1), whether every 16-byte block of the stream is
// sealed with its check so that it reads as a packet (bit 7); the second byte the piece
// size (1 to 64); the third the interrupt lines raised at the end. Piece k of the rest
// goes to client k mod n; after every piece the bridge and the stand-in run until
// nothing moves.
//
// What must hold, from a model of each client's own stream (packets found by their
// check one byte at a time, bulk payloads taken whole):
// - every client gets exactly the answers to its own requests, in its order, under its
//   own sequence numbers (a client closed for a refused bulk write the first of them);
//   the stand-in then raises an interrupt, which reaches exactly the clients whose mask
//   takes one of its lines;
// - a client that declares a bulk write the bridge refuses is closed, no other is;
// - upstream, no two requests in flight share a number, and none uses the number the
//   bridge keeps for itself;
// - once every client has gone, no number is left in use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include "app/platform/varn_platform.h"
#include "axi/axi_bridge_worker.h"
#include "axi/varn_axi_bridge.h"
#include "axi/varn_axi_packet.h"

namespace bridgefuzz {

using Packet = std::vector<uint8_t>;

struct Result {
  bool consistent = true;
  size_t answers = 0;  // answers and interrupts the clients received
  int refused = 0;     // clients the bridge closed
};

// What one client must see.
struct Expected {
  std::vector<Packet> answers;
  bool refused = false;
  uint8_t mask = 0;
};

inline Packet makePacket(uint8_t command, uint8_t seq, uint64_t address, uint32_t data) {
  Packet p(VARN_AXI_PACKET_SIZE);
  _VARNAXIMakePacket(p.data(), command, seq, address, data);
  return p;
}

inline Expected model(const std::vector<uint8_t>& s) {
  Expected e;
  size_t i = 0;
  std::vector<uint8_t> win;
  while (i < s.size()) {
    win.push_back(s[i++]);
    if (win.size() < VARN_AXI_PACKET_SIZE) continue;
    if (!VARNAXIPacketCheckOK(win.data())) {
      win.erase(win.begin());
      continue;
    }
    const Packet p = win;
    win.clear();
    switch (p[0]) {
      case VARN_AXI_CMD_TEST:
      case VARN_AXI_CMD_READ:
      case VARN_AXI_CMD_WRITE:
        e.answers.push_back(p);
        break;
      case VARN_AXI_CMD_BULK: {
        const uint32_t length = VARNAXIPacketData(p.data());
        if (length % 16 != 0 || length > VARN_AXI_BRIDGE_MAX_BULK) {
          e.refused = true;
          return e;
        }
        if (s.size() - i < length) return e;  // still gathering: no answer yet
        i += length;
        e.answers.push_back(makePacket(VARN_AXI_CMD_WRITE, p[1], VARNAXIPacketAddress(p.data()), length));
        break;
      }
      case VARN_AXI_CMD_IRQ_MASK:
        e.mask = p[2];
        break;
      default:
        break;
    }
  }
  return e;
}

// The FPGA side: takes whatever the bridge sent and answers every request at once.
class EchoFpga {
 public:
  explicit EchoFpga(varn_socket s) : s_(s) {}
  // False when the stream broke an upstream rule.
  bool serve(bool* moved) {
    uint8_t buf[8192];
    bool seen[256] = {};
    bool ok = true;
    for (long n; (n = varn_recv(s_, buf, sizeof buf)) > 0;) {
      *moved = true;
      for (long k = 0; k < n; ++k) {
        if (bulkLeft_ > 0) {
          --bulkLeft_;
          continue;
        }
        pending_.push_back(buf[k]);
        if (pending_.size() < VARN_AXI_PACKET_SIZE) continue;
        const uint8_t* p = pending_.data();
        // Within one batch nothing was answered yet: a number used twice was reused early.
        if (!VARNAXIPacketCheckOK(p) || p[1] == axibridge::kProbeSeq || seen[p[1]]) ok = false;
        seen[p[1]] = true;
        Packet answer(pending_.begin(), pending_.end());
        if (p[0] == VARN_AXI_CMD_BULK) {
          bulkLeft_ = VARNAXIPacketData(p);
          answer = makePacket(VARN_AXI_CMD_WRITE, p[1], VARNAXIPacketAddress(p), bulkLeft_);
        }
        pending_.clear();
        if (varn_send_all(s_, answer.data(), answer.size()) != 0) ok = false;
      }
    }
    return ok;
  }
  void send(const Packet& p) { varn_send_all(s_, p.data(), p.size()); }

 private:
  varn_socket s_;
  std::vector<uint8_t> pending_;
  uint32_t bulkLeft_ = 0;
};

// The listening port, made once per process.
inline varn_socket listener(uint16_t* port) {
  static varn_socket l = [] {
    varn_socket s = varn_tcp_socket();
    varn_set_reuseaddr(s);
    if (varn_bind_ipv4(s, "127.0.0.1", 0) != 0 || varn_listen(s, 16) != 0) std::abort();
    return s;
  }();
  *port = varn_local_port(l);
  return l;
}

// Closing with a reset leaves no TIME_WAIT behind: a fuzzer opens thousands of
// connections a second, which would otherwise use up the loopback's ports.
inline void closeWithReset(varn_socket s) {
  struct linger l = {1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  varn_close_socket(s);
}

struct Client {
  varn_socket s = VARN_INVALID_SOCKET;
  std::vector<uint8_t> sent, received;
  bool closed = false;
};

inline Result fuzzOne(const uint8_t* data, size_t size) {
  Result result;
  if (size < 3) return result;
  const int n = (data[0] & 3) + 1;
  const bool seal = (data[0] & 0x80) != 0;
  const size_t piece = data[1] % 64 + 1;
  const uint8_t lines = data[2] & 0x0F;
  std::vector<uint8_t> stream(data + 3, data + size);
  if (seal)
    for (size_t at = 0; at + VARN_AXI_PACKET_SIZE <= stream.size(); at += VARN_AXI_PACKET_SIZE)
      VARNAXIPacketSeal(stream.data() + at);

  uint16_t port = 0;
  auto bridge = std::make_unique<VARNAXIBridge>();
  bridge->listener = listener(&port);
  for (auto& c : bridge->clients) c = VARN_INVALID_SOCKET;
  varn_socket up[2];
  if (varn_socketpair(up) != 0 || varn_socketpair(bridge->wake) != 0) std::abort();
  bridge->upstream = up[0];
  varn_set_nonblocking(up[0], true);
  varn_set_nonblocking(up[1], true);
  auto worker = std::make_unique<axibridge::Worker>(bridge.get());
  EchoFpga fpga(up[1]);
  bool ok = true;
  // VARN_FUZZ_DEBUG=1 says which property broke, for a finding replayed by hand.
  auto fail = [&ok](const char* why, size_t value) {
    ok = false;
    if (std::getenv("VARN_FUZZ_DEBUG")) std::fprintf(stderr, "axi bridge fuzz: %s (%zu)\n", why, value);
  };

  std::vector<Client> clients(static_cast<size_t>(n));
  auto readClients = [&](bool* moved) {
    for (Client& c : clients) {
      if (c.closed) continue;
      uint8_t buf[8192];
      long r;
      while ((r = varn_recv(c.s, buf, sizeof buf)) > 0) {
        c.received.insert(c.received.end(), buf, buf + r);
        *moved = true;
      }
      if (r == 0 || (r < 0 && !varn_error_would_block() && !varn_error_is_interrupted())) {
        c.closed = true;
        *moved = true;
      }
    }
  };
  // Runs the bridge and the stand-in until three rounds in a row move nothing.
  auto settle = [&] {
    for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100000; ++rounds) {
      bool moved = false;
      worker->turn(0);
      if (!fpga.serve(&moved)) fail("upstream number reused or reserved", 0);
      readClients(&moved);
      quiet = moved ? 0 : quiet + 1;
    }
  };
  for (int i = 0; i < n; ++i) {
    Client& c = clients[static_cast<size_t>(i)];
    c.s = varn_tcp_socket();
    if (varn_connect_ipv4(c.s, "127.0.0.1", port) != 0) std::abort();
    // Without it a small piece waits in the socket for the bridge's delayed ACK.
    varn_set_nodelay(c.s);
    varn_set_nonblocking(c.s, true);
    for (int t = 0; t < 1000 && bridge->clientCount < i + 1; ++t) worker->turn(10000);
    if (bridge->clientCount != i + 1) fail("client not accepted", size_t(i));
  }

  size_t k = 0;
  for (size_t at = 0; at < stream.size(); at += piece, ++k) {
    const size_t len = stream.size() - at < piece ? stream.size() - at : piece;
    const size_t slot = k % static_cast<size_t>(n);
    Client& c = clients[slot];
    c.sent.insert(c.sent.end(), stream.begin() + long(at), stream.begin() + long(at + len));
    if (!c.closed && varn_send_all(c.s, stream.data() + at, len) == 0) {
      // Loopback delivers within the send as a rule; a loaded machine may defer it.
      const varn_socket theirs = bridge->clients[slot];
      fd_set r;
      FD_ZERO(&r);
      FD_SET(theirs, &r);
      if (varn_socket_valid(theirs)) varn_select(int(theirs) + 1, &r, nullptr, 1000000);
    }
    settle();
  }
  std::vector<Expected> expected;
  for (const Client& c : clients) expected.push_back(model(c.sent));
  fpga.send(makePacket(static_cast<uint8_t>(lines << 4 | VARN_AXI_CMD_INTERRUPT), 0, 0, 0));
  settle();
  for (size_t i = 0; i < clients.size(); ++i) {
    Expected& e = expected[i];
    const Client& c = clients[i];
    if (!e.refused && (e.mask & lines)) e.answers.push_back(makePacket(lines << 4 | VARN_AXI_CMD_INTERRUPT, 0, 0, 0));
    std::vector<uint8_t> want;
    for (const Packet& p : e.answers) want.insert(want.end(), p.begin(), p.end());
    // A refused client is closed at once: answers still on their way to it are lost,
    // so it gets the start of its answers.
    const bool prefix = e.refused && c.received.size() <= want.size() &&
                        std::equal(c.received.begin(), c.received.end(), want.begin());
    if (c.received != want && !prefix) fail("answers differ for client", i);
    if (c.closed != e.refused) fail("closed differs from refused for client", i);
    result.answers += c.received.size() / VARN_AXI_PACKET_SIZE;
    result.refused += c.closed ? 1 : 0;
  }

  // Every client leaves; nothing may stay in use.
  for (Client& c : clients) closeWithReset(c.s);
  for (int t = 0; t < 1000 && bridge->clientCount > 0; ++t) {
    bool moved = false;
    worker->turn(10000);
    fpga.serve(&moved);
  }
  if (bridge->clientCount != 0) fail("clients left", size_t(bridge->clientCount));
  if (bridge->inFlight != 0) fail("numbers left in use", size_t(bridge->inFlight));
  worker->finish();
  worker.reset();
  varn_close_socket(up[0]);
  varn_close_socket(up[1]);
  varn_close_socket(bridge->wake[0]);
  varn_close_socket(bridge->wake[1]);
  result.consistent = ok;
  return result;
}

}  // namespace bridgefuzz
