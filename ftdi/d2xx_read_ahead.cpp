#include "ftdi/d2xx_read_ahead.h"

#include <algorithm>
#include <cstring>

namespace varn_d2xx {

size_t stripStatusBytes(const uint8_t* raw, size_t len, size_t packetSize, uint8_t* out, uint16_t* status) {
  constexpr size_t kStatusBytes = 2;
  if (packetSize <= kStatusBytes) return 0;  // a nonsense packet size carries no payload
  size_t outLen = 0;
  for (size_t off = 0; off < len; off += packetSize) {
    size_t packet = std::min(packetSize, len - off);
    if (packet >= kStatusBytes && status) *status = uint16_t(raw[off] | (raw[off + 1] << 8));
    if (packet <= kStatusBytes) continue;
    memmove(out + outLen, raw + off + kStatusBytes, packet - kStatusBytes);
    outLen += packet - kStatusBytes;
  }
  return outLen;
}

ReadAheadRing::ReadAheadRing(size_t capacity) : buf_(new uint8_t[capacity]), capacity_(capacity) {}

size_t ReadAheadRing::push(const uint8_t* data, size_t n) {
  n = std::min(n, room());
  size_t tail = (head_ + size_) % capacity_;
  size_t first = std::min(n, capacity_ - tail);
  memcpy(buf_.get() + tail, data, first);
  memcpy(buf_.get(), data + first, n - first);
  size_ += n;
  return n;
}

size_t ReadAheadRing::pop(uint8_t* out, size_t n) {
  n = std::min(n, size_);
  size_t first = std::min(n, capacity_ - head_);
  memcpy(out, buf_.get() + head_, first);
  memcpy(out + first, buf_.get(), n - first);
  head_ = (head_ + n) % capacity_;
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

}  // namespace varn_d2xx
