// Everything the program knows about its boards and their FPGAs, as fixed-size global
// tables indexed [board][device]. The board scan fills the identity entries, each
// board thread owns the live state of its devices, the main loop and the console view
// read them and post requests into them.
//
// No table is locked: every entry has one writer at a time and is read and written
// whole, so the cells are relaxed atomics (regLoad/regStore below keep call sites
// short). The byte and text tables (serials, names, DNA, USER128) are plain arrays:
// only the scan writes them, on the main thread before any board thread exists, and
// only the main thread reads them afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "app/platform/varn_platform.h"
#include "jtag/varn_jtag.h"

struct _VARNAXI;
struct VARNAXIBridge;

constexpr int MAX_BOARDS = 64;
constexpr int MAX_DEVICES = 4;
constexpr int MAX_SLRS = 4;
constexpr int MAX_RAILS = 3;         // 0 VCCINT, 1 VCCBRAM, 2 VCCHBM
constexpr int BOARD_SOCKETS = 8;     // entry d: device d's listener, entry 4+d: its client or pair end
constexpr int BOARD_PORTS = 8;       // only the first MAX_DEVICES are used
constexpr int SERIAL_TEXT_SIZE = 16; // copied as 16 raw bytes, terminated only when shorter
constexpr int DEVICE_NAME_SIZE = 32;
constexpr int DNA_SIZE = 12;
constexpr int USER128_SIZE = 16;

// deviceUserCode before the first successful read.
constexpr uint32_t VARN_USER_CODE_NONE = 0xFFFFFFFFu;

// Load state of a device, one bit per state; 0 = board thread not started.
enum VARNDeviceState : uint8_t {
  Waiting = 1,
  Programming = 2,
  ProgrammingDone = 4,
  DeviceNotValid = 8,
  BitLoadFailed = 16,
};

// --- per board -------------------------------------------------------------------
extern std::atomic<int> boardCnt;
extern std::atomic<VARNJtag*> varnJtags[MAX_BOARDS];
extern std::atomic<uint8_t> devCounts[MAX_BOARDS];
extern char deviceFTDISerials[MAX_BOARDS][SERIAL_TEXT_SIZE];
extern int bid[MAX_BOARDS];
// Board threads are detached once started: nothing ever joins them, and a joinable
// std::thread left in a global would end the process from its destructor at exit.
extern std::thread::id boardThreads[MAX_BOARDS];
extern std::atomic<uint16_t> ports[MAX_BOARDS][BOARD_PORTS];
// Socket entries; 0 = none.
extern std::atomic<varn_socket> masters[MAX_BOARDS][BOARD_SOCKETS];
extern std::atomic<varn_socket> bridges[MAX_BOARDS][BOARD_SOCKETS];

// --- per device ------------------------------------------------------------------
extern std::atomic<uint8_t> deviceStates[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceInitialized[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint32_t> deviceUserCode[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceBitstreamLoadReq[MAX_BOARDS][MAX_DEVICES];
extern VARNProgressCell deviceLoadStatus[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint32_t> deviceTxBytes[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint32_t> deviceRxBytes[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint32_t> deviceIDCodes[MAX_BOARDS][MAX_DEVICES];
extern char deviceName[MAX_BOARDS][MAX_DEVICES][DEVICE_NAME_SIZE];
extern uint8_t deviceDNAs[MAX_BOARDS][MAX_DEVICES][DNA_SIZE];
extern std::atomic<uint32_t> deviceUserFuse[MAX_BOARDS][MAX_DEVICES];
extern uint8_t deviceUser128Fuse[MAX_BOARDS][MAX_DEVICES][USER128_SIZE];
extern std::atomic<uint32_t> slrCounts[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<_VARNAXI*> localAXI[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> localAXIIsLR[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> localAXIIsZK[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<VARNAXIBridge*> axiBridges[MAX_BOARDS][MAX_DEVICES];

// Pending 10 mV step requests per rail: counted up by the console view, taken (read
// and zeroed in one step, regTakeRequests) by the side that applies them.
extern std::atomic<uint8_t> deviceVCCINTIncReq[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceVCCINTDecReq[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceVCCBRAMIncReq[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceVCCBRAMDecReq[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceVCCHBMIncReq[MAX_BOARDS][MAX_DEVICES];
extern std::atomic<uint8_t> deviceVCCHBMDecReq[MAX_BOARDS][MAX_DEVICES];

// --- per SLR and per rail ------------------------------------------------------------
extern std::atomic<double> telemetryTemps[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
extern std::atomic<double> telemetryVolts[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
extern std::atomic<double> telemetryHighTemps[MAX_BOARDS][MAX_DEVICES][MAX_SLRS];
extern std::atomic<double> telemetryVRMTemps[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
extern std::atomic<double> telemetryVRMVolts[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
extern std::atomic<double> telemetryVRMAmps[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];
extern std::atomic<uint8_t> telemetryVRMValid[MAX_BOARDS][MAX_DEVICES][MAX_RAILS];

// --- access ----------------------------------------------------------------------------
template <typename T>
inline T regLoad(const std::atomic<T>& cell) {
  return cell.load(std::memory_order_relaxed);
}

template <typename T, typename V>
inline void regStore(std::atomic<T>& cell, V value) {
  cell.store(static_cast<T>(value), std::memory_order_relaxed);
}

// Counters that only their one writer adds to (byte counts).
inline void regAdd(std::atomic<uint32_t>& cell, uint32_t amount) {
  cell.fetch_add(amount, std::memory_order_relaxed);
}

// Counts one step request up. A counter that already holds 255 pending steps stays
// there (returns false) instead of wrapping round to 0 and losing all of them.
inline bool regCountRequest(std::atomic<uint8_t>& counter) {
  uint8_t seen = counter.load(std::memory_order_relaxed);
  do {
    if (seen == UINT8_MAX) return false;
  } while (!counter.compare_exchange_weak(seen, static_cast<uint8_t>(seen + 1), std::memory_order_relaxed));
  return true;
}

// Takes every pending step request: reads and zeroes in one exchange, so a request
// counted up between a separate read and zeroing cannot be lost.
inline uint8_t regTakeRequests(std::atomic<uint8_t>& counter) {
  return counter.exchange(0, std::memory_order_relaxed);
}

// --- start-up ---------------------------------------------------------------------------

// The first step of main: no board counted, no JTAG handle.
void VARNRegistryClearBoardCounts();

// Before the scan: all 64 boards' socket entries, local AXI links, AXI bridges,
// load requests and the six step-request tables back to zero.
void VARNRegistryClearBoardTables();

// Every table back to its start value, boardCnt included (tests that register boards
// more than once in one process).
void VARNRegistryReset();
