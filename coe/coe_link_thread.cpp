// The link thread: connects and reconnects, is the only reader of the transport, and
// sends the keepalive.
#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

// Sleeps in short steps so that destroy never waits out a whole retry delay.
static void pause(_VNCoELink* link, uint32_t ms) {
  uint64_t end = varn_monotonic_ns() + uint64_t(ms) * 1000000ull;
  while (!link->stop && varn_monotonic_ns() < end) varn_sleep_ms(10);
}

static void closeSocket(_VNCoELink* link) {
  varn_socket s = link->sock;
  if (varn_socket_valid(s)) varn_close_socket(s);
  link->sock = VARN_INVALID_SOCKET;
}

void _VNCoELinkGreet(_VNCoELink* link) {
  link->helloPending = 1;
  link->helloDeadlineNs = varn_monotonic_ns() + uint64_t(VN_COE_HELLO_SETTLE_MS) * 1000000ull;
  if (_VNCoELinkSendPacket(link, VN_COE_TAG_REQUEST, VN_COE_CMD_HELLO, VN_COE_FLAGS, nullptr, 0) != 0) return;
  _VNCoELinkSendPacket(link, VN_COE_TAG_NOANSWER, VN_COE_CMD_HELLO, VN_COE_FLAGS, nullptr, 0);
}

void _VNCoELinkConnect(_VNCoELink* link) {
  if (link->isUsb) {
    _VNCoUConnect(link);
    return;
  }
  if (varn_socket_valid(link->sock)) {
    VARNLog("Warning: Connecting but socket already exists");
    closeSocket(link);
  }
  VARNLog("Connecting...\n");
  link->connected = 0;
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) {
    varn_perror("Failed to create socket");
    return;
  }
  link->sock = s;
  // The socket stays until the next attempt, which closes it (a descriptor freed by
  // then may fit).
  if (!varn_socket_selectable(s, "CoE link")) return;
  if (varn_set_nodelay(s) != 0) varn_perror("Failed to set TCP_NODELAY on socket\n");
  // Bounded, so that an address nobody answers cannot hold the thread (and destroy).
  if (varn_connect_ipv4_timeout(s, link->address, link->port, int64_t(link->connectTimeoutMs) * 1000) != 0) {
    // The socket stays until the next attempt, which reports and closes it first.
    varn_perror("Failed to connect, awaiting retry\n");
    return;
  }
  VARNLog("Connected\n");
  std::lock_guard<std::mutex> hold(link->lock);
  link->dropRequested = 0;
  link->rxLen = 0;
  link->connected = 1;
  _VNCoELinkGreet(link);
}

void _VNCoELinkKeepalive(_VNCoELink* link, uint64_t* checkpointNs) {
  uint64_t now = varn_monotonic_ns();
  if (now - *checkpointNs <= link->keepaliveIntervalNs) return;
  *checkpointNs = now;
  if (!link->connected) return;
  std::lock_guard<std::mutex> hold(link->lock);
  if (!link->connected) return;
  // A keepalive needs a free slot like any request; with all 16 busy the link is
  // plainly alive and the keepalive is skipped.
  for (const CoeTransaction& t : link->slots) {
    if (!t.inUse) {
      _VNCoELinkSendPacket(link, VN_COE_TAG_NOANSWER, VN_COE_CMD_HELLO, VN_COE_FLAGS, nullptr, 0);
      return;
    }
  }
}

// One connected TCP session: returns when the peer closes, an error occurs, a
// requester asks for a reconnection, or the link is stopped.
static void runTcp(_VNCoELink* link) {
  uint8_t chunk[VN_COE_RX_CHUNK];
  uint64_t checkpoint = varn_monotonic_ns();
  varn_socket s = link->sock;
  while (!link->stop && !link->dropRequested) {
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    int ready = varn_select(s + 1, &r, nullptr, 10000);
    if (ready < 0) {
      if (!varn_error_is_interrupted()) VARNLog("Select Error\n");
    } else if (ready > 0 && FD_ISSET(s, &r)) {
      long n = varn_recv(s, chunk, sizeof(chunk));
      if (n < 0 && (varn_error_would_block() || varn_error_is_interrupted())) continue;
      if (n <= 0) return;
      if (varn_set_quickack(s) != 0) VARNLog("Failed to set quickack!\n");
      _VNCoELinkParsePacket(link, chunk, static_cast<uint32_t>(n));
    }
    _VNCoELinkKeepalive(link, &checkpoint);
  }
}

void _VNCoELinkThread(_VNCoELink* link) {
  while (!link->stop) {
    if (!link->connected) {
      _VNCoELinkConnect(link);
      if (link->stop) break;
      if (!link->connected) {
        VARNLog("CoE Connection Failed, retrying...\n");
        pause(link, link->retryDelayMs);
        continue;
      }
    }
    if (link->isUsb)
      _VNCoURun(link);
    else
      runTcp(link);
    {
      // Under the lock: no requester is sending on the socket while it closes, and
      // every request still waiting learns at once that its answer will not come.
      std::lock_guard<std::mutex> hold(link->lock);
      _VNCoELinkMarkLost(link);
      if (!link->isUsb) closeSocket(link);
    }
    if (link->stop) break;
    VARNLog("CoE connection to %s lost, reconnecting\n", link->address);
    pause(link, link->retryDelayMs);
  }
  if (link->isUsb)
    _VNCoUClose(link);
  else
    closeSocket(link);  // a failed attempt's socket, left for the next one
}
