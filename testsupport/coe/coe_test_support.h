// Test doubles for the link: a fake board controller on a loopback socket, and a copy
// of everything the program logs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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
  bool peerClosed() const { return closed_; }

 private:
  bool fill(size_t n, int timeoutMs);  // until n bytes are buffered
  std::vector<uint8_t> rx_;             // received, not yet taken
  bool closed_ = false;
  uint16_t port_ = 0;
  varn_socket listener_ = VARN_INVALID_SOCKET;
  varn_socket client_ = VARN_INVALID_SOCKET;
};

// A controller on its own thread that answers every request (hello and keepalive
// aside) with what the responder returns, and keeps the requests for the test.
struct Reply {
  bool send = true;  // false: no answer at all
  uint16_t command = 0x000A;
  uint16_t word = 0;
  std::vector<uint8_t> payload;
};

class ScriptedController {
 public:
  explicit ScriptedController(std::function<Reply(const Packet&)> responder);
  ~ScriptedController();
  uint16_t port() const { return port_; }
  std::vector<Packet> requests();
  void clear();

 private:
  void run();
  std::function<Reply(const Packet&)> responder_;
  FakeController fc_;
  uint16_t port_;
  std::mutex lock_;
  std::vector<Packet> requests_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
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
  std::string all();
  std::FILE* file_ = nullptr;
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
