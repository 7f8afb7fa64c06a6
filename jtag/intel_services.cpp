#include "jtag/intel_services.h"

#include "jtag/varn_jtag.h"

namespace {
inline uint64_t entry(const uint32_t* answers, int i) {
  return static_cast<uint64_t>(answers[2 * i]) | (static_cast<uint64_t>(answers[2 * i + 1]) << 32);
}
}  // namespace

int varn_intel_get_dna(VARNJtag* jtag, uint32_t device, uint8_t dna[12]) {
  const uint32_t command[] = {0x00000000, 0, 0x00000012, 2};
  uint32_t answers[2 * 2] = {};
  int rc = IntelSDMCommand(jtag, device, command, answers, 2, 2, VARN_INTEL_DNA_POLLS);
  if (rc != 0) return rc;
  const uint32_t hi = static_cast<uint32_t>(entry(answers, 1) >> 2);
  const uint32_t lo = static_cast<uint32_t>(entry(answers, 0) >> 2);
  for (int k = 0; k < 4; ++k) {
    dna[k] = 0;
    dna[4 + k] = static_cast<uint8_t>(hi >> (8 * k));
    dna[8 + k] = static_cast<uint8_t>(lo >> (8 * k));
  }
  return 0;
}

int varn_intel_get_temp(VARNJtag* jtag, uint32_t device, double* celsius) {
  const uint32_t command[] = {0x00000000, 0, 0x00001019, 1, 0x00000001, 2};
  uint32_t answers[2] = {};
  int rc = IntelSDMCommand(jtag, device, command, answers, 3, 1, VARN_INTEL_TEMP_POLLS);
  if (rc != 0) return rc;
  const uint32_t d = answers[0];
  *celsius = ((d >> 10) & 0xFF) + ((d >> 2) & 0xFF) / 256.0;
  return 0;
}

int varn_intel_get_voltage(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts) {
  static const int kEntryOfRail[4] = {0, 1, 3, 2};
  if (rail > 3) return VARN_JTAG_BAD_ARGUMENT;
  const uint32_t command[] = {0x00000000, 0, 0x00001018, 1, 0x0000005C, 2};
  uint32_t answers[2 * 4] = {};
  int rc = IntelSDMCommand(jtag, device, command, answers, 3, 4, VARN_INTEL_VOLT_POLLS);
  if (rc != 0) return rc;
  const uint64_t e = entry(answers, kEntryOfRail[rail]);
  *volts = static_cast<double>((e >> 18) & 0xFFFF) + static_cast<double>((e >> 2) & 0xFFFF) / 65536.0;
  return 0;
}
