// The CoU transport: the controller's packet stream over a USB bulk interface. The link
// keeps a libusb context of its own; its thread is the only one that handles its events,
// requesters only submit OUT transfers.
#include <cstdlib>
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

bool _VNCoEParseCoUAddress(const char* address, unsigned* bus, unsigned* deviceAddress) {
  if (!address || std::strncmp(address, "usb://", 6) != 0) return false;
  const char* p = address + 6;
  unsigned values[2] = {0, 0};
  for (int i = 0; i < 2; i++) {
    if (*p < '0' || *p > '9') return false;
    unsigned v = 0;
    while (*p >= '0' && *p <= '9') {
      v = v * 10 + unsigned(*p - '0');
      if (v > 255) return false;  // bus numbers and device addresses are 8-bit
      p++;
    }
    values[i] = v;
    if (i == 0 && *p++ != '.') return false;
  }
  if (*p != '\0') return false;
  *bus = values[0];
  *deviceAddress = values[1];
  return true;
}

#ifdef _WIN32

void _VNCoUConnect(_VNCoELink* link) {
  VARNLog("ERROR: CoU is not supported on this platform\n");
  link->stop = 1;
}
void _VNCoURun(_VNCoELink*) {}
void _VNCoUClose(_VNCoELink*) {}
int _VNCoUSend(_VNCoELink*, const uint8_t*, uint32_t) { return -1; }

#else

#include <libusb.h>

static void releaseContext(_VNCoELink* link) {
  if (link->usbHandle) {
    libusb_release_interface(link->usbHandle, 0);
    libusb_close(link->usbHandle);
    link->usbHandle = nullptr;
  }
  if (link->usbDevice) {
    libusb_unref_device(link->usbDevice);
    link->usbDevice = nullptr;
  }
  if (link->usbContext) {
    libusb_exit(link->usbContext);
    link->usbContext = nullptr;
  }
}

void _VNCoUConnect(_VNCoELink* link) {
  unsigned bus = 0, deviceAddress = 0;
  if (!_VNCoEParseCoUAddress(link->address, &bus, &deviceAddress)) {
    VARNLog("ERROR: Invalid CoU address %s\n", link->address);
    link->stop = 1;
    return;
  }
  // A failed earlier attempt (or a device that went away) leaves nothing behind.
  releaseContext(link);
  if (libusb_init(&link->usbContext) != 0) {
    link->usbContext = nullptr;
    VARNLog("CoU Failed to init libusb_ctx!");
    link->stop = 1;
    return;
  }
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(link->usbContext, &list);
  if (count < 0) {
    VARNLog("ERROR: CoU Engine could not enumerate USB devices\n");
    return;
  }
  libusb_device* found = nullptr;
  for (ssize_t i = 0; i < count; i++) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
    if (d.idVendor == VN_COU_VENDOR && d.idProduct == VN_COU_PRODUCT && libusb_get_bus_number(list[i]) == bus &&
        libusb_get_device_address(list[i]) == deviceAddress) {
      found = list[i];
      break;
    }
  }
  if (!found) {
    VARNLog("ERROR: CoU Engine could not find %s\n", link->address);
    link->stop = 1;
    libusb_free_device_list(list, 1);
    return;
  }
  if (libusb_open(found, &link->usbHandle) != 0) {
    link->usbHandle = nullptr;
    VARNLog("ERROR: CoU failed to open %s\n", link->address);
    link->connected = 0;
    libusb_free_device_list(list, 1);
    return;
  }
  VARNLog("Opened CoU Device %s\n", link->address);
  int claim = libusb_claim_interface(link->usbHandle, 0);
  if (claim != 0) VARNLog("WARNING: CoU could not claim interface 0 of %s (%i)\n", link->address, claim);
  link->usbDevice = libusb_ref_device(found);
  if (libusb_kernel_driver_active(link->usbHandle, 0) == 1 || libusb_kernel_driver_active(link->usbHandle, 1) == 1)
    VARNLog("WARNING: CoU device already has an active kernel driver (%s)\n", link->address);
  libusb_clear_halt(link->usbHandle, VN_COU_EP_OUT);
  libusb_clear_halt(link->usbHandle, VN_COU_EP_IN);
  libusb_free_device_list(list, 1);
  link->usbDeviceGone = 0;
  std::lock_guard<std::mutex> hold(link->lock);
  link->dropRequested = 0;
  link->rxLen = 0;
  link->connected = 1;
  _VNCoELinkGreet(link);
}

void LIBUSB_CALL usbReadCb(libusb_transfer* transfer) {
  _VNCoELink* link = static_cast<_VNCoELink*>(transfer->user_data);
  // Time-outs too: an idle controller shows in the log as a read status line every
  // transfer time-out.
  if (transfer->status != LIBUSB_TRANSFER_COMPLETED) VARNLog("RX Transfer Status: %i\n", transfer->status);
  if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) link->usbDeviceGone = 1;
  link->usbReadStatus = transfer->status;
  link->usbReadLength = transfer->actual_length;
  link->usbReadDone = 1;
}

static void LIBUSB_CALL usbWriteCb(libusb_transfer* transfer) {
  _VNCoELink* link = static_cast<_VNCoELink*>(transfer->user_data);
  if (transfer->status != LIBUSB_TRANSFER_COMPLETED) VARNLog("TX Transfer Status: %i\n", transfer->status);
  if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) link->usbDeviceGone = 1;
  link->usbOutPending--;
  // LIBUSB_TRANSFER_FREE_BUFFER releases the copy of the packet with the transfer.
  libusb_free_transfer(transfer);
}

int _VNCoUSend(_VNCoELink* link, const uint8_t* data, uint32_t len) {
  if (!link->connected || !link->usbHandle) {
    VARNLog("CoU send without connection BUG\n");
    return -1;
  }
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  unsigned char* copy = static_cast<unsigned char*>(std::malloc(len));
  if (!transfer || !copy) {
    VARNLog("BUG: CoU send of %u bytes: out of memory\n", len);
    if (transfer) libusb_free_transfer(transfer);
    std::free(copy);
    _VNCoELinkMarkLost(link);
    return -1;
  }
  std::memcpy(copy, data, len);
  libusb_fill_bulk_transfer(transfer, link->usbHandle, VN_COU_EP_OUT, copy, static_cast<int>(len), usbWriteCb, link,
                            VN_COU_TRANSFER_TIMEOUT_MS);
  transfer->flags = LIBUSB_TRANSFER_FREE_BUFFER;
  link->usbOutPending++;
  int r = libusb_submit_transfer(transfer);
  if (r != 0) {
    link->usbOutPending--;
    VARNLog("BUG: CoU send of %u bytes to %s failed (%i)\n", len, link->address, r);
    libusb_free_transfer(transfer);
    _VNCoELinkMarkLost(link);
    return -1;
  }
  return 0;
}

static bool submitRead(_VNCoELink* link) {
  libusb_fill_bulk_transfer(link->usbIn, link->usbHandle, VN_COU_EP_IN, link->usbRxBuf, sizeof(link->usbRxBuf),
                            usbReadCb, link, VN_COU_TRANSFER_TIMEOUT_MS);
  int r = libusb_submit_transfer(link->usbIn);
  if (r != 0) {
    VARNLog("RX Transfer Status: %i\n", r);
    if (r == LIBUSB_ERROR_NO_DEVICE) link->usbDeviceGone = 1;
    return false;
  }
  return true;
}

// Handles events until the IN transfer and every OUT transfer have finished, so that
// no callback can run after the link's memory is gone. Bounded by the transfer time-out.
static void drainTransfers(_VNCoELink* link, bool inPending) {
  if (inPending) libusb_cancel_transfer(link->usbIn);
  uint64_t end = varn_monotonic_ns() + 2ull * VN_COU_TRANSFER_TIMEOUT_MS * 1000000ull;
  while ((inPending && !link->usbReadDone) || link->usbOutPending > 0) {
    if (varn_monotonic_ns() > end) break;
    timeval tv{0, 10000};
    libusb_handle_events_timeout_completed(link->usbContext, &tv, nullptr);
  }
}

void _VNCoURun(_VNCoELink* link) {
  link->usbIn = libusb_alloc_transfer(0);
  if (!link->usbIn) {
    VARNLog("ERROR: CoU out of memory for the receive transfer of %s\n", link->address);
    return;
  }
  link->usbReadDone = 0;
  bool inPending = submitRead(link);
  uint64_t checkpoint = varn_monotonic_ns();
  while (!link->stop && !link->dropRequested && !link->usbDeviceGone && inPending) {
    timeval tv{0, 10000};
    libusb_handle_events_timeout_completed(link->usbContext, &tv, nullptr);
    if (link->usbReadDone) {
      link->usbReadDone = 0;
      inPending = false;
      if (link->usbReadLength > 0)
        _VNCoELinkParsePacket(link, link->usbRxBuf, static_cast<uint32_t>(link->usbReadLength));
      // A failing endpoint must not turn the thread into a busy loop of resubmissions.
      if (link->usbReadStatus != LIBUSB_TRANSFER_COMPLETED && link->usbReadStatus != LIBUSB_TRANSFER_TIMED_OUT)
        varn_sleep_ms(10);
      if (!link->usbDeviceGone) inPending = submitRead(link);
    }
    _VNCoELinkKeepalive(link, &checkpoint);
  }
  {
    // No new OUT transfers once the connection is marked lost.
    std::lock_guard<std::mutex> hold(link->lock);
    _VNCoELinkMarkLost(link);
  }
  drainTransfers(link, inPending);
  libusb_free_transfer(link->usbIn);
  link->usbIn = nullptr;
  // A device that went away is looked for again by the next connection attempt; the
  // handle of the old one is of no more use.
  if (!link->stop) releaseContext(link);
}

void _VNCoUClose(_VNCoELink* link) { releaseContext(link); }

#endif
