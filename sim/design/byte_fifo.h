// A bounded byte FIFO as the design's block-RAM FIFOs behave: fixed capacity chosen
// at build time, writes beyond it are dropped and counted (the hardware has no way
// to push back on a JTAG scan or a UART start bit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnsim {

class ByteFifo {
 public:
  explicit ByteFifo(size_t capacity) : buf_(capacity ? capacity : 1) {}

  size_t capacity() const { return buf_.size(); }
  size_t size() const { return count_; }
  size_t space() const { return buf_.size() - count_; }
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == buf_.size(); }

  // Returns false (and counts the byte as dropped) when full.
  bool push(uint8_t b) {
    if (full()) {
      ++dropped_;
      return false;
    }
    buf_[(head_ + count_) % buf_.size()] = b;
    ++count_;
    return true;
  }
  // Pushes all bytes or none: the caller keeps a packet whole rather than torn.
  bool pushAll(const uint8_t* p, size_t n) {
    if (n > space()) return false;
    for (size_t i = 0; i < n; ++i) push(p[i]);
    return true;
  }
  uint8_t front() const { return buf_[head_]; }
  uint8_t pop() {
    uint8_t b = buf_[head_];
    head_ = (head_ + 1) % buf_.size();
    --count_;
    return b;
  }
  size_t popInto(uint8_t* out, size_t cap) {
    size_t n = 0;
    while (n < cap && count_) out[n++] = pop();
    return n;
  }
  void clear() { head_ = count_ = 0; }
  uint64_t dropped() const { return dropped_; }

 private:
  std::vector<uint8_t> buf_;
  size_t head_ = 0;
  size_t count_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace varnsim
