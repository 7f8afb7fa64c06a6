// The multi-client AXI bridge's work: the FPGA-side stream and every client stream are
// cut into packets by their own assemblers; requests go upstream under the bridge's own
// sequence numbers and answers go back to the client that asked. The bridge's thread
// runs one Worker; tests drive its turns directly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/platform/varn_platform.h"
#include "axi/varn_axi_bridge.h"
#include "axi/varn_axi_packet.h"

namespace axibridge {

constexpr size_t kBuf = 8192;
constexpr uint8_t kFree = 0xFF;    // origin client: number not in use
constexpr uint8_t kOrphan = 0xFE;  // in use, but its client has gone: the answer is dropped
constexpr uint8_t kProbe = 0xFC;   // the number reserved for the bridge's own test requests
// A number whose answer is overdue is not used again until its answer has come (and
// gone to the client that asked) or can no longer come. The FPGA answers requests in
// the order it takes them, so an answer proves that every request sent before it was
// answered or lost. While numbers are overdue, a test request under this reserved
// number finds that out even when no client sends anything.
constexpr uint8_t kProbeSeq = 0xFF;
constexpr int kNumbers = 255;          // numbers clients' requests can take
constexpr int kProbeEveryMs = 1000;    // while unanswered
constexpr int kProbeRecords = 16;

// A sequence order for a bulk write whose payload is still being gathered: it has its
// number but has not gone upstream, so nothing may count it as overdue or passed.
constexpr uint64_t kNotSent = ~0ull;
// Upstream bytes waiting for the FPGA side to take them; above this, clients are not
// read until it drains (a gathered bulk write may add its whole payload at once).
constexpr size_t kUpstreamHigh = 65536;
constexpr int64_t kNoisyBudget = 1024;

struct ClientState {
  varn_socket sock = VARN_INVALID_SOCKET;
  VARNAXIAssembler window{};
  uint8_t mask = 0;
  // A bulk write is gathered whole before any of it goes upstream, so that a client
  // that stalls or leaves mid-payload holds up nobody and leaves nothing to pad.
  uint32_t bulkRemainder = 0;  // payload bytes still to come from this client
  uint32_t bulkLength = 0;
  uint8_t bulkHeader[VARN_AXI_PACKET_SIZE];
  int bulkSeq = -1;            // its upstream number while gathering
  uint64_t bulkStartMs = 0;
  std::vector<uint8_t> bulk;
  int numbers = 0;             // upstream numbers its requests hold
  bool noisy = false;          // its last receive held nothing but rejected windows
  uint8_t out[kBuf];
  size_t outLen = 0;
};

}  // namespace axibridge

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

namespace axibridge {

class Worker {
 public:
  explicit Worker(VARNAXIBridge* b);
  // Serves until the bridge is stopped or retires, then closes its clients.
  void run();
  // One wait and the work it found. The wait lasts at most maxWaitUs (-1: as long as
  // the bridge needs to). False once the bridge has stopped serving.
  bool turn(int64_t maxWaitUs);
  // Closes the clients (unless retiring did) and publishes the final counts.
  void finish();

 private:
  bool gathering() const {
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
  void queueUpstream(const uint8_t* data, size_t len);
  bool pushUpstream();
  uint8_t takeNumber(int i, uint8_t* packet);
  void forward(int i, uint8_t* packet);
  void finishBulk(int i);
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
  // Bytes for the FPGA side not yet taken by it, from upHead_ on. The upstream socket
  // is non-blocking: the bridge never waits for the FPGA side either.
  std::vector<uint8_t> up_;
  size_t upHead_ = 0;
  bool retired_ = false;
};

}  // namespace axibridge
