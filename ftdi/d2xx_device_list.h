// The device list: one entry per channel of every supported chip, in bus order,
// kept as a snapshot until the next FT_CreateDeviceInfoList.
#pragma once

#include <vector>

#include "ftdi/d2xx_usb.h"
#include "ftdi/ftd2xx.h"

namespace varn_d2xx {

struct ListEntry {
  UsbChip chip;
  int channel = 0;  // 0 = A
  DWORD flags = 0;  // FT_FLAGS_HISPEED from the chip; FT_FLAGS_OPENED filled in by the caller
  FT_DEVICE type = FT_DEVICE_UNKNOWN;
  DWORD id = 0;
  DWORD locId = 0;
  char serial[FT_SERIAL_SIZE] = {};
  char description[FT_DESCRIPTION_SIZE] = {};
};

// Expands chips into channel entries; chips of other products are left out.
std::vector<ListEntry> expandChannels(const std::vector<UsbChip>& chips);

// The location the list reports: bus in the high byte, then device address, then
// channel number from 1, so each channel has its own.
DWORD locationId(const UsbChip& chip, int channel);

}  // namespace varn_d2xx
