// The stand-alone USB diagnostic: lists every FTDI device and, for each supported JTAG
// chip, scans its chain and prints what it finds. It registers nothing.
#include <cstdio>

#include "app/log/varn_log.h"
#include "jtag/chain_scan.h"
#include "jtag/device_services.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

namespace {

bool probedPid(uint16_t pid) { return pid == 0x6014 || pid == 0x6010 || pid == 0x6011; }

const char* rowName(int32_t row) { return row >= 0 && row < JTAG_DEVICE_ROWS ? JTAG_DECODE_STR[row] : "Unknown Device"; }

void logSysmonPair(VARNJtag* j, uint32_t device, int slr) {
  const uint32_t t = varn_jtag_sysmon_transfer(j, device, VARN_SYSMON_READ_TEMP);
  VARNLog("SLR%i Temperature: %0.2f C\n", slr, varn_jtag_sysmon_celsius(t));
  const uint32_t v = varn_jtag_sysmon_transfer(j, device, VARN_SYSMON_READ_VCCINT);
  VARNLog("SLR%i VCCINT: %0.2f C\n", slr, varn_jtag_sysmon_volts(v));
}

int probeChain(VARNJtag* j) {
  VARNLog("Scanning JTAG Chain...\n");
  for (int i = 0; i < 5; ++i) varn_jtag_comm_reset_tap(j);

  // IDCODEs come out nearest-TDO first; devices are numbered from the TDI side, so the
  // list is printed once the chain's length is known.
  uint32_t read[VARN_JTAG_MAX_DEVICES] = {};
  uint32_t n = 0;
  bool ended = false;
  for (; n < static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES); ++n) {
    const uint32_t word = varn_jtag_read_idcode_word(j);
    if (word == 0x00000000u || word == 0xFFFFFFFFu) {
      for (uint32_t k = 0; k < n; ++k) VARNLog("Found JTAG Device %i with ID CODE %08x\n", n - 1 - k, read[k]);
      std::fprintf(stderr, "JTAG Scan Error: %08x\n", word);
      return -1;
    }
    if (word == VARN_JTAG_END_PATTERN) {
      ended = true;
      break;
    }
    read[n] = word;
  }
  j->deviceCount = n;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t id = read[n - 1 - i];
    j->idcodes[i] = id;
    j->deviceType[i] = jtag_classify_idcode(id);
    VARNLog("Found JTAG Device %i with ID CODE %08x\n", static_cast<int>(i), id);
    VARNLog("Device is %s\n", rowName(j->deviceType[i]));
  }
  if (ended) VARNLog("Found end of JTAG Chain (%i devices)\n", static_cast<int>(n));

  const int32_t total = varn_jtag_measure_ir_length(j);
  j->totalIrLength = total;
  VARNLog("JTAG Chain IR Length was %i bits\n", total);
  if (n == 0) return 0;
  const int32_t each = total / static_cast<int32_t>(n);
  VARNLog("Assuming all %i device(s) have %i bit IR\n", static_cast<int>(n), each);
  for (uint32_t i = 0; i < n; ++i) j->irLength[i] = each;

  VARNLog("Querying devices for DNA/ChipID and SYSMON/Telemetry data\n");
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t row = j->deviceType[i];
    const bool known = row >= 0 && row < JTAG_DEVICE_ROWS;
    const uint32_t dnaInstr = known ? JTAG_I_MAP[row][JTAG_I_DNA] : 0;
    VARNLog("Scanning Device %i DNA...\n", static_cast<int>(i));
    VARNLog("DNA_INST: %08lx\n", static_cast<unsigned long>(dnaInstr));
    varn_jtag_comm_reset_tap(j);
    varn_jtag_comm_load_instruction(j, i, dnaInstr);
    uint8_t dna[12] = {};
    varn_jtag_comm_read_dr(j, i, 96, dna);
    varn_jtag_comm_flush(j);
    char text[2 * 12 + 1];
    for (int k = 0; k < 12; ++k) std::snprintf(text + 2 * k, 3, "%02x", dna[11 - k]);
    VARNLog("DNA: %s\n", text);

    varn_jtag_comm_load_instruction(j, i, known ? JTAG_I_MAP[row][JTAG_I_SYSMON] : 0);
    logSysmonPair(j, i, 0);
    varn_jtag_comm_load_instruction(j, i, 0x937);
    logSysmonPair(j, i, 1);

    const uint32_t b = known ? JTAG_BOUNDARY_SIZE[row] : 0;
    if (b != 0 && b <= VARN_CARRIER_BSCAN_BITS) {
      VARNLog("Reading boundary scan of %i bits\n", static_cast<int>(b));
      uint8_t scan[VARN_CARRIER_BSCAN_BYTES] = {};
      varn_jtag_comm_load_instruction(j, i, JTAG_SAMPLE_2SLR);
      varn_jtag_comm_read_dr(j, i, b, scan);
      varn_jtag_comm_flush(j);
      uint8_t carrier = 0, slot = 0;
      uint32_t leds = 0;
      varn_jtag_decode_carrier(scan, &carrier, &slot, &leds);
      VARNLog("GPIO Bits: Module Idx: %c\n", 'A' + slot);
      VARNLog("GPIO Bits: Carrier ID: %02x\n", carrier);
      VARNLog("RGB [%c%c%c] LED ABCD:[%c|%c|%c|%c]\n", (leds & VARN_LED_RED) ? 'R' : '-',
              (leds & VARN_LED_GREEN) ? 'G' : '-', (leds & VARN_LED_BLUE) ? 'B' : '-', (leds & VARN_LED_A) ? '*' : '-',
              (leds & VARN_LED_B) ? '*' : '-', (leds & VARN_LED_C) ? '*' : '-', (leds & VARN_LED_D) ? '*' : '-');
    }
  }
  return 0;
}

}  // namespace

int probeUSB(FT_HANDLE ftHandle, uint16_t usbPid) {
  VARNJtag j{};
  j.ftHandle = ftHandle;
  varn_jtag_use_ftdi(&j);
  j.usbPid = usbPid;
  j.tapState = RESET;
  for (int i = 0; i < VARN_JTAG_MAX_DEVICES; ++i) j.deviceType[i] = JTAG_DEV_UNKNOWN;
  j.mpsse = mpsse_buffer_alloc();
  if (j.mpsse == nullptr) {
    std::fprintf(stderr, "Out of memory for the probe's MPSSE buffer\n");
    return -1;
  }
  initD2XX(ftHandle, 4);
  ftdi_mpsse_setup_clock(ftHandle, j.mpsse, 0);
  ftdi_mpsse_setup_loopback_off(ftHandle, j.mpsse);
  ftdi_mpsse_setup_pins(ftHandle, j.mpsse, usbPid);
  const int rc = probeChain(&j);
  mpsse_buffer_free(j.mpsse);
  if (rc != 0) return rc;
  FT_Close(ftHandle);
  return 0;
}

int enumD2XX() {
  VARNLog("Scanning for FTDI D2XX Devices...\n");
  FT_Reload(0x0403, 0x6010);
  DWORD count = 0;
  if (FT_CreateDeviceInfoList(&count) != FT_OK) return 0;
  VARNLog("Found %i devices\n", static_cast<int>(count));
  for (DWORD i = 0; i < count; ++i) {
    DWORD flags = 0, type = 0, id = 0, loc = 0;
    // Larger than the driver's 16/64 bytes, and terminated whatever it writes.
    char serial[FT_SERIAL_SIZE + 16] = {};
    char description[FT_DESCRIPTION_SIZE + 16] = {};
    FT_HANDLE listed = nullptr;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc, serial, description, &listed) != FT_OK) {
      VARNLog("Failed getting details for device %i\n", static_cast<int>(i));
      continue;
    }
    serial[sizeof serial - 1] = '\0';
    description[sizeof description - 1] = '\0';
    VARNLog("Found %s (Serial: %s) ID %08x\n", description, serial, static_cast<unsigned>(id));
    const uint16_t pid = static_cast<uint16_t>(id & 0xFFFF);
    if (!probedPid(pid)) {
      VARNLog("Skipping probe of unknown PID\n");
      continue;
    }
    FT_HANDLE h = nullptr;
    FT_STATUS st = FT_Open(static_cast<int>(i), &h);
    if (st != FT_OK || h == nullptr) {
      VARNLog("Failed to open device %i for probing (status %u)\n", static_cast<int>(i), static_cast<unsigned>(st));
      continue;
    }
    probeUSB(h, pid);
  }
  return 0;
}

int enumUSB() {
  VARNLog("Scanning for VARN USB Devices...\n");
  enumD2XX();
  return 0;
}

int enumPCIe() { return 0; }
int enumVARN() { return 0; }
int enumLibFTDI1() { return 0; }
int initLibFTDI1() { return 0; }
