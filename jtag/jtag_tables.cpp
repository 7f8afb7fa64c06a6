#include "jtag/jtag_tables.h"

const char* const jtag_state_name[JTAG_STATE_COUNT] = {
    "DREXIT2", "DREXIT1", "DRSHIFT", "DRPAUSE",  "IRSELECT", "DRUPDATE", "DRCAPTURE", "DRSELECT",
    "IREXIT2", "IREXIT1", "IRSHIFT", "IRPAUSE", "IDLE",     "IRUPDATE", "IRCAPTURE", "RESET",
};

const uint32_t jtag_next_state[JTAG_STATE_COUNT][2] = {
    /* DREXIT2   */ {DRSHIFT, DRUPDATE},
    /* DREXIT1   */ {DRPAUSE, DRUPDATE},
    /* DRSHIFT   */ {DRSHIFT, DREXIT1},
    /* DRPAUSE   */ {DRPAUSE, DREXIT2},
    /* IRSELECT  */ {IRCAPTURE, RESET},
    /* DRUPDATE  */ {IDLE, DRSELECT},
    /* DRCAPTURE */ {DRSHIFT, DREXIT1},
    /* DRSELECT  */ {DRCAPTURE, IRSELECT},
    /* IREXIT2   */ {IRSHIFT, IRUPDATE},
    /* IREXIT1   */ {IRPAUSE, IRUPDATE},
    /* IRSHIFT   */ {IRSHIFT, IREXIT1},
    /* IRPAUSE   */ {IRPAUSE, IREXIT2},
    /* IDLE      */ {IDLE, DRSELECT},
    /* IRUPDATE  */ {IDLE, DRSELECT},
    /* IRCAPTURE */ {IRSHIFT, IREXIT1},
    /* RESET     */ {IDLE, RESET},
};

// Shortest paths that never pass through RESET on the way (RESET as the target or the
// start is fine); RESET -> RESET is seven ones so a reset request always lands there.
const char* const JTAG_STATE_TRANS_TABLE[JTAG_STATE_COUNT][JTAG_STATE_COUNT] = {
    /* DREXIT2   */ {"", "01", "0", "010", "111", "1", "110", "11", "1110101", "11101", "11100", "111010", "10", "111011", "1110", "1111"},
    /* DREXIT1   */ {"01", "", "010", "0", "111", "1", "110", "11", "1110101", "11101", "11100", "111010", "10", "111011", "1110", "1111"},
    /* DRSHIFT   */ {"101", "1", "", "10", "1111", "11", "1110", "111", "11110101", "111101", "111100", "1111010", "110", "1111011", "11110", "11111"},
    /* DRPAUSE   */ {"1", "101", "10", "", "1111", "11", "1110", "111", "11110101", "111101", "111100", "1111010", "110", "1111011", "11110", "11111"},
    /* IRSELECT  */ {"01110101", "011101", "011100", "0111010", "", "0111011", "01110", "0111", "0101", "01", "00", "010", "0110", "011", "0", "1"},
    /* DRUPDATE  */ {"10101", "101", "100", "1010", "11", "", "10", "1", "110101", "1101", "1100", "11010", "0", "11011", "110", "111"},
    /* DRCAPTURE */ {"101", "1", "0", "10", "1111", "11", "", "111", "11110101", "111101", "111100", "1111010", "110", "1111011", "11110", "11111"},
    /* DRSELECT  */ {"0101", "01", "00", "010", "1", "011", "0", "", "10101", "101", "100", "1010", "0110", "1011", "10", "11"},
    /* IREXIT2   */ {"110101", "1101", "1100", "11010", "111", "11011", "110", "11", "", "01", "0", "010", "10", "1", "1110", "1111"},
    /* IREXIT1   */ {"110101", "1101", "1100", "11010", "111", "11011", "110", "11", "01", "", "010", "0", "10", "1", "1110", "1111"},
    /* IRSHIFT   */ {"1110101", "11101", "11100", "111010", "1111", "111011", "1110", "111", "101", "1", "", "10", "110", "11", "11110", "11111"},
    /* IRPAUSE   */ {"1110101", "11101", "11100", "111010", "1111", "111011", "1110", "111", "1", "101", "10", "", "110", "11", "11110", "11111"},
    /* IDLE      */ {"10101", "101", "100", "1010", "11", "1011", "10", "1", "110101", "1101", "1100", "11010", "", "11011", "110", "111"},
    /* IRUPDATE  */ {"10101", "101", "100", "1010", "11", "1011", "10", "1", "110101", "1101", "1100", "11010", "0", "", "110", "111"},
    /* IRCAPTURE */ {"1110101", "11101", "11100", "111010", "1111", "111011", "1110", "111", "101", "1", "0", "10", "110", "11", "", "11111"},
    /* RESET     */ {"010101", "0101", "0100", "01010", "011", "01011", "010", "01", "0110101", "01101", "01100", "011010", "0", "011011", "0110", "1111111"},
};

int jtag_trans_get_tms(uint32_t from, uint32_t to, uint8_t* bits, uint32_t* length) {
  const char* path = JTAG_STATE_TRANS_TABLE[from][to];
  uint8_t value = 0;
  uint32_t n = 0;
  for (; path[n] != '\0'; ++n) {
    if (path[n] != '0') value |= static_cast<uint8_t>(1u << n);
  }
  *bits = value;
  *length = n;
  return 0;
}

const char* const JTAG_DECODE_STR[JTAG_DEVICE_ROWS] = {"VU33P", "VU35P", "VU9P", "VU13P",
                                                      "GX2800-H", "GX2800-L", "MX2100"};
const uint64_t JTAG_IDCODES[JTAG_DEVICE_ROWS] = {0x04B69093, 0x04B71093, 0x04B31093, 0x04B51093,
                                                 0x032250DD, 0x032150DD, 0x032AC0DD};
const uint64_t JTAG_VENDORS[JTAG_DEVICE_ROWS] = {0, 0, 0, 0, 1, 1, 1};
const uint32_t JTAG_IRLENS[JTAG_DEVICE_ROWS] = {6, 12, 18, 24, 10, 10, 10};
const uint32_t JTAG_BOUNDARY_SIZE[JTAG_DEVICE_ROWS] = {0, 1858, 0, 0, 0, 0, 0};

// Multi-SLR values concatenate one 6-bit code per SLR, SLR 0 in the top group; SLRs
// that are not addressed get 0x24, all-SLR instructions repeat their code.
const uint32_t JTAG_I_MAP[JTAG_DEVICE_ROWS][JTAG_I_COLUMNS] = {
    // VU33P
    {0x37, 0x32, 0x2, 0x3, 0x22, 0x23, 0x5, 0xB, 0xC, 0xD, 0x14, 4, 0x8, 0x33, 0x19, 0x0, 0x0, 0x0, 1, 0x0, 0x0,
     0x0},
    // VU35P
    {0xDE4, 0xCA4, 0xA4, 0xE4, 0x8A4, 0x8E4, 0x164, 0x2CB, 0x30C, 0x34D, 0x514, 10, 0x224, 0xCE4, 0x664, 0x937, 0x0,
     0x0, 2, 0x0, 0x0, 0x0},
    // VU9P
    {0x37924, 0x32924, 0x2924, 0x3924, 0x22924, 0x23924, 0x5924, 0xB2CB, 0xC30C, 0xD34D, 0x14514, 16, 0x8924,
     0x33924, 0x19924, 0x24DE4, 0x24937, 0x0, 3, 0x0, 0x0, 0x0},
    // VU13P
    {0xDE4924, 0xCA4924, 0xA4924, 0xE4924, 0x8A4924, 0x8E4924, 0x164924, 0x2CB2CB, 0x30C30C, 0x34D34D, 0x514514,
     22, 0x224924, 0xCE4924, 0x664924, 0x937924, 0x924DE4, 0x924937, 4, 0x0, 0x0, 0x0},
    // GX2800-H
    {0, 0, 0, 0, 0, 0, 0x2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x201, 0x202, 0x208},
    // GX2800-L
    {0, 0, 0, 0, 0, 0, 0x2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x201, 0x202, 0x208},
    // MX2100
    {0, 0, 0, 0, 0, 0, 0x2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x201, 0x202, 0x208},
};

int32_t jtag_classify_idcode(uint32_t idcode) {
  const uint32_t masked = idcode & 0x0FFFFFFFu;
  for (int row = 0; row < JTAG_DEV_MX2100; ++row) {
    if (masked == JTAG_IDCODES[row]) return row;
  }
#ifdef _WIN32
  // The Windows build keeps an unmatched IDCODE unclassified; the scan reports it.
  if (masked == JTAG_IDCODES[JTAG_DEV_MX2100]) return JTAG_DEV_MX2100;
  return JTAG_DEV_UNKNOWN;
#else
  return JTAG_DEV_MX2100;
#endif
}
