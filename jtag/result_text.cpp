#include "jtag/varn_jtag.h"

const char* VARNJtagResultText(int code) {
  switch (code) {
    case VARN_JTAG_OK: return "ok";
    case VARN_JTAG_NO_DEVICE_INFO: return "no FTDI device information";
    case VARN_JTAG_UNKNOWN_DEVICE: return "device or chip not known";
    case VARN_JTAG_NOT_SUPPORTED: return "not supported for this device or transport";
    case VARN_JTAG_BAD_ARGUMENT: return "bad index or argument";
    case VARN_JTAG_TRANSFER_FAILED: return "transfer failed";
    case VARN_JTAG_NO_DATA: return "no data";
    case VARN_JTAG_NO_RESOURCES: return "out of memory or link not connected";
    case VARN_JTAG_POLL_LIMIT: return "poll limit reached";
    default: return "unknown result";
  }
}
