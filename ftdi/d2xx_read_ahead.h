// The read-ahead store of an open channel: IN transfers arrive as packets that each
// start with two modem-status bytes; the payload goes into a ring that FT_Read and
// FT_GetStatus see. Not locked: the channel holds its mutex around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace varn_d2xx {

// Removes the status bytes of every packet of one IN transfer (packets of
// packetSize bytes, the last one possibly short; a packet shorter than the status
// bytes carries nothing). Writes the payload to out (room for len bytes) and returns
// its length; *status receives the last packet's two status bytes (first in the low
// byte) when the transfer had any.
size_t stripStatusBytes(const uint8_t* raw, size_t len, size_t packetSize, uint8_t* out, uint16_t* status);

class ReadAheadRing {
 public:
  explicit ReadAheadRing(size_t capacity);

  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  size_t room() const { return capacity_ - size_; }

  // Appends min(n, room()) bytes and returns how many.
  size_t push(const uint8_t* data, size_t n);
  // Removes up to n bytes into out and returns how many.
  size_t pop(uint8_t* out, size_t n);
  void clear() { head_ = size_ = 0; }

 private:
  std::unique_ptr<uint8_t[]> buf_;
  size_t capacity_;
  size_t head_ = 0;  // index of the oldest byte
  size_t size_ = 0;
};

}  // namespace varn_d2xx
