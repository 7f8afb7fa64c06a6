// A scriptable AXI target for tests and benchmarks: it serves the 16-byte packet
// protocol on one connected stream socket (a socket pair end or an accepted TCP
// connection), records every request, keeps a sparse word memory, models the CDMA
// engine's registers and can misbehave on request (silence, held answers,
// duplicates, error flags, wrong bulk checksums, raw bytes, interrupts).
// It writes its own framing and CRCs so that a fault in the host's cannot hide.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/platform/varn_platform.h"

namespace varnaxitest {

struct AxiRequest {
  uint8_t cmd;
  uint8_t seq;
  uint64_t address;
  uint32_t data;
};

struct CdmaTransfer {
  uint64_t source;
  uint64_t destination;
  uint32_t length;
};

// Standalone CRCs of the target side (bitwise, as a hardware block computes them).
uint16_t targetCrc16(const uint8_t* p, size_t n);
uint32_t targetCrc32Update(uint32_t state, const uint8_t* p, size_t n);  // state starts at 0xFFFFFFFF

// Loopback helpers: a listening socket on 127.0.0.1 with a free port, and a client.
varn_socket listenLoopback(uint16_t* port);
varn_socket connectLoopback(uint16_t port);

class FakeAxiTarget {
 public:
  // Takes ownership of a connected socket and serves it on its own thread.
  explicit FakeAxiTarget(varn_socket s);
  ~FakeAxiTarget();
  FakeAxiTarget(const FakeAxiTarget&) = delete;
  FakeAxiTarget& operator=(const FakeAxiTarget&) = delete;

  // Shuts the connection down (the peer sees it close) and ends the thread.
  void closeConnection();

  void poke(uint64_t address, uint32_t value);
  uint32_t peek(uint64_t address);

  std::vector<AxiRequest> requests();
  size_t requestCount();
  void clearRequests();
  bool waitForRequests(size_t n, int timeoutMs = 3000);
  // Every byte received, when recording is on.
  void recordRaw(bool on);
  std::vector<uint8_t> rawReceived();
  uint32_t badWindows();

  // Reads: the hook, when set and returning true, supplies the value; else memory.
  void setReadHook(std::function<bool(uint64_t address, uint32_t* value)> hook);
  void setWriteHook(std::function<void(uint64_t address, uint32_t value)> hook);
  void setAnswering(bool on);                // off: requests are recorded, never answered
  void setAnswerFlags(uint8_t flags);        // OR'ed into every answer's command byte
  void setDuplicateAnswers(bool on);         // every answer is sent twice
  void setBulkCrcXor(uint32_t x);            // corrupts the bulk checksum
  void holdAnswers(bool on);                 // keep answers back until releaseHeld()
  void releaseHeld();
  void setAnswerDelayUs(uint32_t us);        // before each batch of answers
  void setAnswerPaceUs(uint32_t us);         // and this long per answer in the batch (a slow target)
  void setUnansweredAddress(uint64_t a);     // requests to it are recorded, never answered

  void sendRaw(const uint8_t* data, size_t n);
  void sendInterrupt(uint8_t cmd, uint8_t seq, uint64_t value);

  // CDMA: writing the bytes-to-transfer register copies (up to copyLimit bytes) and
  // records the transfer; the status register reads idle, or the injected error.
  void enableCdma(bool on, uint32_t copyLimit = 1u << 20);
  // Every transfer started while set fails with these status bits (latched until reset).
  void setCdmaError(uint32_t statusBits);
  std::vector<CdmaTransfer> cdmaTransfers();

 private:
  void run();
  void handle(const uint8_t* pkt, std::vector<uint8_t>& out);
  void answer(std::vector<uint8_t>& out, uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data);
  void memWrite(uint64_t address, uint32_t value);
  uint32_t memRead(uint64_t address);
  void cdmaStart(uint32_t length);
  void flush(std::vector<uint8_t>& out);

  varn_socket sock_;
  std::thread thread_;
  bool stop_ = false;
  std::mutex mu_;
  std::condition_variable cv_;
  std::mutex sendMu_;
  std::unordered_map<uint64_t, uint32_t> mem_;
  std::vector<AxiRequest> requests_;
  bool recordRaw_ = false;
  std::vector<uint8_t> raw_;
  std::function<bool(uint64_t, uint32_t*)> readHook_;
  std::function<void(uint64_t, uint32_t)> writeHook_;
  bool answering_ = true;
  uint8_t flags_ = 0;
  bool duplicate_ = false;
  uint32_t crcXor_ = 0;
  bool hold_ = false;
  std::vector<uint8_t> held_;
  uint32_t delayUs_ = 0;
  uint32_t paceUs_ = 0;
  uint64_t unanswered_ = ~0ull;
  bool cdma_ = false;
  uint32_t cdmaCopyLimit_ = 0;
  uint32_t cdmaError_ = 0;   // latched status error bits
  uint32_t cdmaInject_ = 0;  // every transfer fails with these while set
  std::vector<CdmaTransfer> transfers_;
  // receive-side framing
  uint8_t win_[16];
  size_t fill_ = 0;
  uint32_t bad_ = 0;
  uint32_t bulkLeft_ = 0;
  uint64_t bulkAddr_ = 0;
  uint8_t bulkSeq_ = 0;
  uint32_t bulkCrc_ = 0;
  uint8_t bulkWord_[4];
  size_t bulkWordFill_ = 0;
};

}  // namespace varnaxitest
