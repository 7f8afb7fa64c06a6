#include "jtag/chain_scan.h"

#include <utility>

#include "app/log/varn_log.h"
#include "coe/coe_link.h"
#include "jtag/coe_request.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"

namespace {

constexpr uint32_t kIrProbeBits = 320;

void clearDevices(VARNJtag* j) {
  j->deviceCount = 0;
  for (int i = 0; i < VARN_JTAG_MAX_DEVICES; ++i) {
    j->idcodes[i] = 0;
    j->deviceType[i] = JTAG_DEV_UNKNOWN;
    j->irLength[i] = 0;
  }
}

int32_t classify(uint32_t idcode) {
  int32_t row = jtag_classify_idcode(idcode);
  if (row < 0) VARNLog("ERROR: Unknown device in chain with IDCODE 0x%08x, broken chain\n", idcode);
  return row;
}

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

int varn_jtag_scan_ftdi(VARNJtag* jtag) {
  for (int i = 0; i < 5; ++i) varn_jtag_comm_reset_tap(jtag);
  clearDevices(jtag);
  bool ended = false;
  for (int k = 0; k < VARN_JTAG_MAX_DEVICES; ++k) {
    const uint32_t word = varn_jtag_read_idcode_word(jtag);
    if (word == 0x00000000u || word == 0xFFFFFFFFu) {
      VARNLog("JTAG chain scan read IDCODE %08x at position %i: TDO stuck %s or chain broken\n", word, k,
              word ? "high" : "low");
      toTdiOrder(jtag);
      return 5;
    }
    if (word == VARN_JTAG_END_PATTERN) {
      ended = true;
      break;
    }
    jtag->idcodes[jtag->deviceCount] = word;
    jtag->deviceType[jtag->deviceCount] = classify(word);
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

int varn_jtag_scan_coe(VARNJtag* jtag) {
  clearDevices(jtag);
  jtag->totalIrLength = 0;
  _VNCoELink* link = jtag->coeLink;
  const uint8_t ask[2] = {0x00, 0x00};
  uint8_t answer[256];
  uint32_t answerLen = 0;
  if (varn_jtag_coe_request(link, VN_COE_CMD_IDCODES, VN_COE_TAG_REQUEST, ask, sizeof ask, answer, &answerLen, sizeof answer) ==
      0) {
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
      jtag->deviceType[i] = classify(id);
      jtag->irLength[i] = jtag->deviceType[i] >= 0 ? static_cast<int32_t>(JTAG_IRLENS[jtag->deviceType[i]]) : 0;
    }
    jtag->deviceCount = n;
  }

  uint8_t irLens[1 + VARN_JTAG_MAX_DEVICES] = {0x00};
  for (uint32_t i = 0; i < jtag->deviceCount; ++i) irLens[1 + i] = static_cast<uint8_t>(jtag->irLength[i]);
  if (varn_jtag_coe_request(link, VN_COE_CMD_IR_LENGTHS, VN_COE_TAG_REQUEST, irLens, 1 + jtag->deviceCount, nullptr, nullptr, 0) !=
      0)
    VARNLog("Failed settings CoE IR Lengths\n");

  if (jtag->deviceCount == 1) {
    // A single module may sit in slot B: if nothing answers at 0x4D on bus 0, use bus 1.
    const uint8_t ping[6] = {0x4D, 0x00, 0x00, 0x00, 0x00, 0x00};
    if (varn_jtag_coe_request(link, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, ping, sizeof ping, nullptr, nullptr, 0) != 0) {
      VARNLog("One CoE Board Device, but I2C did not respond to ping on BusIdx 0 - Switching to Slot B\n");
      jtag->coeSlot[0] = 1;
    }
  }

  for (uint32_t i = 0; i < jtag->deviceCount; ++i) {
    const uint8_t bus = static_cast<uint8_t>(jtag->coeSlot[i] * 16);
    const uint8_t i2c[6] = {0x4D, bus, 0x00, 0x00, 0x00, 0x00};
    if (varn_jtag_coe_request(link, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, i2c, sizeof i2c, nullptr, nullptr, 0) != 0)
      VARNLog("Failed settings CoE dev %i I2C\n", static_cast<int>(i));
    const uint8_t uartMode[2] = {bus, 0x01};
    if (varn_jtag_coe_request(link, VN_COE_CMD_UART_MODE, VN_COE_TAG_REQUEST, uartMode, sizeof uartMode, nullptr, nullptr, 0) != 0)
      VARNLog("Failed settings CoE dev %i UART Mode\n", static_cast<int>(i));
    const uint32_t baud = 1000000;
    const uint8_t uartRate[8] = {bus,
                                 0x00,
                                 0x00,
                                 0x00,
                                 static_cast<uint8_t>(baud),
                                 static_cast<uint8_t>(baud >> 8),
                                 static_cast<uint8_t>(baud >> 16),
                                 static_cast<uint8_t>(baud >> 24)};
    if (varn_jtag_coe_request(link, VN_COE_CMD_UART_RATE, VN_COE_TAG_REQUEST, uartRate, sizeof uartRate, nullptr, nullptr, 0) != 0)
      VARNLog("Failed settings CoE dev %i UART Baudrate\n", static_cast<int>(i));
  }
  return 0;
}
