// Serves one connected stream socket with a simulated FPGA design running the
// UART-to-AXI master (the simulator's own model, not the test fake): bytes from the
// socket go into the design's serial pins, its answers come back, and simulated time
// follows the wall clock so that CDMA transfers and interrupts happen.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/platform/varn_platform.h"
#include "sim/common/fpga_fabric.h"
#include "sim/design/design.h"

namespace varnaxitest {

class SimAxiPump {
 public:
  // Takes ownership of the socket. options are the design's key=value options;
  // "app" defaults to "axi".
  SimAxiPump(varn_socket s, varnsim::DesignOptions options);
  ~SimAxiPump();
  SimAxiPump(const SimAxiPump&) = delete;
  SimAxiPump& operator=(const SimAxiPump&) = delete;

  bool ok() const { return design_ != nullptr; }
  const std::string& error() const { return error_; }

  // Runs f on the design under the pump's lock (the design is single-threaded).
  template <class F>
  auto withDesign(F&& f) {
    std::lock_guard<std::mutex> hold(mu_);
    return f(*design_);
  }

 private:
  void run();
  varn_socket sock_;
  std::unique_ptr<varnsim::Design> design_;
  std::string error_;
  std::mutex mu_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace varnaxitest
