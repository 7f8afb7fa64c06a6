// TAP operations over the FTDI MPSSE transport. The handle tracks the TAP state; every
// move clocks the path of the state table as one TMS command.
#include <cstdio>
#include <cstring>

#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tap_internal.h"

namespace {

// Instruction padding: BYPASS is all ones in every device.
constexpr uint32_t kOnesPadBits = 320;
const uint8_t kOnesPad[kOnesPadBits / 8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Data padding: one bypass bit per device, shifted as zeros.
constexpr uint32_t kZeroPadBits = 1024;
const uint8_t kZeroPad[kZeroPadBits / 8] = {};

// Shifts count padding bits in pieces no longer than the pad, staying in the shift
// state except for the last piece, which ends in endState.
int shiftPad(VARNJtag* jtag, const uint8_t* pad, uint32_t padBits, uint64_t count, uint32_t shiftState,
             uint32_t endState) {
  while (count > 0) {
    const uint64_t piece = count < padBits ? count : padBits;
    count -= piece;
    int rc = tap_ftdi_reg_shift(jtag, pad, nullptr, piece, shiftState, count == 0 ? endState : shiftState, false);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int tap_ftdi_move_to_state(VARNJtag* jtag, uint32_t state, uint8_t tdiBit, uint8_t* tdo) {
  if (state >= JTAG_STATE_COUNT) {
    std::fprintf(stderr, "Invalid JTAG State!\n");
    return -1;
  }
  uint32_t from = jtag->tapState;
  if (from >= JTAG_STATE_COUNT) {
    // The tracked state is lost: five TMS ones reach RESET from any state.
    ftdi_mpsse_clock_tms(jtag->ftHandle, jtag->mpsse, 0x1F, nullptr, 5, false, false, true);
    from = RESET;
  }
  uint8_t bits = 0;
  uint32_t length = 0;
  jtag_trans_get_tms(from, state, &bits, &length);
  jtag->tapState = state;
  if (length == 0) return 0;
  // Write on the falling edge, read (when asked) on the rising edge: 0x4B / 0x6B.
  return ftdi_mpsse_clock_tms(jtag->ftHandle, jtag->mpsse, bits, tdo, length, tdiBit != 0, false, true);
}

int tap_ftdi_reg_shift(VARNJtag* jtag, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, uint32_t shiftState,
                       uint32_t endState, bool reverse) {
  if (shiftState >= JTAG_STATE_COUNT || endState >= JTAG_STATE_COUNT) {
    std::fprintf(stderr, "Invalid JTAG State!\n");
    std::fprintf(stderr, "Failed transitioning to JTAG state\n");
    return -1;
  }
  if (tap_ftdi_move_to_state(jtag, shiftState, 0, nullptr) != 0) {
    std::fprintf(stderr, "Failed transitioning to JTAG state\n");
    return -1;
  }
  if (tdo != nullptr && bits > 0) std::memset(tdo, 0, static_cast<size_t>((bits + 7) / 8));
  if (bits == 0) {
    if (endState != shiftState) tap_ftdi_move_to_state(jtag, endState, 0, nullptr);
    return 0;
  }
  FT_HANDLE h = jtag->ftHandle;
  MpsseBuffer* b = jtag->mpsse;
  if (endState == shiftState) {
    int rc = ftdi_mpsse_clock_data(h, b, tdi, tdo, bits, reverse, true, true);
    if (rc != 0) {
      std::fprintf(stderr, "Read Failed: %i\n", rc);
      return rc;
    }
    return 0;
  }
  const uint64_t last = bits - 1;
  if (last > 0) {
    int rc = ftdi_mpsse_clock_data(h, b, tdi, tdo, last, reverse, true, true);
    if (rc != 0) {
      std::fprintf(stderr, "Read Failed: %i\n", rc);
      return rc;
    }
  } else if (tdi == nullptr && tdo == nullptr) {
    std::fprintf(stderr, "FTDI Clock with no TDO/TDI not supported\n");
    std::fprintf(stderr, "Read Failed: %i\n", -1);
    return -1;
  }
  // The last bit goes out on the exit clock. With the reverse flag each byte leaves
  // most significant bit first, so the last bit sent is bit (-bits) mod 8.
  uint8_t lastBit = 0;
  if (tdi != nullptr) {
    const uint8_t byte = tdi[last / 8];
    const unsigned pos = reverse ? static_cast<unsigned>((8 - bits % 8) % 8) : static_cast<unsigned>(last % 8);
    lastBit = (byte >> pos) & 1;
  }
  tap_ftdi_move_to_state(jtag, endState, lastBit, tdo ? tdo + last / 8 : nullptr);
  return 0;
}

int tap_ftdi_ir_shift(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength,
                      uint64_t instruction, uint64_t* capture, uint32_t endState) {
  if (irLength <= 0 || irLength > 64) {
    std::fprintf(stderr, "Instruction load with IR length %i refused (1..64 bits)\n", irLength);
    return -1;
  }
  // The 64-bit value is shifted as its eight little-endian bytes.
  uint8_t instr[8];
  for (int i = 0; i < 8; ++i) instr[i] = static_cast<uint8_t>(instruction >> (8 * i));
  // The capture lands in the caller's 64-bit value, which must outlive the next flush;
  // its bytes are the little-endian bit string on every supported host.
  uint8_t* dst = reinterpret_cast<uint8_t*>(capture);
  if (capture != nullptr) *capture = 0;

  const int64_t tdoSide = static_cast<int64_t>(totalIrLength) - tdiSideBits - irLength;
  if (tdoSide > 0) {
    int rc = shiftPad(jtag, kOnesPad, kOnesPadBits, static_cast<uint64_t>(tdoSide), IRSHIFT, IRSHIFT);
    if (rc != 0) return rc;
  }
  if (tdiSideBits <= 0) {
    return tap_ftdi_reg_shift(jtag, instr, dst, static_cast<uint64_t>(irLength), IRSHIFT, endState, false);
  }
  int rc = tap_ftdi_reg_shift(jtag, instr, dst, static_cast<uint64_t>(irLength), IRSHIFT, IRSHIFT, false);
  if (rc != 0) return rc;
  return shiftPad(jtag, kOnesPad, kOnesPadBits, static_cast<uint64_t>(tdiSideBits), IRSHIFT, endState);
}

int tap_ftdi_dr_shift(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount, const uint8_t* tdi,
                      uint8_t* tdo, uint32_t endState, bool reverse) {
  // Reads first push the bypass bits of the devices on the TDO side out of the chain.
  if (tdo != nullptr && deviceCount > device + 1) {
    int rc = shiftPad(jtag, kZeroPad, kZeroPadBits, deviceCount - device - 1, DRSHIFT, DRSHIFT);
    if (rc != 0) return rc;
  }
  if (tdi != nullptr && device > 0) {
    int rc = tap_ftdi_reg_shift(jtag, tdi, tdo, bits, DRSHIFT, DRSHIFT, reverse);
    if (rc != 0) return rc;
    // Writes carry the data on past the bypass bits of the devices on the TDI side.
    return shiftPad(jtag, kZeroPad, kZeroPadBits, device, DRSHIFT, endState);
  }
  return tap_ftdi_reg_shift(jtag, tdi, tdo, bits, DRSHIFT, endState, reverse);
}

int tap_ftdi_wait(VARNJtag* jtag, uint32_t clocks) {
  return ftdi_mpsse_clock_cycles(jtag->ftHandle, jtag->mpsse, clocks);
}
