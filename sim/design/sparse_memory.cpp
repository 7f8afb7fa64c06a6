#include "sim/design/sparse_memory.h"

#include <algorithm>
#include <cstring>

namespace varnsim {

void SparseMemory::read(uint64_t off, uint8_t* out, size_t n) const {
  while (n) {
    uint64_t page = off / kPageSize;
    size_t in = static_cast<size_t>(off % kPageSize);
    size_t take = std::min<size_t>(n, kPageSize - in);
    auto it = pages_.find(page);
    if (it == pages_.end())
      std::memset(out, 0, take);
    else
      std::memcpy(out, it->second.get() + in, take);
    out += take;
    off += take;
    n -= take;
  }
}

bool SparseMemory::write(uint64_t off, const uint8_t* in, size_t n) {
  // Check the whole span first so a refused write changes nothing.
  size_t needed = 0;
  for (uint64_t o = off, left = n; left;) {
    uint64_t page = o / kPageSize;
    size_t at = static_cast<size_t>(o % kPageSize);
    size_t take = std::min<size_t>(left, kPageSize - at);
    if (!pages_.count(page)) {
      const uint8_t* p = in + (o - off);
      if (std::any_of(p, p + take, [](uint8_t b) { return b != 0; })) ++needed;
    }
    o += take;
    left -= take;
  }
  if (pages_.size() + needed > maxPages_) {
    ++refused_;
    return false;
  }
  while (n) {
    uint64_t page = off / kPageSize;
    size_t at = static_cast<size_t>(off % kPageSize);
    size_t take = std::min<size_t>(n, kPageSize - at);
    auto it = pages_.find(page);
    if (it == pages_.end()) {
      // Zeros onto a never-written page change nothing: keep it unbacked.
      if (std::any_of(in, in + take, [](uint8_t b) { return b != 0; })) {
        auto mem = std::make_unique<uint8_t[]>(kPageSize);
        std::memset(mem.get(), 0, kPageSize);
        std::memcpy(mem.get() + at, in, take);
        pages_.emplace(page, std::move(mem));
      }
    } else {
      std::memcpy(it->second.get() + at, in, take);
    }
    in += take;
    off += take;
    n -= take;
  }
  return true;
}

void FlatMemory::read(uint64_t off, uint8_t* out, size_t n) const { std::memcpy(out, bytes_.data() + off, n); }

bool FlatMemory::write(uint64_t off, const uint8_t* in, size_t n) {
  std::memcpy(bytes_.data() + off, in, n);
  return true;
}

}  // namespace varnsim
