// One emulated USB device under umockdev: its sysfs entry and device node in the
// testbed, and the usbfs ioctls a host USB library sends to the node (interfaces,
// URBs for control and bulk transfers, reaping, discarding), answered by an FtdiUsbChip.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "sim/usb/ftdi_usb_chip.h"

namespace varnsim {

class UsbfsDevice {
 public:
  UsbfsDevice(UMockdevTestbed* testbed, std::unique_ptr<FtdiUsbChip> chip, int bus, int address);
  ~UsbfsDevice();
  // Takes the device off the bus: every later request on its node fails with ENODEV
  // and its URBs complete as killed, as on an unplugged device (a remove uevent is
  // sent too, where umockdev has a listener to send it to).
  void unplug();
  const std::string& devnode() const { return devnode_; }
  FtdiUsbChip& chip() { return *chip_; }

 private:
  struct Urb {
    UMockdevIoctlClient* client = nullptr;  // the open node it was submitted on
    UMockdevIoctlData* urb = nullptr;     // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its data buffer
    uint8_t type = 0, endpoint = 0;
    int length = 0;
    bool done = false;
  };
  static gboolean onIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
  static void onVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
  gboolean handle(UMockdevIoctlClient* client);
  void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool tryComplete(Urb& u);
  static void release(Urb& u);

  UMockdevTestbed* testbed_;
  UMockdevIoctlBase* handler_;
  std::unique_ptr<FtdiUsbChip> chip_;
  std::string devnode_, syspath_;
  // umockdev may serve the open nodes from more than one thread.
  std::mutex mutex_;
  std::deque<Urb> urbs_;  // submitted on any open node, oldest first; under mutex_
  std::atomic<bool> gone_{false};
};

}  // namespace varnsim
