// A data register of fixed length shifted one bit per TCK in O(1): the bits live in a
// ring, the head is the bit next on TDO, and the bit shifted in takes its place at the
// tail. Long registers (DNA, user fuses, the boundary scan) use it; the buffer is
// sized once so a scan never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnsim {

class BitRing {
 public:
  explicit BitRing(size_t maxBits = 64) : bits_(maxBits ? maxBits : 1, 0) {}

  size_t length() const { return len_; }

  // Loads `len` bits; bit k of the register is bit (k % 64) of words[k / 64] (bit 0
  // is the first shifted out). Missing words read as zero.
  void load(size_t len, const uint64_t* words, size_t nWords);
  void loadValue(size_t len, uint64_t value) { load(len, &value, 1); }

  bool out() const { return len_ ? bits_[head_] != 0 : false; }
  // Shifts one bit in at the TDI end; returns the bit that left at the TDO end.
  bool shift(bool tdi) {
    if (!len_) return tdi;
    bool o = bits_[head_] != 0;
    bits_[head_] = tdi ? 1 : 0;
    if (++head_ == len_) head_ = 0;
    return o;
  }

  bool bit(size_t k) const { return len_ ? bits_[(head_ + k) % len_] != 0 : false; }
  // Bits [first, first + n) as a number (n <= 64), bit `first` in bit 0.
  uint64_t value(size_t first = 0, size_t n = 64) const;

 private:
  std::vector<uint8_t> bits_;
  size_t len_ = 0;
  size_t head_ = 0;
};

}  // namespace varnsim
