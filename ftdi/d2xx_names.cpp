#include "ftdi/d2xx_names.h"

#include <cstring>

namespace varn_d2xx {

bool isSupportedProduct(uint16_t vid, uint16_t pid) {
  return vid == kFtdiVid && (pid == kPidFt2232H || pid == kPidFt4232H || pid == kPidFt232H);
}

int channelCount(uint16_t pid, uint8_t interfaces) {
  if (interfaces >= 1 && interfaces <= 4) return interfaces;
  switch (pid) {
    case kPidFt2232H: return 2;
    case kPidFt4232H: return 4;
    default: return 1;
  }
}

FT_DEVICE deviceType(uint16_t bcdDevice) {
  switch (bcdDevice >> 8) {
    case 0x02: return FT_DEVICE_AM;
    case 0x04: return FT_DEVICE_BM;
    case 0x05: return FT_DEVICE_2232C;
    case 0x06: return FT_DEVICE_232R;
    case 0x07: return FT_DEVICE_2232H;
    case 0x08: return FT_DEVICE_4232H;
    case 0x09: return FT_DEVICE_232H;
    default: return FT_DEVICE_UNKNOWN;
  }
}

// Copies at most max characters of src and terminates; returns the length written.
static size_t copyCut(char* out, const char* src, size_t max) {
  size_t n = src ? strnlen(src, max) : 0;
  if (n > 0) memcpy(out, src, n);
  out[n] = '\0';
  return n;
}

void channelSerial(const char* chipSerial, int channel, int channels, char out[FT_SERIAL_SIZE]) {
  if (channels <= 1) {
    copyCut(out, chipSerial, FT_SERIAL_SIZE - 1);
    return;
  }
  // Room for the letter and the NUL: the vendor driver keeps 14 characters.
  size_t n = copyCut(out, chipSerial, FT_SERIAL_SIZE - 2);
  out[n] = char('A' + channel);
  out[n + 1] = '\0';
}

void channelDescription(const char* chipDescription, int channel, int channels, char out[FT_DESCRIPTION_SIZE]) {
  if (channels <= 1) {
    copyCut(out, chipDescription, FT_DESCRIPTION_SIZE - 1);
    return;
  }
  size_t n = copyCut(out, chipDescription, FT_DESCRIPTION_SIZE - 3);
  out[n] = ' ';
  out[n + 1] = char('A' + channel);
  out[n + 2] = '\0';
}

}  // namespace varn_d2xx
