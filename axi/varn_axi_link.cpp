// The link engine: request slots, sequence numbers, the two waits and the receive
// thread that matches answers to their waiters.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/log/varn_log.h"
#include "axi/varn_axi_handle.h"

namespace {

constexpr size_t kRecvSize = 8192;
constexpr int kWaits = 10;
constexpr int kBulkWaitMs = 100;

bool ringFull(const _VARNAXI* axi) { return uint8_t(axi->txHead + 1) == axi->txTail; }

// Moves txTail past every finished slot whose waiter has taken its result, so that
// txTail always marks the oldest request that may still be answered. Caller holds txLock.
void advanceTail(_VARNAXI* axi) {
  while (axi->txTail != axi->txHead) {
    const VARNAXITxSlot& s = axi->txSlots[axi->txTail];
    if (!s.done || !s.released) break;
    ++axi->txTail;
  }
}

// Caller holds txLock; the ring is not full.
uint8_t claimSlot(_VARNAXI* axi, const uint8_t* request, bool bulk = false) {
  uint8_t idx = axi->txHead;
  VARNAXITxSlot& s = axi->txSlots[idx];
  std::memcpy(s.request, request, VARN_AXI_PACKET_SIZE);
  std::memset(s.answer, 0, VARN_AXI_PACKET_SIZE);
  s.done = s.ok = s.abandoned = s.released = 0;
  s.bulk = bulk ? 1 : 0;
  ++axi->txHead;
  return idx;
}

// Takes the next sequence number into the request and reseals it. Caller holds txLock.
void stampSequence(_VARNAXI* axi, uint8_t* request) {
  request[1] = axi->txSeq++;
  VARNAXIPacketSeal(request);
}

// A slot whose request never left is finished at once, so it cannot hold txTail.
void retireUnsent(_VARNAXI* axi, int idx) {
  if (idx < 0) return;
  VARNAXITxSlot& s = axi->txSlots[idx];
  s.done = s.abandoned = s.released = 1;
  advanceTail(axi);
}

// Waits for slot idx with kWaits timed waits of waitUs each. Each wait has its own
// deadline: answers for other slots wake the waiter, but it goes back to sleep until
// the same deadline, so they neither count as a wait nor stretch it. The whole wait
// is therefore bounded by kWaits * waitUs however busy the link is.
int waitForSlot(_VARNAXI* axi, uint8_t idx, uint8_t* answer, int64_t waitUs, const char* timeoutLine) {
  VARNAXITxSlot& s = axi->txSlots[idx];
  std::unique_lock<std::mutex> lk(axi->txLock);
  for (int w = 0; w < kWaits && !s.done; ++w) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(waitUs);
    while (!s.done) {
      if (axi->txCond.wait_until(lk, deadline) == std::cv_status::timeout) break;
    }
  }
  if (s.done) {
    if (answer) std::memcpy(answer, s.answer, VARN_AXI_PACKET_SIZE);
    s.released = 1;
    if (axi->txTail == idx) advanceTail(axi);
    if (s.abandoned) return VARN_AXI_TIMEOUT;
    return s.ok ? VARN_AXI_OK : VARN_AXI_NO_ANSWER;
  }
  uint8_t cmd = s.request[0], seq = s.request[1];
  s.abandoned = s.done = s.released = 1;
  if (axi->txTail == idx) advanceTail(axi);
  lk.unlock();
  if (timeoutLine) {
    VARNLog("%s", timeoutLine);
  } else {
    VARNLog("AXI Timeout Expired %02hhx %02hhx - Communications Error - %i ms\n", cmd, seq, axi->timeoutMs.load());
  }
  return VARN_AXI_TIMEOUT;
}

void storeAnswer(_VARNAXI* axi, const uint8_t* packet) {
  bool stored = false;
  {
    std::lock_guard<std::mutex> hold(axi->txLock);
    if (axi->txHead == axi->txTail) return;
    uint8_t cmd = packet[0] & 0x0F;
    for (uint8_t i = axi->txTail; i != axi->txHead; ++i) {
      VARNAXITxSlot& s = axi->txSlots[i];
      if (s.request[0] != cmd || s.request[1] != packet[1]) continue;
      if (!s.bulk && (cmd == VARN_AXI_CMD_READ || cmd == VARN_AXI_CMD_WRITE)) {
        const uint64_t want = VARNAXIPacketAddress(s.request), got = VARNAXIPacketAddress(packet);
        if (got == want && got != 0) axi->echoesAddress[cmd] = true;
        if (axi->echoesAddress[cmd] && got != want) continue;
      }
      if (packet[0] & VARN_AXI_FLAG_OVERFLOW) VARNLog("AXI Req Buffer Overflow\n");
      if (s.done) {
        // A second answer, or one for a waiter that gave up.
        if (axi->txTail == i) advanceTail(axi);
        return;
      }
      std::memcpy(s.answer, packet, VARN_AXI_PACKET_SIZE);
      s.done = s.ok = 1;
      s.abandoned = 0;
      stored = true;
      break;
    }
  }
  if (stored) axi->txCond.notify_all();
}

bool sendRaw(_VARNAXI* axi, const void* data, size_t len) { return varn_send_all(axi->sock, data, len) == 0; }

}  // namespace

void _VARNAXIDropConnection(_VARNAXI* axi) {
  if (axi->connected.exchange(false)) varn_shutdown_socket(axi->sock);
}

_VARNAXI* VARNAXICreate(int mode, const char* host, uint16_t port) {
  _VARNAXI* axi = new (std::nothrow) _VARNAXI;
  if (!axi) return nullptr;
  axi->mode = mode;
  axi->host = host ? host : "";
  axi->port = port;
  if (mode != 0) return axi;

  uint32_t addr = 0;
  int parsed = varn_parse_ipv4(axi->host.c_str(), &addr);
  if (parsed != 1) {
    if (parsed < 0) varn_perror("inet_pton");
    VARNLog("failed to convert address %s to binary net address\n", axi->host.c_str());
    delete axi;
    return nullptr;
  }
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) {
    varn_perror("socket");
    delete axi;
    return nullptr;
  }
  if (!varn_socket_selectable(s, "AXI link")) {
    varn_close_socket(s);
    delete axi;
    return nullptr;
  }
  if (varn_set_nodelay(s) != 0) varn_perror("NODELAY");
  if (varn_connect_ipv4(s, axi->host.c_str(), port) != 0) {
    varn_perror("connect");
    varn_close_socket(s);
    delete axi;
    return nullptr;
  }
  axi->sock = s;
  axi->connected = true;
  try {
    axi->workThread = std::thread(_VARNAXIWorkThread, axi);
  } catch (const std::exception& e) {
    VARNLog("Failed to start the AXI receive thread for %s:%hu: %s\n", axi->host.c_str(), port, e.what());
    varn_close_socket(s);
    delete axi;
    return nullptr;
  }
  return axi;
}

void VARNAXIDestroy(_VARNAXI** handle) {
  if (!handle || !*handle) return;
  _VARNAXI* axi = *handle;
  *handle = nullptr;
  // The shutdown wakes the receive thread, which leaves through its disconnected path.
  // Windows does not end a select for the socket's own shutdown: there the thread
  // reads the shut socket once its 10 ms wait ends, because `closing` is set.
  if (axi->connected) varn_shutdown_socket(axi->sock);
  axi->closing = true;
  if (axi->workThread.joinable()) axi->workThread.join();
  axi->connected = false;
  if (varn_socket_valid(axi->sock)) varn_close_socket(axi->sock);
  delete axi;
}

int VARNAXIIsConnected(_VARNAXI* axi) { return (axi && axi->connected) ? VARN_AXI_OK : VARN_AXI_NOT_CONNECTED; }

int VARNAXISetTimeout(_VARNAXI* axi, int ms) {
  if (axi) axi->timeoutMs = ms;
  return VARN_AXI_OK;
}

int _VARNAXIDoTransaction(_VARNAXI* axi, uint8_t* request, uint8_t* answer) {
  int idx = -1;
  {
    std::lock_guard<std::mutex> hold(axi->txLock);
    if (ringFull(axi)) return VARN_AXI_RING_FULL;
    stampSequence(axi, request);
    if (answer) idx = claimSlot(axi, request);
    if (!sendRaw(axi, request, VARN_AXI_PACKET_SIZE)) {
      VARNLog("Send failed!\n");
      _VARNAXIDropConnection(axi);
      retireUnsent(axi, idx);
      return VARN_AXI_NOT_CONNECTED;
    }
  }
  if (!answer) return VARN_AXI_OK;
  int64_t waitUs = int64_t(axi->timeoutMs.load()) * 100;  // a tenth of the time-out
  return waitForSlot(axi, uint8_t(idx), answer, waitUs, nullptr);
}

int _VARNAXIDoTransactionGuarded(_VARNAXI* axi, uint8_t* request, uint8_t* answer) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  return _VARNAXIDoTransaction(axi, request, answer);
}

int VARNAXIRead(_VARNAXI* axi, uint32_t* out, uint64_t address) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  uint8_t req[VARN_AXI_PACKET_SIZE], ans[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(req, VARN_AXI_CMD_READ, 0, address, 0xAAAAAAAAu);
  int r = _VARNAXIDoTransaction(axi, req, ans);
  if (r == VARN_AXI_OK && out) *out = VARNAXIPacketData(ans);
  return r;
}

int VARNAXIWrite(_VARNAXI* axi, uint32_t value, uint64_t address, bool wait) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  uint8_t req[VARN_AXI_PACKET_SIZE], ans[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(req, VARN_AXI_CMD_WRITE, 0, address, value);
  return _VARNAXIDoTransaction(axi, req, wait ? ans : nullptr);
}

int VARNAXITest(_VARNAXI* axi) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  uint8_t req[VARN_AXI_PACKET_SIZE], ans[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(req, VARN_AXI_CMD_TEST, 0, 0x12345678u, 0xAAAAAAAAu);
  int r = _VARNAXIDoTransaction(axi, req, ans);
  if (r == VARN_AXI_OK) {
    // One log call, so that other threads' lines cannot land inside it.
    char line[64];
    int n = std::snprintf(line, sizeof(line), "Test Response: ");
    for (uint8_t b : ans) n += std::snprintf(line + n, sizeof(line) - size_t(n), "%02hhx", b);
    VARNLog("%s\n", line);
  }
  return r;
}

int VARNAXIWriteBulk(_VARNAXI* axi, const uint8_t* data, uint32_t length, uint64_t address, bool noSwap) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  if (length % 16 != 0) return VARN_AXI_BAD_ARGUMENT;
  uint8_t header[VARN_AXI_PACKET_SIZE], ans[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(header, VARN_AXI_CMD_BULK, 0, address, length);
  uint8_t idx;
  {
    std::lock_guard<std::mutex> hold(axi->txLock);
    if (ringFull(axi)) return VARN_AXI_RING_FULL;
    stampSequence(axi, header);
    // The target answers a bulk write as a write.
    uint8_t asWrite[VARN_AXI_PACKET_SIZE];
    std::memcpy(asWrite, header, sizeof(asWrite));
    asWrite[0] = VARN_AXI_CMD_WRITE;
    idx = claimSlot(axi, asWrite, true);
    if (!sendRaw(axi, header, sizeof(header))) {
      VARNLog("Send failed!\n");
      _VARNAXIDropConnection(axi);
      retireUnsent(axi, idx);
      return VARN_AXI_NOT_CONNECTED;
    }
    // The payload goes out under the same lock so that nothing lands inside it.
    uint8_t piece[4096];
    for (uint32_t off = 0; off < length;) {
      uint32_t n = length - off < sizeof(piece) ? length - off : uint32_t(sizeof(piece));
      const uint8_t* src = data + off;
      if (!noSwap) {
        for (uint32_t i = 0; i < n; i += 4) {
          piece[i] = src[i + 3];
          piece[i + 1] = src[i + 2];
          piece[i + 2] = src[i + 1];
          piece[i + 3] = src[i];
        }
        src = piece;
      }
      if (!sendRaw(axi, src, n)) {
        VARNLog("BulkSend failed!\n");
        _VARNAXIDropConnection(axi);
        retireUnsent(axi, idx);
        return VARN_AXI_NOT_CONNECTED;
      }
      off += n;
    }
  }
  int r = waitForSlot(axi, idx, ans, int64_t(kBulkWaitMs) * 1000, "AXI Timeout!\n");
  if (r != VARN_AXI_OK) return r;
  if (ans[0] >= VARN_AXI_ERROR_THRESHOLD) return VARN_AXI_TARGET_ERROR;
  uint32_t expect = noSwap ? crc32(data, int(length)) : crc32_endian(data, int(length));
  return expect == VARNAXIPacketData(ans) ? VARN_AXI_OK : VARN_AXI_NO_ANSWER;
}

void _VARNAXIWorkThread(_VARNAXI* axi) {
  VARNAXIAssembler window;
  VARNAXIAssemblerReset(&window);
  uint8_t buf[kRecvSize];
  uint8_t packet[VARN_AXI_PACKET_SIZE];
  while (axi->connected) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(axi->sock, &rs);
    int r = varn_select(int(axi->sock) + 1, &rs, nullptr, 10000);
    if (r < 0) {
      if (varn_error_is_interrupted()) continue;
      // Nobody would receive the answers any more: let every caller see it.
      // Dropped before the line is logged, so whoever reads the log sees the state it reports.
      _VARNAXIDropConnection(axi);
      VARNLog("Select Error: %i\n", r);
      return;
    }
    if (r == 0 && !axi->closing) continue;
    long n = varn_recv(axi->sock, buf, sizeof(buf));
    if (n < 0 && varn_error_is_interrupted()) continue;
    if (n <= 0) {
      _VARNAXIDropConnection(axi);
      VARNLog("Got disconnected\n!");
      return;
    }
    const uint8_t* p = buf;
    size_t len = size_t(n);
    while (VARNAXIAssemblerNext(&window, &p, &len, packet, "Bad CRC\n")) {
      if ((packet[0] & 0x0F) == VARN_AXI_CMD_INTERRUPT) {
        _VARNAXIHandleInterrupt(axi, packet);
      } else {
        storeAnswer(axi, packet);
      }
    }
    if (varn_set_quickack(axi->sock) != 0) VARNLog("Failed to set quickack!\n");
  }
}
