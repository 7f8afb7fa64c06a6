// The FT_* entry points: the device-list snapshot, the table of open handles, and
// the dispatch to the open channels. Handles are table references with a
// generation, never pointers, so a stale or invented handle is refused instead of
// being followed.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "ftdi/d2xx_channel.h"
#include "ftdi/d2xx_device_list.h"
#include "ftdi/d2xx_usb.h"
#include "ftdi/ftd2xx.h"

namespace varn_d2xx {

namespace {

UsbBus* gTestBus = nullptr;  // set only by tests, before any FT_* call
std::mutex gBusMutex;

// Enough for 64 boards with a JTAG channel and a companion UART each.
constexpr unsigned kMaxOpen = 128;

struct Slot {
  std::shared_ptr<Channel> channel;
  uint32_t generation = 0;
  uint8_t bus = 0, address = 0;
  int interface = 0;
};

struct State {
  std::mutex mutex;  // guards everything below
  std::vector<ListEntry> list;
  bool listed = false;
  Slot slots[kMaxOpen];
};

State& state() {
  static State s;  // never destroyed before the process ends: atexit order is not ours
  return s;
}

FT_HANDLE makeHandle(unsigned slot, uint32_t generation) {
  return reinterpret_cast<FT_HANDLE>((uintptr_t(generation) << 8) | uintptr_t(slot + 1));
}

// The live slot a handle names, or none. Caller holds the state mutex.
Slot* slotOf(State& s, FT_HANDLE h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  uintptr_t index = v & 0xFF;
  if (index == 0 || index > kMaxOpen) return nullptr;
  Slot& slot = s.slots[index - 1];
  if (!slot.channel || (v >> 8) != (uintptr_t(slot.generation) & (UINTPTR_MAX >> 8))) return nullptr;
  return &slot;
}

std::shared_ptr<Channel> channelOf(FT_HANDLE h) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Slot* slot = slotOf(s, h);
  return slot ? slot->channel : nullptr;
}

// The open handle on a channel of the list, or nullptr. Caller holds the mutex.
FT_HANDLE handleFor(State& s, const ListEntry& e) {
  for (unsigned i = 0; i < kMaxOpen; ++i) {
    const Slot& slot = s.slots[i];
    if (slot.channel && slot.bus == e.chip.bus && slot.address == e.chip.address && slot.interface == e.channel)
      return makeHandle(i, slot.generation);
  }
  return nullptr;
}

// Rebuilds the snapshot. Caller holds the mutex.
FT_STATUS rebuildList(State& s) {
  std::vector<UsbChip> chips;
  int rc = activeBus().findChips(chips);
  if (rc == kUsbUnavailable) {
    // No USB stack on this machine (a container, no usbfs): there are simply no
    // FTDI chips to list; simulated or networked boards can still be used.
    static bool said = false;
    if (!said) fprintf(stderr, "varn_ftd2xx: USB is not available (%s); listing no FTDI devices\n",
                       activeBus().errorText());
    said = true;
    chips.clear();
  } else if (rc != kUsbOk) {
    fprintf(stderr, "varn_ftd2xx: cannot list USB devices: %s (%d)\n", activeBus().errorText(), rc);
    return FT_IO_ERROR;
  }
  s.list = expandChannels(chips);
  for (ListEntry& e : s.list) {
    if (handleFor(s, e)) e.flags |= FT_FLAGS_OPENED;
  }
  s.listed = true;
  return FT_OK;
}

void copyText(void* dst, const char* src, size_t size) {
  if (!dst) return;
  char* out = static_cast<char*>(dst);
  size_t n = strnlen(src, size - 1);
  memcpy(out, src, n);
  out[n] = '\0';
}

}  // namespace

UsbBus& activeBus() {
  std::lock_guard<std::mutex> lock(gBusMutex);
  return gTestBus ? *gTestBus : linkedBus();
}

void useBus(UsbBus* bus) {
  std::lock_guard<std::mutex> lock(gBusMutex);
  gTestBus = bus;
}

}  // namespace varn_d2xx

using namespace varn_d2xx;

VARN_FT_API FT_STATUS FT_Reload(WORD, WORD) {
  // Reloading the driver for a VID/PID pair exists only on Windows.
  return FT_NOT_SUPPORTED;
}

VARN_FT_API FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
  if (!lpdwNumDevs) return FT_INVALID_PARAMETER;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  FT_STATUS st = rebuildList(s);
  *lpdwNumDevs = st == FT_OK ? DWORD(s.list.size()) : 0;
  return st;
}

VARN_FT_API FT_STATUS FT_GetDeviceInfoDetail(DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType, LPDWORD lpdwID,
                                             LPDWORD lpdwLocId, LPVOID lpSerialNumber, LPVOID lpDescription,
                                             FT_HANDLE* pftHandle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (dwIndex >= s.list.size()) return FT_DEVICE_NOT_FOUND;
  const ListEntry& e = s.list[dwIndex];
  if (lpdwFlags) *lpdwFlags = e.flags;
  if (lpdwType) *lpdwType = e.type;
  if (lpdwID) *lpdwID = e.id;
  if (lpdwLocId) *lpdwLocId = e.locId;
  copyText(lpSerialNumber, e.serial, FT_SERIAL_SIZE);
  copyText(lpDescription, e.description, FT_DESCRIPTION_SIZE);
  if (pftHandle) *pftHandle = (e.flags & FT_FLAGS_OPENED) ? handleFor(s, e) : nullptr;
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
  if (!pHandle) return FT_INVALID_PARAMETER;
  *pHandle = nullptr;
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  // Like the vendor driver, opening before any listing lists first.
  if (!s.listed) {
    FT_STATUS st = rebuildList(s);
    if (st != FT_OK) return st;
  }
  if (deviceNumber < 0 || size_t(deviceNumber) >= s.list.size()) return FT_DEVICE_NOT_FOUND;
  const ListEntry entry = s.list[size_t(deviceNumber)];
  if (handleFor(s, entry)) {
    fprintf(stderr, "varn_ftd2xx: %s is already open\n", entry.serial);
    return FT_DEVICE_NOT_OPENED;
  }
  unsigned free = kMaxOpen;
  for (unsigned i = 0; i < kMaxOpen && free == kMaxOpen; ++i) {
    if (!s.slots[i].channel) free = i;
  }
  if (free == kMaxOpen) {
    fprintf(stderr, "varn_ftd2xx: cannot open %s: %u channels are open already\n", entry.serial, kMaxOpen);
    return FT_INSUFFICIENT_RESOURCES;
  }

  std::unique_ptr<UsbChannel> usb;
  int rc = activeBus().openChannel(entry.chip, entry.channel, usb);
  if (rc != kUsbOk || !usb) {
    const char* why = activeBus().errorText();
    if (rc == kUsbAccessDenied) {
      fprintf(stderr,
              "varn_ftd2xx: cannot open %s (bus %u device %u): %s; without write access to "
              "/dev/bus/usb/%03u/%03u install the udev rule for FTDI chips (see README) or run as root\n",
              entry.serial, unsigned(entry.chip.bus), unsigned(entry.chip.address), why, unsigned(entry.chip.bus),
              unsigned(entry.chip.address));
    } else {
      fprintf(stderr, "varn_ftd2xx: cannot open %s (bus %u device %u channel %c): %s (%d)\n", entry.serial,
              unsigned(entry.chip.bus), unsigned(entry.chip.address), 'A' + entry.channel, why, rc);
    }
    return rc == kUsbNoDevice ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
  }

  ChannelIdentity id;
  id.type = entry.type;
  id.id = entry.id;
  memcpy(id.serial, entry.serial, sizeof id.serial);
  memcpy(id.description, entry.description, sizeof id.description);
  auto channel = std::make_shared<Channel>(std::move(usb), id);
  if (!channel->start()) return FT_INSUFFICIENT_RESOURCES;

  Slot& slot = s.slots[free];
  slot.channel = std::move(channel);
  slot.generation++;
  slot.bus = entry.chip.bus;
  slot.address = entry.chip.address;
  slot.interface = entry.channel;
  *pHandle = makeHandle(free, slot.generation);
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_Close(FT_HANDLE ftHandle) {
  std::shared_ptr<Channel> channel;
  {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Slot* slot = slotOf(s, ftHandle);
    if (!slot) return FT_INVALID_HANDLE;
    channel = std::move(slot->channel);
    slot->channel.reset();
  }
  // Outside the table lock: stopping the reader waits for its last transfer. A call
  // still running on another thread keeps the object alive until it returns.
  channel->shutdown();
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_GetDeviceInfo(FT_HANDLE ftHandle, FT_DEVICE* lpftDevice, LPDWORD lpdwID, PCHAR SerialNumber,
                                       PCHAR Description, LPVOID) {
  auto ch = channelOf(ftHandle);
  if (!ch) return FT_INVALID_HANDLE;
  const ChannelIdentity& id = ch->identity();
  if (lpftDevice) *lpftDevice = id.type;
  if (lpdwID) *lpdwID = id.id;
  copyText(SerialNumber, id.serial, FT_SERIAL_SIZE);
  copyText(Description, id.description, FT_DESCRIPTION_SIZE);
  return FT_OK;
}

VARN_FT_API FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setBitMode(ucMask, ucEnable) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setLatencyTimer(ucLatency) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setTimeouts(ReadTimeout, WriteTimeout) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setUsbParameters(ulInTransferSize, ulOutTransferSize) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->purge(Mask) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setBaudRate(BaudRate) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setDataCharacteristics(WordLength, StopBits, Parity) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar, UCHAR XoffChar) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->setFlowControl(FlowControl, XonChar, XoffChar) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->write(static_cast<const uint8_t*>(lpBuffer), dwBytesToWrite, lpBytesWritten) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->read(static_cast<uint8_t*>(lpBuffer), dwBytesToRead, lpBytesReturned) : FT_INVALID_HANDLE;
}

VARN_FT_API FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord) {
  auto ch = channelOf(ftHandle);
  return ch ? ch->status(dwRxBytes, dwTxBytes, dwEventDWord) : FT_INVALID_HANDLE;
}
