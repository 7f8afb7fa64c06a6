// The constant data of the JTAG engine: TAP states and their moves, the TMS paths
// between any two states, the supported FPGA rows and their instruction codes.
#pragma once

#include <cstdint>

// IEEE 1149.1 state assignment; the code indexes every state table below.
enum JtagState : uint32_t {
  DREXIT2 = 0,
  DREXIT1 = 1,
  DRSHIFT = 2,
  DRPAUSE = 3,
  IRSELECT = 4,
  DRUPDATE = 5,
  DRCAPTURE = 6,
  DRSELECT = 7,
  IREXIT2 = 8,
  IREXIT1 = 9,
  IRSHIFT = 10,
  IRPAUSE = 11,
  IDLE = 12,
  IRUPDATE = 13,
  IRCAPTURE = 14,
  RESET = 15,
};
constexpr uint32_t JTAG_STATE_COUNT = 16;

extern const char* const jtag_state_name[JTAG_STATE_COUNT];
// [state][tms] -> state after one TCK.
extern const uint32_t jtag_next_state[JTAG_STATE_COUNT][2];
// [from][to]: TMS levels as '0'/'1', first character clocked first.
extern const char* const JTAG_STATE_TRANS_TABLE[JTAG_STATE_COUNT][JTAG_STATE_COUNT];

// Bit k of *bits is 1 when path character k is not '0'; *length is the path length.
// from/to must be state codes (callers check). Returns 0.
int jtag_trans_get_tms(uint32_t from, uint32_t to, uint8_t* bits, uint32_t* length);

// Device rows, an index into the parallel arrays below.
enum JtagDevice : int32_t {
  JTAG_DEV_UNKNOWN = -1,
  JTAG_DEV_VU33P = 0,
  JTAG_DEV_VU35P = 1,
  JTAG_DEV_VU9P = 2,
  JTAG_DEV_VU13P = 3,
  JTAG_DEV_GX2800H = 4,
  JTAG_DEV_GX2800L = 5,
  JTAG_DEV_MX2100 = 6,
};
constexpr int JTAG_DEVICE_ROWS = 7;
constexpr uint64_t JTAG_VENDOR_XILINX = 0;
constexpr uint64_t JTAG_VENDOR_INTEL = 1;

extern const char* const JTAG_DECODE_STR[JTAG_DEVICE_ROWS];
extern const uint64_t JTAG_IDCODES[JTAG_DEVICE_ROWS];
extern const uint64_t JTAG_VENDORS[JTAG_DEVICE_ROWS];
extern const uint32_t JTAG_IRLENS[JTAG_DEVICE_ROWS];
extern const uint32_t JTAG_BOUNDARY_SIZE[JTAG_DEVICE_ROWS];

// Columns of JTAG_I_MAP.
enum JtagInstr : int {
  JTAG_I_SYSMON = 0,  // SLR 0; SLR k > 0 is column JTAG_I_SYSMON_SLR1 + k - 1
  JTAG_I_DNA = 1,
  JTAG_I_USER1 = 2,   // JTAG-UART data read / v2 read
  JTAG_I_USER2 = 3,   // JTAG-UART v1 write
  JTAG_I_USER3 = 4,   // JTAG-UART v1 status
  JTAG_I_USER4 = 5,
  JTAG_I_CFG_IN = 6,
  JTAG_I_JPROGRAM = 7,
  JTAG_I_JSTART = 8,
  JTAG_I_JSHUTDOWN = 9,
  JTAG_I_ISC_NOOP = 10,
  JTAG_I_INIT_BIT = 11,  // a bit position, not an instruction
  JTAG_I_USERCODE = 12,
  JTAG_I_FUSE_USER = 13,
  JTAG_I_FUSE_USER128 = 14,
  JTAG_I_SYSMON_SLR1 = 15,
  JTAG_I_SYSMON_SLR2 = 16,
  JTAG_I_SYSMON_SLR3 = 17,
  JTAG_I_SLR_COUNT = 18,  // a number, not an instruction
  JTAG_I_SDM_COMMAND = 19,
  JTAG_I_SDM_RESPONSE = 20,
  JTAG_I_CFG_STATUS = 21,
};
constexpr int JTAG_I_COLUMNS = 22;
extern const uint32_t JTAG_I_MAP[JTAG_DEVICE_ROWS][JTAG_I_COLUMNS];

// Sample/preload in both SLRs of a VU35P (the carrier GPIO boundary scan).
constexpr uint64_t JTAG_SAMPLE_2SLR = 0x041;

// The SYSMON instruction column of SLR k (0..3).
inline int jtag_sysmon_column(uint32_t slr) { return slr == 0 ? JTAG_I_SYSMON : JTAG_I_SYSMON_SLR1 + (int)slr - 1; }

// The device row of an IDCODE (version field ignored). On Linux every IDCODE gets a
// row (no match is the last row); the Windows build returns JTAG_DEV_UNKNOWN instead.
int32_t jtag_classify_idcode(uint32_t idcode);
