// Test doubles for the link: a fake board controller on a loopback socket, and a copy
// of everything the program logs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/platform/varn_platform.h"

namespace coetest {

struct Packet {
  uint16_t length = 0, tag = 0, command = 0, flags = 0;
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> encode(uint16_t tag, uint16_t command, uint16_t word, const std::vector<uint8_t>& payload);

// The controller's end of one CoE connection, driven step by step by the test.
class FakeController {
 public:
  explicit FakeController(uint16_t port = 0);  // 0: any free port on 127.0.0.1
  ~FakeController();
  uint16_t port() const { return port_; }
  bool listening() const { return varn_socket_valid(listener_); }
  bool accept(int timeoutMs = 3000);
  // Next whole packet from the host; false on time-out or close.
  bool read(Packet* out, int timeoutMs = 3000);
  // Next packet that is not a hello or keepalive (command 0x0010).
  bool readRequest(Packet* out, int timeoutMs = 3000);
  void send(const std::vector<uint8_t>& bytes);
  void answer(const Packet& request, const std::vector<uint8_t>& payload, uint16_t word = 0,
              uint16_t command = 0x000A);
  void closeClient();
  void closeListener();
  bool relisten();  // on the same port

 private:
  bool readBytes(uint8_t* out, size_t n, int timeoutMs);
  uint16_t port_ = 0;
  varn_socket listener_ = VARN_INVALID_SOCKET;
  varn_socket client_ = VARN_INVALID_SOCKET;
};

// Everything VARNLog writes from the first use on, kept in a file.
class LogCapture {
 public:
  static LogCapture& get();
  size_t mark();
  std::string since(size_t mark);
  // Waits until the text appears after the mark.
  bool waitFor(size_t mark, const std::string& text, int timeoutMs = 3000);

 private:
  LogCapture();
  std::string path_;
};

// Waits until the predicate holds; false after the time-out.
template <typename F>
bool eventually(F predicate, int timeoutMs = 3000) {
  uint64_t end = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000ull;
  while (!predicate()) {
    if (varn_monotonic_ns() > end) return false;
    varn_sleep_ms(2);
  }
  return true;
}

inline double secondsSince(uint64_t startNs) { return double(varn_monotonic_ns() - startNs) / 1e9; }

}  // namespace coetest
