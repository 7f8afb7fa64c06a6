// Board rails and sensors through the I2C controllers (Xilinx AXI IIC) and system
// monitor inside the FPGA design, reached over the FPGA's AXI link. Two board
// families: LR (controller at 0x9000, temperature sensors, potentiometers, system
// monitor) and ZK (controller at 0xA000, regulator controllers at 0x4D and 0x4F).
// Rails: 0 = VCCINT, 1 = VCCBRAM, 2 = VCCHBM. Every operation returns 0 on success
// and 1 on failure; readings come back through the pointer. Not locked: one thread
// drives them per link.
#pragma once

#include <cstdint>

struct _VARNAXI;

// Potentiometer code -> rail voltage, filled on first use.
extern double LRVCCINTTbl[256];
extern double LRVCCBRAMTbl[256];
extern double LRVCCHBMTbl[256];
extern bool _LRVoltTablesInitialized;
void _VARNLRVoltTablesInit();

// Register-level I2C transfers. address7 is the 7-bit device address.
int _VARNLRI2CWrite(_VARNAXI* axi, uint8_t address7, const uint8_t* data, uint8_t count);
int _VARNZKI2CWrite(_VARNAXI* axi, uint8_t address7, const uint8_t* data, uint8_t count);
int _VARNLRI2CRead(_VARNAXI* axi, uint8_t address7, uint8_t* buffer, uint8_t count);
int _VARNZKI2CRead(_VARNAXI* axi, uint8_t address7, uint8_t* buffer, uint8_t count);
// ZK regulator register read: command 0xD0, register low byte, high byte, then a
// repeated start and `count` bytes.
int _VARNZKI2CReadEx(_VARNAXI* axi, uint8_t address7, uint16_t reg, uint8_t* buffer, uint8_t count);

double ConvIICTemp(uint8_t upper, uint8_t lower);
double ConvVolt(uint32_t raw);
// The code the LR potentiometer of `rail` is given for `volts` (the fixed search).
uint8_t _VARNLRVoltToCode(uint8_t rail, double volts);

int _VARNLRTempRead(_VARNAXI* axi, uint8_t rail, double* out);
int _VARNLRVoltRead(_VARNAXI* axi, uint8_t rail, double* out);
int _VARNLRAmpRead(_VARNAXI* axi, uint8_t rail, double* out);
int _VARNZKTempRead(_VARNAXI* axi, uint8_t rail, double* out);
int _VARNZKVoltRead(_VARNAXI* axi, uint8_t rail, double* out);
int _VARNZKAmpRead(_VARNAXI* axi, uint8_t rail, double* out);

int _VARNLRVoltWrite(_VARNAXI* axi, uint8_t rail, double volts);
int _VARNZKVoltWrite(_VARNAXI* axi, uint8_t rail, double volts);
// Move a rail by `hundredths` of a volt from its present reading, with an upper cap
// per rail and the regulators' floors below (VCCINT and VCCBRAM 0.6 V, VCCHBM 0.9 V).
// VARN_RAIL_READ_FAILED, writing nothing, when the present reading fails: the caller
// keeps the steps for a later reading.
constexpr int VARN_RAIL_READ_FAILED = 2;
inline double varnRailFloor(int rail, double target) {
  const double floor = rail == 2 ? 0.9 : 0.6;
  return rail >= 0 && rail <= 2 && target < floor ? floor : target;
}
int _VARNLRVoltChg(_VARNAXI* axi, int8_t rail, int hundredths);
int _VARNZKVoltChg(_VARNAXI* axi, uint8_t rail, int hundredths);

// One-time regulator configuration of a ZK module, chosen by its identifier.
int _VARNZKPatch(_VARNAXI* axi);
