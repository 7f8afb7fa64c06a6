// The bridge's work thread. The FPGA-side stream and every client stream are cut into
// packets by their own assemblers; packets are collected into one output buffer per
// destination and sent once per receive, which keeps a pipelined client's stream in
// large writes instead of one system call per packet.
#include "axi/varn_axi_bridge.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "app/log/varn_log.h"
#include "axi/varn_axi_packet.h"

namespace {

constexpr size_t kBuf = 8192;
constexpr uint8_t kFree = 0xFF;    // origin client: number not in use
constexpr uint8_t kOrphan = 0xFE;  // in use, but its client has gone: the answer is dropped
constexpr uint8_t kProbe = 0xFC;   // the number reserved for the bridge's own test requests
// A number whose answer is overdue is not used again until its answer has come (and
// gone to the client that asked) or can no longer come. The FPGA answers requests in
// the order it takes them, so an answer proves that every request sent before it was
// answered or lost. When every number is taken, a test request under this reserved
// number finds that out.
constexpr uint8_t kProbeSeq = 0xFF;
constexpr int kNumbers = 255;          // numbers clients' requests can take
constexpr int kProbeEveryMs = 1000;    // while unanswered
constexpr int kProbeRecords = 16;

uint64_t nowMs() { return varn_monotonic_ns() / 1000000u; }

struct ClientState {
  varn_socket sock = VARN_INVALID_SOCKET;
  VARNAXIAssembler window{};
  uint8_t mask = 0;
  uint32_t bulkRemainder = 0;  // payload bytes still to come from this client
  int numbers = 0;             // upstream numbers its requests hold
  uint64_t bulkProgressMs = 0;
  uint8_t out[kBuf];
  size_t outLen = 0;
};

}  // namespace

struct VARNAXIBridge {
  varn_socket upstream = VARN_INVALID_SOCKET;
  varn_socket listener = VARN_INVALID_SOCKET;
  std::thread workThread;
  std::atomic<uint8_t> running{1};
  uint8_t bridgeSeq = 0;
  varn_socket clients[VARN_AXI_BRIDGE_MAX_CLIENTS];
  // Destroy writes a byte here so that the wait, which has no time-out, ends at once.
  varn_socket wake[2] = {VARN_INVALID_SOCKET, VARN_INVALID_SOCKET};
  std::atomic<int> clientCount{0};
  std::atomic<int> inFlight{0};
  std::atomic<bool> serving{true};
};

namespace {

class Worker {
 public:
  explicit Worker(VARNAXIBridge* b) : b_(b) {
    VARNAXIAssemblerReset(&upWindow_);
    std::memset(originClient_, kFree, sizeof(originClient_));
    originClient_[kProbeSeq] = kProbe;
    for (auto& c : c_) VARNAXIAssemblerReset(&c.window);
  }
  void run();

 private:
  bool bulkForwarding() const {
    for (const auto& c : c_)
      if (varn_socket_valid(c.sock) && c.bulkRemainder) return true;
    return false;
  }
  int freeNumbers() const { return kNumbers - inUse_; }
  // With several clients connected none may hold more than its part of the numbers, so
  // that a pipelining client leaves the FPGA's queue short for the others' requests.
  int cap() const {
    int n = 0;
    for (const auto& c : c_) n += varn_socket_valid(c.sock) ? 1 : 0;
    return n > 1 ? kNumbers / n : kNumbers;
  }
  void freeNumber(uint8_t s) {
    if (originClient_[s] < VARN_AXI_BRIDGE_MAX_CLIENTS) --c_[originClient_[s]].numbers;
    if (originLate_[s]) --late_;
    originLate_[s] = false;
    originClient_[s] = kFree;
    --inUse_;
  }
  void releaseLateBefore(uint64_t order);
  void probe();
  void publish() {
    int n = 0;
    for (const auto& c : c_) n += varn_socket_valid(c.sock) ? 1 : 0;
    b_->clientCount = n;
    b_->inFlight = inUse_;
  }

  void acceptClient();
  void dropClient(int i, const char* message);
  bool pushOut(int i);
  void queueToClient(int i, const uint8_t* packet);
  void flushClients();
  void serveUpstream();
  void serveClient(int i, int numbers);
  bool sendUpstream(const uint8_t* data, size_t len);
  bool flushUpstream();
  void forward(int i, uint8_t* packet);
  void reclaimStale();
  void checkBulkStall();
  void retire(const char* message);
  void closeClients();

  VARNAXIBridge* b_;
  VARNAXIAssembler upWindow_;
  ClientState c_[VARN_AXI_BRIDGE_MAX_CLIENTS];
  uint8_t originSeq_[256] = {};
  uint8_t originClient_[256];
  uint8_t originCmd_[256] = {};  // command low nibble the answer must carry
  uint64_t originMs_[256] = {};
  uint64_t originOrder_[256] = {};  // when it went upstream, counted in requests
  uint64_t originAddr_[256] = {};
  bool originBulk_[256] = {};
  bool originLate_[256] = {};  // overdue: kept out of use until answered or passed
  int inUse_ = 0;                   // numbers of kNumbers taken (overdue ones included)
  int late_ = 0;
  uint64_t sent_ = 0;               // requests sent upstream so far
  // Whether the FPGA repeats a request's address in the answer, learnt per command from
  // its answers; once known, an answer with another address is not this request's.
  bool echoesAddress_[16] = {};
  // Send order of the test requests not yet answered, oldest first (a ring).
  uint64_t probes_[kProbeRecords] = {};
  int probeHead_ = 0, probeCount_ = 0;
  uint64_t lastProbeMs_ = 0;
  uint32_t lateAnswers_ = 0;
  int first_ = 0;  // the client served first in the next pass
  uint8_t rx_[kBuf];
  // A receive of kBuf bytes can complete one packet begun in the previous receive.
  uint8_t up_[kBuf + VARN_AXI_PACKET_SIZE];
  size_t upLen_ = 0;
  bool retired_ = false;
};

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

bool Worker::sendUpstream(const uint8_t* data, size_t len) {
  if (varn_send_all(b_->upstream, data, len) == 0) return true;
  retire("Lost upstream connection\n");
  return false;
}

bool Worker::flushUpstream() {
  if (upLen_ == 0) return true;
  size_t n = upLen_;
  upLen_ = 0;
  return sendUpstream(up_, n);
}

void Worker::dropClient(int i, const char* message) {
  ClientState& c = c_[i];
  if (message) VARNLog("%s", message);
  varn_close_socket(c.sock);
  c.sock = VARN_INVALID_SOCKET;
  b_->clients[i] = VARN_INVALID_SOCKET;
  // Its outstanding answers must not reach whoever takes the slot next.
  for (int s = 0; s < 256; ++s)
    if (originClient_[s] == i) originClient_[s] = kOrphan;
  c.numbers = 0;
  if (c.bulkRemainder) {
    // The FPGA is in the middle of this client's payload and would read every later
    // request as payload bytes: complete the payload with zeros so its stream stays framed.
    VARNLog("Client %i left during a bulk write - padding the last %u bytes upstream\n", i, c.bulkRemainder);
    static const uint8_t zeros[kBuf] = {};
    if (!flushUpstream()) return;
    uint32_t left = c.bulkRemainder;
    c.bulkRemainder = 0;
    while (left) {
      uint32_t n = left < kBuf ? left : uint32_t(kBuf);
      if (!sendUpstream(zeros, n)) return;
      left -= n;
    }
  }
  c.bulkRemainder = 0;
  c.outLen = 0;
  c.mask = 0;
  VARNAXIAssemblerReset(&c.window);
  publish();
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
  VARNLog("New client connected\n");
  publish();
}

// Sends one request upstream under a free number of the bridge. The caller made sure
// one is free.
void Worker::forward(int i, uint8_t* pkt) {
  while (originClient_[b_->bridgeSeq] != kFree) ++b_->bridgeSeq;
  uint8_t s = b_->bridgeSeq++;
  originSeq_[s] = pkt[1];
  originClient_[s] = uint8_t(i);
  originCmd_[s] = pkt[0] == VARN_AXI_CMD_BULK ? VARN_AXI_CMD_WRITE : pkt[0];
  originBulk_[s] = pkt[0] == VARN_AXI_CMD_BULK;
  originAddr_[s] = VARNAXIPacketAddress(pkt);
  originMs_[s] = nowMs();
  originOrder_[s] = sent_++;
  ++inUse_;
  ++c_[i].numbers;
  pkt[1] = s;
  VARNAXIPacketSeal(pkt);
  std::memcpy(up_ + upLen_, pkt, VARN_AXI_PACKET_SIZE);
  upLen_ += VARN_AXI_PACKET_SIZE;
}

void Worker::serveClient(int i, int numbers) {
  ClientState& c = c_[i];
  // Take no more bytes than this client's share of the free numbers lets go upstream
  // now: every packet needs a number, payload bytes need none.
  int64_t budget = int64_t(numbers) * int64_t(VARN_AXI_PACKET_SIZE) - c.window.fill;
  if (budget < 0) budget = 0;
  budget += c.bulkRemainder;
  if (budget > int64_t(sizeof(rx_))) budget = int64_t(sizeof(rx_));
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
  upLen_ = 0;
  while (len > 0) {
    if (c.bulkRemainder) {
      uint32_t take = len < c.bulkRemainder ? uint32_t(len) : c.bulkRemainder;
      std::memcpy(up_ + upLen_, p, take);
      upLen_ += take;
      c.bulkRemainder -= take;
      c.bulkProgressMs = nowMs();
      p += take;
      len -= take;
      continue;
    }
    if (!VARNAXIAssemblerNext(&c.window, &p, &len, pkt, "Bad CRC\n")) break;
    switch (pkt[0]) {
      case VARN_AXI_CMD_TEST:
      case VARN_AXI_CMD_READ:
      case VARN_AXI_CMD_WRITE:
        forward(i, pkt);
        break;
      case VARN_AXI_CMD_BULK: {
        uint32_t length = VARNAXIPacketData(pkt);
        c.bulkProgressMs = nowMs();
        if (length % 16 != 0 || length > VARN_AXI_BRIDGE_MAX_BULK) {
          // Forwarding it would leave the FPGA reading a payload nobody can frame, and
          // swallowing the declared length (up to 4 GiB) would lose that much of the
          // client's later requests without a word: the client is closed instead.
          VARNLog("Refused bulk write of %u bytes from client %i (a multiple of 16 up to %u is allowed); "
                  "closing its connection\n",
                  length, i, VARN_AXI_BRIDGE_MAX_BULK);
          if (flushUpstream()) dropClient(i, nullptr);
          publish();
          return;
        }
        forward(i, pkt);
        c.bulkRemainder = length;
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
  flushUpstream();
  publish();
}

// Notes the overdue requests, whose numbers come back into use once the FPGA has
// answered something sent after them, and asks the FPGA for such an answer.
void Worker::reclaimStale() {
  uint64_t now = nowMs();
  int count = 0;
  for (int s = 0; s < 256; ++s) {
    uint8_t o = originClient_[s];
    if (o == kFree || o == kProbe || originLate_[s] || now - originMs_[s] < uint64_t(VARN_AXI_BRIDGE_RECLAIM_MS))
      continue;
    originLate_[s] = true;
    ++late_;
    ++count;
  }
  if (count) VARNLog("%i upstream requests unanswered for %i ms or more\n", count, VARN_AXI_BRIDGE_RECLAIM_MS);
  // Never inside a bulk payload, which the FPGA would take the test request for.
  if (late_ > 0 && !bulkForwarding()) probe();
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
  sendUpstream(pkt, sizeof pkt);
}

void Worker::checkBulkStall() {
  uint64_t now = nowMs();
  for (int i = 0; i < VARN_AXI_BRIDGE_MAX_CLIENTS; ++i) {
    ClientState& c = c_[i];
    if (!varn_socket_valid(c.sock) || !c.bulkRemainder) continue;
    if (now - c.bulkProgressMs < uint64_t(VARN_AXI_BRIDGE_BULK_STALL_MS)) continue;
    VARNLog("Client %i sent nothing for %i ms in the middle of a bulk write - dropping it\n", i,
            VARN_AXI_BRIDGE_BULK_STALL_MS);
    dropClient(i, nullptr);
  }
}

void Worker::run() {
  while (b_->running && !retired_) {
    bool exclusive = bulkForwarding();
    bool stalled = freeNumbers() == 0;
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
      // While a bulk payload is under way only its sender is read, so that the payload
      // reaches the FPGA in one piece; without free numbers, only payload bytes can move.
      bool bulk = c.bulkRemainder;
      eligible[i] = exclusive ? bulk : ((!stalled && c.numbers < limit) || c.bulkRemainder);
      if (eligible[i]) watch(c.sock);
    }
    int64_t timeoutUs = -1;
    if (stalled || exclusive || inUse_ > 0) timeoutUs = 100000;

    // Clients with answers still waiting for room in their sockets.
    fd_set ws;
    FD_ZERO(&ws);
    bool writing = false;
    for (const ClientState& c : c_) {
      if (!varn_socket_valid(c.sock) || c.outLen == 0) continue;
      FD_SET(c.sock, &ws);
      if (int(c.sock) > maxFd) maxFd = int(c.sock);
      writing = true;
    }
    int r = varn_select(maxFd + 1, &rs, writing ? &ws : nullptr, timeoutUs);
    if (r < 0) {
      if (varn_error_is_interrupted()) continue;
      VARNLog("pselect error\n");
      VARNLog("AXI bridge stops serving this FPGA after wait error %i\n", varn_error_code());
      retire(nullptr);
      break;
    }
    if (!b_->running) break;
    if (FD_ISSET(b_->wake[0], &rs)) {
      uint8_t drain[16];
      varn_recv(b_->wake[0], drain, sizeof(drain));
    }
    if (FD_ISSET(b_->upstream, &rs)) {
      serveUpstream();
      if (retired_) break;
    }
    if (writing) flushClients();
    if (FD_ISSET(b_->listener, &rs)) acceptClient();
    if (inUse_ > 0) reclaimStale();
    if (exclusive) checkBulkStall();
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
      // The rest of a bulk payload comes before anything of anybody else.
      if (varn_socket_valid(c_[i].sock) && c_[i].bulkRemainder) break;
    }
  }
  if (!retired_) closeClients();
  publish();
}

}  // namespace

VARNAXIBridge* VARNAXIBridgeCreate(varn_socket upstream, varn_socket listener) {
  VARNAXIBridge* b = new (std::nothrow) VARNAXIBridge;
  if (!b) return nullptr;
  b->upstream = upstream;
  b->listener = listener;
  for (auto& c : b->clients) c = VARN_INVALID_SOCKET;
  if (varn_socketpair(b->wake) != 0) {
    varn_perror("AXI bridge wake-up socket pair");
    delete b;
    return nullptr;
  }
  if (!varn_socket_selectable(upstream, "AXI bridge upstream") ||
      !varn_socket_selectable(listener, "AXI bridge listener") ||
      !varn_socket_selectable(b->wake[0], "AXI bridge wake-up")) {
    varn_close_socket(b->wake[0]);
    varn_close_socket(b->wake[1]);
    delete b;
    return nullptr;
  }
  try {
    b->workThread = std::thread([b] {
      // The worker's buffers (about 150 KiB) live on the heap, made once.
      std::unique_ptr<Worker> w(new Worker(b));
      w->run();
    });
  } catch (const std::exception& e) {
    VARNLog("Failed to start the AXI bridge thread: %s\n", e.what());
    varn_close_socket(b->wake[0]);
    varn_close_socket(b->wake[1]);
    delete b;
    return nullptr;
  }
  return b;
}

void VARNAXIBridgeDestroy(VARNAXIBridge** handle) {
  if (!handle || !*handle) return;
  VARNAXIBridge* b = *handle;
  *handle = nullptr;
  b->running = 0;
  uint8_t one = 1;
  varn_send(b->wake[1], &one, 1);
  if (b->workThread.joinable()) b->workThread.join();
  varn_close_socket(b->wake[0]);
  varn_close_socket(b->wake[1]);
  delete b;
}

int VARNAXIBridgeStatus(VARNAXIBridge* bridge, int* clients, int* inFlight) {
  if (!bridge) return 6;
  if (clients) *clients = bridge->clientCount;
  if (inFlight) *inFlight = bridge->inFlight;
  return bridge->serving ? 0 : 6;
}
