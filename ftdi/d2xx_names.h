// How the vendor driver presents a chip's channels in its device list: the serial
// and description of each channel, the combined ID and the device type.
#pragma once

#include <cstdint>

#include "ftdi/ftd2xx.h"

namespace varn_d2xx {

constexpr uint16_t kFtdiVid = 0x0403;
constexpr uint16_t kPidFt2232H = 0x6010;
constexpr uint16_t kPidFt4232H = 0x6011;
constexpr uint16_t kPidFt232H = 0x6014;

// True for the products the library lists (FT2232H, FT4232H, FT232H).
bool isSupportedProduct(uint16_t vid, uint16_t pid);

// Channels the chip offers: its interface count when the descriptor gives a
// plausible one (1..4), else what the product has (FT232H 1, FT2232H 2, FT4232H 4).
int channelCount(uint16_t pid, uint8_t interfaces);

// Device type from bcdDevice (0x0700 2232H, 0x0800 4232H, 0x0900 232H, ...).
FT_DEVICE deviceType(uint16_t bcdDevice);

inline DWORD deviceId(uint16_t vid, uint16_t pid) { return (DWORD(vid) << 16) | pid; }

// Channel serial: on a multi-channel chip at most 14 characters of the chip's serial
// followed by the channel letter ("FT1234AB" -> "FT1234ABA"; no serial -> "A");
// a single-channel chip keeps its serial (at most 15 characters). Always
// NUL-terminated within FT_SERIAL_SIZE bytes.
void channelSerial(const char* chipSerial, int channel, int channels, char out[FT_SERIAL_SIZE]);

// Channel description: on a multi-channel chip the product text, a space and the
// letter ("Dual RS232-HS B"), cut so the whole fits FT_DESCRIPTION_SIZE bytes with
// its NUL; a single-channel chip keeps the text unchanged (cut to 63 characters).
void channelDescription(const char* chipDescription, int channel, int channels, char out[FT_DESCRIPTION_SIZE]);

}  // namespace varn_d2xx
