// Test-side JTAG master working a chain pin by pin: TMS/TDI per TCK, the TDO sample
// taken before each edge. Written from the TAP graph, independent of any host code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/common/fpga_fabric.h"
#include "sim/core/jtag_chain.h"

namespace varnsim::test {

using Bits = std::vector<bool>;

inline Bits bitsOf(uint64_t v, int n) {
  Bits b(n);
  for (int i = 0; i < n; ++i) b[i] = (v >> i) & 1;
  return b;
}
inline uint64_t valueOf(const Bits& b, size_t first = 0, size_t n = 64) {
  uint64_t v = 0;
  for (size_t i = 0; i < n && first + i < b.size(); ++i)
    if (b[first + i]) v |= uint64_t{1} << i;
  return v;
}

class ChainDriver {
 public:
  explicit ChainDriver(JtagChain& c) : c_(c) {}

  bool clock(bool tms, bool tdi = false) { return c_.tick(tms, tdi); }
  void tms(const std::string& path) {
    for (char ch : path) clock(ch == '1');
  }
  // Test-Logic-Reset, then Run-Test/Idle.
  void reset() { tms("111110"); }
  void idle(int n) {
    for (int i = 0; i < n; ++i) clock(false);
  }

  // From Run-Test/Idle: a full IR scan of the chain, back to Run-Test/Idle.
  Bits irScan(const Bits& in) { return scan(true, in); }
  Bits drScan(const Bits& in) { return scan(false, in); }
  uint64_t irScan(uint64_t v, int n) { return valueOf(irScan(bitsOf(v, n))); }
  uint64_t drScan(uint64_t v, int n) { return valueOf(drScan(bitsOf(v, n))); }

  // Enters Shift-DR from Run-Test/Idle and stays there.
  void enterShiftDR() { tms("100"); }
  void enterShiftIR() { tms("1100"); }
  // From a Shift state: the last bit with TMS high, then Update and Run-Test/Idle.
  void exitShift(bool lastTdi) {
    clock(true, lastTdi);
    tms("10");
  }

 private:
  Bits scan(bool ir, const Bits& in) {
    tms(ir ? "1100" : "100");
    Bits out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = clock(i + 1 == in.size(), in[i]);
    if (in.empty()) clock(true);
    tms("10");
    return out;
  }
  JtagChain& c_;
};

// A design double: USER1 is an 8-bit register that captures 0xA5 and counts updates;
// every other user register is one bit wide. UART bytes echo back.
class FakeDesign : public FpgaDesign, public SerialLink {
 public:
  void capture(int user) override {
    ++captures[user & 7];
    reg = user == 1 ? 0xA5 : 0;
    width = user == 1 ? 8 : 1;
  }
  bool tdo(int) const override { return reg & 1; }
  void shift(int user, bool tdi) override {
    ++shifts[user & 7];
    reg = (reg >> 1) | (static_cast<uint32_t>(tdi) << (width - 1));
  }
  void update(int user) override {
    ++updates[user & 7];
    lastUpdate = reg;
  }
  SerialLink& uart() override { return *this; }
  void advance(uint64_t ns) override { advancedNs += ns; }
  bool railVoltage(int rail, double* v) const override {
    if (rail != 0 || vccint <= 0) return false;
    *v = vccint;
    return true;
  }
  void toFpga(const uint8_t* d, size_t n) override { echo.insert(echo.end(), d, d + n); }
  size_t fromFpga(uint8_t* out, size_t cap) override {
    size_t n = std::min(cap, echo.size());
    std::copy(echo.begin(), echo.begin() + static_cast<long>(n), out);
    echo.erase(echo.begin(), echo.begin() + static_cast<long>(n));
    return n;
  }
  size_t fromFpgaAvailable() const override { return echo.size(); }

  uint32_t reg = 0;
  int width = 1;
  uint32_t lastUpdate = 0;
  int captures[8] = {}, shifts[8] = {}, updates[8] = {};
  uint64_t advancedNs = 0;
  double vccint = 0;
  std::vector<uint8_t> echo;
};

// A factory that hands out FakeDesigns and remembers the last one.
struct FakeFactory {
  FakeDesign* last = nullptr;
  int made = 0;
  std::string lastApp;
  auto factory() {
    return [this](const DesignOptions& o, std::string*) -> std::unique_ptr<FpgaDesign> {
      auto d = std::make_unique<FakeDesign>();
      last = d.get();
      ++made;
      auto it = o.find("app");
      lastApp = it == o.end() ? "" : it->second;
      return d;
    };
  }
};

}  // namespace varnsim::test
