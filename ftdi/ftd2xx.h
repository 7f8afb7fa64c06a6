// The program's view of the FTDI D2XX driver: the FT_* calls it makes, with the
// vendor driver's types and constants. Two shared libraries implement it: the one in
// this folder over libftdi1/libusb (real chips), and the simulator's (sim/), which can
// be preloaded in front of it so the unchanged program drives simulated boards.
#pragma once

#include <cstdint>

#ifdef _WIN32
// The driver's own types are the system's (DWORD is unsigned long, 32 bits, there).
#include <winsock2.h>
#include <windows.h>
#define VARN_FT_API extern "C" __declspec(dllexport)
#else
#define VARN_FT_API extern "C" __attribute__((visibility("default")))
using DWORD = uint32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using UCHAR = uint8_t;
using LPDWORD = DWORD*;
using LPVOID = void*;
using PCHAR = char*;
#endif
using FT_HANDLE = void*;
using FT_STATUS = ULONG;
using FT_DEVICE = ULONG;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_BAUD_RATE = 7,
  FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
  FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
  FT_FAILED_TO_WRITE_DEVICE = 10,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_EEPROM_ERASE_FAILED = 13,
  FT_EEPROM_NOT_PRESENT = 14,
  FT_EEPROM_NOT_PROGRAMMED = 15,
  FT_INVALID_ARGS = 16,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18,
};

// Device types as FT_GetDeviceInfo / FT_GetDeviceInfoDetail report them.
enum : FT_DEVICE {
  FT_DEVICE_BM = 0,
  FT_DEVICE_AM = 1,
  FT_DEVICE_100AX = 2,
  FT_DEVICE_UNKNOWN = 3,
  FT_DEVICE_2232C = 4,
  FT_DEVICE_232R = 5,
  FT_DEVICE_2232H = 6,
  FT_DEVICE_4232H = 7,
  FT_DEVICE_232H = 8,
};

// Device-list flags.
constexpr DWORD FT_FLAGS_OPENED = 1;
constexpr DWORD FT_FLAGS_HISPEED = 2;

// FT_Purge masks.
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

// FT_SetBitMode modes.
constexpr UCHAR FT_BITMODE_RESET = 0x00;
constexpr UCHAR FT_BITMODE_MPSSE = 0x02;

// FT_SetDataCharacteristics values.
constexpr UCHAR FT_BITS_8 = 8;
constexpr UCHAR FT_BITS_7 = 7;
constexpr UCHAR FT_STOP_BITS_1 = 0;
constexpr UCHAR FT_STOP_BITS_2 = 2;
constexpr UCHAR FT_PARITY_NONE = 0;
constexpr UCHAR FT_PARITY_ODD = 1;
constexpr UCHAR FT_PARITY_EVEN = 2;

// FT_SetFlowControl values.
constexpr USHORT FT_FLOW_NONE = 0x0000;
constexpr USHORT FT_FLOW_RTS_CTS = 0x0100;
constexpr USHORT FT_FLOW_DTR_DSR = 0x0200;
constexpr USHORT FT_FLOW_XON_XOFF = 0x0400;

// The vendor driver's text fields: 16 bytes of serial, 64 of description.
constexpr int FT_SERIAL_SIZE = 16;
constexpr int FT_DESCRIPTION_SIZE = 64;

VARN_FT_API FT_STATUS FT_Reload(WORD wVid, WORD wPid);
VARN_FT_API FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
VARN_FT_API FT_STATUS FT_GetDeviceInfoDetail(DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType, LPDWORD lpdwID,
                                             LPDWORD lpdwLocId, LPVOID lpSerialNumber, LPVOID lpDescription,
                                             FT_HANDLE* pftHandle);
VARN_FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle);
VARN_FT_API FT_STATUS FT_Close(FT_HANDLE ftHandle);
VARN_FT_API FT_STATUS FT_GetDeviceInfo(FT_HANDLE ftHandle, FT_DEVICE* lpftDevice, LPDWORD lpdwID, PCHAR SerialNumber,
                                       PCHAR Description, LPVOID Dummy);
VARN_FT_API FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable);
VARN_FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
VARN_FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
VARN_FT_API FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize);
VARN_FT_API FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask);
VARN_FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate);
VARN_FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity);
VARN_FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar, UCHAR XoffChar);
VARN_FT_API FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten);
VARN_FT_API FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned);
VARN_FT_API FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord);
