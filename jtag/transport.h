// What a board's JTAG connection can do, as one table per transport, chosen when the
// handle is created: the FTDI transport (the host walks the TAP through MPSSE) and the
// CoE transport (a board controller walks the TAP and addresses devices by index).
// An operation a transport does not have is an explicit entry that says so, never a
// missing pointer; the varn_jtag_comm_* calls and the serial, regulator and bitstream
// code reach the transport only through this table.
#pragma once

#include <cstdint>

#include "coe/coe_status.h"
#include "jtag/varn_jtag_handle.h"

struct VARNJtagTransport {
  const char* name;  // for log lines: "JTAG" over FTDI, "CoE" over a board controller
  // The host walks the TAP: raw register shifts and TAP moves work, data shifts pass
  // the other devices in bypass. False when the controller addresses devices by index.
  bool walksTap;

  // Once per handle (again after busInitialized is cleared), before the first scan.
  int (*setupBus)(VARNJtag* jtag);
  // Fills deviceCount, idcodes, deviceType, irLength, totalIrLength (and CoE slots).
  int (*scanChain)(VARNJtag* jtag);

  int (*moveToState)(VARNJtag* jtag, uint32_t state, uint8_t tdiBit, uint8_t* tdo);
  int (*flush)(VARNJtag* jtag);
  int (*regShift)(VARNJtag* jtag, const uint8_t* tdi, uint8_t* tdo, uint64_t bits, uint32_t shiftState,
                  uint32_t endState, bool reverse);
  int (*irShift)(VARNJtag* jtag, int32_t tdiSideBits, int32_t irLength, int32_t totalIrLength, uint64_t instruction,
                 uint64_t* capture, uint32_t endState);
  int (*drShift)(VARNJtag* jtag, uint32_t device, uint64_t bits, uint32_t deviceCount, const uint8_t* tdi,
                 uint8_t* tdo, uint32_t endState, bool reverse);
  int (*idleClocks)(VARNJtag* jtag, uint32_t clocks);
  // Replies the transport has lost so far: a flush that lost one returned no data.
  uint32_t (*lostReplies)(const VARNJtag* jtag);

  // The device's serial channel on the transport's own path (controller UART, companion
  // UART chip); false when it is the design's JTAG-UART, reached by TAP operations.
  bool (*ownSerial)(const VARNJtag* jtag, uint32_t device);
  int (*serialWrite)(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length, uint32_t* written);
  int (*serialRead)(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count);

  // An I2C transfer on the device's slot bus (the regulators); 0 or non-zero. Inside a
  // VarnJtagQueueScope it may only be queued: *answerLen and the answer are then valid
  // after the flush (a short or missing answer leaves *answerLen unlike what was asked).
  int (*i2c)(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t readCount, const uint8_t* write,
             uint32_t writeLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity);
  // The configuration status the controller keeps for the device's slot.
  CoeStatusResult (*configStatus)(VARNJtag* jtag, uint32_t device, uint8_t* statusByte, uint32_t* answerLen);

  // Whether the connection is up now (a controller link reconnects by itself).
  bool (*linkUp)(const VARNJtag* jtag);
  // After the link came back: the controller forgot its set-up; give it back what the
  // first scan found (the IR lengths and slots are not scanned again). *devicesSeen is
  // the chain's device count now; the devices are set up only when it is unchanged.
  int (*reapplySetup)(VARNJtag* jtag, uint32_t* devicesSeen);
  // Ends what the transport owns besides the handle (a controller link).
  void (*closeLink)(VARNJtag* jtag);
};

extern const VARNJtagTransport varn_jtag_ftdi_transport;
extern const VARNJtagTransport varn_jtag_coe_transport;

// Binds a handle to a transport (creation does this; tests build handles by hand).
void varn_jtag_use_ftdi(VARNJtag* jtag);
void varn_jtag_use_coe(VARNJtag* jtag, _VNCoELink* link);

// The entries a transport uses for what it cannot do.
int varn_jtag_unsupported_i2c(VARNJtag*, uint32_t, uint8_t, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t*,
                              uint32_t);
CoeStatusResult varn_jtag_unsupported_config_status(VARNJtag*, uint32_t, uint8_t*, uint32_t*);
int varn_jtag_unsupported_reapply(VARNJtag*, uint32_t* devicesSeen);
uint32_t varn_jtag_no_lost_replies(const VARNJtag*);
