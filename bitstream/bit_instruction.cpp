#include "bitstream/bitstream_internal.h"
#include "jtag/tap.h"

// The TDI side holds the instruction bits of every device before this one, whatever
// their lengths; the CoE transport turns that offset back into the device index.
int varn_bit_load_instruction(VARNJtag* jtag, uint32_t device, uint64_t instruction, uint64_t* capture) {
  return varn_jtag_comm_tap_ir_shift(jtag, varn_jtag_ir_offset(jtag, device), jtag->irLength[device],
                                     jtag->totalIrLength, instruction, capture, IRUPDATE);
}
