// The design's one serial byte channel: a FIFO toward the FPGA application and one
// back toward the host. The JTAG-UART user registers and the UART pins are two
// doors onto the same pair of FIFOs.
#pragma once

#include "sim/design/byte_fifo.h"

namespace varnsim {

struct ByteChannel {
  ByteChannel(size_t inCapacity, size_t outCapacity) : in(inCapacity), out(outCapacity) {}
  ByteFifo in;   // host -> FPGA application
  ByteFifo out;  // FPGA application -> host
};

}  // namespace varnsim
