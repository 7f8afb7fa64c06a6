// Test-side JTAG master over raw FT_* calls: builds MPSSE command bytes for TMS paths,
// scans and idle clocks from the JTAG side, sends them and unpacks the reply into
// bits. Written from AN_108 for these tests; it shares nothing with the host code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ftdi/ftd2xx.h"

namespace varnsim::test {

using Bits = std::vector<bool>;

inline Bits bitsOf(uint64_t v, size_t n) {
  Bits b(n);
  for (size_t i = 0; i < n; ++i) b[i] = (v >> i) & 1;
  return b;
}
inline uint64_t valueOf(const Bits& b, size_t first = 0, size_t n = 64) {
  uint64_t v = 0;
  for (size_t i = 0; i < n && first + i < b.size(); ++i)
    if (b[first + i]) v |= uint64_t{1} << i;
  return v;
}

class MpsseWriter {
 public:
  std::vector<uint8_t> cmd;

  // TMS path, first character first, in commands of at most 6 bits (bit 7 is TDI).
  void tms(const std::string& path, bool tdi = false) {
    for (size_t i = 0; i < path.size(); i += 6) {
      size_t n = std::min<size_t>(6, path.size() - i);
      uint8_t b = tdi ? 0x80 : 0;
      for (size_t k = 0; k < n; ++k)
        if (path[i + k] == '1') b |= static_cast<uint8_t>(1u << k);
      cmd.insert(cmd.end(), {0x4B, static_cast<uint8_t>(n - 1), b});
    }
  }
  // From Run-Test/Idle: shifts `in` through the IR or DR, back to Run-Test/Idle. With
  // `read`, the bits that came out are collected (see result()).
  void scan(bool ir, const Bits& in, bool read) {
    tms(ir ? "1100" : "100");
    shiftBits(in, read, true);
    tms("10");
  }
  // In a Shift state: every bit but the last with data commands, the last one with
  // TMS high (Exit1). Bytes go as byte commands.
  void shiftBits(const Bits& in, bool read, bool exit) {
    size_t n = in.size() - (exit ? 1 : 0);
    size_t i = 0;
    while (n - i >= 8) {
      size_t bytes = std::min<size_t>((n - i) / 8, 65536);
      cmd.insert(cmd.end(), {static_cast<uint8_t>(read ? 0x39 : 0x19), static_cast<uint8_t>((bytes - 1) & 0xFF),
                             static_cast<uint8_t>((bytes - 1) >> 8)});
      for (size_t b = 0; b < bytes; ++b) cmd.push_back(static_cast<uint8_t>(valueOf(in, i + 8 * b, 8)));
      if (read) pieces_.push_back({static_cast<int>(bytes * 8), Kind::Bytes});
      i += bytes * 8;
    }
    if (i < n) {
      const size_t bits = n - i;
      cmd.insert(cmd.end(), {static_cast<uint8_t>(read ? 0x3B : 0x1B), static_cast<uint8_t>(bits - 1),
                             static_cast<uint8_t>(valueOf(in, i, bits))});
      if (read) pieces_.push_back({static_cast<int>(bits), Kind::TopBits});
      i = n;
    }
    if (exit) {
      const bool last = in.back();
      cmd.insert(cmd.end(), {static_cast<uint8_t>(read ? 0x6B : 0x4B), 0x00, static_cast<uint8_t>(last ? 0x81 : 0x01)});
      if (read) pieces_.push_back({1, Kind::TopBits});
    }
  }
  void idle(uint64_t clocks) {
    while (clocks >= 8) {
      uint64_t c = std::min<uint64_t>(clocks / 8, 65536);
      cmd.insert(cmd.end(), {0x8F, static_cast<uint8_t>((c - 1) & 0xFF), static_cast<uint8_t>((c - 1) >> 8)});
      clocks -= c * 8;
    }
    if (clocks) cmd.insert(cmd.end(), {0x8E, static_cast<uint8_t>(clocks - 1)});
  }
  void sendImmediate() { cmd.push_back(0x87); }

  size_t replyBytes() const {
    size_t n = 0;
    for (auto& p : pieces_) n += p.kind == Kind::Bytes ? static_cast<size_t>(p.bits / 8) : 1;
    return n;
  }
  // Unpacks a reply to the collected reads, in order.
  Bits result(const std::vector<uint8_t>& reply) const {
    Bits out;
    size_t pos = 0;
    for (auto& p : pieces_) {
      if (p.kind == Kind::Bytes) {
        for (int b = 0; b < p.bits / 8; ++b, ++pos)
          for (int k = 0; k < 8; ++k) out.push_back((reply.at(pos) >> k) & 1);
      } else {
        const uint8_t v = reply.at(pos++);
        for (int k = 8 - p.bits; k < 8; ++k) out.push_back((v >> k) & 1);
      }
    }
    return out;
  }
  void clear() {
    cmd.clear();
    pieces_.clear();
  }

 private:
  enum class Kind { Bytes, TopBits };
  struct Piece {
    int bits;
    Kind kind;
  };
  std::vector<Piece> pieces_;
};

// An opened channel in MPSSE mode at 30 MHz, pins set up for JTAG.
class FtJtag {
 public:
  explicit FtJtag(int index) {
    EXPECT_EQ(FT_Open(index, &h), FT_OK);
    EXPECT_EQ(FT_SetBitMode(h, 0x0B, 0x00), FT_OK);
    EXPECT_EQ(FT_SetBitMode(h, 0x0B, 0x02), FT_OK);
    EXPECT_EQ(FT_SetLatencyTimer(h, 4), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(h, 1000, 1000), FT_OK);
    EXPECT_EQ(FT_SetUSBParameters(h, 16384, 16384), FT_OK);
    EXPECT_EQ(FT_Purge(h, 3), FT_OK);
    send({0x97, 0x8A, 0x86, 0x00, 0x00, 0x85, 0x80, 0xE8, 0xEB});
  }
  ~FtJtag() { FT_Close(h); }

  void send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD w = 0;
      ASSERT_EQ(FT_Write(h, const_cast<uint8_t*>(bytes.data() + done), static_cast<DWORD>(bytes.size() - done), &w), FT_OK);
      ASSERT_GT(w, 0u);
      done += w;
    }
  }
  std::vector<uint8_t> receive(size_t n) {
    std::vector<uint8_t> v(n);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(h, v.data(), static_cast<DWORD>(n), &got), FT_OK);
    v.resize(got);
    return v;
  }
  // Sends the writer's commands and collects its reads.
  Bits run(MpsseWriter& w) {
    w.sendImmediate();
    send(w.cmd);
    Bits r;
    if (w.replyBytes()) {
      auto reply = receive(w.replyBytes());
      EXPECT_EQ(reply.size(), w.replyBytes());
      if (reply.size() == w.replyBytes()) r = w.result(reply);
    }
    w.clear();
    return r;
  }

  FT_HANDLE h = nullptr;
};

}  // namespace varnsim::test
