#include "sim/core/bit_ring.h"

namespace varnsim {

void BitRing::load(size_t len, const uint64_t* words, size_t nWords) {
  if (len > bits_.size()) bits_.resize(len, 0);  // only ever grows at set-up
  len_ = len;
  head_ = 0;
  for (size_t k = 0; k < len; ++k) {
    size_t w = k / 64;
    bits_[k] = (w < nWords && ((words[w] >> (k % 64)) & 1)) ? 1 : 0;
  }
}

uint64_t BitRing::value(size_t first, size_t n) const {
  uint64_t v = 0;
  for (size_t k = 0; k < n && first + k < len_; ++k)
    if (bit(first + k)) v |= uint64_t{1} << k;
  return v;
}

}  // namespace varnsim
