// Retry pacing for a serial channel (or any board service) that keeps failing: the
// first failure puts the next attempt kFirstMs away, each further failure doubles the
// wait up to kMaxMs, and one success ends the streak. A board whose link is gone
// therefore costs almost nothing per turn, and comes back within kMaxMs of its link.
#pragma once

#include <cstdint>

class VARNChannelBackoff {
 public:
  constexpr VARNChannelBackoff(uint32_t firstMs = 50, uint32_t maxMs = 2000) : firstMs_(firstMs), maxMs_(maxMs) {}

  // Whether an attempt may be made at nowNs.
  bool due(uint64_t nowNs) const { return failures_ == 0 || nowNs >= nextNs_; }
  bool failing() const { return failures_ != 0; }
  uint32_t failures() const { return failures_; }
  // The wait that the last failure set.
  uint32_t delayMs() const { return delayMs_; }

  // Records a failure at nowNs; true when it starts a streak (the one to report).
  bool fail(uint64_t nowNs) {
    delayMs_ = failures_ == 0 ? firstMs_ : (delayMs_ >= maxMs_ / 2 ? maxMs_ : delayMs_ * 2);
    nextNs_ = nowNs + uint64_t(delayMs_) * 1000000u;
    return failures_++ == 0;
  }

  // Records a success; true when it ends a streak (the recovery to report).
  bool succeed() {
    bool was = failures_ != 0;
    failures_ = 0;
    delayMs_ = 0;
    return was;
  }

 private:
  uint32_t firstMs_;
  uint32_t maxMs_;
  uint32_t failures_ = 0;
  uint32_t delayMs_ = 0;
  uint64_t nextNs_ = 0;
};
