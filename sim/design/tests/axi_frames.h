// Test-side helpers: send frames into a design's pins and collect what comes back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/design/axi_packet.h"
#include "sim/design/design.h"

namespace varnsim::test {

inline std::unique_ptr<Design> makeAxiDesign(DesignOptions extra = {}) {
  DesignOptions o = {{"app", "axi"}};
  for (auto& [k, v] : extra) o[k] = v;
  std::string err;
  auto d = makeDesignChecked(o, &err);
  EXPECT_TRUE(d) << err;
  return d;
}

inline void send(Design& d, const uint8_t* p, size_t n) { d.uart().toFpga(p, n); }
inline void send(Design& d, const AxiFrame& f) { send(d, f.data(), f.size()); }

inline std::vector<uint8_t> drainBytes(Design& d) {
  std::vector<uint8_t> out(d.uart().fromFpgaAvailable());
  out.resize(d.uart().fromFpga(out.data(), out.size()));
  return out;
}

inline std::vector<AxiFrame> drainFrames(Design& d) {
  std::vector<uint8_t> b = drainBytes(d);
  EXPECT_EQ(b.size() % 16, 0u);
  std::vector<AxiFrame> out;
  for (size_t i = 0; i + 16 <= b.size(); i += 16) {
    AxiFrame f;
    std::copy(b.begin() + i, b.begin() + i + 16, f.begin());
    EXPECT_TRUE(frameCheckOk(f.data()));
    out.push_back(f);
  }
  return out;
}

// One request, exactly one answer expected.
inline AxiFrame transact(Design& d, const AxiFrame& req) {
  send(d, req);
  auto f = drainFrames(d);
  EXPECT_EQ(f.size(), 1u);
  return f.empty() ? AxiFrame{} : f[0];
}

inline uint32_t axiRead(Design& d, uint64_t addr, uint8_t* cmdOut = nullptr) {
  AxiFrame a = transact(d, makeFrame(0x01, 0x5A, addr, 0xAAAAAAAA));
  if (cmdOut) *cmdOut = a[0];
  return frameData(a);
}

inline uint8_t axiWrite(Design& d, uint64_t addr, uint32_t v) {
  return transact(d, makeFrame(0x02, 0x33, addr, v))[0];
}

}  // namespace varnsim::test
