#include "sim/controller/controller_server.h"

#include <cstdio>

namespace varnsim {

namespace {
constexpr size_t kTxBackpressure = 256 * 1024;  // stop taking UART output past this
constexpr uint64_t kMaxStepNs = 100ull * 1000000ull;
}  // namespace

ControllerServer::ControllerServer(std::string address, uint16_t port, ControllerChain& chain,
                                   const ControllerConfig& cfg)
    : address_(std::move(address)), port_(port), chain_(chain), cfg_(cfg), controller_(std::make_unique<BoardController>(chain, cfg)) {}

ControllerServer::~ControllerServer() { stop(); }

bool ControllerServer::listen() {
  listener_ = varn_tcp_socket();
  if (!varn_socket_valid(listener_)) return false;
  varn_set_reuseaddr(listener_);
  if (varn_bind_ipv4(listener_, address_.c_str(), port_) != 0 || varn_listen(listener_, 4) != 0) {
    varn_close_socket(listener_);
    listener_ = VARN_INVALID_SOCKET;
    return false;
  }
  // An ephemeral port is fixed by the first listen; a restart comes back on the same one.
  if (port_ == 0) port_ = varn_local_port(listener_);
  return true;
}

bool ControllerServer::start(std::string* error) {
  if (!listen()) {
    char text[160];
    std::snprintf(text, sizeof text, "board controller cannot listen on %s:%u (error %i)", address_.c_str(),
                  unsigned(port_), varn_error_code());
    if (error) *error = text;
    return false;
  }
  lastAdvanceNs_ = varn_monotonic_ns();
  thread_ = std::thread([this] { run(); });
  return true;
}

void ControllerServer::stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  closeClient();
  if (varn_socket_valid(listener_)) varn_close_socket(listener_);
  listener_ = VARN_INVALID_SOCKET;
}

void ControllerServer::post(std::function<void()> f) {
  std::unique_lock<std::mutex> hold(postLock_);
  if (!thread_.joinable() || stop_) return;
  uint64_t mine = ++postsQueued_;
  posts_.push_back(std::move(f));
  posted_.wait_for(hold, std::chrono::seconds(5), [&] { return postsDone_ >= mine || stop_; });
}

void ControllerServer::closeClient() {
  if (varn_socket_valid(client_)) varn_close_socket(client_);
  client_ = VARN_INVALID_SOCKET;
  connected_ = false;
  rx_.clear();
  tx_.clear();
  delayed_.clear();
}

void ControllerServer::closeConnection() {
  post([this] { closeClient(); });
}
void ControllerServer::setMute(bool on) {
  post([this, on] { mute_ = on; });
}
void ControllerServer::setAnswerDelayMs(uint32_t ms) {
  post([this, ms] { delayMs_ = ms; });
}
void ControllerServer::setWrongTags(uint32_t count) {
  post([this, count] { wrongTags_ = count; });
}
void ControllerServer::dropOnNextRequest(uint16_t command) {
  post([this, command] {
    dropNext_ = true;
    dropCommand_ = command;
  });
}
void ControllerServer::sendShortLength() {
  post([this] {
    const uint8_t bad[12] = {4, 0, 1, 0, 0x0A, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD};
    tx_.insert(tx_.end(), bad, bad + sizeof bad);
  });
}
void ControllerServer::sendLongLength() {
  post([this] {
    std::vector<uint8_t> bad(5000, 0x5A);
    bad[0] = uint8_t(5000 & 0xFF);
    bad[1] = uint8_t(5000 >> 8);
    bad[2] = 1;
    bad[3] = 0;
    bad[4] = 0x0A;
    bad[5] = 0;
    tx_.insert(tx_.end(), bad.begin(), bad.end());
  });
}
void ControllerServer::sendGarbage(size_t bytes, uint32_t seed) {
  post([this, bytes, seed] {
    uint32_t x = seed;
    for (size_t i = 0; i < bytes; ++i) {
      x = x * 1103515245u + 12345u;
      tx_.push_back(static_cast<uint8_t>(x >> 16));
    }
  });
}
void ControllerServer::restart(uint32_t downMs, bool resetState) {
  post([this, downMs, resetState] {
    closeClient();
    if (varn_socket_valid(listener_)) varn_close_socket(listener_);
    listener_ = VARN_INVALID_SOCKET;
    relistenAtNs_ = varn_monotonic_ns() + uint64_t(downMs) * 1000000ull;
    if (resetState) {
      std::lock_guard<std::mutex> hold(boardLock_);
      controller_ = std::make_unique<BoardController>(chain_, cfg_);
    }
  });
}

void ControllerServer::queueAnswer(std::vector<uint8_t> bytes, uint32_t delayMs) {
  if (bytes.empty() || mute_) return;
  if (wrongTags_ > 0 && bytes.size() >= 8) {
    --wrongTags_;
    bytes[2] = static_cast<uint8_t>(bytes[2] + 0x40);  // a tag nobody waits for
  }
  uint64_t due = delayMs > 0 ? varn_monotonic_ns() + uint64_t(delayMs) * 1000000ull : 0;
  // Answers leave in request order: nothing overtakes one that is held back.
  if (!delayed_.empty() && due < delayed_.back().dueNs) due = delayed_.back().dueNs;
  if (due > 0) {
    delayed_.push_back({due, std::move(bytes)});
    return;
  }
  tx_.insert(tx_.end(), bytes.begin(), bytes.end());
}

void ControllerServer::handlePacket(const uint8_t* pkt, size_t len) {
  uint16_t tag = static_cast<uint16_t>(pkt[2] | pkt[3] << 8);
  uint16_t command = static_cast<uint16_t>(pkt[4] | pkt[5] << 8);
  uint16_t flags = static_cast<uint16_t>(pkt[6] | pkt[7] << 8);
  if (dropNext_ && command != 0x0010 && (dropCommand_ == 0 || dropCommand_ == command)) {
    dropNext_ = false;
    closeClient();
    return;
  }
  std::vector<uint8_t> out;
  {
    std::lock_guard<std::mutex> hold(boardLock_);
    controller_->handle(tag, command, flags, pkt + 8, len - 8, &out);
  }
  const bool hello = command == 0x0010 && tag != 3;
  queueAnswer(std::move(out), hello && cfg_.helloAnswerDelayMs > delayMs_ ? cfg_.helloAnswerDelayMs : delayMs_);
}

void ControllerServer::onReadable() {
  uint8_t buf[16384];
  long n = varn_recv(client_, buf, sizeof buf);
  if (n < 0 && (varn_error_would_block() || varn_error_is_interrupted())) return;
  if (n <= 0) {
    closeClient();
    return;
  }
  rx_.insert(rx_.end(), buf, buf + n);
  size_t at = 0;
  while (varn_socket_valid(client_) && rx_.size() - at >= 8) {
    size_t length = rx_[at] | rx_[at + 1] << 8;
    if (length < 8) {
      // A host out of step: a real controller resets the connection.
      std::fprintf(stderr, "board controller %s: request length %zu, closing the connection\n", address_.c_str(),
                   length);
      closeClient();
      return;
    }
    if (rx_.size() - at < length) break;
    handlePacket(rx_.data() + at, length);
    at += length;
  }
  if (varn_socket_valid(client_)) rx_.erase(rx_.begin(), rx_.begin() + long(at));
}

void ControllerServer::flushTx() {
  while (varn_socket_valid(client_) && !tx_.empty()) {
    long n = varn_send(client_, tx_.data(), tx_.size());
    if (n > 0) {
      tx_.erase(tx_.begin(), tx_.begin() + n);
      continue;
    }
    if (n < 0 && (varn_error_would_block() || varn_error_is_interrupted())) return;
    closeClient();
  }
}

void ControllerServer::run() {
  while (!stop_) {
    uint64_t now = varn_monotonic_ns();
    if (!varn_socket_valid(listener_) && relistenAtNs_ && now >= relistenAtNs_) {
      if (listen())
        relistenAtNs_ = 0;
      else
        relistenAtNs_ = now + 100ull * 1000000ull;
    }
    fd_set r, w;
    FD_ZERO(&r);
    FD_ZERO(&w);
    int nfds = 0;
    if (varn_socket_valid(listener_)) {
      FD_SET(listener_, &r);
      nfds = listener_ + 1;
    }
    if (varn_socket_valid(client_)) {
      FD_SET(client_, &r);
      if (!tx_.empty()) FD_SET(client_, &w);
      if (static_cast<int>(client_) + 1 > nfds) nfds = static_cast<int>(client_) + 1;
    }
    int ready = varn_select(nfds, &r, &w, 1000);
    if (ready > 0 && varn_socket_valid(listener_) && FD_ISSET(listener_, &r)) {
      varn_socket c = varn_accept(listener_, nullptr, nullptr);
      if (varn_socket_valid(c)) {
        // The host reconnected: whatever the old connection was, it is over.
        closeClient();
        client_ = c;
        varn_set_nonblocking(client_, true);
        varn_set_nodelay(client_);
        connected_ = true;
        ++connections_;
      }
    } else if (ready > 0 && varn_socket_valid(client_) && FD_ISSET(client_, &r)) {
      onReadable();
      flushTx();  // answers first, before time moves on
    }

    now = varn_monotonic_ns();
    while (!delayed_.empty() && delayed_.front().dueNs <= now) {
      tx_.insert(tx_.end(), delayed_.front().bytes.begin(), delayed_.front().bytes.end());
      delayed_.pop_front();
    }
    uint64_t step = now - lastAdvanceNs_;
    if (step > 0) {
      lastAdvanceNs_ = now;
      std::vector<uint8_t> out;
      {
        std::lock_guard<std::mutex> hold(boardLock_);
        controller_->advance(step > kMaxStepNs ? kMaxStepNs : step,
                            varn_socket_valid(client_) && tx_.size() < kTxBackpressure, &out);
      }
      if (varn_socket_valid(client_)) tx_.insert(tx_.end(), out.begin(), out.end());
    }
    flushTx();

    std::deque<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> hold(postLock_);
      work.swap(posts_);
    }
    for (auto& f : work) f();
    if (!work.empty()) {
      flushTx();
      std::lock_guard<std::mutex> hold(postLock_);
      postsDone_ += work.size();
      posted_.notify_all();
    }
  }
  std::lock_guard<std::mutex> hold(postLock_);
  posted_.notify_all();
}

}  // namespace varnsim
