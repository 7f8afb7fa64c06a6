// The body of the management-request fuzzer, shared with a replay test: one client's
// bytes reach the main loop's serving code through a real socket pair, in pieces whose
// size the input's first byte picks (1 to 64), one receive per piece as the main loop
// does it. After every piece the requests it raised are checked against the bytes of
// that piece: a flag only for a request present in it, always the flag of a request the
// piece starts with, and the reported name changed only by a whole load request, to its
// name (cut to the buffer, always terminated). The client stays connected until it
// closes, and then its slot is freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/management/management_clients.h"

struct VarnMgmtRequestFuzzResult {
  bool consistent = true;
  int deviceLists = 0, telemetries = 0, loads = 0;
};

namespace mgmtfuzz {

inline bool contains(const uint8_t* p, size_t n, const char* magic) {
  for (size_t i = 0; i + 4 <= n; ++i)
    if (std::memcmp(p + i, magic, 4) == 0) return true;
  return false;
}

// Whether `reported` is the name of some whole load request in the piece.
inline bool isNameOfALoad(const uint8_t* p, size_t n, const char* reported, size_t capacity) {
  for (size_t i = 0; i + 5 <= n; ++i) {
    if (std::memcmp(p + i, "VNLB", 4) != 0) continue;
    const size_t len = p[i + 4];
    if (i + 5 + len > n) continue;
    const size_t keep = len < capacity - 1 ? len : capacity - 1;
    if (std::memcmp(reported, p + i + 5, keep) == 0 && reported[keep] == '\0') return true;
  }
  return false;
}

inline bool readable(varn_socket s, int64_t waitUs) {
  if (!varn_socket_valid(s)) return false;
  fd_set r;
  FD_ZERO(&r);
  FD_SET(s, &r);
  return varn_select(int(s) + 1, &r, nullptr, waitUs) > 0;
}

}  // namespace mgmtfuzz

inline VarnMgmtRequestFuzzResult varnMgmtRequestFuzzOne(const uint8_t* data, size_t size) {
  using namespace mgmtfuzz;
  VarnMgmtRequestFuzzResult result;
  if (size == 0) return result;
  const size_t piece = data[0] % 64 + 1;
  ++data;
  --size;
  static VARNMgmt* m = new VARNMgmt();  // its frame buffer is large: made once
  varn_socket pair[2];
  if (varn_socketpair(pair) != 0) return {false, 0, 0, 0};
  VARNMgmtClient& c = m->clients[0];
  c.socket = pair[0];
  c.queue.reset(new uint8_t[VARN_MGMT_QUEUE]);
  c.lastTakenNs = varn_monotonic_ns();
  varn_set_nonblocking(c.socket, true);

  constexpr size_t kReported = 256;  // the main loop's reported-name buffer
  char reported[kReported] = "before.bit";
  auto serve = [&](VARNMgmtRequests* requests) {
    fd_set r, w;
    FD_ZERO(&r);
    FD_ZERO(&w);
    VARNMgmtFillSets(m, &r, &w);
    VARNMgmtServe(m, &r, &w, requests, reported, sizeof reported);
  };
  for (size_t at = 0; at < size && result.consistent; at += piece) {
    const uint8_t* p = data + at;
    const size_t n = size - at < piece ? size - at : piece;
    if (varn_send_all(pair[1], p, n) != 0) return {false, 0, 0, 0};
    char before[kReported];
    std::memcpy(before, reported, sizeof before);
    // As the main loop does: serve once the piece is there to read, and again should a
    // receive have been interrupted before taking it.
    VARNMgmtRequests q;
    for (int turn = 0; turn < 100 && readable(c.socket, turn == 0 ? 1000000 : 0); ++turn) {
      VARNMgmtRequests one;
      serve(&one);
      q.deviceList |= one.deviceList;
      q.telemetry |= one.telemetry;
      q.loadAll |= one.loadAll;
    }
    const bool terminated = std::memchr(reported, 0, sizeof reported) != nullptr;
    const bool startsList = n >= 4 && (std::memcmp(p, "VNRS", 4) == 0 || std::memcmp(p, "VNDL", 4) == 0);
    const bool startsLoad = n >= 5 && std::memcmp(p, "VNLB", 4) == 0 && 5u + p[4] <= n;
    bool ok = terminated && varn_socket_valid(c.socket);
    ok = ok && q.deviceList == (q.deviceList && (contains(p, n, "VNRS") || contains(p, n, "VNDL")));
    ok = ok && q.telemetry == (q.telemetry && contains(p, n, "VNTM"));
    ok = ok && (!startsList || q.deviceList) && (n < 4 || std::memcmp(p, "VNTM", 4) != 0 || q.telemetry);
    ok = ok && (!startsLoad || q.loadAll);
    if (q.loadAll)
      ok = ok && terminated && isNameOfALoad(p, n, reported, sizeof reported);
    else
      ok = ok && std::memcmp(before, reported, sizeof before) == 0;
    result.consistent = ok;
    result.deviceLists += q.deviceList;
    result.telemetries += q.telemetry;
    result.loads += q.loadAll;
  }
  // The client leaves: its slot is free again.
  varn_close_socket(pair[1]);
  VARNMgmtRequests q;
  serve(&q);
  if (varn_socket_valid(c.socket) || VARNMgmtClientCount(m) != 0) {
    result.consistent = false;
    varn_close_socket(c.socket);
    c.socket = VARN_INVALID_SOCKET;
  }
  return result;
}
