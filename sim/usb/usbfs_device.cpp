#include "sim/usb/usbfs_device.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnsim {

namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    s += two;
  }
  return s;
}

}  // namespace

UsbfsDevice::UsbfsDevice(UMockdevTestbed* testbed, std::unique_ptr<FtdiUsbChip> chip, int bus, int address)
    : testbed_(testbed), handler_(umockdev_ioctl_base_new()), chip_(std::move(chip)) {
  char node[64], sys[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
  std::snprintf(sys, sizeof sys, "/devices/usb%d/%d-%d", bus, bus, address);
  devnode_ = node;
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(onVanished), this);
  // The handler first, so the node answers as soon as a uevent announces it.
  umockdev_testbed_attach_ioctl(testbed_, devnode_.c_str(), handler_, nullptr);
  char text[4096];
  std::snprintf(text, sizeof text,
                "P: %s\nN: %s\nE: SUBSYSTEM=usb\nE: DRIVER=usb\nE: BUSNUM=%03d\nE: DEVNUM=%03d\nE: DEVNAME=%s\n"
                "E: DEVTYPE=usb_device\nE: ID_VENDOR_ID=0403\nE: ID_MODEL_ID=%04x\nE: ID_SERIAL_SHORT=%s\n"
                "A: busnum=%d\\n\nA: devnum=%d\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n"
                "A: idVendor=0403\\n\nA: idProduct=%04x\\n\nA: serial=%s\\n\nA: manufacturer=FTDI\\n\n"
                "H: descriptors=%s\n",
                sys, devnode_.c_str() + 5, bus, address, devnode_.c_str(), chip_->pid(), chip_->serial().c_str(), bus,
                address, chip_->pid(), chip_->serial().c_str(), hex(chip_->descriptors()).c_str());
  syspath_ = std::string("/sys") + sys;
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, text, &error)) {
    std::fprintf(stderr, "varn_usb_emul: cannot add %s: %s\n", devnode_.c_str(), error ? error->message : "?");
    if (error) g_error_free(error);
  }
}

UsbfsDevice::~UsbfsDevice() {
  // No new requests first; one that umockdev's thread is serving ends under the lock.
  umockdev_testbed_detach_ioctl(testbed_, devnode_.c_str(), nullptr);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (Urb& u : urbs_) release(u);
    urbs_.clear();
  }
  g_object_unref(handler_);
}

void UsbfsDevice::unplug() {
  if (gone_) return;
  gone_ = true;
  // The node's ioctl socket stays: umockdev's preload ends a program whose socket goes
  // away, where usbfs answers ENODEV on the open node of a device that left.
  umockdev_testbed_uevent(testbed_, syspath_.c_str(), "remove");
}

void UsbfsDevice::release(Urb& u) {
  if (u.buffer) g_object_unref(u.buffer);
  if (u.urb) g_object_unref(u.urb);
  u.buffer = u.urb = nullptr;
}

gboolean UsbfsDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* d = static_cast<UsbfsDevice*>(self);
  std::lock_guard<std::mutex> hold(d->mutex_);
  return d->handle(client);
}

// A closed node's URBs go with it, as the kernel discards them.
void UsbfsDevice::onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* d = static_cast<UsbfsDevice*>(self);
  std::lock_guard<std::mutex> hold(d->mutex_);
  for (auto it = d->urbs_.begin(); it != d->urbs_.end();) {
    if (it->client == client) {
      release(*it);
      it = d->urbs_.erase(it);
    } else {
      ++it;
    }
  }
}

gboolean UsbfsDevice::handle(UMockdevIoctlClient* client) {
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (gone_ && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
      const uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                            USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
      std::memcpy(d->data, &caps, sizeof caps);
      g_object_unref(d);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    case USBDEVFS_GETDRIVER:
      umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
      return TRUE;
    case USBDEVFS_IOCTL:
      umockdev_ioctl_client_complete(client, -1, ENODATA);  // nothing to detach
      return TRUE;
    case USBDEVFS_SUBMITURB:
      submit(client, arg);
      return TRUE;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      reap(client, arg);
      return TRUE;
    case USBDEVFS_DISCARDURB:
      discard(client, arg);
      return TRUE;
    default:
      std::fprintf(stderr, "varn_usb_emul: %s: ioctl 0x%lx not emulated\n", devnode_.c_str(), request);
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return TRUE;
  }
}

void UsbfsDevice::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  Urb u;
  u.client = client;
  u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
  if (u.urb == nullptr) {  // the program went away meanwhile
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
  u.type = urb->type;
  u.endpoint = urb->endpoint;
  u.length = urb->buffer_length;
  if (u.length > 0)
    u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(u.length), nullptr);
  const bool control = u.type == USBDEVFS_URB_TYPE_CONTROL;
  if (u.length > 0 && u.buffer == nullptr) {  // its buffer could not be read: the program went away
    release(u);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  if ((!control && u.type != USBDEVFS_URB_TYPE_BULK) || (control && u.length < 8) ||
      (!control && chip_->channelOfEndpoint(u.endpoint) < 0)) {
    release(u);
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  urb->status = 0;
  urb->actual_length = 0;
  urbs_.push_back(u);
  tryComplete(urbs_.back());
  umockdev_ioctl_client_complete(client, 0, 0);
}

static bool trace() {
  static const bool on = getenv("VARN_USB_EMUL_TRACE") != nullptr;
  return on;
}

bool UsbfsDevice::tryComplete(Urb& u) {
  if (u.done) return true;
  if (gone_) {
    // What the kernel does with the URBs of a device that left: they complete, killed.
    reinterpret_cast<usbdevfs_urb*>(u.urb->data)->status = -ESHUTDOWN;
    u.done = true;
    return true;
  }
  struct Trace {
    Urb& u;
    ~Trace() {
      if (trace() && u.done)
        std::fprintf(stderr, "urb type %u ep %02x len %d -> %d status %d\n", u.type, u.endpoint, u.length,
                     reinterpret_cast<usbdevfs_urb*>(u.urb->data)->actual_length,
                     reinterpret_cast<usbdevfs_urb*>(u.urb->data)->status);
    }
  } t{u};
  auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
  uint8_t* data = u.buffer ? u.buffer->data : nullptr;
  if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
    const UsbSetup s{data[0], data[1], static_cast<uint16_t>(data[2] | data[3] << 8),
                     static_cast<uint16_t>(data[4] | data[5] << 8), static_cast<uint16_t>(data[6] | data[7] << 8)};
    std::vector<uint8_t> in;
    if (!chip_->control(s, data + 8, &in)) {
      urb->status = -EPIPE;
    } else if (s.requestType & 0x80) {
      const size_t n = in.size() < static_cast<size_t>(u.length - 8) ? in.size() : static_cast<size_t>(u.length - 8);
      std::memcpy(data + 8, in.data(), n);
      urb->actual_length = static_cast<int>(n);
    } else {
      urb->actual_length = s.length;
    }
    u.done = true;
    return true;
  }
  const int channel = chip_->channelOfEndpoint(u.endpoint);
  if (!(u.endpoint & 0x80)) {
    chip_->bulkOut(channel, data, static_cast<size_t>(u.length));
    urb->actual_length = u.length;
    u.done = true;
    return true;
  }
  std::vector<uint8_t> packets;
  if (!chip_->bulkIn(channel, static_cast<size_t>(u.length), &packets)) return false;
  std::memcpy(data, packets.data(), packets.size());
  urb->actual_length = static_cast<int>(packets.size());
  u.done = true;
  return true;
}

void UsbfsDevice::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  // Each open node reaps only its own URBs.
  for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
    if (it->client != client || !tryComplete(*it)) continue;
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (slot == nullptr) {
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    umockdev_ioctl_data_set_ptr(slot, 0, it->urb);
    Urb u = *it;
    urbs_.erase(it);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    release(u);
    return;
  }
  umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
}

void UsbfsDevice::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  const gulong address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
  for (Urb& u : urbs_) {
    if (u.client == client && u.urb->client_addr == address && !u.done) {
      reinterpret_cast<usbdevfs_urb*>(u.urb->data)->status = -ENOENT;
      u.done = true;
      umockdev_ioctl_client_complete(client, 0, 0);
      return;
    }
  }
  umockdev_ioctl_client_complete(client, -1, EINVAL);
}

}  // namespace varnsim
