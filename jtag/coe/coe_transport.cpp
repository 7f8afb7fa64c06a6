// The CoE transport: a board controller (over TCP, or USB for CoU) in device-abstraction
// mode walks the TAP itself. Instruction loads, data shifts and idle clocks travel as
// requests addressed by device index; the host cannot move the TAP or shift a raw
// register, so those entries only track the state and fail, as the callers expect.
// The controller also carries each slot's UART, I2C bus and configuration status.
#include <cstdio>

#include "coe/coe_link.h"
#include "coe/coe_request.h"
#include "coe/coe_setup.h"
#include "coe/coe_status.h"
#include "jtag/chain_scan.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap_internal.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

namespace {

int setupBus(VARNJtag* j) {
  // A controller that refuses the set-up still answers the scan; the log says which
  // request failed.
  VNCoESetupBus(j->coeLink, j->jtagClockHz);
  return VARN_JTAG_OK;
}

int moveToState(VARNJtag* jtag, uint32_t state, uint8_t, uint8_t*) {
  if (state >= JTAG_STATE_COUNT) return -1;
  jtag->tapState = state;  // the controller walks the TAP itself
  return -1;
}

// Requests not posted were answered when they returned; posted ones are waited for here.
int flush(VARNJtag* jtag) {
  if (jtag->coeLink == nullptr) return 0;
  uint32_t failed = 0;
  // A refused request has logged its NAK already.
  return VNCoELinkFlushPosted(jtag->coeLink, &failed) == VN_COE_OK && failed == 0 ? 0 : -1;
}

int regShift(VARNJtag* jtag, const uint8_t*, uint8_t*, uint64_t, uint32_t shiftState, uint32_t, bool) {
  if (shiftState < JTAG_STATE_COUNT)
    jtag->tapState = shiftState;
  else
    std::fprintf(stderr, "Invalid JTAG State!\n");
  std::fprintf(stderr, "Failed transitioning to JTAG state\n");
  return -1;
}

bool ownSerial(const VARNJtag*, uint32_t) { return true; }

int serialWrite(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length, uint32_t* written) {
  uint32_t done = 0;
  if (written) *written = 0;
  while (done < length) {
    const uint32_t n = length - done < VN_COE_UART_WRITE_MAX ? length - done : VN_COE_UART_WRITE_MAX;
    if (VNCoEUartWrite(jtag->coeLink, jtag->coeSlot[device], data + done, n) != 0) return VARN_JTAG_TRANSFER_FAILED;
    done += n;
    if (written) *written = done;
  }
  return VARN_JTAG_OK;
}

int serialRead(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  uint32_t got = 0;
  if (VNCoELinkReadUART(jtag->coeLink, jtag->coeSlot[device], buffer, capacity, &got) != 0)
    return VARN_JTAG_TRANSFER_FAILED;
  if (got == 0) return VARN_JTAG_NO_DATA;
  if (count) *count = got;
  return VARN_JTAG_OK;
}

int i2c(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t readCount, const uint8_t* write,
        uint32_t writeLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity) {
  return VNCoEI2C(jtag->coeLink, address7, jtag->coeSlot[device], readCount, write, writeLen, answer, answerLen,
                  capacity, jtag->coeQueue != 0);
}

CoeStatusResult configStatus(VARNJtag* jtag, uint32_t device, uint8_t* statusByte, uint32_t* answerLen) {
  return varn_coe_config_status(jtag->coeLink, jtag->coeSlot[device], statusByte, answerLen);
}

bool linkUp(const VARNJtag* jtag) { return jtag->coeLink != nullptr && VNCoELinkIsConnected(jtag->coeLink); }

int reapplySetup(VARNJtag* jtag, uint32_t* devicesSeen) {
  *devicesSeen = 0;
  if (jtag->xvcActive) {
    // The remote tool walks the TAP: give the controller back its raw mode and leave the
    // chain alone (an IDCODE scan would move the TAP under the tool); the UARTs still
    // need their set-up.
    VNCoESetJtagClock(jtag->coeLink, jtag->jtagClockHz);
    if (VNCoESetJtagMode(jtag->coeLink, VN_COE_JTAG_MODE_RAW) != 0) return VARN_JTAG_TRANSFER_FAILED;
    *devicesSeen = jtag->deviceCount;
  } else {
    VNCoESetupBus(jtag->coeLink, jtag->jtagClockHz);
    uint8_t answer[4 * 64];
    uint32_t answerLen = 0;
    if (VNCoEReadIdcodes(jtag->coeLink, answer, &answerLen, sizeof answer) != 0) return VARN_JTAG_TRANSFER_FAILED;
    *devicesSeen = answerLen / 4;
    // Another chain behind the same address keeps nothing of this one's set-up.
    if (*devicesSeen != jtag->deviceCount) return VARN_JTAG_OK;
  }
  VNCoESetupDevices(jtag->coeLink, jtag->irLength, jtag->coeSlot, jtag->deviceCount, false);
  return VARN_JTAG_OK;
}

void closeLink(VARNJtag* jtag) {
  if (jtag->coeLink != nullptr) VNCoELinkDestroy(jtag->coeLink);
  jtag->coeLink = nullptr;
}

}  // namespace

const VARNJtagTransport varn_jtag_coe_transport = {
    "CoE",
    false,
    setupBus,
    varn_jtag_scan_coe,
    moveToState,
    flush,
    regShift,
    tap_coe_ir_shift,
    tap_coe_dr_shift,
    tap_coe_wait,
    varn_jtag_no_lost_replies,
    ownSerial,
    serialWrite,
    serialRead,
    i2c,
    configStatus,
    linkUp,
    reapplySetup,
    closeLink,
};

void varn_jtag_use_coe(VARNJtag* jtag, _VNCoELink* link) {
  jtag->coeLink = link;
  jtag->transport = &varn_jtag_coe_transport;
}
