// The chain scan through a board controller: it reports the chain's IDCODEs itself;
// the host then sets the controller up for what it found (IR lengths, slots, UARTs).
#include "app/log/varn_log.h"
#include "coe/coe_request.h"
#include "coe/coe_setup.h"
#include "jtag/chain_scan.h"
#include "jtag/jtag_tables.h"

int varn_jtag_scan_coe(VARNJtag* jtag) {
  varn_jtag_clear_devices(jtag);
  jtag->totalIrLength = 0;
  uint8_t answer[256];
  uint32_t answerLen = 0;
  if (VNCoEReadIdcodes(jtag->coeLink, answer, &answerLen, sizeof answer) == 0) {
    uint32_t n = answerLen / 4;
    if (n > static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES)) {
      VARNLog("WARNING: CoE controller reports %u devices on the chain; only the first %i are used\n", n,
              VARN_JTAG_MAX_DEVICES);
      n = VARN_JTAG_MAX_DEVICES;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t id = static_cast<uint32_t>(answer[4 * i]) | (static_cast<uint32_t>(answer[4 * i + 1]) << 8) |
                          (static_cast<uint32_t>(answer[4 * i + 2]) << 16) |
                          (static_cast<uint32_t>(answer[4 * i + 3]) << 24);
      jtag->idcodes[i] = id;
      jtag->deviceType[i] = varn_jtag_classify_scanned(id);
      jtag->irLength[i] = jtag->deviceType[i] >= 0 ? static_cast<int32_t>(JTAG_IRLENS[jtag->deviceType[i]]) : 0;
    }
    jtag->deviceCount = n;
  }
  VNCoESetupDevices(jtag->coeLink, jtag->irLength, jtag->coeSlot, jtag->deviceCount, true);
  return VARN_JTAG_OK;
}
