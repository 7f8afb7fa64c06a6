#include "app/discovery/device_identity.h"

#include <cstdio>
#include <cstring>

#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "jtag/varn_jtag.h"

namespace {

const char* const kRailNames[3] = {"VCCINT", "VCCAUX", "VCCBRAM"};

// Bytes as "%02hhx" each, appended to `prefix`, logged as one message so that board
// threads already running cannot cut into the line.
void logHexLine(const char* prefix, const uint8_t* bytes, int n) {
  char line[128];
  int at = std::snprintf(line, sizeof line, "%s", prefix);
  for (int i = 0; i < n && at > 0 && at < static_cast<int>(sizeof line) - 3; ++i)
    at += std::snprintf(line + at, sizeof line - at, "%02hhx", bytes[i]);
  VARNLog("%s\n", line);
}

void readInfo(VARNJtag* jtag, int b, int d) {
  uint32_t idcode = 0, slrs = 0;
  char name[VARN_JTAG_NAME_SIZE] = {};
  int rc = VARNJtagGetDeviceInfo(jtag, d, &idcode, name, &slrs);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Device Info (Board %i, Device %i): %i\n", b, d, rc);
    return;
  }
  name[sizeof name - 1] = '\0';
  VARNLog("Board %i Device %i IDCODE(%08x) Name: %s\n", b, d, idcode, name);
  std::memcpy(deviceName[b][d], name, DEVICE_NAME_SIZE);
  regStore(deviceIDCodes[b][d], idcode);
  // The tables keep at most MAX_SLRS dies per device.
  regStore(slrCounts[b][d], slrs > static_cast<uint32_t>(MAX_SLRS) ? static_cast<uint32_t>(MAX_SLRS) : slrs);
}

void readFuses(VARNJtag* jtag, int b, int d) {
  char prefix[64];
  uint8_t dna[DNA_SIZE] = {};
  int rc = VARNJtagGetDNA(jtag, d, dna);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Board %i Device %i DNA: %i\n", b, d, rc);
  } else {
    std::snprintf(prefix, sizeof prefix, "Board %i Device %i DNA: ", b, d);
    logHexLine(prefix, dna, DNA_SIZE);
    std::memcpy(deviceDNAs[b][d], dna, DNA_SIZE);
  }

  uint32_t fuse = 0;
  rc = VARNJtagGetUserFuse(jtag, d, &fuse);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Board %i Device %i USER Fuse: %i\n", b, d, rc);
  } else {
    VARNLog("Board %i Device %i USER Fuse: 0x%08x\n", b, d, fuse);
    regStore(deviceUserFuse[b][d], fuse);
  }

  uint8_t fuse128[USER128_SIZE] = {};
  rc = VARNJtagGetUser128Fuse(jtag, d, fuse128);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Board %i Device %i USER128 Fuse: %i\n", b, d, rc);
  } else {
    std::snprintf(prefix, sizeof prefix, "Board %i Device %i USER128 Fuse: ", b, d);
    logHexLine(prefix, fuse128, USER128_SIZE);
    std::memcpy(deviceUser128Fuse[b][d], fuse128, USER128_SIZE);
  }
}

void readSensors(VARNJtag* jtag, int b, int d) {
  const uint32_t slrs = regLoad(slrCounts[b][d]);
  for (uint32_t k = 0; k < slrs; ++k) {
    const int slr = static_cast<int>(k);
    double temp = 0.0;
    int rc = VARNJtagGetSLRTemp(jtag, d, k, &temp);
    if (rc != 0) {
      VARNLog("Failed to get VARN JTAG Board %i Device %i SLR %i Temp: %i\n", b, d, slr, rc);
    } else {
      VARNLog("Board %i Device %i SLR %i Temp: %0.3f C\n", b, d, slr, temp);
    }
    for (uint32_t rail = 0; rail < 3; ++rail) {
      double volts = 0.0;
      rc = VARNJtagGetSLRVoltage(jtag, d, k, rail, &volts);
      if (rc != 0) {
        VARNLog("Failed to get VARN JTAG Board %i Device %i SLR %i Rail %s Voltage: %i\n", b, d, slr, kRailNames[rail],
                rc);
        continue;
      }
      VARNLog("Board %i Device %i SLR %i Rail %s Voltage: %0.3f\n", b, d, slr, kRailNames[rail], volts);
      if (rail == 0) {
        regStore(telemetryTemps[b][d][k], temp);
        regStore(telemetryHighTemps[b][d][k], temp);
        regStore(telemetryVolts[b][d][k], volts);
      }
    }
  }
  for (int r = 0; r < MAX_RAILS; ++r) regStore(telemetryVRMValid[b][d][r], 0);
}

void readCarrierAndUserCode(VARNJtag* jtag, int b, int d) {
  uint8_t carrier = 0, module = 0;
  uint32_t leds = 0;
  int rc = VARNJtagGetZarvikInfo(jtag, d, &carrier, &module, &leds);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Board %i Device %i Zarvik Info: %i\n", b, d, rc);
  } else {
    char line[96];
    VARNFormatZarvikLine(line, b, d, carrier, module, leds);
    VARNLog("%s", line);
  }

  uint32_t code = 0;
  rc = VARNJtagGetUserCode(jtag, d, &code);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Board %i Device %i USR_ACCESS code: %i\n", b, d, rc);
  } else {
    VARNLog("VARN JTAG Board %i Device %i Starting USR_ACCESS Value: 0x%08x\n", b, d, code);
    regStore(deviceUserCode[b][d], code);
  }
}

}  // namespace

void VARNFormatZarvikLine(char* out, int board, int device, int carrier, int module, unsigned ledBits) {
  auto lit = [ledBits](unsigned bit, char on) { return (ledBits & bit) ? on : '-'; };
  std::snprintf(out, 96, "Board %i Device %i Zarvik Carrier: %i, Module %c, LED RGBABCD: %c%c%c %c%c%c%c\n", board,
                device, carrier, static_cast<char>('A' + module), lit(0x40, 'R'), lit(0x20, 'G'), lit(0x10, 'B'),
                lit(0x08, 'A'), lit(0x04, 'B'), lit(0x02, 'C'), lit(0x01, 'D'));
}

void VARNReadDeviceIdentities(int b) {
  VARNJtag* jtag = regLoad(varnJtags[b]);
  const int count = regLoad(devCounts[b]);
  for (int d = 0; d < count; ++d) {
    readInfo(jtag, b, d);
    readFuses(jtag, b, d);
    readSensors(jtag, b, d);
    readCarrierAndUserCode(jtag, b, d);
    VARNLog("VARN JTAG Board %i Device %i Open Complete\n", b, d);
  }
}
