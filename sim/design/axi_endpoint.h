// One design's serial channel served straight over TCP, for AXI tests that need no
// JTAG: the byte stream of a client connection is the design's UART pins. One client
// at a time; later clients wait in the listen backlog and are served in turn. A new
// client starts with empty channel FIFOs and a fresh frame search; the design's memory
// and devices keep their state across clients.
//
// The endpoint is a live peer: its thread advances the design's simulated time with
// real time. Fault hooks let tests make it stop answering, answer late, corrupt a byte
// or close the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/varn_platform.h"
#include "sim/design/design.h"

namespace varnsim {

// Byte positions count the bytes the design sent on the current connection, from 0.
struct EndpointFaults {
  uint32_t answerDelayMs = 0;     // every answer byte leaves this much later
  int64_t silentAfterBytes = -1;  // from this position on, answers are swallowed
  int64_t corruptAtByte = -1;     // this byte goes out inverted
  int64_t closeAfterBytes = -1;   // the connection is closed once this many were sent
};

class AxiEndpoint {
 public:
  // Builds the design and listens on bindAddr:port (0 = an ephemeral port). Null with
  // *error set when the options are bad or the port cannot be opened.
  static std::unique_ptr<AxiEndpoint> start(const DesignOptions& options, uint16_t port, std::string* error,
                                            const char* bindAddr = "127.0.0.1");
  ~AxiEndpoint();
  AxiEndpoint(const AxiEndpoint&) = delete;
  AxiEndpoint& operator=(const AxiEndpoint&) = delete;

  uint16_t port() const { return port_; }
  // Stops the thread and closes every socket; also done by the destructor.
  void stop();

  void setFaults(const EndpointFaults& f);
  // Corrupts the next byte the design sends on this connection.
  void corruptNextByte();
  // Drops the current client at once (the next one in the backlog is served).
  void closeClient();

  // Runs f on the design under the endpoint's lock (test hooks, counters).
  void withDesign(const std::function<void(Design&)>& f);

  bool clientConnected() const { return connected_.load(); }
  uint64_t clientsServed() const { return clientsServed_.load(); }

  // Connection events ("client connected from 127.0.0.1:40000", ...) for a tool to print.
  void setLogger(std::function<void(const std::string&)> log);

 private:
  AxiEndpoint() = default;
  void run();
  void serveClientTurn(uint64_t nowNs);
  void dropClient(const char* why);
  void log(const std::string& s);

  struct Chunk {
    uint64_t dueNs;
    std::vector<uint8_t> bytes;
    size_t off = 0;
  };

  std::unique_ptr<Design> design_;
  varn_socket listener_ = VARN_INVALID_SOCKET;
  varn_socket client_ = VARN_INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> clientsServed_{0};
  std::atomic<bool> closeRequested_{false};

  std::mutex mutex_;  // the design, the faults, the outgoing queue
  EndpointFaults faults_;
  uint64_t taken_ = 0;  // bytes taken from the design on this connection
  std::deque<Chunk> outgoing_;
  size_t outgoingBytes_ = 0;
  uint64_t lastNs_ = 0;
  std::function<void(const std::string&)> log_;
};

}  // namespace varnsim
