// The chain scan over a host-walked TAP: IDCODEs read out of the reset DR path until
// the shifted-in pattern comes back, then the total IR length measured and shared out.
#include <utility>

#include "app/log/varn_log.h"
#include "jtag/chain_scan.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"

namespace {

// The IDCODE scan reads the device nearest TDO first, while instruction loads and data
// shifts number devices from the TDI side (device i has i devices between itself and
// TDI). Turning the read order around makes index i the same chip for both.
void toTdiOrder(VARNJtag* j) {
  const uint32_t n = j->deviceCount;
  for (uint32_t a = 0, b = n ? n - 1 : 0; a < b; ++a, --b) {
    std::swap(j->idcodes[a], j->idcodes[b]);
    std::swap(j->deviceType[a], j->deviceType[b]);
  }
}

// Every device gets an equal share of the measured total, unless the device table's
// lengths of the identified rows add up to exactly the measured total: then a chain of
// different parts (a VU9P beside a VU35P) gets each part's own length.
void assignIrLengths(VARNJtag* j) {
  const uint32_t n = j->deviceCount;
  if (n == 0) return;
  int64_t tableSum = 0;
  bool allKnown = true;
  for (uint32_t i = 0; i < n; ++i) {
    if (j->deviceType[i] < 0) {
      allKnown = false;
      break;
    }
    tableSum += JTAG_IRLENS[j->deviceType[i]];
  }
  const bool useTable = allKnown && tableSum == j->totalIrLength;
  for (uint32_t i = 0; i < n; ++i) {
    j->irLength[i] = useTable ? static_cast<int32_t>(JTAG_IRLENS[j->deviceType[i]])
                              : j->totalIrLength / static_cast<int32_t>(n);
  }
}

}  // namespace

int varn_jtag_scan_ftdi(VARNJtag* jtag) {
  for (int i = 0; i < 5; ++i) varn_jtag_comm_reset_tap(jtag);
  varn_jtag_clear_devices(jtag);
  bool ended = false;
  for (int k = 0; k < VARN_JTAG_MAX_DEVICES; ++k) {
    const uint32_t word = varn_jtag_read_idcode_word(jtag);
    if (word == 0x00000000u || word == 0xFFFFFFFFu) {
      VARNLog("JTAG chain scan read IDCODE %08x at position %i: TDO stuck %s or chain broken\n", word, k,
              word ? "high" : "low");
      toTdiOrder(jtag);
      return VARN_JTAG_CHAIN_ERROR;
    }
    if (word == VARN_JTAG_END_PATTERN) {
      ended = true;
      break;
    }
    jtag->idcodes[jtag->deviceCount] = word;
    jtag->deviceType[jtag->deviceCount] = varn_jtag_classify_scanned(word);
    jtag->deviceCount++;
  }
  if (!ended) {
    // Four devices read and the shifted-in pattern not back yet: look one word further.
    const uint32_t word = varn_jtag_read_idcode_word(jtag);
    if (word != VARN_JTAG_END_PATTERN)
      VARNLog("WARNING: JTAG chain holds more than %i devices (next IDCODE %08x); device addressing on this board "
              "is unreliable\n",
              VARN_JTAG_MAX_DEVICES, word);
  }
  toTdiOrder(jtag);
  jtag->totalIrLength = varn_jtag_measure_ir_length(jtag);
  assignIrLengths(jtag);
  return 0;
}
