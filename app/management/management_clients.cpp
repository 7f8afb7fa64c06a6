#include "app/management/management_clients.h"

#include <cstring>
#include <new>

#include "app/log/varn_log.h"

namespace {

void closeClient(VARNMgmtClient& c) {
  varn_close_socket(c.socket);
  c.socket = VARN_INVALID_SOCKET;
  c.queue.reset();
  c.head = c.length = 0;
  c.skippedFrames = 0;
}

// Sends what the client takes now; false when the connection failed.
bool flush(VARNMgmtClient& c) {
  while (c.length > 0) {
    const long n = varn_send(c.socket, c.queue.get() + c.head, c.length);
    if (n > 0) {
      c.head += static_cast<size_t>(n);
      c.length -= static_cast<size_t>(n);
      c.lastTakenNs = varn_monotonic_ns();
      continue;
    }
    if (n < 0 && (varn_error_would_block() || varn_error_is_interrupted())) return true;
    return false;
  }
  c.head = 0;
  return true;
}

void acceptClient(VARNMgmt* m) {
  varn_socket s = varn_accept(m->listener, nullptr, nullptr);
  if (!varn_socket_valid(s)) return;
  for (int i = 0; i < VARN_MGMT_CLIENTS; ++i) {
    VARNMgmtClient& c = m->clients[i];
    if (varn_socket_valid(c.socket)) continue;
    // A descriptor the wait cannot watch would never be served.
    if (!varn_socket_selectable(s, "management client")) break;
    c.queue.reset(new (std::nothrow) uint8_t[VARN_MGMT_QUEUE]);
    if (!c.queue) break;
    varn_set_nonblocking(s, true);
    c.socket = s;
    c.head = c.length = 0;
    c.lastTakenNs = varn_monotonic_ns();
    return;
  }
  varn_close_socket(s);  // every slot taken
}

}  // namespace

size_t VARNMgmtDecodeRequest(const uint8_t* chunk, size_t length, VARNMgmtRequests* requests, char* reported,
                             size_t reportedSize) {
  if (length < 4 || chunk[0] != 'V' || chunk[1] != 'N') return 0;
  if (std::memcmp(chunk, "VNRS", 4) == 0 || std::memcmp(chunk, "VNDL", 4) == 0) {
    requests->deviceList = true;
    return 4;
  }
  if (std::memcmp(chunk, "VNTM", 4) == 0) {
    requests->telemetry = true;
    return 4;
  }
  if (std::memcmp(chunk, "VNLB", 4) != 0) return 0;
  VARNLog("Bitstream Load Requested, scheduled\n");
  // The length byte and the whole name must have arrived.
  if (length < 5) return 0;
  const size_t nameLen = chunk[4];
  if (5 + nameLen > length || reportedSize == 0) return 0;
  const size_t keep = nameLen < reportedSize - 1 ? nameLen : reportedSize - 1;
  std::memcpy(reported, chunk + 5, keep);
  reported[keep] = '\0';
  requests->loadAll = true;
  return 5 + nameLen;
}

int VARNMgmtFillSets(VARNMgmt* m, fd_set* readSet, fd_set* writeSet) {
  int top = -1;
  auto add = [&top](varn_socket s, fd_set* set) {
    FD_SET(s, set);
    if (static_cast<int>(s) > top) top = static_cast<int>(s);
  };
  if (varn_socket_valid(m->listener)) add(m->listener, readSet);
  for (VARNMgmtClient& c : m->clients) {
    if (!varn_socket_valid(c.socket)) continue;
    add(c.socket, readSet);
    if (c.length > 0) add(c.socket, writeSet);
  }
  return top + 1;
}

void VARNMgmtServe(VARNMgmt* m, const fd_set* readSet, const fd_set* writeSet, VARNMgmtRequests* requests,
                   char* reported, size_t reportedSize) {
  uint8_t chunk[VARN_MGMT_RECEIVE];
  for (VARNMgmtClient& c : m->clients) {
    if (!varn_socket_valid(c.socket) || !FD_ISSET(c.socket, readSet)) continue;
    const long n = varn_recv(c.socket, chunk, sizeof chunk);
    if (n < 0 && (varn_error_would_block() || varn_error_is_interrupted())) continue;
    if (n <= 0) {
      closeClient(c);
      continue;
    }
    // TCP may deliver several requests in one piece: each counts.
    for (size_t at = 0, used = 1; at < static_cast<size_t>(n) && used > 0; at += used)
      used = VARNMgmtDecodeRequest(chunk + at, static_cast<size_t>(n) - at, requests, reported, reportedSize);
  }
  if (varn_socket_valid(m->listener) && FD_ISSET(m->listener, readSet)) acceptClient(m);
  for (VARNMgmtClient& c : m->clients) {
    if (!varn_socket_valid(c.socket) || c.length == 0 || !FD_ISSET(c.socket, writeSet)) continue;
    if (!flush(c)) closeClient(c);
  }
}

void VARNMgmtBroadcast(VARNMgmt* m, const uint8_t* frame, size_t length) {
  const uint64_t now = varn_monotonic_ns();
  for (int i = 0; i < VARN_MGMT_CLIENTS; ++i) {
    VARNMgmtClient& c = m->clients[i];
    if (!varn_socket_valid(c.socket)) continue;
    if (c.head > 0 && c.head + c.length + length > VARN_MGMT_QUEUE) {
      std::memmove(c.queue.get(), c.queue.get() + c.head, c.length);
      c.head = 0;
    }
    if (c.head + c.length + length > VARN_MGMT_QUEUE) {
      // Whole frames or none: a cut frame would leave the client reading garbage.
      ++c.skippedFrames;
      if (now - c.lastTakenNs > VARN_MGMT_STALL_NS) {
        VARNLog("Management client %i has taken nothing for %llu s (%u frames skipped); closing it\n", i,
                static_cast<unsigned long long>((now - c.lastTakenNs) / 1000000000ull), c.skippedFrames);
        closeClient(c);
      }
      continue;
    }
    std::memcpy(c.queue.get() + c.head + c.length, frame, length);
    c.length += length;
    if (!flush(c)) closeClient(c);
  }
}

int VARNMgmtClientCount(const VARNMgmt* m) {
  int n = 0;
  for (const VARNMgmtClient& c : m->clients) n += varn_socket_valid(c.socket) ? 1 : 0;
  return n;
}
