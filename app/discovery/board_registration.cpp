#include "app/discovery/board_registration.h"

#include "app/discovery/add_device.h"
#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

void registerFtdiBoard(DWORD ftdiIndex, const char* serial, FILE* portsFile) {
  FT_HANDLE handle = nullptr;
  FT_STATUS status = FT_Open(static_cast<int>(ftdiIndex), &handle);
  if (status != FT_OK) {
    // The connection below then fails on the missing handle and says so as well.
    VARNLog("Failed to open FTDI device %u (Serial: %s): status %u\n", static_cast<unsigned>(ftdiIndex), serial,
            static_cast<unsigned>(status));
    handle = nullptr;
  }
  addDevice(nullptr, handle, serial, portsFile);
}

void registerCoEBoard(const char* address, FILE* portsFile) { addDevice(address, nullptr, address, portsFile); }

void attachFtdiUart(int board, DWORD ftdiIndex) {
  VARNJtag* jtag = board >= 0 && board < MAX_BOARDS ? regLoad(varnJtags[board]) : nullptr;
  if (jtag == nullptr) return;
  if (jtag->uartHandle != nullptr) {
    // A four-channel chip offers three UART channels; the board serves one, the first.
    VARNLog("Board %i already has a companion UART, leaving FTDI device %u unopened\n", board,
            static_cast<unsigned>(ftdiIndex));
    return;
  }
  FT_HANDLE handle = nullptr;
  FT_STATUS status = FT_Open(static_cast<int>(ftdiIndex), &handle);
  if (status != FT_OK || handle == nullptr) {
    VARNLog("Failed to open FTDI UART device %u for board %i: status %u\n", static_cast<unsigned>(ftdiIndex), board,
            static_cast<unsigned>(status));
    return;
  }
  VARNJtagSetFTDIUart(jtag, handle);
}
