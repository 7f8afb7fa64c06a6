#include "testsupport/ftdi/fake_usb.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "ftdi/d2xx_names.h"
#include "ftdi/ftd2xx.h"

namespace varn_d2xx_test {

namespace {

constexpr size_t kPacket = 512;

class FakeChannel final : public UsbChannel {
 public:
  explicit FakeChannel(std::shared_ptr<FakePort> p) : p_(std::move(p)) {}
  ~FakeChannel() override {
    std::lock_guard<std::mutex> lock(p_->m);
    p_->closed = true;
  }

  unsigned maxPacketSize() override { return kPacket; }

  int bulkRead(uint8_t* buf, int len, int* transferred, unsigned timeoutMs) override {
    std::unique_lock<std::mutex> lock(p_->m);
    *transferred = 0;
    ++p_->readsInFlight;
    p_->lastReadLen = len;
    // Idle: the chip answers with a status-only packet once per latency period.
    unsigned wait = std::min(timeoutMs, p_->latencyMs);
    p_->cv.wait_for(lock, std::chrono::milliseconds(wait),
                    [&] { return !p_->fifo.empty() || !p_->rawTransfers.empty() || p_->readError != kUsbOk; });
    int rc = p_->readError;
    if (rc == kUsbOk && !p_->rawTransfers.empty()) {
      std::vector<uint8_t> t = std::move(p_->rawTransfers.front());
      p_->rawTransfers.pop_front();
      size_t n = std::min(t.size(), size_t(len));
      memcpy(buf, t.data(), n);
      *transferred = int(n);
    } else if (rc == kUsbOk) {
      // Whole packets while data lasts; the last one may be short.
      size_t pos = 0;
      do {
        if (pos + 2 > size_t(len)) break;
        buf[pos++] = 0x32;  // modem status
        buf[pos++] = 0x60;  // line status
        size_t n = std::min({kPacket - 2, p_->fifo.size(), size_t(len) - pos});
        std::copy_n(p_->fifo.begin(), n, buf + pos);
        p_->fifo.erase(p_->fifo.begin(), p_->fifo.begin() + long(n));
        pos += n;
        if (n < kPacket - 2) break;
      } while (!p_->fifo.empty());
      *transferred = int(pos);
    }
    --p_->readsInFlight;
    p_->cv.notify_all();  // the FIFO has room again
    return rc;
  }

  int bulkWrite(const uint8_t* buf, int len, int* transferred, unsigned timeoutMs) override {
    *transferred = 0;
    unsigned delay;
    {
      std::lock_guard<std::mutex> lock(p_->m);
      delay = p_->writeDelayMs;
    }
    if (delay > 0) {
      // A slow chip: a transfer it cannot finish within the time-out moves nothing.
      bool late = timeoutMs != 0 && delay > timeoutMs;
      std::this_thread::sleep_for(std::chrono::milliseconds(late ? timeoutMs : delay));
      if (late) return kUsbTimeout;
    }
    std::lock_guard<std::mutex> lock(p_->m);
    if (p_->writeError != kUsbOk) return p_->writeError;
    size_t room = p_->writeLimit - std::min(p_->writeLimit, p_->written.size());
    size_t n = std::min(room, size_t(len));
    p_->written.insert(p_->written.end(), buf, buf + n);
    *transferred = int(n);
    return n < size_t(len) ? kUsbTimeout : kUsbOk;
  }

  int setBitMode(uint8_t, uint8_t mode) override { return change([&] { p_->bitMode = mode; }); }
  int setLatencyTimer(uint8_t ms) override { return change([&] { p_->latency = ms; }, false); }
  int setBaudRate(uint32_t baud) override {
    if (baud > 12000000) return kUsbBadRate;
    return change([&] { p_->baud = int(baud); }, false);
  }
  int setLineProperty(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
    return change([&] { p_->bits = bits, p_->stopBits = stopBits, p_->parity = parity; }, false);
  }
  int setFlowControl(uint16_t flow, uint8_t, uint8_t) override { return change([&] { p_->flow = flow; }, false); }
  int purgeRx() override {
    return change([&] {
      p_->purgesRx++;
      p_->fifo.clear();
    });
  }
  int purgeTx() override { return change([&] { p_->purgesTx++; }); }
  int setChunkSizes(unsigned in, unsigned out) override { return change([&] { p_->chunkIn = in, p_->chunkOut = out; }); }
  const char* errorText() override { return "fake failure"; }

 private:
  // Applies a setting; the ones the reader must be paused for count a violation
  // when an IN transfer is running.
  template <class F>
  int change(F f, bool needsPause = true) {
    std::lock_guard<std::mutex> lock(p_->m);
    if (needsPause && p_->readsInFlight > 0) p_->changesDuringRead++;
    f();
    return kUsbOk;
  }

  std::shared_ptr<FakePort> p_;
};

}  // namespace

bool FakePort::produce(const uint8_t* data, size_t n, unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(m);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < n) {
    if (!cv.wait_until(lock, deadline, [&] { return fifo.size() < fifoCapacity; })) return false;
    size_t k = std::min(n - done, fifoCapacity - fifo.size());
    fifo.insert(fifo.end(), data + done, data + done + k);
    done += k;
    cv.notify_all();
  }
  return true;
}

void FakePort::queueRaw(std::vector<uint8_t> transfer) {
  std::lock_guard<std::mutex> lock(m);
  rawTransfers.push_back(std::move(transfer));
  cv.notify_all();
}

std::shared_ptr<FakePort> FakeBus::port(uint8_t bus, uint8_t address, int channel) {
  std::lock_guard<std::mutex> lock(m_);
  auto& p = ports_[{bus, address, channel}];
  if (!p) p = std::make_shared<FakePort>();
  return p;
}

int FakeBus::findChips(std::vector<UsbChip>& out) {
  out = chips_;
  return findRc;
}

int FakeBus::openChannel(const UsbChip& chip, int channel, std::unique_ptr<UsbChannel>& out) {
  ++opens;
  if (openRc != kUsbOk) return openRc;
  out = std::make_unique<FakeChannel>(port(chip.bus, chip.address, channel));
  return kUsbOk;
}

UsbChip makeChip(uint8_t bus, uint8_t address, uint16_t pid, const char* serial, const char* description,
                 uint8_t interfaces) {
  UsbChip c;
  c.bus = bus;
  c.address = address;
  c.vid = kFtdiVid;
  c.pid = pid;
  c.bcdDevice = pid == kPidFt2232H ? 0x0700 : pid == kPidFt4232H ? 0x0800 : 0x0900;
  c.interfaces = interfaces;
  c.highSpeed = true;
  strncpy(c.serial, serial, sizeof c.serial - 1);
  strncpy(c.description, description, sizeof c.description - 1);
  return c;
}

}  // namespace varn_d2xx_test

// Test binaries link the core without the libftdi1 layer: the linked-in bus is a
// fake with no chips, and each test installs its own with useBus().
namespace varn_d2xx {
UsbBus& linkedBus() {
  static varn_d2xx_test::FakeBus empty;
  return empty;
}
}  // namespace varn_d2xx
