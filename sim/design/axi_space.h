// The design's AXI interconnect: a few register windows and memory windows decoded
// from the 64-bit address, everything else in the RAM window below kRamTop, and a
// decode error above it.
//
// Register windows take 32-bit accesses (the address is aligned down). Memory
// windows are byte-addressed, little-endian: a 32-bit write of V at A stores V's low
// byte at A. Block moves (the CDMA engine's data path) reach memory windows only; a
// block touching a register window or nothing gets a decode error.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/design/sparse_memory.h"

namespace varnsim {

enum class AxiResp { Okay, SlvErr, DecErr };

// A register-mapped slave; offsets are from the window base, 4-aligned.
class AxiRegisters {
 public:
  virtual ~AxiRegisters() = default;
  virtual AxiResp read32(uint32_t off, uint32_t* value) = 0;
  virtual AxiResp write32(uint32_t off, uint32_t value) = 0;
};

class AxiSpace {
 public:
  static constexpr uint64_t kRamTop = 0x40'0000'0000ull;  // 256 GiB

  void mapRegisters(uint64_t base, uint64_t size, AxiRegisters* regs);
  void mapMemory(uint64_t base, uint64_t size, ByteMemory* mem);
  // The memory that answers wherever no other window is (below kRamTop).
  void setRam(ByteMemory* ram) { ram_ = ram; }

  AxiResp read32(uint64_t addr, uint32_t* value);
  AxiResp write32(uint64_t addr, uint32_t value);
  AxiResp readBlock(uint64_t addr, uint8_t* out, size_t n);
  AxiResp writeBlock(uint64_t addr, const uint8_t* in, size_t n);

 private:
  struct Window {
    uint64_t base, size;
    AxiRegisters* regs;
    ByteMemory* mem;
  };
  // The window holding addr (ram as a pseudo-window); false for a decode error.
  bool find(uint64_t addr, Window* out) const;
  std::vector<Window> windows_;
  ByteMemory* ram_ = nullptr;
};

}  // namespace varnsim
