#include "coe/coe_discovery.h"

#include <cstdio>
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

int VARNJtagDiscoverCoEDevices(char**, char**, uint8_t*, uint32_t* count, uint32_t) {
  if (count) *count = 0;
  return 0;
}

#ifdef _WIN32

int VARNJtagDiscoverCoUDevices(char**, char**, uint8_t*, uint32_t* count, uint32_t) {
  if (count) *count = 0;
  return 0;
}
void VARNJtagCleanup() {}

#else

#include <libusb.h>

// Discovery and clean-up run on one thread at a time (start-up, the console's quit key).
static uint8_t didInitLibUSB = 0;

int VARNJtagDiscoverCoUDevices(char** addresses, char** descriptions, uint8_t* flags, uint32_t* count,
                               uint32_t capacity) {
  uint32_t found = 0;
  if (count) *count = 0;
  if (!addresses || !descriptions || !flags) capacity = 0;
  if (!didInitLibUSB) {
    if (libusb_init(nullptr) != 0) return 7;
    didInitLibUSB = 1;
  }
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(nullptr, &list);
  if (n < 0) return 7;
  for (ssize_t i = 0; i < n; i++) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0) {
      VARNLog("Failed to read USB device descriptor\n");
      continue;
    }
    if (d.idVendor != VN_COU_VENDOR || d.idProduct != VN_COU_PRODUCT) continue;
    int bus = libusb_get_bus_number(list[i]);
    int address = libusb_get_device_address(list[i]);
    VARNLog("Found CoU Device at %d:%d\n", bus, address);
    if (found < capacity) {
      std::snprintf(addresses[found], VARN_COU_ADDRESS_SIZE, "usb://%d.%d", bus, address);
      std::snprintf(descriptions[found], VARN_COU_DESCRIPTION_SIZE, "<unk>");
      libusb_device_handle* h = nullptr;
      if (libusb_open(list[i], &h) == 0) {
        unsigned char text[VARN_COU_DESCRIPTION_SIZE];
        int len = libusb_get_string_descriptor_ascii(h, 3, text, sizeof(text));
        if (len > 0) {
          if (len >= static_cast<int>(sizeof(text))) len = sizeof(text) - 1;
          std::memcpy(descriptions[found], text, static_cast<size_t>(len));
          descriptions[found][len] = '\0';
        }
        libusb_close(h);
      }
      flags[found] = 0;
    }
    found++;
  }
  libusb_free_device_list(list, 1);
  if (count) *count = found;
  return 0;
}

void VARNJtagCleanup() {
  if (!didInitLibUSB) return;
  libusb_exit(nullptr);
  didInitLibUSB = 0;
}

#endif
