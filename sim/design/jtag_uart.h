// The JTAG-UART as the design's BSCANE2 user registers present it.
//
//   USER1  read data. v1: 8-bit register, the next byte (0 when empty).
//          v2: 9-bit register, bits 0..7 the byte, bit 8 set = no byte.
//   USER2  write data: 8-bit register; the byte shifted in is queued at Update-DR.
//   USER3  32-bit status word: bit 2 = FIFO toward the host empty, bit 3 = FIFO toward
//          the FPGA full, byte 2 = bytes waiting toward the host (saturates at 255).
//   USER4  not used (a 1-bit register that captures 0).
//
// Capture-DR latches the value; a byte leaves or enters its FIFO only at Update-DR of
// a scan that shifted at least 8 bits, so every complete scan moves exactly one byte
// (or reports one empty slot) and an aborted or short scan moves nothing.
#pragma once

#include <cstdint>

#include "sim/design/byte_channel.h"
#include "sim/design/design_config.h"

namespace varnsim {

struct JtagUartCounters {
  uint64_t bytesIn = 0;      // bytes queued through USER2
  uint64_t bytesOut = 0;     // bytes delivered through USER1
  uint64_t emptyReads = 0;   // complete USER1 scans that found nothing
  uint64_t statusReads = 0;  // complete USER3 scans
  uint64_t shortScans = 0;   // Update-DR after fewer than 8 shifted bits: nothing moved
};

class JtagUart {
 public:
  JtagUart(UartVersion version, ByteChannel& channel) : version_(version), ch_(channel) {}

  void capture(int user);
  bool tdo(int user) const;
  void shift(int user, bool tdi);
  // True when the update queued a byte toward the FPGA (the application should run).
  bool update(int user);

  const JtagUartCounters& counters() const { return counters_; }
  UartVersion version() const { return version_; }

 private:
  struct Reg {
    uint64_t value = 0;
    int width = 1;
    int shifted = 0;
    bool holdsByte = false;  // USER1: the captured value is a real byte
  };
  static bool validUser(int user) { return user >= 1 && user <= 4; }

  UartVersion version_;
  ByteChannel& ch_;
  Reg regs_[5];
  JtagUartCounters counters_;
};

}  // namespace varnsim
