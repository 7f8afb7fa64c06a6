#include "app/discovery/scan_devices.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/cli/command_line.h"
#include "app/discovery/board_registration.h"
#include "app/discovery/ftdi_classify.h"
#include "app/discovery/scan_gate.h"
#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "ftdi/ftd2xx.h"

int cvpUARTIdx = 0;

// The tables hold MAX_BOARDS boards; a board past them could not be served at all.
static bool boardTablesFull(const char* what, const char* serial) {
  if (regLoad(boardCnt) < MAX_BOARDS) return false;
  VARNLog("Board limit of %i reached, not opening %s (Serial: %s)\n", MAX_BOARDS, what, serial);
  return true;
}

static void addCoEBoards(FILE* portsFile) {
  VARNLog("Adding CoE Devices...\n");
  if (gCoEList == nullptr) return;
  // The settings point into argv, which stays untouched: each piece is copied out.
  std::string_view rest(gCoEList);
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string piece(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (piece.empty()) continue;  // ",," and a leading or trailing comma name no board
    VARNLog("Adding CoE Device at %s\n", piece.c_str());
    if (boardTablesFull("CoE board", piece.c_str())) continue;
    uint32_t ip = 0;
    if (piece.rfind("usb://", 0) != 0 && varn_parse_ipv4(piece.c_str(), &ip) != 1)
      VARNLog("CoE Device %s: not an IPv4 address (dotted, like 192.168.1.20), so it cannot be reached\n",
              piece.c_str());
    registerCoEBoard(piece.c_str(), portsFile);
  }
}

static const char* targetText(int scanTarget, char* buffer, size_t size) {
  switch (scanTarget) {
    case VARN_SCAN_ALL: return "All Devices";
    case VARN_SCAN_LIST_ONLY: return "List Only";
    case VARN_SCAN_FILTER: return "Devices Matching Filter";
    default:
      std::snprintf(buffer, size, "%i", scanTarget);
      return buffer;
  }
}

// One entry of the FTDI device list. The buffers are larger than the driver's 16 and
// 64 bytes and terminated after the call, so a driver that fills its field to the
// brim cannot leave the text open.
struct FtdiEntry {
  DWORD flags = 0, type = 0, id = 0, location = 0;
  char serial[64] = {};
  char description[128] = {};
  FT_HANDLE handle = nullptr;
};

static bool readEntry(DWORD index, FtdiEntry* e) {
  *e = FtdiEntry();
  FT_STATUS status = FT_GetDeviceInfoDetail(index, &e->flags, &e->type, &e->id, &e->location, e->serial,
                                            e->description, &e->handle);
  e->serial[sizeof(e->serial) - 1] = '\0';
  e->description[sizeof(e->description) - 1] = '\0';
  return status == FT_OK;
}

// Pass 2: a UART port goes to the board it belongs to (with -u).
static void handleUart(DWORD index, const FtdiEntry& e) {
  if (!gUseFTDIUart) {
    VARNLog("Skipping non-JTAG (Likely UART Port) device %s (Serial: %s)\n", e.description, e.serial);
    return;
  }
  if (VARNFtdiIsCvpUart(e.serial)) {
    VARNLog("Found CVP UART\n");
    if (cvpUARTIdx < regLoad(boardCnt)) attachFtdiUart(cvpUARTIdx, index);
    ++cvpUARTIdx;
    return;
  }
  int boards = regLoad(boardCnt);
  for (int j = 0; j < boards && j < MAX_BOARDS; ++j) {
    if (VARNUartBelongsToBoard(deviceFTDISerials[j], e.serial)) attachFtdiUart(j, index);
  }
}

// Pass 1: a JTAG channel is listed, skipped or registered according to the target.
static void handleJtag(DWORD index, const FtdiEntry& e, int jtagIndex, int scanTarget, FILE* portsFile) {
  if (scanTarget == VARN_SCAN_LIST_ONLY) {
    VARNLog("Valid JTAG Device %i: %s (Serial: %s)\n", jtagIndex, e.description, e.serial);
    return;
  }
  if (scanTarget >= 0 && scanTarget != jtagIndex) return;
  if (scanTarget == VARN_SCAN_FILTER) {
    char matched[256];
    if (!VARNSerialMatchesFilter(e.serial, gUSBList, matched, sizeof(matched))) {
      VARNLog("JTAG Device %i Does Not Match Filter: %s (Serial: %s)\n", jtagIndex, e.description, e.serial);
      return;
    }
    VARNLog("Device with serial %s matches filter %s", e.serial, matched);
  }
  if (boardTablesFull(e.description, e.serial)) return;
  registerFtdiBoard(index, e.serial, portsFile);
}

static int scanAll(int scanTarget);

int scanDevices(int scanTarget) {
  VARNScanGateClose();
  int result = scanAll(scanTarget);
  VARNScanGateOpen();
  return result;
}

static int scanAll(int scanTarget) {
  FILE* portsFile = std::fopen(VARN_PORTS_FILE, "w+");
  if (portsFile == nullptr) {
    VARNLog("Failed to create the ports file %s: %s (the scan goes on without it)\n", VARN_PORTS_FILE,
            std::strerror(errno));
  }

  if (gUseCoE) addCoEBoards(portsFile);

  VARNLog("Running FTDI USB Device Scan...\n");
  DWORD count = 0;
  FT_STATUS status = FT_CreateDeviceInfoList(&count);
  if (status != FT_OK) {
    VARNLog("Failed to build the FTDI device list: status %u\n", static_cast<unsigned>(status));
    if (portsFile != nullptr) std::fclose(portsFile);
    return static_cast<int>(status);
  }
  char targetBuffer[16];
  VARNLog("Found %i FTDI devices, targeting %s\n", static_cast<int>(count),
          targetText(scanTarget, targetBuffer, sizeof(targetBuffer)));

  // JTAG channels first, so that the UART channels of the second pass find their
  // boards already registered.
  for (int pass = 1; pass <= 2; ++pass) {
    int jtagIndex = 0;
    for (DWORD i = 0; i < count; ++i) {
      FtdiEntry entry;
      if (!readEntry(i, &entry)) {
        VARNLog("Failed getting details for FTDI device %i\n", static_cast<int>(i));
        continue;
      }
      if (scanTarget != VARN_SCAN_LIST_ONLY) {
        VARNLog("Scanning %s (Serial: %s) ID %08x\n", entry.description, entry.serial,
                static_cast<unsigned>(entry.id));
      }
      if (VARNFtdiIsUart(entry.description, entry.serial)) {
        if (pass == 2) handleUart(i, entry);
        continue;
      }
      if (pass != 1) continue;
      if (VARNFtdiIsJtag(entry.id)) {
        handleJtag(i, entry, jtagIndex, scanTarget, portsFile);
        ++jtagIndex;  // counted whether or not the device is opened
      } else {
        VARNLog("Skipping unknown or in-use device\n");
      }
    }
  }

  return portsFile != nullptr ? std::fclose(portsFile) : 0;
}
