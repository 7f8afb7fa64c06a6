#include "bitstream/bitstream_internal.h"
#include "jtag/tap.h"

int varn_bit_load_instruction(VARNJtag* jtag, uint32_t device, uint64_t instruction, uint64_t* capture) {
  const int32_t n = jtag->irLength[device];
  // Over FTDI the chain is shifted bit by bit, so the TDI side holds the instruction
  // bits of every device before this one, whatever their lengths. The CoE controller
  // is addressed by device index, which it takes as (TDI-side bits / IR length): in a
  // chain of different parts only index x length names the right device.
  const int32_t tdiSide = jtag->coeLink != nullptr ? static_cast<int32_t>(device) * n : varn_jtag_ir_offset(jtag, device);
  return varn_jtag_comm_tap_ir_shift(jtag, tdiSide, n, jtag->totalIrLength, instruction, capture, IRUPDATE);
}
