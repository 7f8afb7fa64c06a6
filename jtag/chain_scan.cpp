// What both chain scans share: clearing the scanned table, naming each IDCODE, and the
// two raw reads of a host-walked TAP (the IDCODE words and the IR length probe).
#include "jtag/chain_scan.h"

#include "app/log/varn_log.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"

namespace {

constexpr uint32_t kIrProbeBits = 320;

}  // namespace

void varn_jtag_clear_devices(VARNJtag* j) {
  j->deviceCount = 0;
  for (int i = 0; i < VARN_JTAG_MAX_DEVICES; ++i) {
    j->idcodes[i] = 0;
    j->deviceType[i] = JTAG_DEV_UNKNOWN;
    j->irLength[i] = 0;
  }
}

int32_t varn_jtag_classify_scanned(uint32_t idcode) {
  int32_t row = jtag_classify_idcode(idcode);
  if (row < 0) VARNLog("ERROR: Unknown device in chain with IDCODE 0x%08x, broken chain\n", idcode);
  return row;
}

uint32_t varn_jtag_read_idcode_word(VARNJtag* jtag) {
  static const uint8_t pattern[4] = {0xFF, 0x00, 0x00, 0x00};
  uint32_t word = 0;
  uint8_t bytes[4] = {};
  varn_jtag_comm_reg_shift(jtag, pattern, bytes, 32, DRSHIFT, DRSHIFT, false);
  varn_jtag_comm_flush(jtag);
  for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return word;
}

int32_t varn_jtag_measure_ir_length(VARNJtag* jtag) {
  uint8_t tdi[kIrProbeBits / 8];
  uint8_t tdo[kIrProbeBits / 8] = {};
  tdi[0] = 0xFE;
  for (uint32_t i = 1; i < sizeof tdi; ++i) tdi[i] = 0xFF;
  varn_jtag_comm_reg_shift(jtag, tdi, tdo, kIrProbeBits, IRSHIFT, IRSHIFT, false);
  varn_jtag_comm_flush(jtag);
  int32_t last = -1;
  for (uint32_t k = 0; k < kIrProbeBits; ++k) {
    if (((tdo[k / 8] >> (k % 8)) & 1) == 0) last = static_cast<int32_t>(k);
  }
  return last;
}
