// The register-level I2C procedures a host runs against the AXI IIC core, written out
// step by step for the tests (wait for idle, soft reset, FIFO words, control write).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "sim/design/axi_space.h"

namespace varnsim::test {

class HostI2c {
 public:
  HostI2c(AxiSpace& space, uint64_t base) : s_(space), base_(base) {}

  uint32_t rd(uint32_t off) {
    uint32_t v = 0;
    EXPECT_EQ(s_.read32(base_ + off, &v), AxiResp::Okay);
    return v;
  }
  void wr(uint32_t off, uint32_t v) { EXPECT_EQ(s_.write32(base_ + off, v), AxiResp::Okay); }

  // Idle = TX and RX FIFO both empty; from the 11th reading each is followed by a soft
  // reset and the 13th gives up.
  bool waitIdle() {
    for (int i = 1; i <= 13; ++i) {
      uint32_t st = rd(0x104);
      if (i >= 11) wr(0x040, 0xA);
      if (i == 13) return false;
      if ((st & 0xC0) == 0xC0) return true;
    }
    return false;
  }
  bool plainWrite(uint8_t a, const std::vector<uint8_t>& bytes) {
    if (!waitIdle()) return false;
    wr(0x040, 0xA);
    wr(0x108, 0x100u | a << 1);
    for (size_t i = 0; i < bytes.size(); ++i) wr(0x108, bytes[i] | (i + 1 == bytes.size() ? 0x200u : 0u));
    wr(0x100, 0x01);
    return true;
  }
  bool plainRead(uint8_t a, uint8_t n, std::vector<uint8_t>* out) {
    if (!waitIdle()) return false;
    wr(0x040, 0xA);
    wr(0x120, 15);
    wr(0x108, 0x101u | a << 1);
    wr(0x108, 0x200u | n);
    wr(0x100, 0x01);
    out->clear();
    for (int i = 0; i < n; ++i) out->push_back(static_cast<uint8_t>(rd(0x10C)));
    return true;
  }
  // Register read through command 0xD0 with a repeated start; the first RX value is
  // the block count and is discarded.
  bool regRead(uint8_t a, uint16_t reg, uint8_t n, std::vector<uint8_t>* out) {
    if (!waitIdle()) return false;
    wr(0x040, 0xA);
    wr(0x120, 15);
    for (uint32_t w : {0x100u | a << 1, 0xD0u, reg & 0xFFu, uint32_t(reg >> 8), 0x101u | a << 1, 0x200u | n})
      wr(0x108, w);
    wr(0x100, 0x01);
    rd(0x10C);
    out->clear();
    for (int i = 0; i < n; ++i) out->push_back(static_cast<uint8_t>(rd(0x10C)));
    return true;
  }
  bool regWrite(uint8_t a, uint16_t reg, uint16_t v) {
    return plainWrite(a, {0xD0, 0x04, static_cast<uint8_t>(reg), static_cast<uint8_t>(reg >> 8),
                          static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
  }

 private:
  AxiSpace& s_;
  uint64_t base_;
};

}  // namespace varnsim::test
