#include "testsupport/coe/coe_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

namespace coetest {

std::vector<uint8_t> encode(uint16_t tag, uint16_t command, uint16_t word, const std::vector<uint8_t>& payload) {
  size_t length = payload.size() + 8;
  std::vector<uint8_t> out(length);
  const uint16_t fields[4] = {uint16_t(length), tag, command, word};
  for (int i = 0; i < 4; i++) {
    out[2 * i] = uint8_t(fields[i]);
    out[2 * i + 1] = uint8_t(fields[i] >> 8);
  }
  std::copy(payload.begin(), payload.end(), out.begin() + 8);
  return out;
}

static bool waitReadable(varn_socket s, int timeoutMs) {
  fd_set r;
  FD_ZERO(&r);
  FD_SET(s, &r);
  return varn_select(s + 1, &r, nullptr, int64_t(timeoutMs) * 1000) > 0;
}

FakeController::FakeController(uint16_t port) {
  port_ = port;
  relisten();
}

FakeController::~FakeController() {
  closeClient();
  closeListener();
}

bool FakeController::relisten() {
  closeListener();
  listener_ = varn_tcp_socket();
  varn_set_reuseaddr(listener_);
  if (varn_bind_ipv4(listener_, "127.0.0.1", port_) != 0 || varn_listen(listener_, 4) != 0) {
    closeListener();
    return false;
  }
  port_ = varn_local_port(listener_);
  return true;
}

void FakeController::closeListener() {
  if (varn_socket_valid(listener_)) varn_close_socket(listener_);
  listener_ = VARN_INVALID_SOCKET;
}

bool FakeController::accept(int timeoutMs) {
  closeClient();
  if (!listening() || !waitReadable(listener_, timeoutMs)) return false;
  client_ = varn_accept(listener_, nullptr, nullptr);
  rx_.clear();
  closed_ = false;
  if (!varn_socket_valid(client_)) return false;
  varn_set_nodelay(client_);
  return true;
}

void FakeController::closeClient() {
  if (varn_socket_valid(client_)) varn_close_socket(client_);
  client_ = VARN_INVALID_SOCKET;
}

bool FakeController::fill(size_t n, int timeoutMs) {
  uint64_t end = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000ull;
  while (rx_.size() < n) {
    if (!varn_socket_valid(client_) || closed_) return false;
    uint64_t now = varn_monotonic_ns();
    if (now >= end || !waitReadable(client_, int((end - now) / 1000000) + 1)) return false;
    uint8_t buf[8192];
    long got = varn_recv(client_, buf, sizeof(buf));
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    rx_.insert(rx_.end(), buf, buf + got);
  }
  return true;
}

bool FakeController::read(Packet* out, int timeoutMs) {
  if (!fill(8, timeoutMs)) return false;
  uint16_t length = uint16_t(rx_[0] | rx_[1] << 8);
  if (length < 8 || !fill(length, timeoutMs)) return false;
  out->length = length;
  out->tag = uint16_t(rx_[2] | rx_[3] << 8);
  out->command = uint16_t(rx_[4] | rx_[5] << 8);
  out->flags = uint16_t(rx_[6] | rx_[7] << 8);
  out->payload.assign(rx_.begin() + 8, rx_.begin() + length);
  rx_.erase(rx_.begin(), rx_.begin() + length);
  return true;
}

bool FakeController::readRequest(Packet* out, int timeoutMs) {
  do {
    if (!read(out, timeoutMs)) return false;
  } while (out->command == 0x0010);
  return true;
}

void FakeController::send(const std::vector<uint8_t>& bytes) {
  if (varn_socket_valid(client_)) varn_send_all(client_, bytes.data(), bytes.size());
}

void FakeController::answer(const Packet& request, const std::vector<uint8_t>& payload, uint16_t word,
                            uint16_t command) {
  send(encode(request.tag, command, word, payload));
}

ScriptedController::ScriptedController(std::function<Reply(const Packet&)> responder)
    : responder_(std::move(responder)), port_(fc_.port()) {
  thread_ = std::thread([this] { run(); });
}

ScriptedController::~ScriptedController() {
  stop_ = true;
  thread_.join();
}

void ScriptedController::run() {
  while (!stop_) {
    if (!fc_.accept(50)) continue;
    Packet p;
    for (;;) {
      if (!fc_.read(&p, 50)) {
        if (stop_) return;
        // A time-out only means a quiet host; a closed connection ends the read loop.
        if (fc_.peerClosed()) break;
        continue;
      }
      if (p.command == 0x0010) continue;
      {
        std::lock_guard<std::mutex> hold(lock_);
        requests_.push_back(p);
      }
      Reply r = responder_(p);
      if (r.send) fc_.send(encode(p.tag, r.command, r.word, r.payload));
    }
  }
}

std::vector<Packet> ScriptedController::requests() {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

void ScriptedController::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  requests_.clear();
}

LogCapture::LogCapture() {
  std::lock_guard<std::mutex> hold(logMutex);
  file_ = std::tmpfile();
  logFile = file_;
}

LogCapture& LogCapture::get() {
  static LogCapture capture;
  return capture;
}

std::string LogCapture::all() {
  std::lock_guard<std::mutex> hold(logMutex);
  if (file_ == nullptr) return {};
  std::fflush(file_);
  const long end = std::ftell(file_);
  std::string out(size_t(end > 0 ? end : 0), '\0');
  std::fseek(file_, 0, SEEK_SET);
  out.resize(std::fread(out.data(), 1, out.size(), file_));
  std::fseek(file_, 0, SEEK_END);
  return out;
}

size_t LogCapture::mark() { return all().size(); }

std::string LogCapture::since(size_t mark) {
  const std::string text = all();
  return mark <= text.size() ? text.substr(mark) : std::string();
}

bool LogCapture::waitFor(size_t mark, const std::string& text, int timeoutMs) {
  return eventually([&] { return since(mark).find(text) != std::string::npos; }, timeoutMs);
}

}  // namespace coetest
