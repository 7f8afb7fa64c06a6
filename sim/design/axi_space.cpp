#include "sim/design/axi_space.h"

#include <algorithm>

namespace varnsim {

void AxiSpace::mapRegisters(uint64_t base, uint64_t size, AxiRegisters* regs) {
  windows_.push_back({base, size, regs, nullptr});
}

void AxiSpace::mapMemory(uint64_t base, uint64_t size, ByteMemory* mem) {
  windows_.push_back({base, size, nullptr, mem});
}

bool AxiSpace::find(uint64_t addr, Window* out) const {
  for (const Window& w : windows_) {
    if (addr >= w.base && addr - w.base < w.size) {
      *out = w;
      return true;
    }
  }
  if (!ram_ || addr >= kRamTop) return false;
  // RAM fills the gaps: its window runs from addr to the next mapped window.
  uint64_t end = std::min<uint64_t>(kRamTop, ram_->size());
  if (addr >= end) return false;
  for (const Window& w : windows_)
    if (w.base > addr) end = std::min(end, w.base);
  *out = {0, end, nullptr, ram_};  // RAM is addressed by the absolute address
  return true;
}

AxiResp AxiSpace::read32(uint64_t addr, uint32_t* value) {
  Window w;
  *value = 0;
  if (!find(addr, &w)) return AxiResp::DecErr;
  if (w.regs) return w.regs->read32(static_cast<uint32_t>((addr - w.base) & ~uint64_t{3}), value);
  if (addr - w.base + 4 > w.size) return AxiResp::DecErr;
  uint8_t b[4];
  w.mem->read(addr - w.base, b, 4);
  *value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return AxiResp::Okay;
}

AxiResp AxiSpace::write32(uint64_t addr, uint32_t value) {
  Window w;
  if (!find(addr, &w)) return AxiResp::DecErr;
  if (w.regs) return w.regs->write32(static_cast<uint32_t>((addr - w.base) & ~uint64_t{3}), value);
  if (addr - w.base + 4 > w.size) return AxiResp::DecErr;
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return w.mem->write(addr - w.base, b, 4) ? AxiResp::Okay : AxiResp::SlvErr;
}

AxiResp AxiSpace::readBlock(uint64_t addr, uint8_t* out, size_t n) {
  while (n) {
    Window w;
    if (!find(addr, &w) || w.regs) return AxiResp::DecErr;
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, w.size - (addr - w.base)));
    w.mem->read(addr - w.base, out, take);
    addr += take;
    out += take;
    n -= take;
  }
  return AxiResp::Okay;
}

AxiResp AxiSpace::writeBlock(uint64_t addr, const uint8_t* in, size_t n) {
  while (n) {
    Window w;
    if (!find(addr, &w) || w.regs) return AxiResp::DecErr;
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, w.size - (addr - w.base)));
    if (!w.mem->write(addr - w.base, in, take)) return AxiResp::SlvErr;
    addr += take;
    in += take;
    n -= take;
  }
  return AxiResp::Okay;
}

}  // namespace varnsim
