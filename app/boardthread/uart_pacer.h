// Keeps the bytes handed to a board controller's UART within what its line carries.
// The controller buffers what it is sent and drops what does not fit, so a client that
// types faster than the line (a file pasted into the port) would lose bytes; paced, the
// surplus waits in the client's own TCP stream instead.
#pragma once

#include <cstdint>

class VARNUartPacer {
 public:
  // bytesPerSecond: the line's payload rate; burst: how much may go at once after a
  // pause (well below the controller's buffer).
  VARNUartPacer(double bytesPerSecond, uint32_t burst) : rate_(bytesPerSecond), burst_(burst), tokens_(burst) {}

  // Bytes that may be sent at nowNs.
  uint32_t allowance(uint64_t nowNs) {
    refill(nowNs);
    return static_cast<uint32_t>(tokens_);
  }
  // Records bytes sent at nowNs.
  void spend(uint64_t nowNs, uint32_t bytes) {
    refill(nowNs);
    tokens_ -= bytes;
    if (tokens_ < 0) tokens_ = 0;
  }

 private:
  void refill(uint64_t nowNs) {
    if (lastNs_ != 0 && nowNs > lastNs_) {
      tokens_ += double(nowNs - lastNs_) * rate_ / 1e9;
      if (tokens_ > burst_) tokens_ = burst_;
    }
    lastNs_ = nowNs;
  }

  double rate_;
  double burst_;
  double tokens_;
  uint64_t lastNs_ = 0;
};
