#include "jtag/tests/ft_capture.h"

#include <cstdio>
#include <cstring>

namespace ftcap {

State& state() {
  static State s;
  return s;
}

void reset() { state() = State(); }

std::vector<std::string> callNames() {
  std::vector<std::string> out;
  for (const auto& c : state().calls) out.push_back(c.substr(0, c.find(' ')));
  return out;
}

}  // namespace ftcap

using ftcap::state;

namespace {
void note(const char* name, long a = -1, long b = -1) {
  char line[96];
  if (b >= 0)
    std::snprintf(line, sizeof line, "%s %ld %ld", name, a, b);
  else if (a >= 0)
    std::snprintf(line, sizeof line, "%s %ld", name, a);
  else
    std::snprintf(line, sizeof line, "%s", name);
  if (!state().countOnly) state().calls.push_back(line);
}
bool isUart(FT_HANDLE h) { return h != nullptr && h == state().uartHandle; }
}  // namespace

FT_STATUS FT_Reload(WORD vid, WORD pid) {
  note("FT_Reload", vid, pid);
  return FT_OK;
}

FT_STATUS FT_CreateDeviceInfoList(LPDWORD n) {
  note("FT_CreateDeviceInfoList");
  if (state().listStatus != FT_OK) return state().listStatus;
  *n = static_cast<DWORD>(state().list.size());
  return FT_OK;
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD index, LPDWORD flags, LPDWORD type, LPDWORD id, LPDWORD loc, LPVOID serial,
                                 LPVOID description, FT_HANDLE* handle) {
  note("FT_GetDeviceInfoDetail", index);
  if (index >= state().list.size()) return FT_DEVICE_NOT_FOUND;
  const auto& d = state().list[index];
  if (d.detailStatus != FT_OK) return d.detailStatus;
  if (flags) *flags = FT_FLAGS_HISPEED;
  if (type) *type = FT_DEVICE_232H;
  if (id) *id = d.id;
  if (loc) *loc = 0;
  std::snprintf(static_cast<char*>(serial), FT_SERIAL_SIZE, "%s", d.serial.c_str());
  std::snprintf(static_cast<char*>(description), FT_DESCRIPTION_SIZE, "%s", d.description.c_str());
  if (handle) *handle = nullptr;
  return FT_OK;
}

FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
  note("FT_Open", index);
  *handle = reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(0x1000 + index));
  return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE) {
  note("FT_Close");
  return FT_OK;
}

FT_STATUS FT_GetDeviceInfo(FT_HANDLE, FT_DEVICE* type, LPDWORD id, PCHAR serial, PCHAR description, LPVOID) {
  note("FT_GetDeviceInfo");
  if (state().infoStatus != FT_OK) return state().infoStatus;
  if (type) *type = FT_DEVICE_232H;
  if (id) *id = state().infoId;
  if (serial) std::snprintf(serial, FT_SERIAL_SIZE, "FT0001");
  if (description) std::snprintf(description, FT_DESCRIPTION_SIZE, "Test");
  return FT_OK;
}

FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR mask, UCHAR mode) {
  note("FT_SetBitMode", mask, mode);
  return FT_OK;
}
FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR ms) {
  note("FT_SetLatencyTimer", ms);
  return FT_OK;
}
FT_STATUS FT_SetTimeouts(FT_HANDLE, ULONG r, ULONG w) {
  note("FT_SetTimeouts", static_cast<long>(r), static_cast<long>(w));
  return FT_OK;
}
FT_STATUS FT_SetUSBParameters(FT_HANDLE, ULONG in, ULONG out) {
  note("FT_SetUSBParameters", static_cast<long>(in), static_cast<long>(out));
  return FT_OK;
}
FT_STATUS FT_Purge(FT_HANDLE, ULONG mask) {
  note("FT_Purge", static_cast<long>(mask));
  return FT_OK;
}
FT_STATUS FT_SetBaudRate(FT_HANDLE, ULONG rate) {
  note("FT_SetBaudRate", static_cast<long>(rate));
  return FT_OK;
}
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE, UCHAR bits, UCHAR stop, UCHAR parity) {
  char line[64];
  std::snprintf(line, sizeof line, "FT_SetDataCharacteristics %d %d %d", bits, stop, parity);
  state().calls.push_back(line);
  return FT_OK;
}
FT_STATUS FT_SetFlowControl(FT_HANDLE, USHORT flow, UCHAR, UCHAR) {
  note("FT_SetFlowControl", flow);
  return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE h, LPVOID data, DWORD n, LPDWORD done) {
  auto& s = state();
  note("FT_Write", static_cast<long>(n));
  s.writeCalls++;
  if (s.writeStatus != FT_OK) {
    *done = 0;
    return s.writeStatus;
  }
  DWORD take = n;
  if (s.maxWriteChunk > 0 && take > s.maxWriteChunk) take = s.maxWriteChunk;
  const auto* p = static_cast<const uint8_t*>(data);
  if (isUart(h)) {
    s.uartWritten.insert(s.uartWritten.end(), p, p + take);
  } else if (s.countOnly) {
    s.bytesWritten += take;
  } else {
    s.written.insert(s.written.end(), p, p + take);
    s.writes.emplace_back(p, p + take);
    s.bytesWritten += take;
    if (s.onWrite) s.onWrite(p, take);
  }
  *done = take;
  return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE h, LPVOID data, DWORD n, LPDWORD done) {
  auto& s = state();
  note("FT_Read", static_cast<long>(n));
  s.readCalls++;
  if (s.readStatus != FT_OK) {
    *done = 0;
    return s.readStatus;
  }
  auto* p = static_cast<uint8_t*>(data);
  std::deque<uint8_t>& q = isUart(h) ? s.uartRx : s.replies;
  DWORD limit = n;
  if (s.maxReadChunk > 0 && limit > s.maxReadChunk) limit = s.maxReadChunk;
  DWORD got = 0;
  while (got < limit && !q.empty()) {
    p[got++] = q.front();
    q.pop_front();
  }
  if (!isUart(h) && s.padReads) {
    while (got < limit) p[got++] = s.padByte;
  }
  *done = got;
  return FT_OK;
}

FT_STATUS FT_GetStatus(FT_HANDLE h, DWORD* rx, DWORD* tx, DWORD* ev) {
  note("FT_GetStatus");
  auto& s = state();
  if (s.statusStatus != FT_OK) return s.statusStatus;
  if (rx) *rx = static_cast<DWORD>(isUart(h) ? s.uartRx.size() : s.replies.size());
  if (tx) *tx = 0;
  if (ev) *ev = 0;
  return FT_OK;
}
