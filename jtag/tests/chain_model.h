// A small behavioural model of a JTAG chain behind an MPSSE engine, driven through
// the recording D2XX double: it decodes the written MPSSE commands, clocks a TAP per
// device and queues the reply bytes the chip would return. Enough silicon for the
// engine's own unit tests (IDCODE, BYPASS, DNA, fuses, user code, SYSMON, boundary
// scan, JTAG-UART registers, the SDM mailbox); the full simulator lives in sim/.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace chainmodel {

struct Device {
  int row = 0;                 // device-table row (decides IR length and instruction codes)
  uint32_t idcode = 0;
  uint8_t dna[12] = {};        // as shifted out, byte 0 first
  uint32_t userFuse = 0;
  uint8_t fuse128[16] = {};
  uint32_t userCode = 0xFFFFFFFF;
  uint16_t sysmon[4][64] = {};  // [slr][DRP address]
  std::vector<uint8_t> boundary;  // bits of the boundary-scan register, LSB-first bytes
  // JTAG-UART: bytes toward the host; bytes written by the host.
  std::deque<uint8_t> toHost;
  std::vector<uint8_t> fromHost;
  bool echo = false;
  int emptyCaptures = 0;  // this many USER1 captures read empty whatever is waiting
  // SDM: command words in, response words out (raw 34-bit values).
  std::function<std::vector<uint64_t>(const std::vector<uint64_t>&)> sdm;

  // --- model state ---
  uint64_t instruction = 0;
  std::deque<bool> ir, dr;
  std::vector<uint64_t> sdmWords;
  std::deque<uint64_t> sdmOut;
  uint32_t sysmonResult = 0;
  int sysmonSlr = -1;
  std::vector<uint32_t> sysmonCommands;
};

struct Chain {
  std::vector<Device> devices;  // devices[0] nearest TDI
  int stuckTdo = -1;            // 0 or 1: TDO held at that level, the chain is broken
  uint32_t tapState = 15;
  bool tdoLine = true;
  bool tdiLevel = false;
  uint64_t clocks = 0;
  uint64_t exchanges = 0;       // FT_Write calls carrying commands
  std::vector<uint8_t> pending; // a command split across writes
};

Chain& chain();
// Resets the D2XX double and plugs the model in behind it.
void install(std::vector<Device> devices);

Device vu35p(uint32_t salt = 0);
Device vu9p(uint32_t salt = 0);
Device vu33p(uint32_t salt = 0);
Device vu13p(uint32_t salt = 0);
Device gx2800h(uint32_t salt = 0);

}  // namespace chainmodel
