// Board handles: creation over FTDI or CoE, bus set-up, the companion UART and device
// information. The chain scans live in chain_scan.cpp.
#include <cstdio>
#include <new>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "coe/coe_link.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/jtag_tables.h"
#include "jtag/transport.h"
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
  if (ftHandle == nullptr) return VARN_JTAG_NO_DEVICE_INFO;
  FT_DEVICE type = 0;
  DWORD id = 0;
  char serial[FT_SERIAL_SIZE + 16] = {};
  char description[FT_DESCRIPTION_SIZE + 16] = {};
  if (FT_GetDeviceInfo(ftHandle, &type, &id, serial, description, nullptr) != FT_OK) return VARN_JTAG_NO_DEVICE_INFO;
  const uint16_t pid = static_cast<uint16_t>(id & 0xFFFF);
  if (!supportedPid(pid)) return VARN_JTAG_UNKNOWN_DEVICE;
  VARNJtag* j = new (std::nothrow) VARNJtag{};
  if (j == nullptr) return VARN_JTAG_NO_RESOURCES;
  j->mpsse = mpsse_buffer_alloc();
  if (j->mpsse == nullptr) {
    delete j;
    return VARN_JTAG_NO_RESOURCES;
  }
  fillDefaults(j, clockHz);
  j->ftHandle = ftHandle;
  varn_jtag_use_ftdi(j);
  j->usbPid = pid;
  uint8_t count = 0;
  VARNJtagGetDeviceCount(j, &count);
  *out = j;
  return 0;
}

int createCoE(const char* address, uint32_t clockHz, VARNJtag** out) {
  VARNJtag* j = new (std::nothrow) VARNJtag{};
  if (j == nullptr) return VARN_JTAG_NO_RESOURCES;
  fillDefaults(j, clockHz);
  j->usbPid = 0x6014;
  j->ftHandle = nullptr;
  _VNCoELink* link = VNCoELinkCreate(address, VN_COE_PORT);
  varn_jtag_use_coe(j, link);
  VARNLog("Connecting CoE link to %s...\n", address);
  // Give the link thread up to a second to connect; go on as soon as it has.
  for (uint32_t waited = 0; link != nullptr && waited < kCoEConnectWaitMs; waited += 10) {
    if (j->transport->linkUp(j)) break;
    varn_sleep_ms(10);
  }
  if (!j->transport->linkUp(j)) {
    VARNLog("CoE Link Failed to connect!\n");
    j->transport->closeLink(j);
    delete j;
    return VARN_JTAG_NO_RESOURCES;
  }
  j->mpsse = mpsse_buffer_alloc();
  if (j->mpsse == nullptr) {
    j->transport->closeLink(j);
    delete j;
    return VARN_JTAG_NO_RESOURCES;
  }
  uint8_t count = 0;
  VARNJtagGetDeviceCount(j, &count);
  *out = j;
  return 0;
}

}  // namespace

int _VARNJtagCreate(const char* coeAddress, FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out) {
  if (out == nullptr) return VARN_JTAG_BAD_ARGUMENT;
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

int VARNJtagDeviceIsCoE(VARNJtag* jtag) {
  return jtag != nullptr && jtag->transport == &varn_jtag_coe_transport ? 1 : 0;
}

int VARNJtagGetDeviceCount(VARNJtag* jtag, uint8_t* count) {
  if (jtag == nullptr) return VARN_JTAG_BAD_ARGUMENT;
  if (!jtag->busInitialized) {
    VARNLog("Initializing Bus\n");
    jtag->busInitialized = 1;
    int rc = jtag->transport->setupBus(jtag);
    if (rc != 0) return rc;
  }
  VARNLog("Running Device Scan\n");
  int rc = jtag->transport->scanChain(jtag);
  if (rc != 0) return rc;
  if (count != nullptr) *count = static_cast<uint8_t>(jtag->deviceCount);
  return 0;
}

int VARNJtagGetDeviceInfo(VARNJtag* jtag, uint32_t device, uint32_t* idcode, char* name, uint32_t* slrCount) {
  if (jtag == nullptr || device >= jtag->deviceCount) return VARN_JTAG_BAD_ARGUMENT;
  const int32_t row = jtag->deviceType[device];
  if (idcode) *idcode = jtag->idcodes[device];
  const bool known = row >= 0 && row < JTAG_DEVICE_ROWS;
  if (name) std::snprintf(name, VARN_JTAG_NAME_SIZE, "%s", known ? JTAG_DECODE_STR[row] : "Unknown Device");
  if (slrCount) *slrCount = known ? JTAG_I_MAP[row][JTAG_I_SLR_COUNT] : 1;
  return 0;
}
