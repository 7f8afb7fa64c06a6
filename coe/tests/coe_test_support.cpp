#include "coe/tests/coe_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

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
  if (!varn_socket_valid(client_)) return false;
  varn_set_nodelay(client_);
  return true;
}

void FakeController::closeClient() {
  if (varn_socket_valid(client_)) varn_close_socket(client_);
  client_ = VARN_INVALID_SOCKET;
}

bool FakeController::readBytes(uint8_t* out, size_t n, int timeoutMs) {
  while (n > 0) {
    if (!varn_socket_valid(client_) || !waitReadable(client_, timeoutMs)) return false;
    long got = varn_recv(client_, out, n);
    if (got <= 0) return false;
    out += got;
    n -= size_t(got);
  }
  return true;
}

bool FakeController::read(Packet* out, int timeoutMs) {
  uint8_t h[8];
  if (!readBytes(h, 8, timeoutMs)) return false;
  out->length = uint16_t(h[0] | h[1] << 8);
  out->tag = uint16_t(h[2] | h[3] << 8);
  out->command = uint16_t(h[4] | h[5] << 8);
  out->flags = uint16_t(h[6] | h[7] << 8);
  if (out->length < 8) return false;
  out->payload.assign(out->length - 8u, 0);
  return out->payload.empty() || readBytes(out->payload.data(), out->payload.size(), timeoutMs);
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

LogCapture::LogCapture() {
  char name[] = "/tmp/coe_test_log_XXXXXX";
  int fd = mkstemp(name);
  path_ = name;
  logFile = fdopen(fd, "w+");
}

LogCapture& LogCapture::get() {
  static LogCapture capture;
  return capture;
}

static std::string readAll(const std::string& path) {
  {
    std::lock_guard<std::mutex> hold(logMutex);
    std::fflush(logFile);
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t LogCapture::mark() { return readAll(path_).size(); }

std::string LogCapture::since(size_t mark) {
  std::string all = readAll(path_);
  return mark <= all.size() ? all.substr(mark) : std::string();
}

bool LogCapture::waitFor(size_t mark, const std::string& text, int timeoutMs) {
  return eventually([&] { return since(mark).find(text) != std::string::npos; }, timeoutMs);
}

}  // namespace coetest
