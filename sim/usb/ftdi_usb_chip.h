// An FTDI chip as its USB interface shows it to a host driver: the descriptors, the
// vendor control requests of the FTDI drivers (reset and purge, modem lines, baud
// rate, latency timer, bit mode, pins, EEPROM) and the bulk endpoints of each channel,
// whose IN packets start with the two modem-status bytes. Behind each channel is a
// simulated channel (sim/mpsse) of the board description. Nothing here knows how the
// USB traffic reaches it (usbfs_device.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/d2xx/sim_registry.h"

namespace varnsim {

struct UsbSetup {
  uint8_t requestType, request;
  uint16_t value, index, length;
};

class FtdiUsbChip {
 public:
  // The channels of one chip, in channel order (A first), all with the same serial.
  explicit FtdiUsbChip(std::vector<std::shared_ptr<ChannelEntry>> channels);

  const ChipInfo& chip() const { return *chip_; }
  const std::string& serial() const { return serial_; }
  uint16_t pid() const { return pid_; }
  int interfaces() const { return static_cast<int>(channels_.size()); }

  // Device and configuration descriptors as the kernel's sysfs "descriptors" file.
  std::vector<uint8_t> descriptors() const;
  // A control request: the answer (IN) or nothing (OUT); false stalls it.
  bool control(const UsbSetup& s, const uint8_t* out, std::vector<uint8_t>* in);
  // Bulk OUT on a channel's endpoint: every byte is taken.
  void bulkOut(int channel, const uint8_t* data, size_t n);
  // Bulk IN of at most `length` bytes on a channel: true with the packets (status bytes
  // first in each) when the chip sends now, false while it would still hold back
  // (no data and the latency timer not yet expired).
  bool bulkIn(int channel, size_t length, std::vector<uint8_t>* packets);
  // The channel (0..) of an endpoint address, or -1.
  int channelOfEndpoint(uint8_t endpoint) const;

 private:
  std::vector<std::shared_ptr<ChannelEntry>> channels_;
  std::vector<uint64_t> lastInPs_;
  std::vector<unsigned> latencyMs_;
  const ChipInfo* chip_;
  std::string serial_, description_;
  uint16_t pid_;
};

}  // namespace varnsim
