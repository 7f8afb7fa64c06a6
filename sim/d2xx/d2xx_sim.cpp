// The FT_* calls of ftdi/ftd2xx.h over simulated FTDI chips. Every call on a handle
// works under its board's lock, in the board's simulated time: a read that waits
// moves that clock, never the wall clock.
#include <cstring>

#include "ftdi/ftd2xx.h"
#include "sim/d2xx/sim_registry.h"

using varnsim::ChannelEntry;
using varnsim::Registry;

namespace {

constexpr uint64_t kPsPerMs = 1'000'000'000ull;

template <class Fn>
FT_STATUS withChannel(FT_HANDLE h, Fn fn) {
  std::shared_ptr<ChannelEntry> e = Registry::get().byHandle(h);
  if (!e) return FT_INVALID_HANDLE;
  std::lock_guard<std::mutex> l(e->board->mutex());
  uint64_t now = e->board->now();
  FT_STATUS st = fn(*e, now);
  e->board->advanceTo(now);
  return st;
}

void copyText(void* dst, const std::string& s, size_t cap) {
  if (!dst) return;
  size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
  std::memcpy(dst, s.data(), n);
  static_cast<char*>(dst)[n] = 0;
}

}  // namespace

VARN_FT_API FT_STATUS FT_Reload(WORD, WORD) { return FT_NOT_SUPPORTED; }  // Windows only

VARN_FT_API FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
  if (!lpdwNumDevs) return FT_INVALID_PARAMETER;
  *lpdwNumDevs = static_cast<DWORD>(Registry::get().count());
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_GetDeviceInfoDetail(DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType, LPDWORD lpdwID,
                                             LPDWORD lpdwLocId, LPVOID lpSerialNumber, LPVOID lpDescription,
                                             FT_HANDLE* pftHandle) {
  bool open = false;
  uintptr_t handle = 0;
  std::shared_ptr<ChannelEntry> e = Registry::get().entry(dwIndex, &open, &handle);
  if (!e) return FT_DEVICE_NOT_FOUND;
  if (lpdwFlags) *lpdwFlags = (open ? FT_FLAGS_OPENED : 0) | (e->highSpeed ? FT_FLAGS_HISPEED : 0);
  if (lpdwType) *lpdwType = e->type;
  if (lpdwID) *lpdwID = e->id;
  if (lpdwLocId) *lpdwLocId = 0;  // the vendor driver has no location IDs on Linux
  copyText(lpSerialNumber, e->serial, FT_SERIAL_SIZE);
  copyText(lpDescription, e->description, FT_DESCRIPTION_SIZE);
  if (pftHandle) *pftHandle = open ? reinterpret_cast<FT_HANDLE>(handle) : nullptr;
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
  if (!pHandle || deviceNumber < 0) return FT_INVALID_PARAMETER;
  FT_STATUS st = Registry::get().open(static_cast<size_t>(deviceNumber), pHandle);
  if (st != FT_OK) return st;
  // Opening resets the channel's UART side and empties its buffers; a channel left
  // in MPSSE mode stays in it.
  return withChannel(*pHandle, [](ChannelEntry& e, uint64_t&) {
    e.ch->purge(true, true);
    e.ch->setBaud(9600);
    e.ch->setFrameBits(10);
    e.readTimeoutMs = e.writeTimeoutMs = 0;
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_Close(FT_HANDLE ftHandle) { return Registry::get().close(ftHandle); }

VARN_FT_API FT_STATUS FT_GetDeviceInfo(FT_HANDLE ftHandle, FT_DEVICE* lpftDevice, LPDWORD lpdwID, PCHAR SerialNumber,
                                       PCHAR Description, LPVOID) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    if (lpftDevice) *lpftDevice = e.type;
    if (lpdwID) *lpdwID = e.id;
    copyText(SerialNumber, e.serial, FT_SERIAL_SIZE);
    copyText(Description, e.description, FT_DESCRIPTION_SIZE);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t& now) {
    return e.ch->setBitMode(ucMask, ucEnable, now) ? FT_OK : FT_INVALID_PARAMETER;
  });
}

VARN_FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    if (ucLatency < 1) return FT_INVALID_PARAMETER;
    e.ch->setLatencyMs(ucLatency);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    e.readTimeoutMs = ReadTimeout;
    e.writeTimeoutMs = WriteTimeout;
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    // The vendor driver takes multiples of 64 from 64 to 64 KiB.
    if (ulInTransferSize < 64 || ulInTransferSize > 65536 || ulInTransferSize % 64) return FT_INVALID_PARAMETER;
    e.ch->setTransferSize(ulInTransferSize);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    e.ch->purge((Mask & FT_PURGE_RX) != 0, (Mask & FT_PURGE_TX) != 0);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    const ULONG max = e.highSpeed ? 12000000 : 3000000;
    if (BaudRate < 183 || BaudRate > max) return FT_INVALID_BAUD_RATE;
    e.ch->setBaud(BaudRate);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t&) {
    if ((WordLength != FT_BITS_7 && WordLength != FT_BITS_8) ||
        (StopBits != FT_STOP_BITS_1 && StopBits != FT_STOP_BITS_2) || Parity > 4)
      return FT_INVALID_PARAMETER;
    e.ch->setFrameBits(1u + WordLength + (Parity ? 1u : 0u) + (StopBits == FT_STOP_BITS_2 ? 2u : 1u));
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR, UCHAR) {
  return withChannel(ftHandle, [&](ChannelEntry&, uint64_t&) {
    if (FlowControl != FT_FLOW_NONE && FlowControl != FT_FLOW_RTS_CTS && FlowControl != FT_FLOW_DTR_DSR &&
        FlowControl != FT_FLOW_XON_XOFF)
      return FT_INVALID_PARAMETER;
    return FT_OK;  // the simulated lines never need to hold data back
  });
}

VARN_FT_API FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten) {
  if (lpBytesWritten) *lpBytesWritten = 0;
  if (!lpBuffer && dwBytesToWrite) return FT_INVALID_PARAMETER;
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t& now) {
    if (e.faults.writeFailures > 0) {
      --e.faults.writeFailures;
      return FT_IO_ERROR;
    }
    if (e.faults.writeFailureIn > 0 && --e.faults.writeFailureIn == 0) return FT_IO_ERROR;
    size_t n = e.ch->write(static_cast<const uint8_t*>(lpBuffer), dwBytesToWrite, now,
                           uint64_t{e.writeTimeoutMs} * kPsPerMs);
    if (lpBytesWritten) *lpBytesWritten = static_cast<DWORD>(n);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned) {
  if (lpBytesReturned) *lpBytesReturned = 0;
  if (!lpBuffer && dwBytesToRead) return FT_INVALID_PARAMETER;
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t& now) {
    const uint64_t timeout = uint64_t{e.readTimeoutMs} * kPsPerMs;
    if (e.faults.readTimeouts > 0) {
      // Nothing arrives in time; whatever was on its way stays for the next read.
      --e.faults.readTimeouts;
      now += timeout ? timeout : 1000 * kPsPerMs;
      return FT_OK;
    }
    DWORD want = dwBytesToRead;
    if (e.faults.shortReads > 0 && want > 1) {
      --e.faults.shortReads;
      want /= 2;
    }
    size_t n = e.ch->read(static_cast<uint8_t*>(lpBuffer), want, now, timeout);
    if (lpBytesReturned) *lpBytesReturned = static_cast<DWORD>(n);
    return FT_OK;
  });
}

VARN_FT_API FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord) {
  return withChannel(ftHandle, [&](ChannelEntry& e, uint64_t& now) {
    const size_t rx = e.ch->rxQueue(now);
    if (dwRxBytes) *dwRxBytes = static_cast<DWORD>(rx);
    if (dwTxBytes) *dwTxBytes = static_cast<DWORD>(e.ch->txQueue());
    if (dwEventDWord) *dwEventDWord = 0;
    return FT_OK;
  });
}
