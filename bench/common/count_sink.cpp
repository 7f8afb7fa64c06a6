#include <cstring>

#include "bench/common/count_sink.h"
#include "ftdi/ftd2xx.h"

namespace countsink {
Counters& counters() {
  static Counters c;
  return c;
}
}  // namespace countsink

using countsink::counters;

FT_STATUS FT_Reload(WORD, WORD) { return FT_OK; }
FT_STATUS FT_CreateDeviceInfoList(LPDWORD n) {
  *n = 0;
  return FT_OK;
}
FT_STATUS FT_GetDeviceInfoDetail(DWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPVOID, LPVOID, FT_HANDLE*) {
  return FT_DEVICE_NOT_FOUND;
}
FT_STATUS FT_Open(int, FT_HANDLE*) { return FT_DEVICE_NOT_FOUND; }
FT_STATUS FT_Close(FT_HANDLE) { return FT_OK; }
FT_STATUS FT_GetDeviceInfo(FT_HANDLE, FT_DEVICE*, LPDWORD id, PCHAR, PCHAR, LPVOID) {
  *id = 0x04036014;
  return FT_OK;
}
FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR) { return FT_OK; }
FT_STATUS FT_SetTimeouts(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
FT_STATUS FT_SetUSBParameters(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
FT_STATUS FT_Purge(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_SetBaudRate(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_Write(FT_HANDLE, LPVOID, DWORD n, LPDWORD done) {
  counters().writeCalls++;
  counters().bytesWritten += n;
  *done = n;
  return FT_OK;
}
FT_STATUS FT_Read(FT_HANDLE, LPVOID data, DWORD n, LPDWORD done) {
  counters().readCalls++;
  std::memset(data, counters().readFill, n);
  *done = n;
  return FT_OK;
}
FT_STATUS FT_GetStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* ev) {
  *rx = *tx = *ev = 0;
  return FT_OK;
}
