// Finding the board controllers attached over USB (CoU). CoE boards are named on the
// command line and are not discovered.
#pragma once

#include <cstdint>

constexpr uint32_t VARN_COU_ADDRESS_SIZE = 32;      // "usb://BUS.ADDR"
constexpr uint32_t VARN_COU_DESCRIPTION_SIZE = 32;  // string descriptor 3, or "<unk>"

// Arguments as for VARNJtagDiscoverCoUDevices; always 0 with the count 0.
int VARNJtagDiscoverCoEDevices(char** addresses, char** descriptions, uint8_t* flags, uint32_t* count,
                               uint32_t capacity);
// Fills up to capacity entries (addresses and descriptions are arrays of capacity
// buffers of the sizes above) and counts every CoU controller present, also those
// beyond the capacity. 0, or 7 when libusb cannot be initialised or cannot list devices.
int VARNJtagDiscoverCoUDevices(char** addresses, char** descriptions, uint8_t* flags, uint32_t* count,
                               uint32_t capacity);
// Ends libusb's default context when the discovery started it; nothing otherwise.
void VARNJtagCleanup();
