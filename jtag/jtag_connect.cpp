// Board handles: creation over FTDI or CoE, bus set-up, the companion UART and device
// information. The chain scans live in chain_scan.cpp.
#include <cstdio>
#include <new>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "coe/coe_link.h"
#include "jtag/chain_scan.h"
#include "jtag/coe_request.h"
#include "jtag/jtag_tables.h"
#include "jtag/mpsse.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

namespace {

constexpr uint32_t kCoEConnectWaitMs = 1000;

bool supportedPid(uint16_t pid) { return pid == 0x6014 || pid == 0x6010 || pid == 0x6011; }

void fillDefaults(VARNJtag* j, uint32_t clockHz) {
  j->tapState = RESET;
  j->busInitialized = 0;
  j->jtagLatency = 4;
  j->uartLatency = 4;
  j->jtagClockHz = clockHz;
  j->totalIrLength = 0;
  j->deviceCount = 0;
  for (int i = 0; i < VARN_JTAG_MAX_DEVICES; ++i) {
    j->idcodes[i] = 0;
    j->deviceType[i] = JTAG_DEV_UNKNOWN;
    j->irLength[i] = 0;
    j->coeSlot[i] = static_cast<uint8_t>(i);
  }
  j->uartHandle = nullptr;
  j->xvcActive = 0;
}

int createFtdi(FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out) {
  if (ftHandle == nullptr) return 1;
  FT_DEVICE type = 0;
  DWORD id = 0;
  char serial[FT_SERIAL_SIZE + 16] = {};
  char description[FT_DESCRIPTION_SIZE + 16] = {};
  if (FT_GetDeviceInfo(ftHandle, &type, &id, serial, description, nullptr) != FT_OK) return 1;
  const uint16_t pid = static_cast<uint16_t>(id & 0xFFFF);
  if (!supportedPid(pid)) return 2;
  VARNJtag* j = new (std::nothrow) VARNJtag{};
  if (j == nullptr) return 7;
  j->mpsse = mpsse_buffer_alloc();
  if (j->mpsse == nullptr) {
    delete j;
    return 7;
  }
  fillDefaults(j, clockHz);
  j->ftHandle = ftHandle;
  j->coeLink = nullptr;
  j->usbPid = pid;
  uint8_t count = 0;
  VARNJtagGetDeviceCount(j, &count);
  *out = j;
  return 0;
}

int createCoE(const char* address, uint32_t clockHz, VARNJtag** out) {
  VARNJtag* j = new (std::nothrow) VARNJtag{};
  if (j == nullptr) return 7;
  fillDefaults(j, clockHz);
  j->usbPid = 0x6014;
  j->ftHandle = nullptr;
  j->coeLink = VNCoELinkCreate(address, VN_COE_PORT);
  VARNLog("Connecting CoE link to %s...\n", address);
  // Give the link thread up to a second to connect; go on as soon as it has.
  for (uint32_t waited = 0; j->coeLink != nullptr && waited < kCoEConnectWaitMs; waited += 10) {
    if (VNCoELinkIsConnected(j->coeLink)) break;
    varn_sleep_ms(10);
  }
  if (j->coeLink == nullptr || !VNCoELinkIsConnected(j->coeLink)) {
    VARNLog("CoE Link Failed to connect!\n");
    if (j->coeLink != nullptr) VNCoELinkDestroy(j->coeLink);
    delete j;
    return 7;
  }
  j->mpsse = mpsse_buffer_alloc();
  if (j->mpsse == nullptr) {
    VNCoELinkDestroy(j->coeLink);
    delete j;
    return 7;
  }
  uint8_t count = 0;
  VARNJtagGetDeviceCount(j, &count);
  *out = j;
  return 0;
}

int setupFtdiBus(VARNJtag* j) {
  initD2XX(j->ftHandle, j->jtagLatency);
  if (j->jtagClockHz == 0) {
    VARNLog("JTAG clock of 0 Hz refused\n");
    return 4;
  }
  // TCK = 30 MHz / (1 + divisor); asking for more than 30 MHz gets 30 MHz.
  int64_t divisor = 30000000ll / j->jtagClockHz - 1;
  if (divisor < 0) divisor = 0;
  if (divisor > 0xFFFF) {
    VARNLog("JTAG clock of %u Hz needs divisor %lld, above 65535\n", j->jtagClockHz, static_cast<long long>(divisor));
    return 4;
  }
  ftdi_mpsse_setup_clock(j->ftHandle, j->mpsse, static_cast<uint16_t>(divisor));
  ftdi_mpsse_setup_loopback_off(j->ftHandle, j->mpsse);
  ftdi_mpsse_setup_pins(j->ftHandle, j->mpsse, j->usbPid);
  return 0;
}

void setupCoEBus(VARNJtag* j) {
  const uint32_t hz = j->jtagClockHz;
  const uint8_t speed[8] = {0, 0, 0, 0, static_cast<uint8_t>(hz), static_cast<uint8_t>(hz >> 8),
                            static_cast<uint8_t>(hz >> 16), static_cast<uint8_t>(hz >> 24)};
  if (varn_jtag_coe_request(j->coeLink, VN_COE_CMD_JTAG_CLOCK, VN_COE_TAG_REQUEST, speed, sizeof speed, nullptr, nullptr, 0) != 0) {
    VARNLog("Failed to set CoE JTAG Speed to %i\n", static_cast<int>(hz));
    return;
  }
  const uint8_t mode[2] = {0x00, 0x02};  // device abstraction: the controller walks the TAP
  if (varn_jtag_coe_request(j->coeLink, VN_COE_CMD_JTAG_MODE, VN_COE_TAG_REQUEST, mode, sizeof mode, nullptr, nullptr, 0) != 0) {
    VARNLog("Failed to set CoE JTAG Mode to Device Abstraction\n");
    return;
  }
  VARNLog("CoE JTAG Initialized to %i MHz\n", static_cast<int>(hz));
}

}  // namespace

int _VARNJtagCreate(const char* coeAddress, FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out) {
  if (out == nullptr) return 4;
  if (coeAddress != nullptr) return createCoE(coeAddress, clockHz, out);
  return createFtdi(ftHandle, clockHz, out);
}

int VARNJtagCreate(FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out) {
  return _VARNJtagCreate(nullptr, ftHandle, clockHz, out);
}

int VARNJtagCreateCoE(const char* address, uint32_t clockHz, VARNJtag** out) {
  return _VARNJtagCreate(address, nullptr, clockHz, out);
}

int VARNJtagDestroy(VARNJtag* jtag) {
  if (jtag == nullptr) return 0;
  // The FTDI handles and the CoE link belong to the caller.
  mpsse_buffer_free(jtag->mpsse);
  delete jtag;
  return 0;
}

int VARNJtagSetFTDIJTAGLatency(VARNJtag* jtag, uint32_t ms) {
  jtag->jtagLatency = ms;
  return 0;
}

int VARNJtagSetFTDIUARTLatency(VARNJtag* jtag, uint32_t ms) {
  jtag->uartLatency = ms;
  return 0;
}

int VARNJtagSetFTDIUart(VARNJtag* jtag, FT_HANDLE uartHandle) {
  VARNLog("Initializing companion FTDI UART\n");
  if (FT_SetBaudRate(uartHandle, 1000000) != FT_OK) VARNLog("Failed to set FTDI baudrate to 12 Mbaud\n");
  if (FT_SetDataCharacteristics(uartHandle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK)
    VARNLog("Failed to set FTDI data characteristics\n");
  FT_SetFlowControl(uartHandle, FT_FLOW_NONE, 0, 0);
  FT_SetTimeouts(uartHandle, 1000, 1000);
  FT_SetLatencyTimer(uartHandle, static_cast<UCHAR>(jtag->uartLatency));
  FT_SetUSBParameters(uartHandle, 16384, 16384);
  FT_Purge(uartHandle, FT_PURGE_RX | FT_PURGE_TX);
  jtag->uartHandle = uartHandle;
  return 0;
}

int VARNJtagDeviceIsCoE(VARNJtag* jtag) { return jtag != nullptr && jtag->coeLink != nullptr ? 1 : 0; }

int VARNJtagGetDeviceCount(VARNJtag* jtag, uint8_t* count) {
  if (jtag == nullptr) return 4;
  if (!jtag->busInitialized) {
    VARNLog("Initializing Bus\n");
    jtag->busInitialized = 1;
    if (jtag->coeLink != nullptr) {
      setupCoEBus(jtag);
    } else {
      int rc = setupFtdiBus(jtag);
      if (rc != 0) return rc;
    }
  }
  VARNLog("Running Device Scan\n");
  int rc = jtag->coeLink != nullptr ? varn_jtag_scan_coe(jtag) : varn_jtag_scan_ftdi(jtag);
  if (rc != 0) return rc;
  if (count != nullptr) *count = static_cast<uint8_t>(jtag->deviceCount);
  return 0;
}

int VARNJtagGetDeviceInfo(VARNJtag* jtag, uint32_t device, uint32_t* idcode, char* name, uint32_t* slrCount) {
  if (jtag == nullptr || device >= jtag->deviceCount) return 4;
  const int32_t row = jtag->deviceType[device];
  if (idcode) *idcode = jtag->idcodes[device];
  const bool known = row >= 0 && row < JTAG_DEVICE_ROWS;
  if (name) std::snprintf(name, VARN_JTAG_NAME_SIZE, "%s", known ? JTAG_DECODE_STR[row] : "Unknown Device");
  if (slrCount) *slrCount = known ? JTAG_I_MAP[row][JTAG_I_SLR_COUNT] : 1;
  return 0;
}
