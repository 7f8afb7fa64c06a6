#include "coe/coe_setup.h"

#include "app/log/varn_log.h"
#include "coe/coe_request.h"

int VNCoESetupBus(_VNCoELink* link, uint32_t hz) {
  int rc = VNCoESetJtagClock(link, hz);
  if (rc != 0) {
    VARNLog("Failed to set CoE JTAG Speed to %i\n", static_cast<int>(hz));
    return rc;
  }
  rc = VNCoESetJtagMode(link, VN_COE_JTAG_MODE_DEVICES);
  if (rc != 0) {
    VARNLog("Failed to set CoE JTAG Mode to Device Abstraction\n");
    return rc;
  }
  VARNLog("CoE JTAG Initialized to %i MHz\n", static_cast<int>(hz));
  return 0;
}

void VNCoESetupDevices(_VNCoELink* link, const int32_t* irLength, uint8_t* slot, uint32_t count, bool findSlot) {
  if (VNCoESetIrLengths(link, irLength, count) != 0) VARNLog("Failed settings CoE IR Lengths\n");
  const uint8_t none[2] = {0x00, 0x00};
  if (findSlot && count == 1 &&
      VNCoEI2C(link, VN_COE_I2C_PING_ADDRESS, 0, 0, none, sizeof none, nullptr, nullptr, 0) != 0) {
    VARNLog("One CoE Board Device, but I2C did not respond to ping on BusIdx 0 - Switching to Slot B\n");
    slot[0] = 1;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (VNCoEI2C(link, VN_COE_I2C_PING_ADDRESS, slot[i], 0, none, sizeof none, nullptr, nullptr, 0) != 0)
      VARNLog("Failed settings CoE dev %i I2C\n", static_cast<int>(i));
    if (VNCoESetUartMode(link, slot[i]) != 0) VARNLog("Failed settings CoE dev %i UART Mode\n", static_cast<int>(i));
    if (VNCoESetUartRate(link, slot[i], VN_COE_UART_BAUD) != 0)
      VARNLog("Failed settings CoE dev %i UART Baudrate\n", static_cast<int>(i));
  }
}
