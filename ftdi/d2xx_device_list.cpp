#include "ftdi/d2xx_device_list.h"

#include "ftdi/d2xx_names.h"

namespace varn_d2xx {

DWORD locationId(const UsbChip& chip, int channel) {
  return (DWORD(chip.bus) << 16) | (DWORD(chip.address) << 8) | DWORD(channel + 1);
}

std::vector<ListEntry> expandChannels(const std::vector<UsbChip>& chips) {
  std::vector<ListEntry> list;
  for (const UsbChip& chip : chips) {
    if (!isSupportedProduct(chip.vid, chip.pid)) continue;
    const int channels = channelCount(chip.pid, chip.interfaces);
    for (int ch = 0; ch < channels; ++ch) {
      ListEntry e;
      e.chip = chip;
      e.channel = ch;
      e.flags = chip.highSpeed ? FT_FLAGS_HISPEED : 0;
      e.type = deviceType(chip.bcdDevice);
      e.id = deviceId(chip.vid, chip.pid);
      e.locId = locationId(chip, ch);
      channelSerial(chip.serial, ch, channels, e.serial);
      channelDescription(chip.description, ch, channels, e.description);
      list.push_back(e);
    }
  }
  return list;
}

}  // namespace varn_d2xx
