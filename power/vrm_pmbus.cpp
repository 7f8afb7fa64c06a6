// Which regulator feeds which rail, and the register transfers to it through the board
// controller's I2C service.
#include <cstring>

#include "app/log/varn_log.h"
#include "jtag/jtag_tables.h"
#include "jtag/transport.h"
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
  if (!jtag || device >= jtag->deviceCount || device >= uint32_t(VARN_JTAG_MAX_DEVICES)) return VARN_VRM_BAD_ARGUMENT;
  int32_t type = jtag->deviceType[device];
  if (type < 0 || type >= JTAG_DEVICE_ROWS) return VARN_VRM_UNKNOWN_DEVICE;
  // The regulators hang off the board controller's I2C buses.
  if (jtag->transport->i2c == varn_jtag_unsupported_i2c) return VARN_VRM_NOT_SUPPORTED;
  return VARN_VRM_OK;
}

static void warnIfOdd(uint16_t reg) {
  if (reg & 1) VARNLog("I2C Address Not 16 bit aligned\n");
}

int _VARNVRMQueueRead(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint8_t answer[16],
                      uint32_t* len) {
  warnIfOdd(reg);
  const uint8_t request[3] = {kRegisterCommand, uint8_t(reg), uint8_t(reg >> 8)};
  // Room for more than asked, so that a reply of the wrong size is seen as such.
  *len = 0;
  return jtag->transport->i2c(jtag, device, address7, 2, request, sizeof request, answer, len, 16) == 0
             ? VARN_VRM_OK
             : VARN_VRM_TRANSFER_FAILED;
}

int _VARNVRMReadBytes(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint8_t out[2]) {
  uint8_t answer[16];
  uint32_t len = 0;
  if (_VARNVRMQueueRead(jtag, device, address7, reg, answer, &len) != 0 || len != 2) return VARN_VRM_TRANSFER_FAILED;
  out[0] = answer[0];
  out[1] = answer[1];
  return VARN_VRM_OK;
}

int _VARNVRMWrite(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t value) {
  warnIfOdd(reg);
  const uint8_t request[6] = {kRegisterCommand, kRegisterWrite, uint8_t(reg), uint8_t(reg >> 8), uint8_t(value),
                              uint8_t(value >> 8)};
  int rc = jtag->transport->i2c(jtag, device, address7, 0, request, sizeof request, nullptr, nullptr, 0);
  // A write the controller refused did not happen: reporting it as done would leave
  // the caller believing in a rail voltage that is not there.
  return rc == 0 ? VARN_VRM_OK : VARN_VRM_TRANSFER_FAILED;
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

const char* VARNVrmResultText(int code) {
  switch (code) {
    case VARN_VRM_OK: return "ok";
    case VARN_VRM_UNKNOWN_DEVICE: return "device type not in the table";
    case VARN_VRM_NOT_SUPPORTED: return "no board controller, or not supported";
    case VARN_VRM_BAD_ARGUMENT: return "bad index, rail or value";
    case VARN_VRM_TRANSFER_FAILED: return "regulator transfer failed";
    default: return "unknown result";
  }
}
