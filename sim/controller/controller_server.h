// One simulated board controller on the network: a TCP listener on the board's own
// address (127.0.0.2, 127.0.0.3, ... at port 21363), one host connection at a time, a
// thread that serves requests, lets simulated time pass and sends the FPGAs' UART
// output. Faults are injected from any thread; they take effect on the server thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/varn_platform.h"
#include "sim/controller/board_controller.h"

namespace varnsim {

class ControllerServer {
 public:
  // The chain must outlive the server; the server is its only user while it runs.
  ControllerServer(std::string address, uint16_t port, ControllerChain& chain, const ControllerConfig& cfg);
  ~ControllerServer();

  // Binds and starts the thread; false with the reason in *error.
  bool start(std::string* error);
  void stop();
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  bool hostConnected() const { return connected_; }
  uint64_t connections() const { return connections_; }

  // Runs f on the controller with the board locked (inspection, configuration).
  template <typename F>
  auto inspect(F f) {
    std::lock_guard<std::mutex> hold(boardLock_);
    return f(*controller_);
  }

  // --- faults -----------------------------------------------------------------------
  void closeConnection();                 // drop the host's connection now
  void setMute(bool on);                  // take requests, answer none
  void setAnswerDelayMs(uint32_t ms);     // answer every request this late
  void setWrongTags(uint32_t count);      // the next count answers carry another tag
  void dropOnNextRequest(uint16_t command = 0);  // close instead of answering (0: any)
  void sendShortLength();                 // a packet whose length field is below 8
  void sendLongLength();                  // a packet whose length field is above 4096
  void sendGarbage(size_t bytes, uint32_t seed = 1);
  // Gone from the network for downMs (listener and connection closed), then back;
  // with resetState the controller also forgets what the host set up.
  void restart(uint32_t downMs, bool resetState = false);

 private:
  void run();
  // Runs f on the server thread and waits until it ran.
  void post(std::function<void()> f);
  bool listen();
  void closeClient();
  void onReadable();
  void handlePacket(const uint8_t* pkt, size_t len);
  void queueAnswer(std::vector<uint8_t> bytes, uint32_t delayMs);
  void flushTx();

  std::string address_;
  uint16_t port_;
  ControllerChain& chain_;
  ControllerConfig cfg_;
  std::mutex boardLock_;
  std::unique_ptr<BoardController> controller_;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> connections_{0};

  std::mutex postLock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> posts_;
  uint64_t postsDone_ = 0, postsQueued_ = 0;

  // Server thread only.
  varn_socket listener_ = VARN_INVALID_SOCKET;
  varn_socket client_ = VARN_INVALID_SOCKET;
  std::vector<uint8_t> rx_;
  std::vector<uint8_t> tx_;
  struct Delayed {
    uint64_t dueNs;
    std::vector<uint8_t> bytes;
  };
  std::deque<Delayed> delayed_;
  bool mute_ = false;
  uint32_t delayMs_ = 0;
  uint32_t wrongTags_ = 0;
  bool dropNext_ = false;
  uint16_t dropCommand_ = 0;
  uint64_t relistenAtNs_ = 0;
  uint64_t lastAdvanceNs_ = 0;
};

}  // namespace varnsim
