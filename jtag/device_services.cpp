// Identity and sensors of one Xilinx device, read with JTAG instructions; Intel
// devices are answered through the SDM (intel_services.cpp).
#include "jtag/device_services.h"

#include "app/log/varn_log.h"
#include "jtag/intel_services.h"
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/varn_jtag.h"

int varn_jtag_check_device(const VARNJtag* jtag, uint32_t device) {
  if (jtag == nullptr || device >= jtag->deviceCount || device >= static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES))
    return VARN_JTAG_BAD_ARGUMENT;
  const int32_t row = jtag->deviceType[device];
  if (row < 0 || row >= JTAG_DEVICE_ROWS) return VARN_JTAG_UNKNOWN_DEVICE;
  return 0;
}

bool varn_jtag_is_intel(const VARNJtag* jtag, uint32_t device) {
  return JTAG_VENDORS[jtag->deviceType[device]] == JTAG_VENDOR_INTEL;
}

namespace {

// The command, 12 idle clocks, the result into out: queued, valid after the flush.
int queueSysmonTransfer(VARNJtag* jtag, uint32_t device, uint32_t command, uint8_t out[4]) {
  const uint8_t cmd[4] = {static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8),
                          static_cast<uint8_t>(command >> 16), static_cast<uint8_t>(command >> 24)};
  int queued = varn_jtag_comm_write_dr(jtag, device, 32, cmd, false);
  // The read result appears in the data register of the next scan.
  queued |= varn_jtag_comm_tap_wait(jtag, 12);
  queued |= varn_jtag_comm_read_dr(jtag, device, 32, out);
  return queued;
}

uint32_t le32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

uint32_t varn_jtag_sysmon_transfer(VARNJtag* jtag, uint32_t device, uint32_t command, bool* ok) {
  uint8_t out[4] = {};
  const int queued = queueSysmonTransfer(jtag, device, command, out);
  // A shift the transport refused (a CoE board given to XVC) read nothing either.
  const bool flushed = varn_jtag_comm_flush(jtag) == 0;
  if (ok) *ok = flushed && queued == 0;
  return le32(out);
}

double varn_jtag_sysmon_celsius(uint32_t word) { return (word >> 6) * 509.314 / 1024 - 280.23; }

double varn_jtag_sysmon_volts(uint32_t word) { return (word >> 6) * 3.0 / 1024; }

void varn_jtag_decode_carrier(const uint8_t* scan, uint8_t* carrier, uint8_t* slot, uint32_t* ledBits) {
  auto bit = [scan](uint32_t k) -> uint32_t { return (scan[k / 8] >> (k % 8)) & 1u; };
  if (carrier) *carrier = static_cast<uint8_t>(bit(1691) + 2 * bit(1700));
  if (slot) *slot = static_cast<uint8_t>(bit(1649) + 2 * bit(1658));
  if (ledBits) {
    // The lines are active low.
    uint32_t leds = 0;
    if (!bit(1556)) leds |= VARN_LED_RED;
    if (!bit(1553)) leds |= VARN_LED_GREEN;
    if (!bit(1547)) leds |= VARN_LED_BLUE;
    if (!bit(1562)) leds |= VARN_LED_A;
    if (!bit(1565)) leds |= VARN_LED_B;
    if (!bit(1568)) leds |= VARN_LED_C;
    if (!bit(1559)) leds |= VARN_LED_D;
    *ledBits = leds;
  }
}

namespace {

constexpr int kTransferFailed = VARN_JTAG_TRANSFER_FAILED;

// Reset, instruction, register read of bits into out, flush; 0 or kTransferFailed.
int readRegister(VARNJtag* jtag, uint32_t device, int column, uint32_t bits, uint8_t* out) {
  VarnJtagQueueScope queue(jtag);
  varn_jtag_comm_reset_tap(jtag);
  int queued = varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[jtag->deviceType[device]][column]);
  queued |= varn_jtag_comm_read_dr(jtag, device, bits, out);
  return varn_jtag_comm_flush(jtag) == 0 && queued == 0 ? 0 : kTransferFailed;
}

// Queues one SYSMON read of the SLR (reset, instruction, command, idle clocks, result
// into out); nothing is valid before the flush. Non-zero when a step was refused.
int queueSysmon(VARNJtag* jtag, uint32_t device, uint32_t slr, uint32_t command, uint8_t out[4]) {
  const int32_t row = jtag->deviceType[device];
  varn_jtag_comm_reset_tap(jtag);
  int queued = varn_jtag_comm_load_instruction(jtag, device, JTAG_I_MAP[row][jtag_sysmon_column(slr)]);
  queued |= queueSysmonTransfer(jtag, device, command, out);
  return queued;
}

int xilinxSysmon(VARNJtag* jtag, uint32_t device, uint32_t slr, uint32_t command, uint32_t* word) {
  const int32_t row = jtag->deviceType[device];
  if (slr >= JTAG_I_MAP[row][JTAG_I_SLR_COUNT]) {
    varn_jtag_comm_reset_tap(jtag);  // as a read would, before refusing an SLR the device lacks
    return VARN_JTAG_BAD_ARGUMENT;
  }
  VarnJtagQueueScope queue(jtag);
  uint8_t out[4] = {};
  const int queued = queueSysmon(jtag, device, slr, command, out);
  // A shift the transport refused (a CoE board given to XVC) read nothing either.
  const bool flushed = varn_jtag_comm_flush(jtag) == 0;
  *word = le32(out);
  return flushed && queued == 0 ? 0 : kTransferFailed;
}

}  // namespace

int VARNJtagGetDNA(VARNJtag* jtag, uint32_t device, uint8_t dna[12]) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return varn_intel_get_dna(jtag, device, dna);
  uint8_t raw[12] = {};
  if ((rc = readRegister(jtag, device, JTAG_I_DNA, 96, raw)) != 0) return rc;
  for (int k = 0; k < 12; ++k) dna[k] = raw[11 - k];
  return 0;
}

int VARNJtagGetUserFuse(VARNJtag* jtag, uint32_t device, uint32_t* fuse) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return VARN_JTAG_NOT_SUPPORTED;
  uint8_t raw[4] = {};
  if ((rc = readRegister(jtag, device, JTAG_I_FUSE_USER, 32, raw)) != 0) return rc;
  *fuse = le32(raw);
  return 0;
}

int VARNJtagGetUser128Fuse(VARNJtag* jtag, uint32_t device, uint8_t fuse[16]) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return VARN_JTAG_NOT_SUPPORTED;
  uint8_t raw[16] = {};
  if ((rc = readRegister(jtag, device, JTAG_I_FUSE_USER128, 128, raw)) != 0) return rc;
  for (int k = 0; k < 16; ++k) fuse[k] = raw[15 - k];
  return 0;
}

int VARNJtagGetUserCode(VARNJtag* jtag, uint32_t device, uint32_t* code) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return VARN_JTAG_NOT_SUPPORTED;
  uint8_t raw[4] = {};
  if ((rc = readRegister(jtag, device, JTAG_I_USERCODE, 32, raw)) != 0) return rc;
  *code = le32(raw);
  return 0;
}

int VARNJtagGetSLRTemp(VARNJtag* jtag, uint32_t device, uint32_t slr, double* celsius) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return varn_intel_get_temp(jtag, device, celsius);
  uint32_t w = 0;
  rc = xilinxSysmon(jtag, device, slr, VARN_SYSMON_READ_TEMP, &w);
  if (rc != 0) return rc;
  *celsius = varn_jtag_sysmon_celsius(w);
  return 0;
}

int VARNJtagGetSLRVoltage(VARNJtag* jtag, uint32_t device, uint32_t slr, uint32_t rail, double* volts) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (varn_jtag_is_intel(jtag, device)) return varn_intel_get_voltage(jtag, device, rail, volts);
  uint32_t reg;
  switch (rail) {
    case 0: reg = 1; break;  // VCCINT
    case 1: reg = 2; break;  // VCCAUX
    case 2: reg = 6; break;  // VCCBRAM
    case 3: return VARN_JTAG_BAD_ARGUMENT;  // an Intel-only rail
    default: reg = 1; break;
  }
  uint32_t w = 0;
  rc = xilinxSysmon(jtag, device, slr, 0x04000000u | (reg << 16), &w);
  if (rc != 0) return rc;
  *volts = varn_jtag_sysmon_volts(w);
  return 0;
}

int VARNJtagGetSLRSensors(VARNJtag* jtag, uint32_t device, uint32_t slrCount, double* celsius, double* volts) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (slrCount == 0) return 0;
  if (slrCount > VARN_JTAG_MAX_SLRS || slrCount > JTAG_I_MAP[jtag->deviceType[device]][JTAG_I_SLR_COUNT])
    return VARN_JTAG_BAD_ARGUMENT;
  if (varn_jtag_is_intel(jtag, device)) {
    // One SDM answer per value: nothing to gather.
    for (uint32_t k = 0; k < slrCount; ++k) {
      const int t = VARNJtagGetSLRTemp(jtag, device, k, &celsius[k]);
      const int v = VARNJtagGetSLRVoltage(jtag, device, k, 0, &volts[k]);
      if (rc == 0) rc = t != 0 ? t : v;
    }
    return rc;
  }
  VarnJtagQueueScope queue(jtag);
  uint8_t words[VARN_JTAG_MAX_SLRS][2][4] = {};
  int queued = 0;
  for (uint32_t k = 0; k < slrCount; ++k) {
    queued |= queueSysmon(jtag, device, k, VARN_SYSMON_READ_TEMP, words[k][0]);
    queued |= queueSysmon(jtag, device, k, VARN_SYSMON_READ_VCCINT, words[k][1]);
  }
  if (varn_jtag_comm_flush(jtag) != 0 || queued != 0) return kTransferFailed;
  for (uint32_t k = 0; k < slrCount; ++k) {
    celsius[k] = varn_jtag_sysmon_celsius(le32(words[k][0]));
    volts[k] = varn_jtag_sysmon_volts(le32(words[k][1]));
  }
  return 0;
}

int VARNJtagGetZarvikInfo(VARNJtag* jtag, uint32_t device, uint8_t* carrier, uint8_t* slot, uint32_t* ledBits) {
  int rc = varn_jtag_check_device(jtag, device);
  if (rc != 0) return rc;
  if (jtag->deviceType[device] != JTAG_DEV_VU35P) return VARN_JTAG_NOT_SUPPORTED;
  VARNLog("Reading boundary scan of %i bits\n", static_cast<int>(VARN_CARRIER_BSCAN_BITS));
  uint8_t scan[VARN_CARRIER_BSCAN_BYTES] = {};
  varn_jtag_comm_load_instruction(jtag, device, JTAG_SAMPLE_2SLR);
  varn_jtag_comm_read_dr(jtag, device, VARN_CARRIER_BSCAN_BITS, scan);
  if (varn_jtag_comm_flush(jtag) != 0) return kTransferFailed;
  varn_jtag_decode_carrier(scan, carrier, slot, ledBits);
  return 0;
}
