#include "app/cli/command_line.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

long long VARNParseDecimal(const char* text) {
  if (text == nullptr) return 0;
  return std::strtoll(text, nullptr, 10);
}

template <typename T>
static T truncatedTo(const char* text) {
  // Integer settings keep the low bits of the number, as an assignment in C would:
  // "-k -1" therefore becomes the largest interval.
  return static_cast<T>(static_cast<unsigned long long>(VARNParseDecimal(text)));
}

static void openLogCopy(const char* path) {
  if (logFile != nullptr) std::fclose(logFile);  // a repeated -f replaces the first
  logFile = std::fopen(path, "w+");
  // Without the copy the program goes on, but the user should know why it is missing.
  if (logFile == nullptr) VARNLog("Cannot write the log file %s (%s); going on without it\n", path, std::strerror(errno));
}

// A port option: a number outside 0..65535 would wrap round to some other port, so it
// is refused and the setting keeps its value.
static void setPort(uint16_t* setting, char option, const char* text) {
  long long value = VARNParseDecimal(text);
  if (value < 0 || value > 65535) {
    VARNLog("Error - port %s for -%c is not a TCP port (0..65535); keeping %hu\n", text, option, *setting);
    return;
  }
  *setting = static_cast<uint16_t>(value);
}

int VARNParseOptions(int argc, char* argv[]) {
  int refused = 0;
  // getopt keeps its position in globals; starting from the first argument again lets
  // the parser run more than once in one process. Its own message is silenced: the
  // program reports a refused option in its own words.
  optind = 1;
  opterr = 0;
  int option;
  while ((option = getopt(argc, argv, VARN_OPTION_STRING)) != -1) {
    switch (option) {
      case 'a': case 'A':
        gUseUSB = true;
        gUseUSBList = false;
        break;
      case 's': case 'S':
        gUseUSB = true;
        gUseUSBList = true;
        gUSBList = optarg;
        break;
      case 'u': case 'U':
        gUseFTDIUart = true;
        break;
      case 'c': case 'C':
        gUseCoE = true;
        gCoEList = optarg;
        break;
      case 'd': case 'D':
        gUseCoU = true;
        break;
      case 'l': case 'L':
        gListDevices = true;
        break;
      case 'b': case 'B':
        gLoadBits = true;
        gBitList = optarg;
        break;
      case 'm': case 'M':
        gUseManagement = true;
        break;
      case 'n': case 'N':
        setPort(&gManagementPort, 'n', optarg);
        break;
      case 'p': case 'P':
        setPort(&gStartPort, 'p', optarg);
        break;
      case 'v': case 'V':
        gSetVCCINT = true;
        gVCCINTList = optarg;
        break;
      case 'y': case 'Y':
        gSetVCCBRAM = true;
        gVCCBRAMList = optarg;
        break;
      case 'w': case 'W':
        gSetVCCHBM = true;
        gVCCHBMList = optarg;
        break;
      case 'q': case 'Q':
        gQuiet = true;
        break;
      case 'k': case 'K':
        gTelemetryInterval = truncatedTo<uint32_t>(optarg);
        break;
      case 'g': case 'G':
        gUseGUI = true;
        break;
      case 'x': case 'X':
        gUseAXIBridge = true;
        break;
      case 'f': case 'F':
        openLogCopy(optarg);
        break;
      case 't': case 'T':
        gDisableLocalAXI = true;
        break;
      case 'j': case 'J':
        gEnableXVC = true;
        setPort(&gXVCPort, 'j', optarg);
        break;
      case 'r': case 'R':
        gSetFTDIJTAGLatency = truncatedTo<uint8_t>(optarg);
        break;
      case 'o': case 'O':
        gSetFTDIUARTLatency = truncatedTo<uint8_t>(optarg);
        break;
      default:
        // '?' for a letter outside the string or a missing argument; optopt holds
        // the letter that was refused.
        VARNLog("Error - invalid parameter -%c\n", optopt);
        ++refused;
        break;
    }
  }
  return refused;
}

void VARNAnnounceModes() {
  if (gUseUSB) {
    VARNLog("Enabled for FTDI USB Devices\n");
    if (gUseFTDIUart) {
      VARNLog("Running in FTDI Native-UART Mode for FTDI USB Devices\n");
    } else {
      VARNLog("Running in FTDI JTAG-UART Mode for FTDI USB Devices\n");
    }
  }
  if (gUseCoE) VARNLog("Enabled for CoE Devices\n");
  if (gUseCoU) VARNLog("Enabled for CoU Devices\n");
}

int VARNChooseScanTarget() {
  if (gListDevices) {
    VARNLog("Listing devices only\n");
    return VARN_SCAN_LIST_ONLY;
  }
  if (!gUseUSB) return VARN_SCAN_LIST_ONLY;  // the scan then only lists what it finds
  if (gUseUSBList && gUSBList != nullptr) {
    if (!std::isdigit(static_cast<unsigned char>(gUSBList[0]))) {
      VARNLog("Filtering for devices with serials containing any of the following comma separated values: %s\n",
              gUSBList);
      return VARN_SCAN_FILTER;
    }
    // The text starts with a digit, so the number is never negative; a huge one is
    // held at INT_MAX rather than wrapping round into one of the special targets.
    long long index = VARNParseDecimal(gUSBList);
    int target = index > INT_MAX ? INT_MAX : static_cast<int>(index);
    VARNLog("Selecting device at FTDI Index %i (Warning, FTDI indexes are not stable) If you meant to match numeric "
            "serials, use a leading comma\n",
            target);
    return target;
  }
  VARNLog("Selecting ALL devices\n");
  return VARN_SCAN_ALL;
}
