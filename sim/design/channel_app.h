// An application behind the design's byte channel: it takes bytes from the FIFO
// toward the FPGA and answers into the FIFO toward the host.
#pragma once

#include <cstdint>

#include "sim/design/byte_channel.h"

namespace varnsim {

class ChannelApp {
 public:
  virtual ~ChannelApp() = default;
  // Moves what it can now; called after bytes arrive and after time passes.
  virtual void service(ByteChannel& ch) = 0;
  // Simulated time is now nowNs (monotonic, from 0 at power-up).
  virtual void advance(uint64_t nowNs, ByteChannel& ch) { service(ch); }
};

// Returns every byte unchanged. When the host stops reading, the answer FIFO fills,
// the echo stops taking input and the input FIFO fills in turn: nothing is lost until
// the input FIFO itself overflows.
class EchoApp : public ChannelApp {
 public:
  void service(ByteChannel& ch) override {
    while (!ch.in.empty() && !ch.out.full()) ch.out.push(ch.in.pop());
  }
};

}  // namespace varnsim
