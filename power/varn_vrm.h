// The FPGA rails' regulators (Infineon-style PMBus VRM/PMIC) of boards reached through a
// CoE board controller: readings, set points and the one-time module patches. Their
// 16-bit registers are reached with command byte 0xD0 and the register number, through
// the controller's I2C transfers (0x1110) on the device's CoE slot.
//
// VRM rails: 0 = VCCINT, 2 = VCCBRAM, 4 = VCCHBM.
// Results: 0 success; 2 the device's type is not in the device table; 3 no CoE link, or
// not supported; 4 device index out of range, rail not valid or not present on the
// device type, or a value that the register cannot hold; 7 the transfer failed or the
// reply did not carry 2 bytes. Checks run in that order: index, type, link, rail.
#pragma once

#include <cstdint>

struct VARNJtag;

constexpr int VARN_VRM_OK = 0;
constexpr int VARN_VRM_UNKNOWN_DEVICE = 2;
constexpr int VARN_VRM_NOT_SUPPORTED = 3;
constexpr int VARN_VRM_BAD_ARGUMENT = 4;
constexpr int VARN_VRM_TRANSFER_FAILED = 7;
// A short text for a result code, for log lines.
const char* VARNVrmResultText(int code);

constexpr uint32_t VARN_VRM_VCCINT = 0;
constexpr uint32_t VARN_VRM_VCCBRAM = 2;
constexpr uint32_t VARN_VRM_VCCHBM = 4;

// Regulator registers (page p adds p * 0x400, limits p * 400).
constexpr uint16_t VARN_VRM_REG_VOUT = 0x0716;
constexpr uint16_t VARN_VRM_REG_IOUT = 0x0718;
constexpr uint16_t VARN_VRM_REG_TEMP = 0x071A;
constexpr uint16_t VARN_VRM_REG_VOUT_TARGET = 0x0642;
constexpr uint16_t VARN_VRM_REG_OV_LIMIT = 0x06AA;
constexpr uint16_t VARN_VRM_REG_OC_LIMIT = 0x068C;
constexpr uint16_t VARN_VRM_REG_MODULE_ID = 0x003C;

// The regulator feeding a rail of a device row: 7-bit I2C address (0 = none) and page.
uint8_t _VARNVRMRailI2CAddr(int32_t deviceType, uint32_t rail);
uint8_t _VARNVRMRailI2CPage(int32_t deviceType, uint32_t rail);

// Raw register access. *value = first reply byte << 8 | second reply byte.
int VARNInfineonI2CRead(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t* value);
int VARNInfineonI2CWrite(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t value);

// 0 when the device type has a regulator for the rail, else 4.
int VARNJtagHasVRMRail(VARNJtag* jtag, uint32_t device, uint32_t rail);

// Readings; the output is written only on success.
int VARNJtagGetVRMTemp(VARNJtag* jtag, uint32_t device, uint32_t rail, double* celsius);
int VARNJtagGetVRMVoltage(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts);
int VARNJtagGetVRMCurrent(VARNJtag* jtag, uint32_t device, uint32_t rail, double* amps);

// Several readings gathered into one exchange with the board: on a CoE board the
// controller gets the requests back to back and is waited for once. Each reading's rc
// is what VARNJtagGetVRMTemp/Voltage/Current would return, and its output is written
// only on success. At most VARN_VRM_MAX_READINGS are read.
enum VARNVrmQuantity : uint8_t { VARN_VRM_TEMP, VARN_VRM_VOLTS, VARN_VRM_AMPS };
struct VARNVrmReading {
  uint32_t rail;
  VARNVrmQuantity quantity;
  double* out;
  int rc;
};
constexpr uint32_t VARN_VRM_MAX_READINGS = 16;
void VARNJtagGetVRMReadings(VARNJtag* jtag, uint32_t device, VARNVrmReading* readings, uint32_t count);

int VARNJtagSetVRMVoltSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double volts);
// Xilinx devices, rails 0 and 2.
int VARNJtagSetVRMVoltOVSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double volts);
// Rail 4 of "VU33P", "VU35P" and "MX2100".
int VARNJtagSetVRMOCSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double amps);

// Not supported by the regulators' register map as used here: always 3.
int VARNJtagGetVRMVoltSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts);
int VARNJtagGetVRMVoltUVSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts);
int VARNJtagSetVRMVoltUVSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double volts);
int VARNJtagGetVRMVoltOVSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double* volts);
int VARNJtagGetVRMOCSetpoint(VARNJtag* jtag, uint32_t device, uint32_t rail, double* amps);

// Reads the module identifier and writes the fixes that module generation needs.
int VARNJtagApplyVRMPMICPatches(VARNJtag* jtag, uint32_t device);
