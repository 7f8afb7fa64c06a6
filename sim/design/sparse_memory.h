// Byte-addressed memories behind the AXI interconnect. The large one is sparse: pages
// are backed by host memory only once something other than zeros is written, and the
// total backing is capped so a client streaming writes to random addresses cannot
// exhaust the host (writes beyond the cap fail with a slave error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace varnsim {

class ByteMemory {
 public:
  virtual ~ByteMemory() = default;
  virtual uint64_t size() const = 0;
  // Offsets are within the memory; callers keep [off, off + n) inside size().
  virtual void read(uint64_t off, uint8_t* out, size_t n) const = 0;
  // False when the memory cannot take the bytes (the sparse memory's cap).
  virtual bool write(uint64_t off, const uint8_t* in, size_t n) = 0;
};

class SparseMemory : public ByteMemory {
 public:
  static constexpr uint64_t kPageSize = 64 * 1024;
  SparseMemory(uint64_t size, uint64_t maxBackedBytes) : size_(size), maxPages_(maxBackedBytes / kPageSize) {}

  uint64_t size() const override { return size_; }
  void read(uint64_t off, uint8_t* out, size_t n) const override;
  bool write(uint64_t off, const uint8_t* in, size_t n) override;

  size_t backedPages() const { return pages_.size(); }
  uint64_t refusedWrites() const { return refused_; }

 private:
  uint64_t size_;
  size_t maxPages_;
  std::unordered_map<uint64_t, std::unique_ptr<uint8_t[]>> pages_;
  uint64_t refused_ = 0;
};

class FlatMemory : public ByteMemory {
 public:
  explicit FlatMemory(size_t size) : bytes_(size, 0) {}
  uint64_t size() const override { return bytes_.size(); }
  void read(uint64_t off, uint8_t* out, size_t n) const override;
  bool write(uint64_t off, const uint8_t* in, size_t n) override;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace varnsim
