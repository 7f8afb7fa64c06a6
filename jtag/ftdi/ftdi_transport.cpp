// The FTDI transport: the host walks the TAP through the chip's MPSSE engine; a board
// with a second FTDI channel wired to the FPGA's UART pins serves the serial channel on
// it (Xilinx devices only: Intel designs keep theirs on JTAG).
#include "app/log/varn_log.h"
#include "jtag/chain_scan.h"
#include "jtag/device_services.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tap.h"
#include "jtag/tap_internal.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

namespace {

int setupBus(VARNJtag* j) {
  initD2XX(j->ftHandle, j->jtagLatency);
  if (j->jtagClockHz == 0) {
    VARNLog("JTAG clock of 0 Hz refused\n");
    return VARN_JTAG_BAD_ARGUMENT;
  }
  // TCK = 30 MHz / (1 + divisor); asking for more than 30 MHz gets 30 MHz.
  int64_t divisor = 30000000ll / j->jtagClockHz - 1;
  if (divisor < 0) divisor = 0;
  if (divisor > 0xFFFF) {
    VARNLog("JTAG clock of %u Hz needs divisor %lld, above 65535\n", j->jtagClockHz, static_cast<long long>(divisor));
    return VARN_JTAG_BAD_ARGUMENT;
  }
  ftdi_mpsse_setup_clock(j->ftHandle, j->mpsse, static_cast<uint16_t>(divisor));
  ftdi_mpsse_setup_loopback_off(j->ftHandle, j->mpsse);
  ftdi_mpsse_setup_pins(j->ftHandle, j->mpsse, j->usbPid);
  return VARN_JTAG_OK;
}

int flush(VARNJtag* jtag) {
  if (ftdi_mpsse_flush(jtag->ftHandle, jtag->mpsse) == 0) return 0;
  // Part of the commands may have run: the next move starts from a reset.
  jtag->tapState = JTAG_STATE_COUNT;
  return -1;
}

uint32_t lostReplies(const VARNJtag* jtag) { return jtag->mpsse->lostRequests; }

bool ownSerial(const VARNJtag* jtag, uint32_t device) {
  return jtag->uartHandle != nullptr && !varn_jtag_is_intel(jtag, device);
}

int serialWrite(VARNJtag* jtag, uint32_t, const uint8_t* data, uint32_t length, uint32_t* written) {
  uint32_t done = 0;
  while (done < length) {
    DWORD n = 0;
    FT_STATUS st = FT_Write(jtag->uartHandle, const_cast<uint8_t*>(data + done), length - done, &n);
    if (st != FT_OK || n == 0) {
      if (written) *written = done;
      return VARN_JTAG_TRANSFER_FAILED;
    }
    done += n > length - done ? length - done : n;
  }
  if (written) *written = done;
  return VARN_JTAG_OK;
}

int serialRead(VARNJtag* jtag, uint32_t, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  DWORD rx = 0, tx = 0, ev = 0;
  if (FT_GetStatus(jtag->uartHandle, &rx, &tx, &ev) != FT_OK) return VARN_JTAG_TRANSFER_FAILED;
  if (rx == 0) return VARN_JTAG_NO_DATA;
  const DWORD want = rx < capacity ? rx : capacity;
  DWORD got = 0;
  if (FT_Read(jtag->uartHandle, buffer, want, &got) != FT_OK || got != want) return VARN_JTAG_TRANSFER_FAILED;
  if (count) *count = got;
  return VARN_JTAG_OK;
}

// An open channel is a live link until its chip leaves the bus: the driver then
// answers every status request with an error.
bool linkUp(const VARNJtag* jtag) {
  DWORD rx = 0, tx = 0, ev = 0;
  return FT_GetStatus(jtag->ftHandle, &rx, &tx, &ev) == FT_OK;
}
void closeLink(VARNJtag*) {}

}  // namespace

const VARNJtagTransport varn_jtag_ftdi_transport = {
    "JTAG",
    true,
    setupBus,
    varn_jtag_scan_ftdi,
    tap_ftdi_move_to_state,
    flush,
    tap_ftdi_reg_shift,
    tap_ftdi_ir_shift,
    tap_ftdi_dr_shift,
    tap_ftdi_wait,
    lostReplies,
    ownSerial,
    serialWrite,
    serialRead,
    varn_jtag_unsupported_i2c,
    varn_jtag_unsupported_config_status,
    linkUp,
    varn_jtag_unsupported_reapply,
    closeLink,
};

void varn_jtag_use_ftdi(VARNJtag* jtag) { jtag->transport = &varn_jtag_ftdi_transport; }
