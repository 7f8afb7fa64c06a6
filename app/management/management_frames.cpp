#include "app/management/management_frames.h"

#include <cstring>

#include "app/registry/varn_registry.h"

namespace {

class Writer {
 public:
  Writer(uint8_t* out, size_t capacity) : out_(out), cap_(capacity) {}
  void bytes(const void* p, size_t n) {
    if (len_ + n > cap_) {
      full_ = true;
      return;
    }
    std::memcpy(out_ + len_, p, n);
    len_ += n;
  }
  template <typename T>
  void value(T v) {
    bytes(&v, sizeof v);
  }
  size_t length() const { return full_ ? 0 : len_; }

 private:
  uint8_t* out_;
  size_t cap_;
  size_t len_ = 0;
  bool full_ = false;
};

int boardsNow() {
  int boards = regLoad(boardCnt);
  return boards > MAX_BOARDS ? MAX_BOARDS : boards;
}

int devicesOf(int b) {
  int n = regLoad(devCounts[b]);
  return n > MAX_DEVICES ? MAX_DEVICES : n;
}

// The frame's magic and board count, then per board its device count and one record
// per device written by `record`.
template <typename Record>
size_t buildFrame(uint8_t* out, size_t capacity, const char* magic, Record record) {
  Writer w(out, capacity);
  w.bytes(magic, 4);
  const int boards = boardsNow();
  w.value(static_cast<uint8_t>(boards));
  for (int b = 0; b < boards; ++b) {
    const int n = devicesOf(b);
    w.value(static_cast<uint8_t>(n));
    for (int d = 0; d < n; ++d) record(w, b, d);
  }
  return w.length();
}

}  // namespace

size_t VARNMgmtBuildDeviceList(uint8_t* out, size_t capacity, const char* reportedBitstream) {
  const size_t nameLen = reportedBitstream ? strnlen(reportedBitstream, VARN_MGMT_NAME_MAX) : 0;
  return buildFrame(out, capacity, "VNDL", [&](Writer& w, int b, int d) {
    w.value(static_cast<uint8_t>(45 + nameLen));
    w.bytes(deviceDNAs[b][d], DNA_SIZE);
    w.bytes(deviceFTDISerials[b], SERIAL_TEXT_SIZE);
    w.value(regLoad(deviceIDCodes[b][d]));
    w.value(regLoad(deviceStates[b][d]));
    w.value(static_cast<uint8_t>(nameLen));
    w.bytes(reportedBitstream, nameLen);
    w.value(regLoad(ports[b][d]));
    w.value(regLoad(deviceTxBytes[b][d]));
    w.value(regLoad(deviceRxBytes[b][d]));
  });
}

size_t VARNMgmtBuildTelemetry(uint8_t* out, size_t capacity) {
  return buildFrame(out, capacity, "VNTE", [](Writer& w, int b, int d) {
    uint32_t slrs = regLoad(slrCounts[b][d]);
    if (slrs > static_cast<uint32_t>(MAX_SLRS)) slrs = MAX_SLRS;
    w.value(static_cast<uint8_t>(30 + 16 * slrs));
    w.bytes(deviceDNAs[b][d], DNA_SIZE);
    w.bytes(deviceFTDISerials[b], SERIAL_TEXT_SIZE);
    w.value(static_cast<uint8_t>(slrs));
    for (uint32_t k = 0; k < slrs; ++k) {
      w.value(regLoad(telemetryTemps[b][d][k]));
      w.value(regLoad(telemetryVolts[b][d][k]));
    }
  });
}
