// The body of the simulated board controller's fuzzer, shared with a replay test: the
// input is a host's byte stream (8-byte headers, length first, as the controller's
// server frames them) fed to a controller with a VU9P and a VU35P behind it, in pieces
// of one size. The controller must answer every request that wants an answer with
// packets whose length field is their size and no more than the 4096 bytes a host
// takes, and stay inside what it was given (ASan checks that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/controller/board_controller.h"
#include "sim/controller/core_chain.h"
#include "sim/core/parts.h"
#include "sim/core/xilinx_device.h"
#include "sim/design/design.h"

struct VarnControllerFuzzResult {
  bool consistent = true;
  size_t requests = 0;
};

inline VarnControllerFuzzResult varnControllerFuzzOne(const uint8_t* data, size_t size, size_t piece) {
  using namespace varnsim;
  VarnControllerFuzzResult result;
  JtagChain chain;
  ControllerConfig cfg;
  DesignFactory factory = [](const DesignOptions& o, std::string* e) -> std::unique_ptr<FpgaDesign> {
    return makeDesignChecked(o, e);
  };
  const char* parts[] = {"VU9P", "VU35P"};
  for (int i = 0; i < 2; ++i) {
    DeviceConfig dc;
    dc.part = findPart(parts[i]);
    fillDefaultIdentity(dc, 77 + static_cast<uint64_t>(i));
    chain.add(std::make_unique<XilinxDevice>(dc, factory));
    cfg.slots[i].device = i;
    cfg.slots[i].hasRegulators = true;
  }
  CoreChain wiring(chain);
  BoardController controller(wiring, cfg);

  std::vector<uint8_t> rx, out;
  auto answersWellFormed = [&]() {
    for (size_t at = 0; at < out.size();) {
      if (out.size() - at < 8) return false;
      const size_t length = out[at] | out[at + 1] << 8;
      if (length < 8 || length > 4096 || length > out.size() - at) return false;
      at += length;
    }
    out.clear();
    return true;
  };
  if (piece == 0) piece = 1;
  for (size_t at = 0; at < size; at += piece) {
    const size_t n = size - at < piece ? size - at : piece;
    rx.insert(rx.end(), data + at, data + at + n);
    size_t used = 0;
    while (rx.size() - used >= 8) {
      const size_t length = rx[used] | rx[used + 1] << 8;
      if (length < 8) return result;  // the server closes such a connection
      if (rx.size() - used < length) break;
      const uint8_t* p = rx.data() + used;
      controller.handle(static_cast<uint16_t>(p[2] | p[3] << 8), static_cast<uint16_t>(p[4] | p[5] << 8),
                        static_cast<uint16_t>(p[6] | p[7] << 8), p + 8, length - 8, &out);
      ++result.requests;
      if (!answersWellFormed()) result.consistent = false;
      used += length;
    }
    rx.erase(rx.begin(), rx.begin() + static_cast<long>(used));
    controller.advance(10000, true, &out);
    if (!answersWellFormed()) result.consistent = false;
  }
  return result;
}
