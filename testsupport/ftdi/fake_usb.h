// A fake USB layer for the D2XX tests: chips that answer like an FTDI channel does
// (IN packets of 512 bytes, each led by two status bytes, a status-only packet per
// latency period when idle, a bounded IN FIFO) and record what the library did.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include "ftdi/d2xx_usb.h"

namespace varn_d2xx_test {

using namespace varn_d2xx;

// One channel of a fake chip, shared between the test and the opened UsbChannel.
struct FakePort {
  std::mutex m;
  std::condition_variable cv;
  // Chip side.
  std::deque<uint8_t> fifo;                    // payload waiting in the chip's IN FIFO
  size_t fifoCapacity = SIZE_MAX;              // 4096 models an FT2232H channel
  std::deque<std::vector<uint8_t>> rawTransfers;  // exact IN transfers to hand out first
  unsigned latencyMs = 1;
  std::vector<uint8_t> written;
  size_t writeLimit = SIZE_MAX;  // bytes the chip accepts before OUT transfers time out
  unsigned writeDelayMs = 0;     // how long the chip takes over each OUT transfer
  int readError = kUsbOk;        // returned by every bulk IN once set
  int writeError = kUsbOk;
  // What the library asked for.
  int readsInFlight = 0;
  int changesDuringRead = 0;  // purge / bit mode / chunk size while an IN transfer ran
  int lastReadLen = 0;
  int purgesRx = 0, purgesTx = 0;
  int bitMode = -1, baud = -1, latency = -1, flow = -1;
  int bits = -1, stopBits = -1, parity = -1;
  unsigned chunkIn = 0, chunkOut = 0;
  bool closed = false;

  // Test side: hands bytes to the chip, waiting while its FIFO is full (as the MPSSE
  // engine stalls). False when the FIFO stayed full for timeoutMs.
  bool produce(const uint8_t* data, size_t n, unsigned timeoutMs = 2000);
  bool produce(const std::vector<uint8_t>& v, unsigned timeoutMs = 2000) { return produce(v.data(), v.size(), timeoutMs); }
  void queueRaw(std::vector<uint8_t> transfer);
};

class FakeBus final : public UsbBus {
 public:
  // Adds a chip; its channels get ports created on demand.
  void addChip(const UsbChip& chip) { chips_.push_back(chip); }
  void clearChips() { chips_.clear(); }
  std::shared_ptr<FakePort> port(uint8_t bus, uint8_t address, int channel);

  int findRc = kUsbOk;
  int openRc = kUsbOk;
  int opens = 0;

  int findChips(std::vector<UsbChip>& out) override;
  int openChannel(const UsbChip& chip, int channel, std::unique_ptr<UsbChannel>& out) override;
  const char* errorText() override { return "fake failure"; }

 private:
  std::vector<UsbChip> chips_;
  std::mutex m_;
  std::map<std::tuple<int, int, int>, std::shared_ptr<FakePort>> ports_;
};

// A chip description for the tests.
UsbChip makeChip(uint8_t bus, uint8_t address, uint16_t pid, const char* serial, const char* description,
                 uint8_t interfaces = 0);

}  // namespace varn_d2xx_test
