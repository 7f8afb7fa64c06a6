// Windows: the FT_* calls go to the vendor's D2XX driver DLL, loaded when the first call
// is made, so the program starts (and serves CoE boards) on a host without the driver.
// The simulated D2XX library builds as a DLL of the same name: put it beside the
// program, or first on PATH, to drive simulated boards.
#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "ftdi/ftd2xx.h"

namespace {

constexpr const char* kDll = "ftd2xx.dll";

HMODULE driver() {
  static HMODULE module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    module = LoadLibraryA(kDll);
    if (module == nullptr) {
      std::fprintf(stderr,
                   "FTDI driver %s could not be loaded (Windows error %lu): install FTDI's D2XX driver for USB "
                   "boards; CoE boards work without it\n",
                   kDll, GetLastError());
    }
  });
  return module;
}

FARPROC entry(const char* name) {
  HMODULE m = driver();
  if (m == nullptr) return nullptr;
  FARPROC f = GetProcAddress(m, name);
  if (f == nullptr) std::fprintf(stderr, "FTDI driver %s has no %s (Windows error %lu)\n", kDll, name, GetLastError());
  return f;
}

}  // namespace

// Each call finds its entry once; without the DLL or the entry it fails as the driver
// does for a device it cannot reach.
#define VARN_FT_FORWARD(name, params, args)                                \
  VARN_FT_API FT_STATUS name params {                                      \
    using Fn = FT_STATUS(WINAPI*) params;                                  \
    static const Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(entry(#name))); \
    return fn != nullptr ? fn args : FT_DEVICE_NOT_FOUND;                  \
  }

VARN_FT_FORWARD(FT_Reload, (WORD wVid, WORD wPid), (wVid, wPid))
VARN_FT_FORWARD(FT_CreateDeviceInfoList, (LPDWORD lpdwNumDevs), (lpdwNumDevs))
VARN_FT_FORWARD(FT_GetDeviceInfoDetail,
                (DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType, LPDWORD lpdwID, LPDWORD lpdwLocId,
                 LPVOID lpSerialNumber, LPVOID lpDescription, FT_HANDLE* pftHandle),
                (dwIndex, lpdwFlags, lpdwType, lpdwID, lpdwLocId, lpSerialNumber, lpDescription, pftHandle))
VARN_FT_FORWARD(FT_Open, (int deviceNumber, FT_HANDLE* pHandle), (deviceNumber, pHandle))
VARN_FT_FORWARD(FT_Close, (FT_HANDLE ftHandle), (ftHandle))
VARN_FT_FORWARD(FT_GetDeviceInfo,
                (FT_HANDLE ftHandle, FT_DEVICE* lpftDevice, LPDWORD lpdwID, PCHAR SerialNumber, PCHAR Description,
                 LPVOID Dummy),
                (ftHandle, lpftDevice, lpdwID, SerialNumber, Description, Dummy))
VARN_FT_FORWARD(FT_SetBitMode, (FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable), (ftHandle, ucMask, ucEnable))
VARN_FT_FORWARD(FT_SetLatencyTimer, (FT_HANDLE ftHandle, UCHAR ucLatency), (ftHandle, ucLatency))
VARN_FT_FORWARD(FT_SetTimeouts, (FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout),
                (ftHandle, ReadTimeout, WriteTimeout))
VARN_FT_FORWARD(FT_SetUSBParameters, (FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize),
                (ftHandle, ulInTransferSize, ulOutTransferSize))
VARN_FT_FORWARD(FT_Purge, (FT_HANDLE ftHandle, ULONG Mask), (ftHandle, Mask))
VARN_FT_FORWARD(FT_SetBaudRate, (FT_HANDLE ftHandle, ULONG BaudRate), (ftHandle, BaudRate))
VARN_FT_FORWARD(FT_SetDataCharacteristics, (FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity),
                (ftHandle, WordLength, StopBits, Parity))
VARN_FT_FORWARD(FT_SetFlowControl, (FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar, UCHAR XoffChar),
                (ftHandle, FlowControl, XonChar, XoffChar))
VARN_FT_FORWARD(FT_Write, (FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten),
                (ftHandle, lpBuffer, dwBytesToWrite, lpBytesWritten))
VARN_FT_FORWARD(FT_Read, (FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned),
                (ftHandle, lpBuffer, dwBytesToRead, lpBytesReturned))
VARN_FT_FORWARD(FT_GetStatus, (FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord),
                (ftHandle, dwRxBytes, dwTxBytes, dwEventDWord))

#endif  // _WIN32
