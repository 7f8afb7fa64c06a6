// Which regulator feeds which rail, and the register transfers to it through the board
// controller's I2C service.
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag_handle.h"
#include "power/varn_vrm.h"
#include "power/vrm_internal.h"

namespace {

constexpr uint8_t kRegisterCommand = 0xD0;
constexpr uint8_t kRegisterWrite = 0x04;

struct RailMap {
  uint8_t addr[3];  // rails 0, 2, 4
  uint8_t page[3];
};

RailMap railMap(int32_t type) {
  switch (type) {
    case JTAG_DEV_VU33P:
    case JTAG_DEV_VU35P:
      return {{0x4D, 0x4D, 0x4F}, {0, 1, 0}};
    case JTAG_DEV_VU9P:
    case JTAG_DEV_VU13P:
    case JTAG_DEV_GX2800L:
    case JTAG_DEV_GX2800H:
      return {{0x4D, 0x4F, 0x00}, {0, 0, 0}};
    case JTAG_DEV_MX2100:
      return {{0x4D, 0x4F, 0x4D}, {0, 0, 1}};
    default:
      return {{0, 0, 0}, {0, 0, 0}};
  }
}

int railIndex(uint32_t rail) { return rail == 0 ? 0 : rail == 2 ? 1 : rail == 4 ? 2 : -1; }

}  // namespace

uint8_t _VARNVRMRailI2CAddr(int32_t deviceType, uint32_t rail) {
  int i = railIndex(rail);
  return i < 0 ? 0 : railMap(deviceType).addr[i];
}

uint8_t _VARNVRMRailI2CPage(int32_t deviceType, uint32_t rail) {
  int i = railIndex(rail);
  return i < 0 ? 0 : railMap(deviceType).page[i];
}

int _VARNVRMCheckDevice(VARNJtag* jtag, uint32_t device) {
  if (!jtag || device >= jtag->deviceCount || device >= uint32_t(VARN_JTAG_MAX_DEVICES)) return 4;
  int32_t type = jtag->deviceType[device];
  if (type < 0 || type >= JTAG_DEVICE_ROWS) return 2;
  if (!jtag->coeLink) return 3;
  return 0;
}

static void warnIfOdd(uint16_t reg) {
  if (reg & 1) VARNLog("I2C Address Not 16 bit aligned\n");
}

int _VARNVRMReadBytes(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint8_t out[2]) {
  warnIfOdd(reg);
  uint8_t bus = static_cast<uint8_t>(jtag->coeSlot[device] * 16);
  const uint8_t request[7] = {address7, bus, 0x02, 0x00, kRegisterCommand, uint8_t(reg), uint8_t(reg >> 8)};
  // Room for more than asked, so that a reply of the wrong size is seen as such.
  uint8_t answer[16];
  uint32_t len = 0;
  uint16_t command = 0;
  int rc = VNCoELinkTransaction(jtag->coeLink, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, VN_COE_FLAGS, request,
                                sizeof(request), &command, nullptr, answer, &len, sizeof(answer));
  // A negative answer carries the controller's error code, not register bytes.
  if (rc != VN_COE_OK || command == VN_COE_NAK || len != 2) return 7;
  out[0] = answer[0];
  out[1] = answer[1];
  return 0;
}

int _VARNVRMWrite(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t value) {
  warnIfOdd(reg);
  uint8_t bus = static_cast<uint8_t>(jtag->coeSlot[device] * 16);
  const uint8_t request[10] = {address7,      bus,          0x00,          0x00,          kRegisterCommand,
                               kRegisterWrite, uint8_t(reg), uint8_t(reg >> 8), uint8_t(value), uint8_t(value >> 8)};
  uint16_t command = 0;
  int rc = VNCoELinkTransaction(jtag->coeLink, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, VN_COE_FLAGS, request,
                                sizeof(request), &command, nullptr, nullptr, nullptr, 0);
  // A write the controller refused did not happen: reporting it as done would leave
  // the caller believing in a rail voltage that is not there.
  return rc == VN_COE_OK && command != VN_COE_NAK ? 0 : 7;
}

int VARNInfineonI2CRead(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t* value) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  uint8_t b[2];
  rc = _VARNVRMReadBytes(jtag, device, address7, reg, b);
  if (rc) return rc;
  if (value) *value = static_cast<uint16_t>(b[0] << 8 | b[1]);
  return 0;
}

int VARNInfineonI2CWrite(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t value) {
  int rc = _VARNVRMCheckDevice(jtag, device);
  if (rc) return rc;
  return _VARNVRMWrite(jtag, device, address7, reg, value);
}
