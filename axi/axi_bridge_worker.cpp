// The bridge's work. The FPGA-side stream and every client stream are cut into
// packets by their own assemblers; packets are collected into one output buffer per
// destination and sent once per receive, which keeps a pipelined client's stream in
// large writes instead of one system call per packet.
#include "axi/axi_bridge_worker.h"

#include <cstring>

#include "app/log/varn_log.h"

namespace axibridge {

namespace {

uint64_t nowMs() { return varn_monotonic_ns() / 1000000u; }

}  // namespace

Worker::Worker(VARNAXIBridge* b) : b_(b) {
  VARNAXIAssemblerReset(&upWindow_);
  std::memset(originClient_, kFree, sizeof(originClient_));
  originClient_[kProbeSeq] = kProbe;
  for (auto& c : c_) VARNAXIAssemblerReset(&c.window);
}

void Worker::closeClients() {
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i) {
    if (varn_socket_valid(c_[i].sock)) varn_close_socket(c_[i].sock);
    c_[i].sock = VARN_INVALID_SOCKET;
    b_->clients[i] = VARN_INVALID_SOCKET;
  }
}

// The FPGA side is gone or the wait cannot work: this bridge stops, the rest of the
// process (every other board) goes on.
void Worker::retire(const char* message) {
  closeClients();
  if (varn_socket_valid(b_->listener)) varn_close_socket(b_->listener);
  b_->listener = VARN_INVALID_SOCKET;
  b_->running = 0;
  b_->serving = false;
  retired_ = true;
  publish();
  if (message) VARNLog("%s", message);
}

void Worker::queueUpstream(const uint8_t* data, size_t len) { up_.insert(up_.end(), data, data + len); }

// Sends what the FPGA side takes now. False when it is gone (the bridge retires).
bool Worker::pushUpstream() {
  while (upHead_ < up_.size()) {
    long n = varn_send(b_->upstream, up_.data() + upHead_, up_.size() - upHead_);
    if (n > 0) {
      upHead_ += size_t(n);
      continue;
    }
    if (n < 0 && varn_error_is_interrupted()) continue;
    if (n < 0 && varn_error_would_block()) break;
    retire("Lost upstream connection\n");
    return false;
  }
  if (upHead_ == up_.size()) {
    up_.clear();
    upHead_ = 0;
  } else if (upHead_ > kUpstreamHigh) {
    up_.erase(up_.begin(), up_.begin() + long(upHead_));
    upHead_ = 0;
  }
  return true;
}

void Worker::dropClient(int i, const char* message) {
  ClientState& c = c_[i];
  if (message) VARNLog("%s", message);
  // The socket closes last, so that whoever sees it close finds the counts settled.
  const varn_socket gone = c.sock;
  c.sock = VARN_INVALID_SOCKET;
  b_->clients[i] = VARN_INVALID_SOCKET;
  // A bulk write still being gathered never went upstream: its number is simply free.
  if (c.bulkSeq >= 0) {
    VARNLog("Client %i left during a bulk write; none of its %u bytes were sent\n", i, c.bulkLength);
    freeNumber(uint8_t(c.bulkSeq));
  }
  c.bulkSeq = -1;
  c.bulk = std::vector<uint8_t>();
  // Its outstanding answers must not reach whoever takes the slot next.
  for (int s = 0; s < 256; ++s)
    if (originClient_[s] == i) originClient_[s] = kOrphan;
  c.numbers = 0;
  c.bulkRemainder = 0;
  c.outLen = 0;
  c.mask = 0;
  VARNAXIAssemblerReset(&c.window);
  publish();
  varn_close_socket(gone);
}

// Client sockets are non-blocking and the bridge never waits for one: it sends what
// the socket takes and keeps the rest. False when the client is gone.
bool Worker::pushOut(int i) {
  ClientState& c = c_[i];
  size_t sent = 0;
  while (sent < c.outLen) {
    long n = varn_send(c.sock, c.out + sent, c.outLen - sent);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && varn_error_is_interrupted()) continue;
    if (n < 0 && varn_error_would_block()) break;
    return false;
  }
  if (sent > 0) {
    std::memmove(c.out, c.out + sent, c.outLen - sent);
    c.outLen -= sent;
  }
  return true;
}

void Worker::queueToClient(int i, const uint8_t* packet) {
  ClientState& c = c_[i];
  if (c.outLen + VARN_AXI_PACKET_SIZE > sizeof(c.out)) {
    if (!pushOut(i)) {
      dropClient(i, "Client Dropped\n");
      return;
    }
    if (c.outLen + VARN_AXI_PACKET_SIZE > sizeof(c.out)) {
      // Its socket's buffer is full and so is what the bridge keeps for it: it does
      // not read, and holding more would only grow without end.
      VARNLog("Client %i does not take its answers (%u bytes waiting); dropping it\n", i, unsigned(c.outLen));
      dropClient(i, "Client Dropped\n");
      return;
    }
  }
  std::memcpy(c.out + c.outLen, packet, VARN_AXI_PACKET_SIZE);
  c.outLen += VARN_AXI_PACKET_SIZE;
}

void Worker::flushClients() {
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i) {
    ClientState& c = c_[i];
    if (!c.outLen || !varn_socket_valid(c.sock)) continue;
    if (!pushOut(i)) dropClient(i, "Client Dropped\n");
  }
}

void Worker::serveUpstream() {
  long n = varn_recv(b_->upstream, rx_, sizeof(rx_));
  if (n < 0 && varn_error_is_interrupted()) return;
  if (n <= 0) {
    retire("Lost upstream connection\n");
    return;
  }
  const uint8_t* p = rx_;
  size_t len = size_t(n);
  uint8_t pkt[VARN_AXI_PACKET_SIZE];
  while (VARNAXIAssemblerNext(&upWindow_, &p, &len, pkt, "Bad Upstream CRC\n")) {
    if ((pkt[0] & 0x0F) == VARN_AXI_CMD_INTERRUPT) {
      uint8_t set = pkt[0] >> 4;
      for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i)
        if (varn_socket_valid(c_[i].sock) && (c_[i].mask & set)) queueToClient(i, pkt);
      continue;
    }
    uint8_t s = pkt[1];
    uint8_t owner = originClient_[s];
    if (owner == kFree) continue;
    const uint8_t cmd = pkt[0] & 0x0F;
    if (owner == kProbe) {
      if (cmd != VARN_AXI_CMD_TEST || probeCount_ == 0) continue;
      // Which of the test requests this answers is unknown; the oldest is the safe guess.
      uint64_t order = probes_[probeHead_];
      probeHead_ = (probeHead_ + 1) % kProbeRecords;
      --probeCount_;
      releaseLateBefore(order);
      continue;
    }
    // An answer that does not fit the request sent under this number is not its answer
    // (a stray or a late one): dropping it keeps the number for the real answer.
    if (cmd != originCmd_[s]) continue;
    const uint64_t addr = VARNAXIPacketAddress(pkt);
    if (cmd == VARN_AXI_CMD_READ || (cmd == VARN_AXI_CMD_WRITE && !originBulk_[s])) {
      if (addr == originAddr_[s] && addr != 0) echoesAddress_[cmd] = true;
      if (echoesAddress_[cmd] && addr != originAddr_[s]) continue;
    }
    releaseLateBefore(originOrder_[s]);
    if (originLate_[s]) ++lateAnswers_;
    freeNumber(s);
    if (owner >= VARN_AXI_BRIDGE_MAX_CLIENTS || !varn_socket_valid(c_[owner].sock)) continue;
    pkt[1] = originSeq_[s];
    VARNAXIPacketSeal(pkt);
    queueToClient(owner, pkt);
  }
  if (lateAnswers_) {
    VARNLog("%u overdue upstream requests were answered after all\n", lateAnswers_);
    lateAnswers_ = 0;
  }
  // Counts first, so that a client that has its answer also sees them up to date.
  publish();
  flushClients();
}

void Worker::acceptClient() {
  varn_socket s = varn_accept(b_->listener, nullptr, nullptr);
  if (!varn_socket_valid(s)) return;
  int slot = -1;
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS && slot < 0; ++i)
    if (!varn_socket_valid(c_[i].sock)) slot = i;
  if (slot < 0) {
    VARNLog("Dropped client since %i clients are already connected\n", VARN_AXI_BRIDGE_MAX_CLIENTS);
    varn_close_socket(s);
    return;
  }
  if (!varn_socket_selectable(s, "Dropped client")) {
    varn_close_socket(s);
    return;
  }
  if (varn_set_nonblocking(s, true) != 0) {
    VARNLog("Dropped client: cannot make its socket non-blocking (error %i)\n", varn_error_code());
    varn_close_socket(s);
    return;
  }
  if (varn_set_nodelay(s) != 0) varn_perror("TCP_NODELAY");
  if (varn_set_keepalive(s) != 0) varn_perror("TCP keepalive");
  ClientState& c = c_[slot];
  c.sock = s;
  b_->clients[slot] = s;
  VARNAXIAssemblerReset(&c.window);
  c.mask = 0;
  c.bulkRemainder = 0;
  c.outLen = 0;
  c.numbers = 0;
  c.noisy = false;
  VARNLog("New client connected\n");
  publish();
}

// Gives a request a free number of the bridge (the caller made sure one is free) and
// puts it into the packet.
uint8_t Worker::takeNumber(int i, uint8_t* pkt) {
  while (originClient_[b_->bridgeSeq] != kFree) ++b_->bridgeSeq;
  uint8_t s = b_->bridgeSeq++;
  originSeq_[s] = pkt[1];
  originClient_[s] = uint8_t(i);
  originCmd_[s] = pkt[0] == VARN_AXI_CMD_BULK ? VARN_AXI_CMD_WRITE : pkt[0];
  originBulk_[s] = pkt[0] == VARN_AXI_CMD_BULK;
  originAddr_[s] = VARNAXIPacketAddress(pkt);
  originMs_[s] = nowMs();
  originOrder_[s] = kNotSent;
  ++inUse_;
  ++c_[i].numbers;
  pkt[1] = s;
  VARNAXIPacketSeal(pkt);
  return s;
}

void Worker::forward(int i, uint8_t* pkt) {
  uint8_t s = takeNumber(i, pkt);
  originOrder_[s] = sent_++;
  queueUpstream(pkt, VARN_AXI_PACKET_SIZE);
}

// The whole payload is here: header and payload go upstream together.
void Worker::finishBulk(int i) {
  ClientState& c = c_[i];
  const uint8_t s = uint8_t(c.bulkSeq);
  originMs_[s] = nowMs();
  originOrder_[s] = sent_++;
  queueUpstream(c.bulkHeader, VARN_AXI_PACKET_SIZE);
  queueUpstream(c.bulk.data(), c.bulk.size());
  c.bulk = std::vector<uint8_t>();
  c.bulkSeq = -1;
}

void Worker::serveClient(int i, int numbers) {
  ClientState& c = c_[i];
  // Take no more bytes than this client's share of the free numbers lets go upstream
  // now: every packet needs a number, payload bytes need none.
  int64_t budget = int64_t(numbers) * int64_t(VARN_AXI_PACKET_SIZE) - c.window.fill;
  if (budget < 0) budget = 0;
  budget += c.bulkRemainder;
  if (budget > int64_t(sizeof(rx_))) budget = int64_t(sizeof(rx_));
  // Checking garbage costs time every other client waits through: little of it a pass.
  if (c.noisy && !c.bulkRemainder && budget > kNoisyBudget) budget = kNoisyBudget;
  if (budget == 0) return;
  long n = varn_recv(c.sock, rx_, size_t(budget));
  if (n < 0 && (varn_error_is_interrupted() || varn_error_would_block())) return;
  if (n <= 0) {
    dropClient(i, "Client disconnected\n!");
    return;
  }
  const uint8_t* p = rx_;
  size_t len = size_t(n);
  uint8_t pkt[VARN_AXI_PACKET_SIZE];
  const uint32_t badBefore = c.window.badWindows;
  bool any = false;
  while (len > 0) {
    if (c.bulkRemainder) {
      uint32_t take = len < c.bulkRemainder ? uint32_t(len) : c.bulkRemainder;
      c.bulk.insert(c.bulk.end(), p, p + take);
      c.bulkRemainder -= take;
      p += take;
      len -= take;
      if (!c.bulkRemainder) finishBulk(i);
      continue;
    }
    if (!VARNAXIAssemblerNext(&c.window, &p, &len, pkt, "Bad CRC\n")) break;
    any = true;
    switch (pkt[0]) {
      case VARN_AXI_CMD_TEST:
      case VARN_AXI_CMD_READ:
      case VARN_AXI_CMD_WRITE:
        forward(i, pkt);
        break;
      case VARN_AXI_CMD_BULK: {
        uint32_t length = VARNAXIPacketData(pkt);
        if (length % 16 != 0 || length > VARN_AXI_BRIDGE_MAX_BULK) {
          // Forwarding it would leave the FPGA reading a payload nobody can frame, and
          // swallowing the declared length (up to 4 GiB) would lose that much of the
          // client's later requests without a word: the client is closed instead.
          VARNLog("Refused bulk write of %u bytes from client %i (a multiple of 16 up to %u is allowed); "
                  "closing its connection\n",
                  length, i, VARN_AXI_BRIDGE_MAX_BULK);
          dropClient(i, nullptr);
          pushUpstream();
          publish();
          return;
        }
        c.bulkSeq = takeNumber(i, pkt);
        std::memcpy(c.bulkHeader, pkt, VARN_AXI_PACKET_SIZE);
        c.bulkLength = length;
        c.bulkRemainder = length;
        c.bulkStartMs = nowMs();
        c.bulk.clear();
        c.bulk.reserve(length);
        if (length == 0) finishBulk(i);
        break;
      }
      case VARN_AXI_CMD_IRQ_MASK:
        c.mask = pkt[2];
        VARNLog("Interrupt Registration - Client %i mask %02hhx\n", i, c.mask);
        break;
      default:
        VARNLog("Unknown CMD: %02hhx\n", pkt[0]);
        break;
    }
  }
  if (varn_socket_valid(c.sock)) c.noisy = !any && c.window.badWindows != badBefore;
  pushUpstream();
  publish();
}

// Notes the overdue requests, whose numbers come back into use once the FPGA has
// answered something sent after them, and asks the FPGA for such an answer.
void Worker::reclaimStale() {
  uint64_t now = nowMs();
  int count = 0;
  for (int s = 0; s < 256; ++s) {
    uint8_t o = originClient_[s];
    if (o == kFree || o == kProbe || originLate_[s] || originOrder_[s] == kNotSent ||
        now - originMs_[s] < uint64_t(VARN_AXI_BRIDGE_RECLAIM_MS))
      continue;
    originLate_[s] = true;
    ++late_;
    ++count;
  }
  if (count) VARNLog("%i upstream requests unanswered for %i ms or more\n", count, VARN_AXI_BRIDGE_RECLAIM_MS);
  if (late_ > 0) probe();
}

void Worker::releaseLateBefore(uint64_t order) {
  if (late_ == 0) return;
  int count = 0;
  for (int s = 0; s < 256; ++s) {
    if (!originLate_[s] || originOrder_[s] >= order) continue;
    freeNumber(uint8_t(s));
    ++count;
  }
  if (count) {
    VARNLog("The FPGA answered past %i overdue upstream requests; their answers are lost\n", count);
    publish();
  }
}

void Worker::probe() {
  uint64_t now = nowMs();
  if (probeCount_ > 0 && now - lastProbeMs_ < uint64_t(kProbeEveryMs)) return;
  lastProbeMs_ = now;
  uint8_t pkt[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(pkt, VARN_AXI_CMD_TEST, kProbeSeq, 0x12345678u, 0xAAAAAAAAu);
  // Untracked when the ring is full: its answer then counts for an older one, which
  // frees no number too early.
  if (probeCount_ < kProbeRecords) {
    probes_[(probeHead_ + probeCount_) % kProbeRecords] = sent_;
    ++probeCount_;
  }
  ++sent_;
  queueUpstream(pkt, sizeof pkt);
  pushUpstream();
}

// A bulk write must be complete within a bound counted from its header: a client that
// trickles its payload cannot keep its number and its memory for ever.
void Worker::checkBulkStall() {
  uint64_t now = nowMs();
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i) {
    ClientState& c = c_[i];
    if (!varn_socket_valid(c.sock) || !c.bulkRemainder) continue;
    const uint64_t bound = VARN_AXI_BRIDGE_BULK_STALL_MS + c.bulkLength / VARN_AXI_BRIDGE_BULK_MIN_BYTES_PER_MS;
    if (now - c.bulkStartMs < bound) continue;
    VARNLog("Client %i did not complete its bulk write of %u bytes within %llu ms (%u missing) - dropping it\n", i,
            c.bulkLength, static_cast<unsigned long long>(bound), c.bulkRemainder);
    dropClient(i, nullptr);
  }
}

bool Worker::turn(int64_t maxWaitUs) {
  if (!b_->running || retired_) return false;
  const bool bulking = gathering();
  // Without free numbers, or while the FPGA side has not taken what it was given, only
  // payload bytes of bulk writes being gathered are read.
  const bool stalled = freeNumbers() == 0 || up_.size() - upHead_ > kUpstreamHigh;
  fd_set rs;
  FD_ZERO(&rs);
  int maxFd = 0;
  auto watch = [&](varn_socket s) {
    FD_SET(s, &rs);
    if (int(s) > maxFd) maxFd = int(s);
  };
  watch(b_->wake[0]);
  watch(b_->upstream);
  watch(b_->listener);
  bool eligible[VARN_AXI_BRIDGE_MAX_CLIENTS] = {};
  const int limit = cap();
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i) {
    const ClientState& c = c_[i];
    if (!varn_socket_valid(c.sock)) continue;
    eligible[i] = (!stalled && c.numbers < limit) || c.bulkRemainder;
    if (eligible[i]) watch(c.sock);
  }
  int64_t timeoutUs = -1;
  if (stalled || bulking || inUse_ > 0) timeoutUs = 100000;
  if (maxWaitUs >= 0 && (timeoutUs < 0 || timeoutUs > maxWaitUs)) timeoutUs = maxWaitUs;

  // Clients with answers still waiting for room in their sockets, and the FPGA side.
  fd_set ws;
  FD_ZERO(&ws);
  bool writing = false;
  const bool upPending = upHead_ < up_.size();
  if (upPending) {
    FD_SET(b_->upstream, &ws);
    if (int(b_->upstream) > maxFd) maxFd = int(b_->upstream);
  }
  for (const ClientState& c : c_) {
    if (!varn_socket_valid(c.sock) || c.outLen == 0) continue;
    FD_SET(c.sock, &ws);
    if (int(c.sock) > maxFd) maxFd = int(c.sock);
    writing = true;
  }
  int r = varn_select(maxFd + 1, &rs, writing || upPending ? &ws : nullptr, timeoutUs);
  if (r < 0) {
    if (varn_error_is_interrupted()) return true;
    VARNLog("pselect error\n");
    VARNLog("AXI bridge stops serving this FPGA after wait error %i\n", varn_error_code());
    retire(nullptr);
    return false;
  }
  if (!b_->running) return false;
  if (FD_ISSET(b_->wake[0], &rs)) {
    uint8_t drain[16];
    varn_recv(b_->wake[0], drain, sizeof(drain));
  }
  if (FD_ISSET(b_->upstream, &rs)) {
    serveUpstream();
    if (retired_) return false;
  }
  if (writing) flushClients();
  if (upPending && !pushUpstream()) return false;
  if (FD_ISSET(b_->listener, &rs)) acceptClient();
  if (inUse_ > 0) reclaimStale();
  if (retired_) return false;
  if (bulking) checkBulkStall();
  // Every client with requests waiting gets its share of the free numbers, and the
  // first place moves round, so that a pipelining client cannot starve the others.
  int order[VARN_AXI_BRIDGE_MAX_CLIENTS];
  int ready = 0;
  for (int k = 0; k < VARN_AXI_BRIDGE_MAX_CLIENTS; ++k) {
    int i = (first_ + k) % VARN_AXI_BRIDGE_MAX_CLIENTS;
    if (eligible[i] && varn_socket_valid(c_[i].sock) && FD_ISSET(c_[i].sock, &rs)) order[ready++] = i;
  }
  first_ = (first_ + 1) % VARN_AXI_BRIDGE_MAX_CLIENTS;
  for (int k = 0; k < ready && !retired_; ++k) {
    int i = order[k];
    if (!varn_socket_valid(c_[i].sock)) continue;
    int left = ready - k;
    int share = (freeNumbers() + left - 1) / left;
    if (share > cap() - c_[i].numbers) share = cap() - c_[i].numbers;
    if (share < 0) share = 0;
    if (share == 0 && !c_[i].bulkRemainder) continue;
    serveClient(i, share);
  }
  return true;
}

void Worker::run() {
  while (turn(-1)) {
  }
  finish();
}

void Worker::finish() {
  if (!retired_) closeClients();
  publish();
}

}  // namespace axibridge
