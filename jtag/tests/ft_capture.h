// A test double of the D2XX calls, linked into unit tests in place of the driver: it
// records every call and every written byte, serves scripted reply bytes, and fails
// on request. One global instance; tests reset it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ftdi/ftd2xx.h"

namespace ftcap {

struct ListedDevice {
  uint32_t id;  // (VID << 16) | PID
  std::string serial;
  std::string description;
  FT_STATUS detailStatus = FT_OK;
};

struct State {
  std::vector<std::string> calls;          // "FT_Write 12", "FT_SetLatencyTimer 4", ...
  std::vector<uint8_t> written;            // every byte of every successful FT_Write
  std::vector<std::vector<uint8_t>> writes;  // one entry per FT_Write call
  std::deque<uint8_t> replies;             // served by FT_Read first
  bool padReads = true;                    // then pad with padByte up to the length asked
  uint8_t padByte = 0;
  // Optional: called on each FT_Write with its bytes, may push replies.
  std::function<void(const uint8_t*, size_t)> onWrite;
  FT_STATUS writeStatus = FT_OK;           // returned by FT_Write (bytes then not recorded)
  FT_STATUS readStatus = FT_OK;
  uint32_t maxWriteChunk = 0;              // >0: FT_Write takes at most this many bytes
  uint32_t maxReadChunk = 0;               // >0: FT_Read returns at most this many bytes
  int readCalls = 0;
  int writeCalls = 0;
  uint64_t bytesWritten = 0;
  bool countOnly = false;                  // benchmarks: count bytes, keep nothing
  // Device information.
  FT_STATUS infoStatus = FT_OK;
  uint32_t infoId = 0x04036014;
  std::vector<ListedDevice> list;
  FT_STATUS listStatus = FT_OK;
  // Companion UART.
  std::deque<uint8_t> uartRx;              // what FT_GetStatus reports and FT_Read serves on a UART handle
  FT_HANDLE uartHandle = nullptr;
  std::vector<uint8_t> uartWritten;
  FT_STATUS statusStatus = FT_OK;
};

State& state();
void reset();
// Call names only, for order checks.
std::vector<std::string> callNames();

}  // namespace ftcap
