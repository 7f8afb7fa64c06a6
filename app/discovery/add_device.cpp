#include "app/discovery/add_device.h"

#include <cstring>
#include <thread>

#include "app/boardthread/board_thread.h"
#include "app/discovery/device_identity.h"
#include "app/discovery/device_ports.h"
#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "jtag/varn_jtag.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag_handle.h"

static bool isZkq4t(const char* serial) { return serial != nullptr && std::strstr(serial, "ZKQ4T") != nullptr; }

uint32_t VARNUsbJtagClockHz(const char* serial) { return isZkq4t(serial) ? 20000000u : 30000000u; }

uint32_t VARNUsbJtagLatencyMs(const char* serial) {
  if (gSetFTDIJTAGLatency != 0) return gSetFTDIJTAGLatency;
  return isZkq4t(serial) ? 2u : 4u;
}

// A connection that is not kept must not keep its controller link reconnecting in the
// background, nor hold the FTDI channel open for nobody.
static void dropConnection(VARNJtag* jtag, FT_HANDLE ftdiHandle) {
  if (jtag != nullptr) jtag->transport->closeLink(jtag);
  VARNJtagDestroy(jtag);
  if (ftdiHandle != nullptr) FT_Close(ftdiHandle);
}

static VARNJtag* connect(const char* address, FT_HANDLE ftdiHandle, const char* serial) {
  VARNJtag* jtag = nullptr;
  if (address != nullptr) {
    int rc = VARNJtagCreateCoE(address, VARN_COE_JTAG_CLOCK_HZ, &jtag);
    if (rc != 0) {
      VARNLog("Failed to create VARN JTAG CoE Connection with error %i\n", rc);
      return nullptr;
    }
    return jtag;
  }
  int rc = VARNJtagCreate(ftdiHandle, VARNUsbJtagClockHz(serial), &jtag);
  if (rc != 0) {
    VARNLog("Failed to create VARN JTAG Connection with error %i\n", rc);
    if (ftdiHandle != nullptr) FT_Close(ftdiHandle);
    return nullptr;
  }
  VARNJtagSetFTDIJTAGLatency(jtag, VARNUsbJtagLatencyMs(serial));
  if (gSetFTDIUARTLatency != 0) VARNJtagSetFTDIUARTLatency(jtag, gSetFTDIUARTLatency);
  return jtag;
}

void addDevice(const char* address, FT_HANDLE ftdiHandle, const char* serial, FILE* portsFile) {
  const int b = regLoad(boardCnt);
  if (b >= MAX_BOARDS) {
    // The scan stops before this; a caller that does not must still not run past the tables.
    VARNLog("Board limit of %i reached, not registering %s\n", MAX_BOARDS, serial ? serial : "(no serial)");
    if (ftdiHandle != nullptr) FT_Close(ftdiHandle);
    return;
  }

  VARNJtag* jtag = connect(address, ftdiHandle, serial);
  if (jtag == nullptr) return;

  regStore(varnJtags[b], jtag);
  uint8_t count = 0;
  int rc = VARNJtagGetDeviceCount(jtag, &count);
  if (rc != 0) {
    VARNLog("Failed to get VARN JTAG Device Count: %i\n", rc);
    VARNLog("Skipping board\n");
    regStore(varnJtags[b], nullptr);
    dropConnection(jtag, ftdiHandle);
    return;
  }
  if (count > MAX_DEVICES) {
    // The JTAG engine records at most four; a larger count would index past the tables.
    VARNLog("Board %i reports %i FPGAs; only the first %i are served\n", b, static_cast<int>(count), MAX_DEVICES);
    count = MAX_DEVICES;
  }

  regStore(devCounts[b], count);
  regStore(boardCnt, b + 1);
  // 16 raw bytes, terminated only when the serial is shorter.
  std::strncpy(deviceFTDISerials[b], serial != nullptr ? serial : "", SERIAL_TEXT_SIZE);
  VARNLog("Found %i FPGAs on board %i, creating virtual TCP serial ports...\n", static_cast<int>(count), b);

  if (VARNOpenDevicePorts(b, portsFile) == VARN_PORTS_ABANDONED) return;

  VARNReadDeviceIdentities(b);

  VARNLog("Activating UART Bridge for Board %i\n", b);
  bid[b] = b;
  VARNStartBoardThread(&bid[b]);
}
