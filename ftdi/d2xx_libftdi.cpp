// The USB layer over libftdi1/libusb (placeholder until it lands).
#include <ftdi.h>
