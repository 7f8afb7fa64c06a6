#include "app/registry/varn_registry.h"

#include <cstring>

std::atomic<int> boardCnt;
std::atomic<VARNJtag*> varnJtags[MAX_BOARDS];
std::atomic<uint8_t> devCounts[MAX_BOARDS];
char deviceFTDISerials[MAX_BOARDS][SERIAL_TEXT_SIZE];
int bid[MAX_BOARDS];
std::thread::id boardThreads[MAX_BOARDS];
std::atomic<uint16_t> ports[MAX_BOARDS][BOARD_PORTS];
std::atomic<varn_socket> masters[MAX_BOARDS][BOARD_SOCKETS];
std::atomic<varn_socket> bridges[MAX_BOARDS][BOARD_SOCKETS];

std::atomic<uint8_t> deviceStates[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceInitialized[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint32_t> deviceUserCode[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceBitstreamLoadReq[MAX_BOARDS][MAX_DEVICES];
VARNProgressCell deviceLoadStatus[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint32_t> deviceTxBytes[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint32_t> deviceRxBytes[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint32_t> deviceIDCodes[MAX_BOARDS][MAX_DEVICES];
char deviceName[MAX_BOARDS][MAX_DEVICES][DEVICE_NAME_SIZE];
uint8_t deviceDNAs[MAX_BOARDS][MAX_DEVICES][DNA_SIZE];
std::atomic<uint32_t> deviceUserFuse[MAX_BOARDS][MAX_DEVICES];
uint8_t deviceUser128Fuse[MAX_BOARDS][MAX_DEVICES][USER128_SIZE];
std::atomic<uint32_t> slrCounts[MAX_BOARDS][MAX_DEVICES];
std::atomic<_VARNAXI*> localAXI[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> localAXIIsLR[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> localAXIIsZK[MAX_BOARDS][MAX_DEVICES];
std::atomic<VARNAXIBridge*> axiBridges[MAX_BOARDS][MAX_DEVICES];

std::atomic<uint8_t> deviceVCCINTIncReq[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceVCCINTDecReq[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceVCCBRAMIncReq[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceVCCBRAMDecReq[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceVCCHBMIncReq[MAX_BOARDS][MAX_DEVICES];
std::atomic<uint8_t> deviceVCCHBMDecReq[MAX_BOARDS][MAX_DEVICES];

std::atomic<double> telemetryTemps[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
std::atomic<double> telemetryVolts[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
std::atomic<double> telemetryHighTemps[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
std::atomic<double> telemetryVRMTemps[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
std::atomic<double> telemetryVRMVolts[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
std::atomic<double> telemetryVRMAmps[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
std::atomic<uint8_t> telemetryVRMValid[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];

// Stores `value` into every cell of a table of any shape.
template <typename T, size_t N, typename V>
static void fill(std::atomic<T> (&table)[N], V value) {
  for (auto& cell : table) regStore(cell, value);
}
template <typename Row, size_t N, typename V>
static void fill(Row (&table)[N], V value) {
  for (auto& row : table) fill(row, value);
}

void VARNRegistryClearBoardCounts() {
  fill(devCounts, 0);
  fill(varnJtags, nullptr);
}

void VARNRegistryClearBoardTables() {
  fill(masters, 0);
  fill(bridges, 0);
  fill(localAXI, nullptr);
  fill(axiBridges, nullptr);
  fill(deviceBitstreamLoadReq, 0);
  fill(deviceVCCINTIncReq, 0);
  fill(deviceVCCINTDecReq, 0);
  fill(deviceVCCBRAMIncReq, 0);
  fill(deviceVCCBRAMDecReq, 0);
  fill(deviceVCCHBMIncReq, 0);
  fill(deviceVCCHBMDecReq, 0);
}

void VARNRegistryReset() {
  regStore(boardCnt, 0);
  VARNRegistryClearBoardCounts();
  VARNRegistryClearBoardTables();
  std::memset(deviceFTDISerials, 0, sizeof(deviceFTDISerials));
  std::memset(bid, 0, sizeof(bid));
  for (auto& id : boardThreads) id = std::thread::id();
  fill(ports, 0);
  fill(deviceStates, 0);
  fill(deviceInitialized, 0);
  fill(deviceUserCode, 0);
  fill(deviceLoadStatus, 0.0);
  fill(deviceTxBytes, 0);
  fill(deviceRxBytes, 0);
  fill(deviceIDCodes, 0);
  std::memset(deviceName, 0, sizeof(deviceName));
  std::memset(deviceDNAs, 0, sizeof(deviceDNAs));
  fill(deviceUserFuse, 0);
  std::memset(deviceUser128Fuse, 0, sizeof(deviceUser128Fuse));
  fill(slrCounts, 0);
  fill(localAXIIsLR, 0);
  fill(localAXIIsZK, 0);
  fill(telemetryTemps, 0.0);
  fill(telemetryVolts, 0.0);
  fill(telemetryHighTemps, 0.0);
  fill(telemetryVRMTemps, 0.0);
  fill(telemetryVRMVolts, 0.0);
  fill(telemetryVRMAmps, 0.0);
  fill(telemetryVRMValid, 0);
}
