// Everything a board description can say about one simulated FPGA: its part, the
// identity burnt into it, what its sensors read, how long its configuration steps
// take, how its SDM behaves (Intel), and the options of the design it runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/common/fpga_fabric.h"
#include "sim/core/parts.h"

namespace varnsim {

struct Dna96 {
  uint32_t w[3] = {0, 0, 0};  // w[0] holds bits 0..31 (bit 0 shifted out first)
};

enum class SdmFail { None, Program, Start };

struct DeviceConfig {
  const PartInfo* part = nullptr;
  uint32_t version = 0;  // IDCODE bits 31:28

  // Identity (Xilinx: per SLR DNA; Intel: 64-bit chip ID in dna.w[0..1]).
  Dna96 dna[4];
  bool dnaGiven[4] = {false, false, false, false};
  uint32_t fuseUser = 0;
  uint64_t fuse128[2] = {0, 0};  // [0] holds bits 0..63
  uint32_t usercode = 0xFFFFFFFF;

  // Sensors per SLR (Intel: SLR 0 only).
  double temp[4] = {45.0, 46.0, 47.0, 48.0};
  double vccint[4] = {0.85, 0.85, 0.85, 0.85};
  double vccaux[4] = {1.80, 1.80, 1.80, 1.80};
  double vccbram[4] = {0.85, 0.85, 0.85, 0.85};
  double vccpt = 1.80;  // the Intel part's fourth monitored rail

  // Configuration behaviour.
  bool preconfigured = false;
  uint64_t housecleanTcks = 20000;  // TCKs from JPROGRAM to INIT_COMPLETE
  uint64_t startupTcks = 64;        // Run-Test/Idle TCKs under JSTART before DONE
  uint32_t aesKey = 0;              // 0: no key (encrypted streams fail)

  // Carrier lines in the VU35P boundary scan.
  int carrier = 0;   // 0..3
  int slot = 0;      // 0..3
  uint8_t leds = 0;  // lit LEDs: 0x40 R, 0x20 G, 0x10 B, 0x08 A, 0x04 B, 0x02 C, 0x01 D

  // Intel SDM behaviour.
  int sdmBusyPolls = 0;   // status reads that report busy after each chunk; -1 always
  SdmFail sdmFail = SdmFail::None;
  int sdmDelayPolls = 1;  // response reads that find nothing before an answer shows
  int msel = 7;

  DesignOptions design;                      // every key the device does not know
  std::map<std::string, std::string> extra;  // "namespace.key" values for other simulators
};

// Applies one key=value of a device line. Returns 1 when the key is a device key and
// the value was good, 0 when the key is not a device key (the caller passes it on),
// -1 with *error set when the value is bad.
int setDeviceOption(DeviceConfig& cfg, const std::string& key, const std::string& value, std::string* error);

// Fills identity fields nobody set from a seed, so every simulated FPGA differs:
// DNA with its fixed bits (95:94 = 01, 1:0 = 01), chip IDs.
void fillDefaultIdentity(DeviceConfig& cfg, uint64_t seed);

// "0x0123..." or "0123..." hex text into 32-bit words, least significant first.
bool parseHexWords(const std::string& text, uint32_t* words, int nWords);

}  // namespace varnsim
