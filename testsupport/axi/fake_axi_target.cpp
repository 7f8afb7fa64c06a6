#include "testsupport/axi/fake_axi_target.h"

#include <chrono>
#include <cstring>

namespace varnaxitest {

uint16_t targetCrc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

uint32_t targetCrc32Update(uint32_t state, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    state ^= p[i];
    for (int k = 0; k < 8; ++k) state = (state & 1) ? (state >> 1) ^ 0xEDB88320u : (state >> 1);
  }
  return state;
}

varn_socket listenLoopback(uint16_t* port) {
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) return s;
  varn_set_reuseaddr(s);
  if (varn_bind_ipv4(s, "127.0.0.1", 0) != 0 || varn_listen(s, 32) != 0) {
    varn_close_socket(s);
    return VARN_INVALID_SOCKET;
  }
  if (port) *port = varn_local_port(s);
  return s;
}

varn_socket connectLoopback(uint16_t port) {
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) return s;
  varn_set_nodelay(s);
  if (varn_connect_ipv4(s, "127.0.0.1", port) != 0) {
    varn_close_socket(s);
    return VARN_INVALID_SOCKET;
  }
  return s;
}

namespace {
constexpr uint64_t kCdmaBase = 0x00120000;
constexpr uint64_t kStagingLink = 0x00200000;
constexpr uint64_t kStagingEngine = 0x200000000ull;

void put(uint8_t* p, uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data) {
  p[0] = cmd;
  p[1] = seq;
  for (int i = 0; i < 8; ++i) p[2 + i] = uint8_t(address >> (56 - 8 * i));
  for (int i = 0; i < 4; ++i) p[10 + i] = uint8_t(data >> (24 - 8 * i));
  uint16_t crc = targetCrc16(p, 14);
  p[14] = uint8_t(crc >> 8);
  p[15] = uint8_t(crc);
}

uint64_t engineToLink(uint64_t a) {
  if (a >= kStagingEngine && a < kStagingEngine + 0x10000) return kStagingLink + (a - kStagingEngine);
  return a;
}
}  // namespace

FakeAxiTarget::FakeAxiTarget(varn_socket s) : sock_(s) { thread_ = std::thread([this] { run(); }); }

FakeAxiTarget::~FakeAxiTarget() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  varn_close_socket(sock_);
}

void FakeAxiTarget::closeConnection() {
  varn_shutdown_socket(sock_);
  {
    std::lock_guard<std::mutex> hold(mu_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
}

void FakeAxiTarget::poke(uint64_t address, uint32_t value) {
  std::lock_guard<std::mutex> hold(mu_);
  mem_[address & ~3ull] = value;
}

uint32_t FakeAxiTarget::peek(uint64_t address) {
  std::lock_guard<std::mutex> hold(mu_);
  return memRead(address);
}

std::vector<AxiRequest> FakeAxiTarget::requests() {
  std::lock_guard<std::mutex> hold(mu_);
  return requests_;
}
size_t FakeAxiTarget::requestCount() {
  std::lock_guard<std::mutex> hold(mu_);
  return requests_.size();
}
void FakeAxiTarget::clearRequests() {
  std::lock_guard<std::mutex> hold(mu_);
  requests_.clear();
}
bool FakeAxiTarget::waitForRequests(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
}
void FakeAxiTarget::recordRaw(bool on) {
  std::lock_guard<std::mutex> hold(mu_);
  recordRaw_ = on;
}
std::vector<uint8_t> FakeAxiTarget::rawReceived() {
  std::lock_guard<std::mutex> hold(mu_);
  return raw_;
}
uint32_t FakeAxiTarget::badWindows() {
  std::lock_guard<std::mutex> hold(mu_);
  return bad_;
}
void FakeAxiTarget::setReadHook(std::function<bool(uint64_t, uint32_t*)> hook) {
  std::lock_guard<std::mutex> hold(mu_);
  readHook_ = std::move(hook);
}
void FakeAxiTarget::setWriteHook(std::function<void(uint64_t, uint32_t)> hook) {
  std::lock_guard<std::mutex> hold(mu_);
  writeHook_ = std::move(hook);
}
void FakeAxiTarget::setAnswering(bool on) {
  std::lock_guard<std::mutex> hold(mu_);
  answering_ = on;
}
void FakeAxiTarget::setAnswerFlags(uint8_t flags) {
  std::lock_guard<std::mutex> hold(mu_);
  flags_ = flags;
}
void FakeAxiTarget::setDuplicateAnswers(bool on) {
  std::lock_guard<std::mutex> hold(mu_);
  duplicate_ = on;
}
void FakeAxiTarget::setBulkCrcXor(uint32_t x) {
  std::lock_guard<std::mutex> hold(mu_);
  crcXor_ = x;
}
void FakeAxiTarget::holdAnswers(bool on) {
  std::lock_guard<std::mutex> hold(mu_);
  hold_ = on;
}
void FakeAxiTarget::releaseHeld() {
  std::vector<uint8_t> out;
  {
    std::lock_guard<std::mutex> hold(mu_);
    out.swap(held_);
  }
  sendRaw(out.data(), out.size());
}
void FakeAxiTarget::setAnswerDelayUs(uint32_t us) {
  std::lock_guard<std::mutex> hold(mu_);
  delayUs_ = us;
}
void FakeAxiTarget::setAnswerPaceUs(uint32_t us) {
  std::lock_guard<std::mutex> hold(mu_);
  paceUs_ = us;
}
void FakeAxiTarget::setUnansweredAddress(uint64_t a) {
  std::lock_guard<std::mutex> hold(mu_);
  unanswered_ = a;
}
void FakeAxiTarget::sendRaw(const uint8_t* data, size_t n) {
  if (!n) return;
  std::lock_guard<std::mutex> hold(sendMu_);
  varn_send_all(sock_, data, n);
}
void FakeAxiTarget::sendInterrupt(uint8_t cmd, uint8_t seq, uint64_t value) {
  uint8_t p[16];
  put(p, cmd, seq, value, 0);
  sendRaw(p, sizeof(p));
}
void FakeAxiTarget::enableCdma(bool on, uint32_t copyLimit) {
  std::lock_guard<std::mutex> hold(mu_);
  cdma_ = on;
  cdmaCopyLimit_ = copyLimit;
}
void FakeAxiTarget::setCdmaError(uint32_t statusBits) {
  std::lock_guard<std::mutex> hold(mu_);
  cdmaInject_ = statusBits;
}
std::vector<CdmaTransfer> FakeAxiTarget::cdmaTransfers() {
  std::lock_guard<std::mutex> hold(mu_);
  return transfers_;
}

// Caller holds mu_.
uint32_t FakeAxiTarget::memRead(uint64_t address) {
  auto it = mem_.find(address & ~3ull);
  return it == mem_.end() ? 0 : it->second;
}

// Caller holds mu_.
void FakeAxiTarget::memWrite(uint64_t address, uint32_t value) {
  mem_[address & ~3ull] = value;
  if (!cdma_) return;
  if (address == kCdmaBase && value == 4) cdmaError_ = 0;  // reset clears a latched error
  if (address == kCdmaBase + 0x28) cdmaStart(value);
}

void FakeAxiTarget::cdmaStart(uint32_t length) {
  uint64_t src = (uint64_t(memRead(kCdmaBase + 0x1C)) << 32) | memRead(kCdmaBase + 0x18);
  uint64_t dst = (uint64_t(memRead(kCdmaBase + 0x24)) << 32) | memRead(kCdmaBase + 0x20);
  transfers_.push_back({src, dst, length});
  if (cdmaInject_) cdmaError_ = cdmaInject_;  // latched until the engine is reset
  if (cdmaError_ || length > cdmaCopyLimit_) return;
  std::vector<uint32_t> words;
  for (uint32_t o = 0; o < length; o += 4) words.push_back(memRead(engineToLink(src + o)));
  for (uint32_t o = 0, k = 0; o < length; o += 4, ++k) mem_[engineToLink(dst + o) & ~3ull] = words[k];
}

void FakeAxiTarget::answer(std::vector<uint8_t>& out, uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data) {
  if (!answering_) return;
  uint8_t p[16];
  put(p, uint8_t(cmd | flags_), seq, address, data);
  std::vector<uint8_t>& dst = hold_ ? held_ : out;
  dst.insert(dst.end(), p, p + 16);
  if (duplicate_) dst.insert(dst.end(), p, p + 16);
}

// Caller holds mu_.
void FakeAxiTarget::handle(const uint8_t* p, std::vector<uint8_t>& out) {
  uint8_t cmd = p[0], seq = p[1];
  uint64_t address = 0;
  for (int i = 2; i < 10; ++i) address = (address << 8) | p[i];
  uint32_t data = (uint32_t(p[10]) << 24) | (uint32_t(p[11]) << 16) | (uint32_t(p[12]) << 8) | p[13];
  requests_.push_back({cmd, seq, address, data});
  cv_.notify_all();
  if (address == unanswered_ && cmd != 0x42) return;
  switch (cmd) {
    case 0x00:
      answer(out, 0x00, seq, address, data);
      break;
    case 0x01: {
      uint32_t v = 0;
      bool hooked = readHook_ && readHook_(address, &v);
      if (!hooked) {
        if (cdma_ && address == kCdmaBase + 4) {
          v = cdmaError_ ? (cdmaError_ | 0x02) : 0x02;
        } else {
          v = memRead(address);
        }
      }
      answer(out, 0x01, seq, address, v);
      break;
    }
    case 0x02:
      if (writeHook_) writeHook_(address, data);
      memWrite(address, data);
      answer(out, 0x02, seq, address, data);
      break;
    case 0x42:
      bulkLeft_ = data;
      bulkAddr_ = address;
      bulkSeq_ = seq;
      bulkCrc_ = 0xFFFFFFFFu;
      bulkWordFill_ = 0;
      if (data == 0) answer(out, 0x02, seq, address, 0 ^ crcXor_);
      break;
    default:  // 0xFF (interrupt mask) and anything unknown: no answer
      break;
  }
}

void FakeAxiTarget::flush(std::vector<uint8_t>& out) {
  if (out.empty()) return;
  uint32_t delay;
  {
    std::lock_guard<std::mutex> hold(mu_);
    delay = delayUs_ + paceUs_ * uint32_t(out.size() / 16);
  }
  if (delay) varn_sleep_us(delay);
  sendRaw(out.data(), out.size());
  out.clear();
}

void FakeAxiTarget::run() {
  std::vector<uint8_t> in(65536);
  std::vector<uint8_t> out;
  out.reserve(65536);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mu_);
      if (stop_) return;
    }
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(sock_, &rs);
    int r = varn_select(int(sock_) + 1, &rs, nullptr, 5000);
    if (r <= 0) continue;
    long n = varn_recv(sock_, in.data(), in.size());
    if (n <= 0) return;
    {
      std::lock_guard<std::mutex> hold(mu_);
      if (recordRaw_) raw_.insert(raw_.end(), in.data(), in.data() + n);
      const uint8_t* d = in.data();
      size_t len = size_t(n);
      while (len > 0) {
        if (bulkLeft_) {
          size_t take = len < bulkLeft_ ? len : bulkLeft_;
          bulkCrc_ = targetCrc32Update(bulkCrc_, d, take);
          for (size_t i = 0; i < take; ++i) {
            bulkWord_[bulkWordFill_++] = d[i];
            if (bulkWordFill_ == 4) {
              uint32_t w = (uint32_t(bulkWord_[0]) << 24) | (uint32_t(bulkWord_[1]) << 16) |
                           (uint32_t(bulkWord_[2]) << 8) | bulkWord_[3];
              memWrite(bulkAddr_, w);
              bulkAddr_ += 4;
              bulkWordFill_ = 0;
            }
          }
          d += take;
          len -= take;
          bulkLeft_ -= uint32_t(take);
          if (!bulkLeft_) answer(out, 0x02, bulkSeq_, bulkAddr_, ~bulkCrc_ ^ crcXor_);
          continue;
        }
        win_[fill_++] = *d++;
        --len;
        if (fill_ < 16) continue;
        uint16_t crc = targetCrc16(win_, 14);
        if (((win_[14] << 8) | win_[15]) == crc) {
          handle(win_, out);
          fill_ = 0;
        } else {
          ++bad_;
          std::memmove(win_, win_ + 1, 15);
          fill_ = 15;
        }
      }
    }
    flush(out);
  }
}

}  // namespace varnaxitest
