// A client of a bridge port that keeps writes in flight as fast as the bridge takes
// them and counts the answers it gets back, for fairness tests and benchmarks.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "app/platform/varn_platform.h"

namespace varnaxitest {

class FloodClient {
 public:
  explicit FloodClient(uint16_t port);
  ~FloodClient();  // stops both threads and closes the connection
  FloodClient(const FloodClient&) = delete;
  FloodClient& operator=(const FloodClient&) = delete;

  uint64_t answers() const { return answers_; }

 private:
  varn_socket sock_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> answers_{0};
  std::thread writer_, reader_;
};

}  // namespace varnaxitest
